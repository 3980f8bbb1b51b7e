#include "io/divided_file_io.h"

#include <cerrno>
#include <limits>
#include <new>

#include "host/file.h"
#include "io/section.h"

namespace QPXFile {
namespace {

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();

void StoreHead(const QPXVolumeHead& head, uint8_t* bytes) {
  bytes[0] = head.continued;
  bytes[1] = bytes[2] = bytes[3] = 0;
  StoreU32(bytes + 4, head.timeLow);
  StoreU32(bytes + 8, head.timeHigh);
}

}  // namespace

// ---------------------------------------------------------------------------
// One volume

bool CDividedFileIOElement::Open(const std::u16string& path, uint16_t mode) {
  if (!CLimitedFileIO::Open(path, mode)) return false;
  uint64_t length = 0;
  if (!CQPXFileIO::GetLength(length)) length = 0;
  endOffset_ = length > kMaxU64 - base_ ? kMaxU64 : base_ + length;
  return true;
}

bool CDividedFileIOElement::SetWindow(uint64_t start, uint64_t end) {
  if (!IsOpen()) return false;
  if (mode_ == kModeCreate && !head_.valid) return false;
  if (end < start || end - start > kMaxU64 - base_) return false;
  if (!SetLimits(start, end)) return false;
  uint64_t position = 0;
  if (!CQPXFileIO::GetPosition(position)) return false;
  uint32_t headBytes = static_cast<uint32_t>(start < kVolumeHeadSize ? start : kVolumeHeadSize);
  uint8_t bytes[kVolumeHeadSize] = {};
  if (mode_ == kModeCreate) {
    StoreHead(head_, bytes);
    if (headBytes != 0 && (!CQPXFileIO::Seek(0, kSeekBegin, true) || !CQPXFileIO::Write(bytes, headBytes)))
      return false;
  } else if (headBytes != 0) {
    if (!CQPXFileIO::Seek(0, kSeekBegin, true)) return false;
    uint32_t got = 0;
    if (!CQPXFileIO::Read(bytes, headBytes, &got) || got != headBytes) return false;
    if (headBytes == kVolumeHeadSize) {
      head_.continued = bytes[0];
      head_.timeLow = LoadU32(bytes + 4);
      head_.timeHigh = LoadU32(bytes + 8);
    }
  }
  if (!CQPXFileIO::Seek(position, kSeekBegin, true)) return false;
  head_.valid = true;
  // The data actually held, not the window's size: the last volume is
  // normally shorter, and the stream's length is taken from it.
  uint64_t held = 0;
  if (!CLimitedFileIO::GetLength(held)) return false;
  endOffset_ = base_ + held;
  return true;
}

bool CDividedFileIOElement::WriteHead() {
  if (!IsOpen() || !head_.valid || GetWindowStart() == 0) return true;
  uint8_t bytes[kVolumeHeadSize];
  StoreHead(head_, bytes);
  uint32_t headBytes = static_cast<uint32_t>(GetWindowStart() < kVolumeHeadSize ? GetWindowStart() : kVolumeHeadSize);
  uint64_t position = 0;
  if (!CQPXFileIO::GetPosition(position)) return false;
  bool written = CQPXFileIO::Seek(0, kSeekBegin, true) && CQPXFileIO::Write(bytes, headBytes);
  return CQPXFileIO::Seek(position, kSeekBegin, true) && written;
}

bool CDividedFileIOElement::Write(const void* buffer, uint32_t length) {
  if (!CLimitedFileIO::Write(buffer, length)) return false;
  uint64_t position = 0;
  if (CLimitedFileIO::GetPosition(position) && position <= kMaxU64 - base_ && base_ + position > endOffset_)
    endOffset_ = base_ + position;
  return true;
}

bool CDividedFileIOElement::GetPosition(uint64_t& out) {
  uint64_t position = 0;
  if (!CLimitedFileIO::GetPosition(position)) return false;
  if (position > kMaxU64 - base_) {
    lastError_ = kErrorIo;
    return false;
  }
  out = base_ + position;
  return true;
}

// ---------------------------------------------------------------------------
// The chain

CDividedFileIO::~CDividedFileIO() { CloseVolumes(); }

std::u16string CDividedFileIO::VolumePath(const std::u16string& firstPath, uint64_t k) {
  std::string digits = std::to_string(k);
  return firstPath + u'.' + std::u16string(digits.begin(), digits.end());
}

void CDividedFileIO::Fail(DivisionError error, int volume, const std::u16string& path, int systemError) {
  divisionError_ = error;
  divisionErrorVolume_ = volume;
  divisionErrorPath_ = path;
  divisionSystemError_ = systemError;
}

bool CDividedFileIO::CloseVolumes() {
  bool closed = true;
  for (size_t i = volumes_.size(); i-- > 0;) closed = volumes_[i]->Close() && closed;
  volumes_.clear();
  split_ = false;
  current_ = -1;
  template_ = QPXVolumeHead{};
  followingStart_ = 0;
  mode_ = kModeClosed;
  firstPath_.clear();
  return closed;
}

bool CDividedFileIO::Open(const std::u16string& path, uint16_t mode) {
  if (!volumes_.empty()) return false;
  divisionError_ = DivisionError::kNone;
  divisionErrorVolume_ = -1;
  divisionErrorPath_.clear();
  divisionSystemError_ = 0;
  try {
    auto first = std::make_unique<CDividedFileIOElement>(0);
    if (!first->Open(path, mode)) {
      host::SetThreadError(first->GetLastError());
      int system = first->GetSystemError();
      Fail(system == ENOENT ? DivisionError::kVolumeMissing : DivisionError::kVolumeUnreadable, 0, path, system);
      return false;
    }
    first->GetPathName(firstPath_);
    volumes_.push_back(std::move(first));
  } catch (const std::bad_alloc&) {
    host::SetThreadError(kErrorIo);
    CloseVolumes();
    return false;
  }
  mode_ = mode;
  split_ = false;
  current_ = 0;
  return true;
}

bool CDividedFileIO::Close() {
  if (mode_ == kModeCreate && split_ && !volumes_.empty()) {
    CDividedFileIOElement& last = *volumes_.back();
    QPXVolumeHead head = last.GetHead();
    head.continued = 0;
    last.SetHead(head);
    last.WriteHead();
  }
  return CloseVolumes();
}

bool CDividedFileIO::SetupDivision(const QPXVolumeHead& headTemplate, uint64_t volumeSize) {
  volumeSize_ = volumeSize;
  followingStart_ = kVolumeHeadSize;
  if (volumes_.empty()) {
    Fail(DivisionError::kNotOpen, -1, u"", 0);
    return false;
  }
  if (split_) {
    Fail(DivisionError::kAlreadySplit, -1, u"", 0);
    return false;
  }
  if (!headTemplate.valid) {
    Fail(DivisionError::kInvalidTemplate, -1, u"", 0);
    return false;
  }
  // A following volume must hold at least one byte after its head, or the
  // position mapping would divide by zero (or wrap below zero).
  if (volumeSize <= kVolumeHeadSize) {
    Fail(DivisionError::kBadVolumeSize, 0, firstPath_, 0);
    CloseVolumes();
    return false;
  }
  split_ = true;
  template_ = headTemplate;

  CDividedFileIOElement& first = *volumes_[0];
  if (!first.GetHead().valid) first.SetHead(headTemplate);
  uint64_t firstLength = 0;
  if (!first.CQPXFileIO::GetLength(firstLength) || firstLength > volumeSize) {
    Fail(firstLength > volumeSize ? DivisionError::kVolumeTooLong : DivisionError::kVolumeUnreadable, 0, firstPath_,
         first.GetSystemError());
    host::SetThreadError(first.GetLastError());
    CloseVolumes();
    return false;
  }
  if (!first.SetWindow(0, volumeSize)) {
    Fail(DivisionError::kVolumeUnreadable, 0, firstPath_, first.GetSystemError());
    host::SetThreadError(first.GetLastError());
    CloseVolumes();
    return false;
  }
  if (mode_ == kModeCreate) return true;
  return OpenFollowingVolumes();
}

bool CDividedFileIO::OpenFollowingVolumes() {
  const uint64_t dataPerVolume = volumeSize_ - followingStart_;
  for (uint64_t k = 1;; ++k) {
    std::u16string path;
    try {
      path = VolumePath(firstPath_, k);
    } catch (const std::bad_alloc&) {
      Fail(DivisionError::kVolumeUnreadable, -1, u"", ENOMEM);
      CloseVolumes();
      return false;
    }
    const int index = k > static_cast<uint64_t>(std::numeric_limits<int>::max()) ? -1 : static_cast<int>(k);
    uint64_t base = volumes_.back()->GetWindowEndOffset();
    if (index < 0 || base > kMaxU64 - dataPerVolume) {
      Fail(DivisionError::kBadVolumeSize, index, path, 0);
      CloseVolumes();
      return false;
    }
    std::unique_ptr<CDividedFileIOElement> volume;
    try {
      volume = std::make_unique<CDividedFileIOElement>(base);
    } catch (const std::bad_alloc&) {
      Fail(DivisionError::kVolumeUnreadable, index, path, ENOMEM);
      CloseVolumes();
      return false;
    }
    // Each failure names the volume so that the caller can say which file
    // of the set is missing or foreign.
    DivisionError error = DivisionError::kNone;
    int system = 0;
    uint64_t length = 0;
    if (!volume->Open(path, mode_)) {
      system = volume->GetSystemError();
      error = system == ENOENT ? DivisionError::kVolumeMissing : DivisionError::kVolumeUnreadable;
    } else if (!volume->CQPXFileIO::GetLength(length)) {
      system = volume->GetSystemError();
      error = DivisionError::kVolumeUnreadable;
    } else if (length < followingStart_) {
      error = DivisionError::kVolumeHeadUnreadable;
    } else if (length > volumeSize_) {
      error = DivisionError::kVolumeTooLong;
    } else if (!volume->SetWindow(followingStart_, volumeSize_)) {
      system = volume->GetSystemError();
      error = DivisionError::kVolumeHeadUnreadable;
    } else if (volume->GetHead().timeLow != template_.timeLow || volume->GetHead().timeHigh != template_.timeHigh) {
      error = DivisionError::kVolumeForeign;
    }
    if (error != DivisionError::kNone) {
      host::SetThreadError(volume->GetLastError() != kErrorNone ? volume->GetLastError() : kErrorIo);
      Fail(error, index, path, system);
      volume->Close();
      CloseVolumes();
      return false;
    }
    bool more = volume->GetHead().valid && volume->GetHead().continued != 0;
    try {
      volumes_.push_back(std::move(volume));
    } catch (const std::bad_alloc&) {
      Fail(DivisionError::kVolumeUnreadable, index, path, ENOMEM);
      CloseVolumes();
      return false;
    }
    if (!more) return true;
  }
}

bool CDividedFileIO::MapPosition(uint64_t position, size_t& volume, uint64_t& offset) const {
  if (position <= volumeSize_) {
    volume = 0;
    offset = position;
    return true;
  }
  const uint64_t dataPerVolume = volumeSize_ - followingStart_;
  const uint64_t q = position - volumeSize_;
  const uint64_t index = q / dataPerVolume + 1;
  offset = q % dataPerVolume;
  if (index < volumes_.size()) {
    volume = static_cast<size_t>(index);
    return true;
  }
  // The end of a last volume that is exactly full lies at offset 0 of a
  // volume that does not exist; it is the end of that last volume instead.
  if (index == volumes_.size() && offset == 0) {
    volume = volumes_.size() - 1;
    offset = dataPerVolume;
    return true;
  }
  return false;
}

bool CDividedFileIO::HostSpan(const host::PlatformFile*& file, uint64_t& offset, uint64_t& span) {
  if (volumes_.empty() || current_ < 0) return false;
  return volumes_[split_ ? static_cast<size_t>(current_) : 0]->HostSpan(file, offset, span);
}

// Only a stream of one file: a split one ends its volumes where their
// windows say, which the hint knows nothing of.
void CDividedFileIO::ReserveAhead(uint64_t bytes) {
  if (!split_ && !volumes_.empty()) volumes_[0]->ReserveAhead(bytes);
}

bool CDividedFileIO::Read(void* buffer, uint32_t length, uint32_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  if (volumes_.empty()) return false;
  if (!split_) return volumes_[0]->Read(buffer, length, bytesRead);
  if (buffer == nullptr) return volumes_[current_]->Read(buffer, length, bytesRead);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t total = 0;
  while (true) {
    CDividedFileIOElement& volume = *volumes_[current_];
    const uint32_t wanted = length - total;
    uint32_t got = 0;
    if (!volume.Read(out + total, wanted, &got)) {
      host::SetThreadError(volume.GetLastError());
      if (bytesRead) *bytesRead = total;
      return false;
    }
    total += got;
    // Only a volume that delivered everything up to its window end passes
    // the rest on; a short file would otherwise shift the following bytes.
    bool reachedWindowEnd = volume.IsEndReached() && got == wanted - volume.GetOverrun();
    if (!reachedWindowEnd || total == length || static_cast<size_t>(current_) + 1 >= volumes_.size()) break;
    ++current_;
    if (!volumes_[current_]->Seek(0, kSeekBegin, true)) {
      host::SetThreadError(host::kThreadErrorInvalidHandle);
      if (bytesRead) *bytesRead = total;
      return false;
    }
  }
  if (bytesRead) *bytesRead = total;
  return true;
}

bool CDividedFileIO::AppendWriteVolume() {
  const uint64_t k = volumes_.size();
  std::u16string path = VolumePath(firstPath_, k);
  uint64_t base = volumes_.back()->GetWindowEndOffset();
  if (base > kMaxU64 - (volumeSize_ - followingStart_)) return false;
  auto volume = std::make_unique<CDividedFileIOElement>(base);
  if (!volume->Open(path, mode_)) {
    host::SetThreadError(volume->GetLastError());
    return false;
  }
  QPXVolumeHead head = template_;
  head.continued = 1;
  head.valid = true;
  volume->SetHead(head);
  if (!volume->SetWindow(followingStart_, volumeSize_)) {
    host::SetThreadError(volume->GetLastError());
    volume->Close();
    return false;
  }
  volumes_.push_back(std::move(volume));
  return true;
}

bool CDividedFileIO::Write(const void* buffer, uint32_t length) {
  if (volumes_.empty()) return false;
  if (!split_) return volumes_[0]->Write(buffer, length);
  if (buffer == nullptr) return volumes_[current_]->Write(buffer, length);
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  try {
    while (done < length) {
      CDividedFileIOElement& volume = *volumes_[current_];
      if (!volume.Write(in + done, length - done)) {
        host::SetThreadError(volume.GetLastError());
        return false;
      }
      if (!volume.IsEndReached()) return true;
      done += (length - done) - static_cast<uint32_t>(volume.GetOverrun());
      if (done >= length) return true;
      if (static_cast<size_t>(current_) + 1 >= volumes_.size() && !AppendWriteVolume()) return false;
      ++current_;
      if (!volumes_[current_]->Seek(0, kSeekBegin, true)) {
        host::SetThreadError(host::kThreadErrorInvalidHandle);
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    host::SetThreadError(kErrorIo);
    return false;
  }
  return true;
}

bool CDividedFileIO::Seek(const uint64_t& distance, int origin, bool forward) {
  if (volumes_.empty()) return false;
  if (!split_) return volumes_[0]->Seek(distance, origin, forward);
  uint64_t from = 0;
  switch (origin) {
    case kSeekBegin: from = 0; break;
    case kSeekCurrent:
      if (!GetPosition(from)) return false;
      break;
    case kSeekEnd:
      if (!GetLength(from)) return false;
      break;
    default:
      host::SetThreadError(kErrorBadOrigin);
      return false;
  }
  uint64_t target;
  if (forward) {
    if (distance > kMaxU64 - from) return false;
    target = from + distance;
  } else {
    if (distance > from) return false;
    target = from - distance;
  }
  size_t volume = 0;
  uint64_t offset = 0;
  if (!MapPosition(target, volume, offset)) {
    host::SetThreadError(kErrorEndOfFile);
    return false;
  }
  current_ = static_cast<int>(volume);
  if (!volumes_[volume]->Seek(offset, kSeekBegin, true)) {
    host::SetThreadError(volumes_[volume]->GetLastError());
    return false;
  }
  return true;
}

bool CDividedFileIO::GetPathName(std::u16string& out) {
  if (volumes_.empty()) {
    out.clear();
    return false;
  }
  return volumes_[0]->GetPathName(out);
}

bool CDividedFileIO::IsOpen() {
  if (volumes_.empty()) return false;
  for (auto& volume : volumes_)
    if (!volume->IsOpen()) return false;
  return true;
}

uint16_t CDividedFileIO::GetOpenMode() { return volumes_.empty() ? static_cast<uint16_t>(kModeClosed) : volumes_[0]->GetOpenMode(); }

bool CDividedFileIO::GetLength(uint64_t& out) {
  if (volumes_.empty()) return false;
  // Until split the first file may still grow under a writer, so ask it.
  if (!split_) return volumes_[0]->GetLength(out);
  out = volumes_.back()->GetEndOffset();
  return true;
}

bool CDividedFileIO::GetPosition(uint64_t& out) {
  if (volumes_.empty()) return false;
  return volumes_[current_]->GetPosition(out);
}

bool CDividedFileIO::IsEOF() {
  if (volumes_.empty()) return false;
  if (static_cast<size_t>(current_) + 1 != volumes_.size()) return false;
  return volumes_[current_]->IsEOF();
}

uint32_t CDividedFileIO::GetLastError() {
  if (volumes_.empty()) return kErrorNone;
  return volumes_[current_]->GetLastError();
}

int CDividedFileIO::GetSystemError() const {
  if (current_ < 0 || static_cast<size_t>(current_) >= volumes_.size()) return 0;
  return volumes_[current_]->GetSystemError();
}

}  // namespace QPXFile
