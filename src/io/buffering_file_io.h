// A file stream that reads and writes through one memory block, so that
// record-by-record parsing of a large file does not make a platform call for
// every few bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/qpx_file_io.h"

namespace QPXFile {

class CBufferingFileIO : public CFileIO {
 public:
  static constexpr uint32_t kDefaultBufferSize = 1 << 20;

  CBufferingFileIO() = default;
  ~CBufferingFileIO() override;

  // Takes effect at the next Open.
  void SetBufferSize(uint32_t size) { bufferSize_ = size; }
  uint32_t GetBufferSize() const { return bufferSize_; }

  bool Read(void* buffer, uint32_t length, uint32_t* bytesRead) override;
  bool Write(const void* buffer, uint32_t length) override;
  // Modes 1, 2 and 4; a file open for both reading and writing is refused.
  bool Open(const std::u16string& path, uint16_t mode) override;
  bool Close() override;
  bool Seek(const uint64_t& distance, int origin, bool forward) override;
  bool Flush() override;
  bool GetPathName(std::u16string& out) override;
  bool IsOpen() override;
  uint16_t GetOpenMode() override;
  bool GetLength(uint64_t& out) override;
  bool GetPosition(uint64_t& out) override;
  bool IsEOF() override;
  uint32_t GetLastError() override;

 private:
  // Held bytes of a write stream, in order at the front of the buffer.
  struct WriteState {
    uint32_t held = 0;  // bytes waiting to be written
  };
  // Bytes of a read stream: buffer[filled - unread, filled) is not yet taken.
  struct ReadState {
    uint32_t chunkSize = 0;    // bytes fetched per refill; shrinks at the last chunk
    uint32_t filled = 0;       // bytes the last refill put into the buffer
    uint32_t unread = 0;       // of those, bytes not yet delivered
    uint64_t fileLength = 0;   // length of the file when the state was built
    uint64_t fetched = 0;      // file offset just after the buffered bytes
  };

  bool WriteHeld();
  bool IsReadMode() const;
  void ResetReadState(uint64_t position);
  void Release();

  std::vector<uint8_t> buffer_;                  // one block, allocated at Open
  std::unique_ptr<WriteState> writeState_;       // mode 1
  std::unique_ptr<ReadState> readState_;         // modes 2 and 4
  uint32_t bufferSize_ = kDefaultBufferSize;
  std::unique_ptr<CQPXFileIO> file_;             // the underlying stream
};

}  // namespace QPXFile
