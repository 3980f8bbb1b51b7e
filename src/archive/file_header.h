// The 168-byte record at the start of every archive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/section.h"

namespace QPXFile {

// Format notes: the header record, little-endian, at offset 0 of the archive:
//   0    8  FormatId         ANSI, blank-padded ("QPX1.0  ", "QPX2.0  ",
//                            "QPX3.0  ", "F_QPX1.0", "F_QPX2.0")
//   8    4  SectionLevel     which list sections follow (0, 3 or 4 written)
//   12   8  CreationTime     FILETIME, low word first, local time
//   20   4  EntryCount       number of stored entries
//   24   8  VersionText      ANSI, blank-padded
//   32   8  CompressionText  ANSI, blank-padded ("PKWARE  ", "NA      ")
//   40 128  Description      128 ANSI bytes, or 64 UTF-16LE units in the
//                            Unicode header; blank-padded
// Text fields carry no terminator; when read they are cut at the first NUL
// but keep their blanks, so identifiers compare equal to the 8-character
// constants.
constexpr uint32_t kFileHeaderSize = 168;
constexpr size_t kHeaderTextWidth = 8;
constexpr size_t kDescriptionOffset = 40;
constexpr size_t kDescriptionBytes = 128;
constexpr size_t kDescriptionUnits = 64;

class CQPXFileHeader : public CQPXHeader {
 public:
  CQPXFileHeader() = default;

  bool GetSize(uint64_t& out) override;
  // Fails unless all 168 bytes are read; a file shorter than the header is
  // not an archive. The record is left as it was on failure.
  bool ReadBody(CFileIO& stream) override;

  // Fails when the bytes are not valid code page text.
  virtual bool GetDescription(std::u16string& out) const;

  bool GetFormatId(std::u16string& out) const { return GetTextField(0, out); }
  bool GetVersionText(std::u16string& out) const { return GetTextField(24, out); }
  bool GetCompressionText(std::u16string& out) const { return GetTextField(32, out); }

  uint32_t GetSectionLevel() const { return LoadU32(record_ + 8); }
  uint64_t GetCreationTime() const { return LoadU64(record_ + 12); }
  uint32_t GetEntryCount() const { return LoadU32(record_ + 20); }

  // The record as read.
  const uint8_t* GetRecord() const { return record_; }

 protected:
  bool GetTextField(size_t offset, std::u16string& out) const;

  uint8_t record_[kFileHeaderSize] = {};  // the header bytes, all 0 when new
};

// The header of Unicode archives: the description is UTF-16.
class CUQPXFileHeader : public CQPXFileHeader {
 public:
  // Also takes the description from the record: 64 units cut at the first NUL.
  bool ReadBody(CFileIO& stream) override;
  bool GetDescription(std::u16string& out) const override;

 private:
  std::u16string description_;  // taken from the record when read
};

// Blank-padded ANSI text fields of fixed width: reading takes `width` bytes
// cut at the first NUL; fails when they are not valid code page text.
bool ReadPaddedAnsiField(const uint8_t* field, size_t width, std::u16string& out);

}  // namespace QPXFile
