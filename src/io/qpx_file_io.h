// The plain file stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/file.h"
#include "io/io.h"

namespace QPXFile {

// A whole file. Paths are engine paths (Z:\...); the folder and the name are
// kept apart as the archive object asks for them separately.
class CQPXFileIO : public CFileIO {
 public:
  CQPXFileIO() = default;
  ~CQPXFileIO() override;

  bool Read(void* buffer, uint32_t length, uint32_t* bytesRead) override;
  bool Write(const void* buffer, uint32_t length) override;
  bool Open(const std::u16string& path, uint16_t mode) override;
  bool Close() override;
  bool Seek(const uint64_t& distance, int origin, bool forward) override;
  bool Flush() override;
  bool GetPathName(std::u16string& out) override;
  bool IsOpen() override { return mode_ != kModeClosed; }
  uint16_t GetOpenMode() override { return mode_; }
  bool GetLength(uint64_t& out) override;
  bool GetPosition(uint64_t& out) override;
  bool IsEOF() override;
  uint32_t GetLastError() override { return lastError_; }
  bool HostSpan(const host::PlatformFile*& file, uint64_t& offset, uint64_t& span) override;
  void ReserveAhead(uint64_t bytes) override;

  // errno of the last platform failure, so that a caller can tell a missing
  // file from an unreadable one and word its message with the host's text.
  int GetSystemError() const { return systemError_; }

 protected:
  // Records the platform's reason beside a stream error code.
  void SetPlatformError(uint32_t code);

  std::u16string fileName_;   // the part of the path after the last backslash
  std::u16string folder_;     // the part before it
  std::unique_ptr<host::PlatformFile> file_;  // null when closed
  uint16_t mode_ = kModeClosed;
  bool eof_ = false;          // the last read or seek met the end of the file
  uint32_t lastError_ = kErrorNone;
  int systemError_ = 0;       // errno behind the last kErrorIo
};

}  // namespace QPXFile
