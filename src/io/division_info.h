// The division info section: whether the archive is split into volumes and
// how large each volume is.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "io/section.h"

namespace QPXFile {

// Format notes (little-endian):
//   offset 0     4  L           bytes that follow this field (33 with the standard tag)
//   offset 4     4  T           length of the tag (13)
//   offset 8     T  tag         "Division_Info", no terminator, compared exactly
//   offset 8+T   2  split flag  1: the archive is split into volumes
//   offset 10+T  6              carried, not interpreted
//   offset 16+T  8  S           size limit of each volume file in bytes
// The section's size is L + 4.
class CQPXDivisionInfo : public CQPXHeader {
 public:
  static constexpr char kTag[] = "Division_Info";
  static constexpr uint32_t kTagLength = sizeof(kTag) - 1;
  static constexpr uint32_t kBlockSize = 16;
  static constexpr uint32_t kStandardLength = 4 + kTagLength + kBlockSize;

  CQPXDivisionInfo();

  bool GetSize(uint64_t& out) override;
  // Fails, leaving the fields as they were, on another tag (a different case
  // included), a length too small for the tag and block, or a section that
  // runs past the end of the stream.
  bool ReadBody(CFileIO& stream) override;

  uint16_t GetSplitFlag() const { return splitFlag_; }
  bool IsSplit() const { return splitFlag_ == 1; }
  uint64_t GetVolumeSize() const { return volumeSize_; }
  // The bytes after the split flag, as read (zero in a new section).
  const std::array<uint8_t, 6>& GetFiller() const { return filler_; }
  void SetSplitFlag(uint16_t flag) { splitFlag_ = flag; }
  void SetVolumeSize(uint64_t size) { volumeSize_ = size; }

 private:
  uint32_t length_;                 // L
  std::string tag_;                 // the tag as read; empty when none is held
  uint16_t splitFlag_ = 0;
  std::array<uint8_t, 6> filler_{}; // the bytes after the split flag, carried as read
  uint64_t volumeSize_ = 0;         // S
};

}  // namespace QPXFile
