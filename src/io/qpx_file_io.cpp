#include "io/qpx_file_io.h"

#include <cerrno>
#include <cstdint>
#include <new>
#include <vector>

#include "host/host_path.h"
#include "io/volume_source.h"

namespace QPXFile {
namespace {

// The largest offset the host's file positions can hold.
constexpr uint64_t kMaxFilePosition = static_cast<uint64_t>(INT64_MAX);

bool ToHostMode(uint16_t mode, host::FileMode& out) {
  switch (mode) {
    case kModeCreate: out = host::FileMode::kCreateWrite; return true;
    case kModeRead: out = host::FileMode::kReadDenyWrite; return true;
    case kModeReadWrite: out = host::FileMode::kReadWrite; return true;
    case kModeReadShared: out = host::FileMode::kReadShared; return true;
    default: return false;
  }
}

}  // namespace

CQPXFileIO::~CQPXFileIO() {
  // A stream dropped without Close still releases its descriptor.
  if (file_) file_->Abort();
}

void CQPXFileIO::SetPlatformError(uint32_t code) {
  lastError_ = code;
  systemError_ = file_ ? file_->LastSystemError() : EBADF;
}

bool CQPXFileIO::Open(const std::u16string& path, uint16_t mode) {
  if (IsOpen()) return false;
  host::FileMode hostMode;
  if (!ToHostMode(mode, hostMode)) return false;
  size_t slash = path.rfind(u'\\');
  if (slash == std::u16string::npos || slash + 1 == path.size()) {
    lastError_ = kErrorBadPath;
    return false;
  }
  const std::vector<uint8_t>* bytes = nullptr;
  std::string hostPath;
  if (const CMemoryVolumes* volumes = CScopedVolumeSource::Current()) {
    // A volume source serves reading only, and only the files it holds.
    bytes = volumes->Find(path);
    const int refused = bytes == nullptr ? ENOENT : (mode != kModeRead && mode != kModeReadShared) ? EROFS : 0;
    if (refused != 0) {
      lastError_ = kErrorIo;
      systemError_ = refused;
      return false;
    }
  } else if (!host::ToHostPath(path, hostPath)) {
    // Only drive Z: exists; any other path names nothing on this host.
    lastError_ = kErrorIo;
    systemError_ = ENOENT;
    return false;
  }
  try {
    auto file = std::make_unique<host::PlatformFile>();
    const bool opened =
        bytes != nullptr ? file->OpenMemory(bytes->data(), bytes->size()) : file->Open(hostPath, hostMode);
    if (!opened) {
      lastError_ = kErrorIo;
      systemError_ = file->LastSystemError();
      return false;
    }
    folder_ = path.substr(0, slash);
    fileName_ = path.substr(slash + 1);
    file_ = std::move(file);
  } catch (const std::bad_alloc&) {
    lastError_ = kErrorIo;
    systemError_ = ENOMEM;
    return false;
  }
  mode_ = mode;
  eof_ = false;
  lastError_ = kErrorNone;
  systemError_ = 0;
  return true;
}

bool CQPXFileIO::Close() {
  if (!IsOpen()) {
    lastError_ = kErrorNotOpen;
    return true;
  }
  // A written file whose close fails (a network share flushing late, a full
  // disk) may not hold what was written, so that is reported; for a file
  // that was only read nothing is lost.
  bool closed = true;
  if (!file_->Close()) {
    file_->Abort();
    closed = mode_ != kModeCreate && mode_ != kModeReadWrite;
  }
  file_.reset();
  folder_.clear();
  fileName_.clear();
  mode_ = kModeClosed;
  eof_ = false;
  lastError_ = kErrorNone;
  systemError_ = 0;
  return closed;
}

bool CQPXFileIO::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  if (buffer == nullptr) {
    lastError_ = kErrorNullBuffer;
    return false;
  }
  if (!IsOpen()) {
    lastError_ = kErrorNotOpen;
    return false;
  }
  if (mode_ == kModeCreate) {
    lastError_ = kErrorWrongMode;
    return false;
  }
  uint32_t got = 0;
  switch (file_->Read(buffer, length, got)) {
    case host::ReadResult::kData:
      if (bytesRead) *bytesRead = got;
      eof_ = false;
      return true;
    case host::ReadResult::kEndOfFile:
      lastError_ = kErrorEndOfFile;
      eof_ = true;
      return true;
    case host::ReadResult::kFailed:
      break;
  }
  SetPlatformError(kErrorIo);
  return false;
}

bool CQPXFileIO::HostSpan(const host::PlatformFile*& file, uint64_t& offset, uint64_t& span) {
  uint64_t length = 0;
  if (!IsOpen() || mode_ == kModeCreate || !file_->Tell(offset) || !file_->Length(length)) return false;
  file = file_.get();
  span = length > offset ? length - offset : 0;
  return true;
}

void CQPXFileIO::ReserveAhead(uint64_t bytes) {
  uint64_t at = 0;
  if (!IsOpen() || mode_ == kModeRead || mode_ == kModeReadShared || !file_->Tell(at)) return;
  file_->Reserve(at + bytes);
}

bool CQPXFileIO::Write(const void* buffer, uint32_t length) {
  if (buffer == nullptr) {
    lastError_ = kErrorNullBuffer;
    return false;
  }
  if (!IsOpen()) {
    lastError_ = kErrorNotOpen;
    return false;
  }
  if (mode_ == kModeRead || mode_ == kModeReadShared) {
    lastError_ = kErrorWrongMode;
    return false;
  }
  if (!file_->Write(buffer, length)) {
    SetPlatformError(kErrorIo);
    return false;
  }
  return true;
}

bool CQPXFileIO::Seek(const uint64_t& distance, int origin, bool forward) {
  if (!IsOpen()) {
    lastError_ = kErrorNotOpen;
    return false;
  }
  uint64_t from = 0;
  bool known;
  switch (origin) {
    case kSeekBegin: known = true; break;
    case kSeekCurrent: known = file_->Tell(from); break;
    case kSeekEnd: known = file_->Length(from); break;
    default:
      lastError_ = kErrorBadOrigin;
      return false;
  }
  if (!known) {
    SetPlatformError(kErrorIo);
    return false;
  }
  // The host takes a 64-bit offset, so the target is reached in one move
  // rather than in 32-bit steps; a hostile distance of 2^62 would otherwise
  // cost two billion calls before failing.
  uint64_t target;
  if (forward ? distance > kMaxFilePosition - from : distance > from) {
    lastError_ = kErrorIo;
    systemError_ = EINVAL;
    return false;
  }
  target = forward ? from + distance : from - distance;
  if (!file_->Seek(static_cast<int64_t>(target), host::SeekOrigin::kBegin)) {
    SetPlatformError(kErrorIo);
    return false;
  }
  eof_ = false;
  return true;
}

bool CQPXFileIO::Flush() {
  if (!IsOpen()) return false;
  if (!file_->Flush()) {
    SetPlatformError(kErrorIo);
    return false;
  }
  return true;
}

bool CQPXFileIO::GetPathName(std::u16string& out) {
  if (!IsOpen()) {
    out.clear();
    return false;
  }
  out = folder_ + u'\\' + fileName_;
  return true;
}

bool CQPXFileIO::GetLength(uint64_t& out) {
  if (!IsOpen()) {
    lastError_ = kErrorNotOpen;
    return false;
  }
  if (!file_->Length(out)) {
    SetPlatformError(kErrorIo);
    return false;
  }
  return true;
}

bool CQPXFileIO::GetPosition(uint64_t& out) {
  if (!IsOpen()) {
    lastError_ = kErrorNotOpen;
    return false;
  }
  if (!file_->Tell(out)) {
    SetPlatformError(kErrorIo);
    return false;
  }
  return true;
}

bool CQPXFileIO::IsEOF() {
  if (!IsOpen()) {
    lastError_ = kErrorNotOpen;
    return false;
  }
  return eof_;
}

}  // namespace QPXFile
