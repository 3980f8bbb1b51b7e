#include "io/division_info.h"

#include <cstring>

namespace QPXFile {

CQPXDivisionInfo::CQPXDivisionInfo() : length_(kStandardLength), tag_(kTag) {}

bool CQPXDivisionInfo::GetSize(uint64_t& out) {
  if (tag_.empty()) return false;
  out = static_cast<uint64_t>(length_) + 4;
  return true;
}

bool CQPXDivisionInfo::ReadBody(CFileIO& stream) {
  uint32_t length = 0, tagLength = 0;
  if (!ReadU32(stream, length) || !ReadU32(stream, tagLength)) return false;
  // The tag can only match at its own length, so nothing is allocated for a
  // hostile one, and the block must lie inside the section's declared length.
  if (tagLength != kTagLength || length < kStandardLength) return false;
  uint64_t remaining = 0;
  if (!RemainingBytes(stream, remaining) || remaining < static_cast<uint64_t>(length) - 4) return false;
  char tag[kTagLength];
  uint8_t block[kBlockSize];
  if (!ReadExact(stream, tag, kTagLength) || std::memcmp(tag, kTag, kTagLength) != 0) return false;
  if (!ReadExact(stream, block, kBlockSize)) return false;
  length_ = length;
  tag_.assign(tag, kTagLength);
  splitFlag_ = LoadU16(block);
  std::memcpy(filler_.data(), block + 2, filler_.size());
  volumeSize_ = LoadU64(block + 8);
  return true;
}

}  // namespace QPXFile
