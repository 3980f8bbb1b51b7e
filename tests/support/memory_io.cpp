#include "support/memory_io.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

using namespace QPXFile;

MemoryIO::MemoryIO(std::vector<uint8_t> bytes, uint16_t mode) : bytes_(std::move(bytes)), mode_(mode) {
  if (mode_ == kModeCreate) bytes_.clear();
}

bool MemoryIO::Fail(uint32_t error) {
  lastError_ = error;
  return false;
}

bool MemoryIO::Readable() const { return mode_ == kModeRead || mode_ == kModeReadWrite || mode_ == kModeReadShared; }
bool MemoryIO::Writable() const { return mode_ == kModeCreate || mode_ == kModeReadWrite; }

bool MemoryIO::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  if (!IsOpen()) return Fail(kErrorNotOpen);
  if (buffer == nullptr) return Fail(kErrorNullBuffer);
  if (!Readable()) return Fail(kErrorWrongMode);
  uint64_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
  uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(available, length));
  if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  if (bytesRead != nullptr) *bytesRead = count;
  if (count < length) {
    eof_ = true;
    lastError_ = count == 0 ? kErrorEndOfFile : kErrorNone;
  } else {
    lastError_ = kErrorNone;
  }
  return true;
}

bool MemoryIO::Write(const void* buffer, uint32_t length) {
  if (!IsOpen()) return Fail(kErrorNotOpen);
  if (buffer == nullptr) return Fail(kErrorNullBuffer);
  if (!Writable()) return Fail(kErrorWrongMode);
  if (position_ + length > writeLimit_) return Fail(kErrorIo);
  if (position_ + length > bytes_.size()) bytes_.resize(position_ + length);
  if (length > 0) std::memcpy(bytes_.data() + position_, buffer, length);
  position_ += length;
  lastError_ = kErrorNone;
  return true;
}

bool MemoryIO::Open(const std::u16string& path, uint16_t mode) {
  if (IsOpen()) return Fail(kErrorWrongMode);
  if (mode < kModeCreate || mode > kModeReadShared) return Fail(kErrorWrongMode);
  if (path.empty()) return Fail(kErrorBadPath);
  mode_ = mode;
  path_ = path;
  position_ = 0;
  eof_ = false;
  if (mode == kModeCreate) bytes_.clear();
  lastError_ = kErrorNone;
  return true;
}

bool MemoryIO::Close() {
  if (!IsOpen()) return Fail(kErrorNotOpen);
  mode_ = kModeClosed;
  path_.clear();
  lastError_ = kErrorNone;
  return true;
}

bool MemoryIO::Seek(const uint64_t& distance, int origin, bool forward) {
  if (!IsOpen()) return Fail(kErrorNotOpen);
  uint64_t base;
  switch (origin) {
    case kSeekBegin: base = 0; break;
    case kSeekCurrent: base = position_; break;
    case kSeekEnd: base = bytes_.size(); break;
    default: return Fail(kErrorBadOrigin);
  }
  uint64_t target;
  if (forward) {
    if (distance > UINT64_MAX - base) return Fail(kErrorIo);
    target = base + distance;
  } else {
    if (distance > base) return Fail(kErrorIo);
    target = base - distance;
  }
  position_ = target;
  eof_ = false;
  lastError_ = kErrorNone;
  return true;
}

bool MemoryIO::Flush() {
  if (!IsOpen()) return Fail(kErrorNotOpen);
  return true;
}

bool MemoryIO::GetPathName(std::u16string& out) {
  if (!IsOpen()) return Fail(kErrorNotOpen);
  out = path_;
  return true;
}

bool MemoryIO::IsOpen() { return mode_ != kModeClosed; }
uint16_t MemoryIO::GetOpenMode() { return mode_; }

bool MemoryIO::GetLength(uint64_t& out) {
  if (!IsOpen()) return Fail(kErrorNotOpen);
  out = bytes_.size();
  return true;
}

bool MemoryIO::GetPosition(uint64_t& out) {
  if (!IsOpen()) return Fail(kErrorNotOpen);
  out = position_;
  return true;
}

bool MemoryIO::IsEOF() { return eof_; }
uint32_t MemoryIO::GetLastError() { return lastError_; }

}  // namespace testsupport
