// Management file layout (little-endian; a counted text is a 16-bit byte
// length n and n bytes, UTF-16LE when Utf16Strings, else code page 932):
//
//   0   4  Checksum   CRC-32 register over bytes 4..end; 0 = not set
//   4   4  (carried)
//   8  20  Version    "QPXManageFile1.0    " / 1.1 / 2.0 / 3.0, space padded
//  28   4  (carried)
//  32      archives:  u16 count; each: u16 Generation, text Path, u32 Crc32, u64 CreationTime
//          folders 1, folders 2: count (u32 if WideCounts else u16); each: text Path,
//                     [text ExtraText if FolderExtraText], u16 u, u x (u16 Generation, u16 Kind)
//          files 1, files 2: count as above; each: text Path, u16 u, u updates
//          compress:  u16 n, n ANSI bytes "DefaultCompressInfo", u8 Compress (0/1)
//          category:  only if HasCategoryBlock: u16 n, "DefaultCategoryInfo",
//                     u8 Enabled ('0' false), u16 count, each: text Name, text Value, u16 Code
//
// Trailing bytes are not read but count in the checksum.
#include "generations/qpm_file.h"

#include <new>
#include <type_traits>

#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"
#include "entry/stream_crc.h"
#include "host/text.h"
#include "io/section.h"
#include "paths/path_helpers.h"

namespace QPMFile {

namespace {

constexpr uint32_t kHeaderSize = 32;

struct VersionRow {
  const char16_t* text;
  CQPMTraits traits;
};
const VersionRow kVersions[] = {
    {u"QPXManageFile1.0    ", {false, false, false, false}},
    {u"QPXManageFile1.1    ", {false, false, false, false}},
    {u"QPXManageFile2.0    ", {true, true, true, false}},
    {u"QPXManageFile3.0    ", {true, true, false, true}},
};

// A drive-rooted path: the first component is a drive ("C:").
bool IsDriveRooted(std::u16string_view path) {
  const size_t cut = path.find(u'\\');
  const std::u16string_view first = path.substr(0, cut);
  return first.size() >= 2 && first.back() == u':';
}

template <class Record>
long FindIn(const std::vector<std::unique_ptr<Record>>& table, std::u16string_view path, RecordCursor& cursor) {
  const long count = static_cast<long>(table.size());
  if (count == 0) return -1;
  long& at = cursor.position;
  if (at >= 0 && at < count) {
    if (host::EqualsNoCase(table[at]->Path, path)) return at;
    if (at < count - 1 && host::EqualsNoCase(table[at + 1]->Path, path)) return ++at;
  }
  for (long i = 0; i < count; ++i) {
    if (host::EqualsNoCase(table[i]->Path, path)) {
      if (cursor.followScanHits) at = i;
      return i;
    }
  }
  return -1;
}

}  // namespace

bool TraitsForVersion(std::u16string_view version, CQPMTraits& out) {
  for (const VersionRow& row : kVersions) {
    if (version == row.text) {
      out = row.traits;
      return true;
    }
  }
  return false;
}

CQPMFile::CQPMFile() { header_.Version = kVersions[3].text; }

CQPMFile::~CQPMFile() { Reset(); }

bool CQPMFile::Fail(QPMFailure failure) {
  failure_ = failure;
  return false;
}

void CQPMFile::Reset() {
  if (reader_) reader_->Close();
  reader_.reset();
}

void CQPMFile::ClearContent() {
  archives_.clear();
  for (auto& t : folders_) t.clear();
  for (auto& t : files_) t.clear();
  compress_.Compress = false;
  category_.Enabled = false;
  category_.Items.clear();
}

bool CQPMFile::Open(const std::u16string& path) {
  if (reader_) return false;
  auto reader = std::make_unique<QPXFile::CBufferingFileIO>();
  reader->SetBufferSize(QPXFile::CBufferingFileIO::kDefaultBufferSize);
  if (!reader->Open(path, QPXFile::kModeRead)) return false;
  reader_ = std::move(reader);
  path_ = path;
  return true;
}

std::u16string CQPMFile::GetManagementPath() const {
  std::u16string path;
  if (reader_ && reader_->GetPathName(path)) return path;
  return path_;
}

const CQPMQPXFileInfo* CQPMFile::GetArchive(long generation) const {
  if (generation < 0 || generation >= GetArchiveCount()) return nullptr;
  return archives_[generation].get();
}

long CQPMFile::FindFolderRecord(int table, std::u16string_view path, RecordCursor& cursor) const {
  return FindIn(folders_[table & 1], path, cursor);
}

long CQPMFile::FindFileRecord(int table, std::u16string_view path, RecordCursor& cursor) const {
  return FindIn(files_[table & 1], path, cursor);
}

bool CQPMFile::ReadText(std::u16string& out, bool ansiOnly) {
  uint16_t n = 0;
  uint64_t left = 0;
  if (!QPXFile::ReadU16(*reader_, n)) return Fail(QPMFailure::kRead);
  if (!QPXFile::RemainingBytes(*reader_, left) || n > left) return Fail(QPMFailure::kCount);
  std::string bytes(n, '\0');
  if (n > 0 && !QPXFile::ReadExact(*reader_, bytes.data(), n)) return Fail(QPMFailure::kRead);
  if (traits_.Utf16Strings && !ansiOnly) {
    // Half a code unit is damage, not text.
    if (n % 2 != 0) return Fail(QPMFailure::kText);
    out = QPXFile::Utf16LeToWide(reinterpret_cast<const uint8_t*>(bytes.data()), n);
    return true;
  }
  out.clear();
  if (!host::AnsiToWide(bytes, out)) return Fail(QPMFailure::kText);
  return true;
}

bool CQPMFile::ReadUpdates(std::vector<CQPMUpdateContents>& out) {
  uint16_t count = 0;
  uint64_t left = 0;
  if (!QPXFile::ReadU16(*reader_, count)) return Fail(QPMFailure::kRead);
  if (!QPXFile::RemainingBytes(*reader_, left) || uint64_t{count} * 4 > left) return Fail(QPMFailure::kCount);
  out.resize(count);
  for (uint16_t i = 0; i < count; ++i) {
    CQPMUpdateContents& u = out[i];
    if (!QPXFile::ReadU16(*reader_, u.Generation) || !QPXFile::ReadU16(*reader_, u.Kind))
      return Fail(QPMFailure::kRead);
    // The generation tree walks updates by index into the archives table and
    // in ascending order; anything else would send it outside the table or
    // make it show an object removed before it ever existed.
    if (u.Generation >= archives_.size()) return Fail(QPMFailure::kUpdates);
    if (i > 0 && u.Generation < out[i - 1].Generation) return Fail(QPMFailure::kUpdates);
    if (i == 0 && u.Kind == kKindRemoved) return Fail(QPMFailure::kUpdates);
  }
  return true;
}

template <class Record>
bool CQPMFile::ReadTable(std::vector<std::unique_ptr<Record>>& table) {
  table.clear();
  uint32_t count = 0;
  if (traits_.WideCounts) {
    if (!QPXFile::ReadU32(*reader_, count)) return Fail(QPMFailure::kRead);
  } else {
    uint16_t narrow = 0;
    if (!QPXFile::ReadU16(*reader_, narrow)) return Fail(QPMFailure::kRead);
    count = narrow;
  }
  // Every record needs at least a text length and an update count.
  uint64_t left = 0;
  const uint64_t smallest = std::is_same_v<Record, CQPMFolderInfo> && traits_.FolderExtraText ? 6 : 4;
  if (!QPXFile::RemainingBytes(*reader_, left) || uint64_t{count} * smallest > left) return Fail(QPMFailure::kCount);
  table.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    auto record = std::make_unique<Record>();
    if (!ReadText(record->Path, false)) return false;
    if (!IsDriveRooted(record->Path)) return Fail(QPMFailure::kPath);
    if constexpr (std::is_same_v<Record, CQPMFolderInfo>) {
      if (traits_.FolderExtraText && !ReadText(record->ExtraText, false)) return false;
    }
    if (!ReadUpdates(record->Updates)) return false;
    table.push_back(std::move(record));
  }
  return true;
}

bool CQPMFile::ResolveArchivePath(std::u16string& path) const {
  if (IsDriveRooted(path)) return true;
  const std::u16string folder = paths::FolderPart(GetManagementPath());
  if (folder.empty() || !IsDriveRooted(folder)) return false;
  std::u16string result = folder;
  std::u16string_view rest = path;
  bool first = true;
  while (true) {
    const size_t cut = rest.find(u'\\');
    const std::u16string_view part = rest.substr(0, cut);
    // A relative path names a file beside the management file or below it;
    // empty and parent components would lead elsewhere.
    if (part.empty() || part == u"..") return false;
    if (!(first && part == u".")) result = paths::Join(result, part);
    first = false;
    if (cut == std::u16string_view::npos) break;
    rest = rest.substr(cut + 1);
  }
  path = std::move(result);
  return true;
}

bool CQPMFile::ParseBody() {
  uint16_t archiveCount = 0;
  uint64_t left = 0;
  if (!QPXFile::ReadU16(*reader_, archiveCount)) return Fail(QPMFailure::kRead);
  if (!QPXFile::RemainingBytes(*reader_, left) || uint64_t{archiveCount} * 16 > left)
    return Fail(QPMFailure::kCount);
  archives_.reserve(archiveCount);
  for (uint16_t i = 0; i < archiveCount; ++i) {
    auto info = std::make_unique<CQPMQPXFileInfo>();
    if (!QPXFile::ReadU16(*reader_, info->Generation)) return Fail(QPMFailure::kRead);
    if (!ReadText(info->Path, false)) return false;
    if (!QPXFile::ReadU32(*reader_, info->Crc32) || !QPXFile::ReadU64(*reader_, info->CreationTime))
      return Fail(QPMFailure::kRead);
    if (!ResolveArchivePath(info->Path)) return Fail(QPMFailure::kPath);
    archives_.push_back(std::move(info));
  }
  for (auto& table : folders_)
    if (!ReadTable(table)) return table.clear(), false;
  for (auto& table : files_)
    if (!ReadTable(table)) return table.clear(), false;

  std::u16string name;
  if (!ReadText(name, true)) return false;
  if (name != compress_.Name) return Fail(QPMFailure::kBlock);
  uint8_t byte = 0;
  if (!QPXFile::ReadU8(*reader_, byte)) return Fail(QPMFailure::kRead);
  if (byte > 1) return Fail(QPMFailure::kBlock);
  compress_.Compress = byte == 1;

  if (!traits_.HasCategoryBlock) return true;
  if (!ReadText(name, true)) return false;
  if (name != category_.Name) return Fail(QPMFailure::kBlock);
  if (!QPXFile::ReadU8(*reader_, byte)) return Fail(QPMFailure::kRead);
  category_.Enabled = byte != '0';
  uint16_t itemCount = 0;
  if (!QPXFile::ReadU16(*reader_, itemCount)) return Fail(QPMFailure::kRead);
  if (!QPXFile::RemainingBytes(*reader_, left) || uint64_t{itemCount} * 6 > left) return Fail(QPMFailure::kCount);
  for (uint16_t i = 0; i < itemCount; ++i) {
    auto item = std::make_unique<CQPMExHeaderDefaultCategoryItemInfo>();
    if (!ReadText(item->Name, false) || !ReadText(item->Value, false)) return category_.Items.clear(), false;
    if (!QPXFile::ReadU16(*reader_, item->Code)) return category_.Items.clear(), Fail(QPMFailure::kRead);
    category_.Items.push_back(std::move(item));
  }
  return true;
}

bool CQPMFile::Load() {
  failure_ = QPMFailure::kNone;
  if (!reader_ || !reader_->IsOpen() || reader_->GetOpenMode() == QPXFile::kModeCreate)
    return Fail(QPMFailure::kNotOpen);
  if (!reader_->SeekTo(0)) return Fail(QPMFailure::kRead);
  const uint32_t computed = QPXFile::Crc32OverStream(*reader_, 4);
  if (!reader_->SeekTo(0)) return Fail(QPMFailure::kRead);

  uint8_t raw[kHeaderSize];
  if (!QPXFile::ReadExact(*reader_, raw, kHeaderSize)) return Fail(QPMFailure::kRead);
  CQPMHeader header;
  header.Checksum = QPXFile::LoadU32(raw);
  header.Unnamed4 = QPXFile::LoadU32(raw + 4);
  header.Unnamed28 = QPXFile::LoadU32(raw + 28);
  CQPMTraits traits;
  if (!host::AnsiToWide(std::string_view(reinterpret_cast<const char*>(raw + 8), 20), header.Version) ||
      !TraitsForVersion(header.Version, traits))
    return Fail(QPMFailure::kVersion);
  // Files of the first version were written with checksums that do not
  // always match, so they are accepted anyway.
  if (header.Checksum != 0 && header.Checksum != computed && header.Version != kVersions[0].text)
    return Fail(QPMFailure::kChecksum);
  header_ = std::move(header);
  traits_ = traits;

  ClearContent();
  try {
    if (!ParseBody()) return ClearContent(), false;
  } catch (const std::bad_alloc&) {
    ClearContent();
    return Fail(QPMFailure::kOutOfMemory);
  }
  return true;
}

bool CQPMFile::RebuildFromArchive(const std::u16string& archivePath) {
  failure_ = QPMFailure::kNone;
  ClearContent();
  header_ = CQPMHeader{};
  header_.Unnamed28 = 1;
  header_.Version = kVersions[2].text;
  traits_ = kVersions[2].traits;
  try {
    QPXFile::OpenResult opened = QPXFile::OpenArchive(archivePath);
    if (!opened.archive) return Fail(QPMFailure::kArchive);
    QPXFile::CQPXFile& archive = *opened.archive;
    const uint32_t crc = archive.ComputeCRC();
    // Header-only archives and those whose section level omits the folder
    // list have a folder list object that was never read.
    auto* extend = dynamic_cast<QPXFile::CQPXFileExtend*>(&archive);
    if (crc == 0 || extend == nullptr || extend->GetFolderList() == nullptr ||
        !extend->GetFolderList()->IsPositioned()) {
      archive.Close();
      return Fail(QPMFailure::kArchive);
    }
    auto info = std::make_unique<CQPMQPXFileInfo>();
    info->Generation = 0;
    info->Path = archivePath;
    info->Crc32 = crc;
    info->CreationTime = archive.GetHeader()->GetCreationTime();
    archives_.push_back(std::move(info));

    const CQPMUpdateContents first{0, kKindStored};
    RecordCursor folderCursor{0, true};
    const QPXFile::CQPXFolderList& folders = *extend->GetFolderList();
    for (int i = 0; i < folders.GetFolderCount(); ++i) {
      auto record = std::make_unique<CQPMFolderInfo>();
      if (!folders.GetFolder(i, &record->Path, nullptr, nullptr, nullptr, nullptr)) {
        archive.Close();
        ClearContent();
        return Fail(QPMFailure::kArchive);
      }
      if (FindIn(folders_[0], record->Path, folderCursor) >= 0) continue;
      record->Updates.push_back(first);
      folders_[0].push_back(std::move(record));
    }
    RecordCursor fileCursor{0, true};
    for (long i = 0; i < archive.GetEntryCount(); ++i) {
      auto record = std::make_unique<CQPMFileInfo>();
      if (!archive.GetEntryPath(record->Path, i)) {
        archive.Close();
        ClearContent();
        return Fail(QPMFailure::kArchive);
      }
      if (FindIn(files_[0], record->Path, fileCursor) >= 0) continue;
      record->Updates.push_back(first);
      files_[0].push_back(std::move(record));
    }
    archive.Close();
  } catch (const std::bad_alloc&) {
    ClearContent();
    return Fail(QPMFailure::kOutOfMemory);
  }
  // Where the file of this set would lie: the archive's name with "qpm".
  const size_t slash = archivePath.rfind(u'\\');
  const size_t dot = archivePath.rfind(u'.');
  const bool hasExtension = dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash);
  path_ = (hasExtension ? archivePath.substr(0, dot) : archivePath) + u".qpm";
  return true;
}

}  // namespace QPMFile
