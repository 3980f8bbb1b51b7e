// An in-memory stream with the behaviour of a file stream, so section readers
// can be tested without touching the disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/io.h"

namespace testsupport {

class MemoryIO : public QPXFile::CFileIO {
 public:
  // Starts open in `mode` over `bytes`, positioned at 0.
  explicit MemoryIO(std::vector<uint8_t> bytes = {}, uint16_t mode = QPXFile::kModeReadWrite);

  bool Read(void* buffer, uint32_t length, uint32_t* bytesRead) override;
  bool Write(const void* buffer, uint32_t length) override;
  // Mode 1 empties the bytes; the others keep them. Fails when already open.
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

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // Writes fail once the stream would grow beyond this many bytes (error 3),
  // like a full disk.
  void SetWriteLimit(uint64_t limit) { writeLimit_ = limit; }

 private:
  bool Fail(uint32_t error);
  bool Readable() const;
  bool Writable() const;

  std::vector<uint8_t> bytes_;     // the whole "file"
  uint64_t position_ = 0;          // next byte to read or write
  uint16_t mode_;                  // open mode, kModeClosed when closed
  uint32_t lastError_ = QPXFile::kErrorNone;  // error of the last operation
  bool eof_ = false;               // a read reached the end
  uint64_t writeLimit_ = UINT64_MAX;  // largest size writes may reach
  std::u16string path_;            // the path given to Open
};

}  // namespace testsupport
