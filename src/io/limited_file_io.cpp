#include "io/limited_file_io.h"

#include <cstdint>
#include <limits>
#include <vector>

namespace QPXFile {
namespace {

// SetLimits pads an empty file up to the window start only for a volume head
// (12 bytes); a larger start would be a hostile value filling the disk.
constexpr uint64_t kMaxPadding = 1 << 20;

}  // namespace

bool CLimitedFileIO::SetLimits(uint64_t start, uint64_t end) {
  if (limited_ || !IsOpen() || end < start) return false;
  uint64_t length = 0;
  if (!CQPXFileIO::GetLength(length)) return false;
  if (start > length) {
    if (length != 0 || start > kMaxPadding) return false;
    if (!CQPXFileIO::Seek(0, kSeekBegin, true)) return false;
    std::vector<uint8_t> zeros(static_cast<size_t>(start), 0);
    if (!CQPXFileIO::Write(zeros.data(), static_cast<uint32_t>(start))) return false;
    length = start;
  }
  if (end < length) return false;
  uint64_t position = 0;
  if (!CQPXFileIO::GetPosition(position)) return false;
  if (position < start && !CQPXFileIO::Seek(start, kSeekBegin, true)) return false;
  windowStart_ = start;
  windowEnd_ = end;
  limited_ = true;
  endReached_ = false;
  overrun_ = 0;
  return true;
}

bool CLimitedFileIO::ClipToWindow(uint32_t length, uint32_t& allowed) {
  uint64_t position = 0;
  if (!CQPXFileIO::GetPosition(position)) return false;
  uint64_t room = position < windowEnd_ ? windowEnd_ - position : 0;
  if (length > room) {
    allowed = static_cast<uint32_t>(room);
    endReached_ = true;
    overrun_ = length - room;
  } else {
    allowed = length;
    endReached_ = false;
    overrun_ = 0;
  }
  return true;
}

bool CLimitedFileIO::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
  if (!limited_ || buffer == nullptr || !IsOpen() || mode_ == kModeCreate)
    return CQPXFileIO::Read(buffer, length, bytesRead);
  if (bytesRead) *bytesRead = 0;
  uint32_t allowed = 0;
  if (!ClipToWindow(length, allowed)) return false;
  if (allowed == 0 && length != 0) {
    // At the window end the window behaves like the end of a file.
    lastError_ = kErrorEndOfFile;
    eof_ = true;
    return true;
  }
  return CQPXFileIO::Read(buffer, allowed, bytesRead);
}

bool CLimitedFileIO::Write(const void* buffer, uint32_t length) {
  if (!limited_ || buffer == nullptr || !IsOpen() || mode_ == kModeRead || mode_ == kModeReadShared)
    return CQPXFileIO::Write(buffer, length);
  uint32_t allowed = 0;
  if (!ClipToWindow(length, allowed)) return false;
  if (allowed == 0) return true;
  return CQPXFileIO::Write(buffer, allowed);
}

bool CLimitedFileIO::HostSpan(const host::PlatformFile*& file, uint64_t& offset, uint64_t& span) {
  if (!CQPXFileIO::HostSpan(file, offset, span)) return false;
  if (limited_) {
    const uint64_t room = offset < windowEnd_ ? windowEnd_ - offset : 0;
    if (span > room) span = room;
  }
  return true;
}

bool CLimitedFileIO::Close() {
  limited_ = false;
  windowStart_ = windowEnd_ = 0;
  endReached_ = false;
  overrun_ = 0;
  return CQPXFileIO::Close();
}

bool CLimitedFileIO::Seek(const uint64_t& distance, int origin, bool forward) {
  if (!limited_ || !IsOpen()) return CQPXFileIO::Seek(distance, origin, forward);
  uint64_t from = 0;
  switch (origin) {
    case kSeekBegin: from = windowStart_; break;
    case kSeekCurrent:
      if (!CQPXFileIO::GetPosition(from)) return false;
      break;
    case kSeekEnd:
      if (!CQPXFileIO::GetLength(from)) return false;
      break;
    default:
      lastError_ = kErrorBadOrigin;
      return false;
  }
  uint64_t target;
  uint64_t shortfall = 0;
  if (forward) {
    if (distance > std::numeric_limits<uint64_t>::max() - from) {
      lastError_ = kErrorIo;  // no file position can be that far
      return false;
    }
    target = from + distance;
  } else if (distance > from) {
    uint64_t beyond = distance - from;
    target = 0;
    shortfall = windowStart_ > std::numeric_limits<uint64_t>::max() - beyond ? std::numeric_limits<uint64_t>::max()
                                                                              : windowStart_ + beyond;
  } else {
    target = from - distance;
  }
  if (target < windowStart_ && shortfall == 0) shortfall = windowStart_ - target;
  if (shortfall != 0) {
    target = windowStart_;
    endReached_ = true;
    overrun_ = shortfall;
  } else {
    endReached_ = false;
    overrun_ = 0;
  }
  return CQPXFileIO::Seek(target, kSeekBegin, true);
}

bool CLimitedFileIO::GetLength(uint64_t& out) {
  if (!limited_) return CQPXFileIO::GetLength(out);
  uint64_t length = 0;
  if (!CQPXFileIO::GetLength(length)) return false;
  if (length > windowEnd_) length = windowEnd_;
  out = length > windowStart_ ? length - windowStart_ : 0;
  return true;
}

bool CLimitedFileIO::GetPosition(uint64_t& out) {
  if (!limited_) return CQPXFileIO::GetPosition(out);
  uint64_t position = 0;
  if (!CQPXFileIO::GetPosition(position)) return false;
  out = position > windowStart_ ? position - windowStart_ : 0;
  return true;
}

}  // namespace QPXFile
