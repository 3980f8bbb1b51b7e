// Writers for the archive sections the readers in src/ understand: each takes
// a section object and writes it, through its public accessors, at the
// stream's current position. The program reads archives only; tests use these
// to write what they have built or read.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "archive/category_info.h"
#include "archive/file_header.h"
#include "archive/file_list.h"
#include "archive/folder_list.h"
#include "entry/backuped_file_header.h"
#include "io/division_info.h"

namespace testsupport {

// Each fails when the stream refuses the bytes or the section cannot be
// written as it stands (no tag held, a length beyond its field, text the
// encoding cannot hold in the stored length).
bool WriteSection(QPXFile::CFileIO& stream, const QPXFile::CQPXDivisionInfo& info);
// The Unicode header puts its description into the record, padded with
// U+0020 to 64 units.
bool WriteSection(QPXFile::CFileIO& stream, const QPXFile::CQPXFileHeader& header);
// L is written as the true length of what follows it, whatever L was read.
bool WriteSection(QPXFile::CFileIO& stream, const QPXFile::CQPXCategoryInfo& info);
bool WriteSection(QPXFile::CFileIO& stream, const QPXFile::CQPXFileList& list);
bool WriteSection(QPXFile::CFileIO& stream, const QPXFile::CQPXFolderList& list);
bool WriteSection(QPXFile::CFileIO& stream, const QPXFile::CQPXBackupedFileHeader& record);

// The 168-byte header record filled field by field; CQPXFileHeader reads it.
// Text fields are padded with blanks; a setter fails, leaving its field, on
// text longer than the field or outside the code page.
class HeaderRecord {
 public:
  bool SetFormatId(std::u16string_view text) { return SetText(0, text); }
  bool SetVersionText(std::u16string_view text) { return SetText(24, text); }
  bool SetCompressionText(std::u16string_view text) { return SetText(32, text); }
  void SetSectionLevel(uint32_t level) { QPXFile::StoreU32(bytes_.data() + 8, level); }
  void SetCreationTime(uint64_t fileTime) { QPXFile::StoreU64(bytes_.data() + 12, fileTime); }
  void SetEntryCount(uint32_t count) { QPXFile::StoreU32(bytes_.data() + 20, count); }
  // 128 code page bytes.
  bool SetDescription(std::u16string_view text);
  // 64 UTF-16 units, as in Unicode archives.
  bool SetUnicodeDescription(std::u16string_view text);

  const std::array<uint8_t, QPXFile::kFileHeaderSize>& bytes() const { return bytes_; }
  std::vector<uint8_t> Image() const { return {bytes_.begin(), bytes_.end()}; }

 private:
  bool SetText(size_t offset, std::u16string_view text);

  std::array<uint8_t, QPXFile::kFileHeaderSize> bytes_{};
};

}  // namespace testsupport
