// Plain file stream and the bounded window over one.
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

// A file seen through the window [start, end): positions and lengths are
// relative to start, and reads and writes stop at end. The split-volume
// stream uses one per volume, whose window skips the volume's head.
class CLimitedFileIO : public CQPXFileIO {
 public:
  bool Read(void* buffer, uint32_t length, uint32_t* bytesRead) override;
  bool Write(const void* buffer, uint32_t length) override;
  bool Close() override;
  bool Seek(const uint64_t& distance, int origin, bool forward) override;
  bool GetLength(uint64_t& out) override;
  bool GetPosition(uint64_t& out) override;

  // Refused when already limited, when end lies before start or before the
  // file's length, or when a non-empty file is shorter than start. An empty
  // file shorter than start is padded with start zero bytes (writers only).
  bool SetLimits(uint64_t start, uint64_t end);

  bool IsLimited() const { return limited_; }
  uint64_t GetWindowStart() const { return windowStart_; }
  uint64_t GetWindowEnd() const { return windowEnd_; }
  // Set when the last read, write or seek was cut at the window's edge.
  bool IsEndReached() const { return endReached_; }
  // How many bytes of the last request lay beyond the window.
  uint64_t GetOverrun() const { return overrun_; }

 private:
  // The number of bytes a request of `length` may move before the window
  // end; sets the end-reached flag and the overrun when it is cut.
  bool ClipToWindow(uint32_t length, uint32_t& allowed);

  uint64_t windowStart_ = 0;  // file offset of window position 0
  uint64_t windowEnd_ = 0;    // file offset just after the window
  bool limited_ = false;
  bool endReached_ = false;   // the last request met the window's edge
  uint64_t overrun_ = 0;      // bytes of the last request beyond that edge
};

}  // namespace QPXFile
