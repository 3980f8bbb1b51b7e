// The bounded window over a plain file stream.
#pragma once

#include <cstdint>

#include "io/qpx_file_io.h"

namespace QPXFile {

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
  bool HostSpan(const host::PlatformFile*& file, uint64_t& offset, uint64_t& span) override;

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
