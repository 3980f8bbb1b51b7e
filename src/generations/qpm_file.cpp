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

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

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

static_assert(sizeof(CQPMUpdateContents) == 4 && alignof(CQPMUpdateContents) <= alignof(char16_t));

bool HasSurrogate(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= 0xD800 && c <= 0xDFFF; });
}

// FNV-1a over the units as they are: folder texts are shared only when equal.
uint64_t ExactHash(std::u16string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (char16_t unit : text) hash = (hash ^ unit) * 1099511628211ull;
  return hash;
}

template <class Record>
long FindIn(const CQPMTable<Record>& table, std::u16string_view path, RecordCursor& cursor) {
  const long count = static_cast<long>(table.size());
  if (count == 0) return -1;
  long& at = cursor.position;
  if (at >= 0 && at < count) {
    if (table[at].PathEqualsNoCase(path)) return at;
    if (at < count - 1 && table[at + 1].PathEqualsNoCase(path)) return ++at;
  }
  for (long i = 0; i < count; ++i) {
    if (table[i].PathEqualsNoCase(path)) {
      if (cursor.followScanHits) at = i;
      return i;
    }
  }
  return -1;
}

// The paths a table holds, compared as paths compare: a flat table of
// (hash, position) pairs, probed in order, so that a lookup costs one visit
// to memory where a node-based set would cost three, which is most of the
// time a rebuild of a million entries takes.
class FoldedPositions {
 public:
  explicit FoldedPositions(size_t expected) { Resize(expected); }

  // True when no earlier path equals `path` ignoring case; it is then
  // noted at `position`. `pathAt` yields the path at a noted position.
  template <class PathAt>
  bool Insert(std::u16string_view path, uint32_t position, const PathAt& pathAt) {
    const uint64_t hash = FoldedPathHash(path);
    for (size_t i = Home(hash);; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.position == 0) {
        slot = {hash, position + 1};
        if (++size_ * 2 > slots_.size()) Resize(size_);
        return true;
      }
      if (slot.hash == hash && host::EqualsNoCase(pathAt(slot.position - 1), path)) return false;
    }
  }

 private:
  struct Slot {
    uint64_t hash = 0;
    uint32_t position = 0;  // + 1; 0 marks a free slot
  };

  size_t Home(uint64_t hash) const { return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift_); }

  void Resize(size_t expected) {
    size_t capacity = 16;
    unsigned bits = 4;
    while (capacity < expected * 2 + 2) capacity <<= 1, ++bits;
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    mask_ = capacity - 1;
    shift_ = 64 - bits;
    for (const Slot& slot : old) {
      if (slot.position == 0) continue;
      size_t i = Home(slot.hash);
      while (slots_[i].position != 0) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
  }

  std::vector<Slot> slots_;
  size_t size_ = 0;
  size_t mask_ = 0;
  unsigned shift_ = 64;
};

}  // namespace

std::u16string CQPMFileInfo::Path() const {
  std::u16string path;
  path.reserve(PathLength());
  if (Nested) {
    path.append(Folder);
    path.push_back(u'\\');
  }
  path.append(Name);
  return path;
}

bool CQPMFileInfo::PathEqualsNoCase(std::u16string_view path) const {
  if (path.size() == PathLength()) {
    if (!Nested) return host::EqualsNoCase(Name, path);
    // A backslash folds to itself, so the two parts compare apart.
    if (path[Folder.size()] == u'\\' && host::EqualsNoCase(Folder, path.substr(0, Folder.size())) &&
        host::EqualsNoCase(Name, path.substr(Folder.size() + 1)))
      return true;
  }
  // Only text outside the basic plane may fold to another length.
  if (!HasSurrogate(path) && !HasSurrogate(Folder) && !HasSurrogate(Name)) return false;
  return host::EqualsNoCase(Path(), path);
}

uint64_t FoldedPathHash(std::u16string_view path) {
  // FNV-1a over the units of the folded text. Units outside surrogate pairs
  // fold one by one; a run of surrogates is folded as a whole, since its
  // code points may fold to others.
  uint64_t hash = 14695981039346656037ull;
  auto step = [&hash](char16_t unit) { hash = (hash ^ unit) * 1099511628211ull; };
  for (size_t i = 0; i < path.size();) {
    if (path[i] < 0xD800 || path[i] > 0xDFFF) {
      step(host::FoldCaseUnit(path[i++]));
      continue;
    }
    size_t end = i;
    while (end < path.size() && path[end] >= 0xD800 && path[end] <= 0xDFFF) ++end;
    for (char16_t unit : host::FoldCase(path.substr(i, end - i))) step(unit);
    i = end;
  }
  return hash;
}

bool TraitsForVersion(std::u16string_view version, CQPMTraits& out) {
  for (const VersionRow& row : kVersions) {
    if (version == row.text) {
      out = row.traits;
      return true;
    }
  }
  return false;
}

CQPMFile::CQPMFile() {
  header_.Version = kVersions[3].text;
  for (auto& t : folders_) Attach(t);
  for (auto& t : files_) Attach(t);
}

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
  for (auto& t : folders_) t.stored_.clear(), t.extra_.clear();
  for (auto& t : files_) t.stored_.clear();
  recordBytes_.Clear();
  texts_.Clear();
  folderTexts_.clear();
  folderIndex_.clear();
  folderIndexUsed_ = 0;
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

bool CQPMFile::Left(uint64_t& out) const {
  // The length is taken once per load: asking the system for it before
  // every text would cost a call per record.
  uint64_t position = 0;
  if (!reader_->GetPosition(position)) return false;
  out = length_ > position ? length_ - position : 0;
  return true;
}

bool CQPMFile::ReadText(std::u16string& out, bool ansiOnly) {
  uint16_t n = 0;
  uint64_t left = 0;
  if (!QPXFile::ReadU16(*reader_, n)) return Fail(QPMFailure::kRead);
  if (!Left(left) || n > left) return Fail(QPMFailure::kCount);
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
  if (!Left(left) || uint64_t{count} * 4 > left) return Fail(QPMFailure::kCount);
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

uint32_t CQPMFile::InternFolder(std::u16string_view folder) {
  if (2 * (folderIndexUsed_ + 1) > folderIndex_.size()) {
    std::vector<std::pair<uint64_t, uint32_t>> old(std::max<size_t>(64, 2 * folderIndex_.size()));
    old.swap(folderIndex_);
    for (const auto& slot : old) {
      if (slot.second == 0) continue;
      size_t i = static_cast<size_t>(slot.first) & (folderIndex_.size() - 1);
      while (folderIndex_[i].second != 0) i = (i + 1) & (folderIndex_.size() - 1);
      folderIndex_[i] = slot;
    }
  }
  const uint64_t hash = ExactHash(folder);
  for (size_t i = static_cast<size_t>(hash) & (folderIndex_.size() - 1);; i = (i + 1) & (folderIndex_.size() - 1)) {
    auto& slot = folderIndex_[i];
    if (slot.second == 0) {
      folderTexts_.push_back(KeepText(folder));
      slot = {hash, static_cast<uint32_t>(folderTexts_.size())};
      ++folderIndexUsed_;
      return slot.second - 1;
    }
    if (slot.first == hash && folderTexts_[slot.second - 1] == folder) return slot.second - 1;
  }
}

std::u16string_view CQPMFile::KeepText(std::u16string_view text) {
  if (text.empty()) return {};
  char16_t* kept = texts_.Allocate(text.size());
  std::copy(text.begin(), text.end(), kept);
  return {kept, text.size()};
}

template <class Record>
bool CQPMFile::Append(CQPMTable<Record>& table, std::u16string_view path, std::span<const CQPMUpdateContents> updates) {
  const size_t cut = path.rfind(u'\\');
  const std::u16string_view name = cut == std::u16string_view::npos ? path : path.substr(cut + 1);
  if (name.size() > UINT16_MAX || updates.size() > UINT16_MAX) return false;
  typename CQPMTable<Record>::Stored stored{};
  stored.folder = cut == std::u16string_view::npos ? CQPMTable<Record>::kNoFolder : InternFolder(path.substr(0, cut));
  stored.nameLength = static_cast<uint16_t>(name.size());
  stored.updateCount = static_cast<uint16_t>(updates.size());
  const size_t updateBytes = sizeof(CQPMUpdateContents) * updates.size();
  stored.data = recordBytes_.Allocate(updateBytes + sizeof(char16_t) * name.size());
  if (!updates.empty()) std::memcpy(stored.data, updates.data(), updateBytes);
  if (!name.empty()) std::memcpy(stored.data + updateBytes, name.data(), sizeof(char16_t) * name.size());
  table.stored_.push_back(stored);
  return true;
}

template <class Record>
bool CQPMFile::ReadTable(CQPMTable<Record>& table) {
  table.stored_.clear();
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
  if (!Left(left) || uint64_t{count} * smallest > left) return Fail(QPMFailure::kCount);
  table.stored_.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadText(text_, false)) return false;
    if (!IsDriveRooted(text_)) return Fail(QPMFailure::kPath);
    if constexpr (std::is_same_v<Record, CQPMFolderInfo>) {
      if (traits_.FolderExtraText) {
        std::u16string extra;
        if (!ReadText(extra, false)) return false;
        table.extra_.push_back(KeepText(extra));
      }
    }
    if (!ReadUpdates(updates_)) return false;
    if (!Append(table, text_, updates_)) return Fail(QPMFailure::kCount);
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
  if (!Left(left) || uint64_t{archiveCount} * 16 > left)
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
    if (!ReadTable(table)) return false;
  for (auto& table : files_)
    if (!ReadTable(table)) return false;
  // Only more records would need it.
  std::vector<std::pair<uint64_t, uint32_t>>().swap(folderIndex_);
  folderIndexUsed_ = 0;

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
  if (!Left(left) || uint64_t{itemCount} * 6 > left) return Fail(QPMFailure::kCount);
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
  if (!reader_->SeekTo(0) || !reader_->GetLength(length_)) return Fail(QPMFailure::kRead);
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

bool CQPMFile::RebuildFromArchive(const std::u16string& archivePath, std::unique_ptr<QPXFile::CQPXFile>* opened) {
  if (opened) opened->reset();
  failure_ = QPMFailure::kNone;
  rebuildFault_ = QPXFile::ArchiveFault{};
  ClearContent();
  header_ = CQPMHeader{};
  header_.Unnamed28 = 1;
  header_.Version = kVersions[2].text;
  traits_ = kVersions[2].traits;
  try {
    QPXFile::OpenResult result = QPXFile::OpenArchive(archivePath);
    if (!result.archive) {
      rebuildFault_ = QPXFile::ArchiveFault::Of(result);
      return Fail(QPMFailure::kArchive);
    }
    QPXFile::CQPXFile& archive = *result.archive;
    const uint32_t crc = archive.ComputeCRC();
    // Header-only archives and those whose section level omits the folder
    // list have a folder list object that was never read.
    auto* extend = dynamic_cast<QPXFile::CQPXFileExtend*>(&archive);
    if (crc == 0 || extend == nullptr || extend->GetFolderList() == nullptr ||
        !extend->GetFolderList()->IsPositioned()) {
      archive.Close();
      rebuildFault_.nothingToRebuildFrom = true;
      return Fail(QPMFailure::kArchive);
    }
    auto info = std::make_unique<CQPMQPXFileInfo>();
    info->Generation = 0;
    info->Path = archivePath;
    info->Crc32 = crc;
    info->CreationTime = archive.GetHeader()->GetCreationTime();
    archives_.push_back(std::move(info));

    // Each path is kept once, at its first occurrence in list order, ignoring
    // case. A hash of the folded path finds an earlier record directly: an
    // archive of a million entries would otherwise compare each with all
    // the records before it.
    const CQPMUpdateContents first{0, kKindStored};
    const std::span<const CQPMUpdateContents> stored(&first, 1);
    // False when the path cannot be kept.
    auto addOnce = [&](auto& table, FoldedPositions& seen) {
      auto pathAt = [&table](uint32_t i) { return table[i].Path(); };
      if (!seen.Insert(text_, static_cast<uint32_t>(table.size()), pathAt)) return true;
      return Append(table, text_, stored);
    };
    auto unkept = [&] {
      archive.Close();
      ClearContent();
      return Fail(QPMFailure::kCount);
    };
    const QPXFile::CQPXFolderList& folders = *extend->GetFolderList();
    FoldedPositions seenFolders(static_cast<size_t>(folders.GetFolderCount()));
    for (int i = 0; i < folders.GetFolderCount(); ++i) {
      if (!folders.GetFolder(i, &text_, nullptr, nullptr, nullptr, nullptr)) {
        rebuildFault_.failure = QPXFile::OpenFailure::kLoad;
        rebuildFault_.load.failure = QPXFile::LoadFailure::kSection;
        rebuildFault_.load.section = u"FolderList";
        archive.Close();
        ClearContent();
        return Fail(QPMFailure::kArchive);
      }
      if (!addOnce(folders_[0], seenFolders)) return unkept();
    }
    FoldedPositions seenFiles(static_cast<size_t>(archive.GetEntryCount()));
    files_[0].stored_.reserve(static_cast<size_t>(archive.GetEntryCount()));
    for (long i = 0; i < archive.GetEntryCount(); ++i) {
      if (!archive.GetEntryPath(text_, i)) {
        rebuildFault_.failure = QPXFile::OpenFailure::kLoad;
        rebuildFault_.load.failure = QPXFile::LoadFailure::kEntry;
        rebuildFault_.load.entryIndex = static_cast<uint32_t>(i);
        archive.Close();
        ClearContent();
        return Fail(QPMFailure::kArchive);
      }
      if (!addOnce(files_[0], seenFiles)) return unkept();
    }
    files_[0].stored_.shrink_to_fit();
    std::vector<std::pair<uint64_t, uint32_t>>().swap(folderIndex_);
    folderIndexUsed_ = 0;
    if (opened) *opened = std::move(result.archive);
    else archive.Close();
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

void CQPMFile::KeepGenerations(long count) {
  if (count < 0 || count >= GetArchiveCount()) return;
  archives_.resize(static_cast<size_t>(count));
  auto trim = [count](auto& table) {
    // The updates are ascending, so those kept come first; a record's
    // name stays where it is, after all of its updates.
    size_t kept = 0;
    for (size_t i = 0; i < table.stored_.size(); ++i) {
      auto& s = table.stored_[i];
      const auto* updates = reinterpret_cast<const CQPMUpdateContents*>(s.data);
      uint16_t n = 0;
      while (n < s.updateCount && updates[n].Generation < count) ++n;
      if (n == 0) continue;
      const size_t gap = sizeof(CQPMUpdateContents) * (s.updateCount - n);
      s.data += gap;
      std::memmove(s.data, updates, sizeof(CQPMUpdateContents) * n);
      s.updateCount = n;
      if (i < table.extra_.size()) table.extra_[kept] = table.extra_[i];
      table.stored_[kept++] = s;
    }
    table.stored_.resize(kept);
    if (!table.extra_.empty()) table.extra_.resize(kept);
  };
  for (int t = 0; t < 2; ++t) {
    trim(folders_[t]);
    trim(files_[t]);
  }
}

}  // namespace QPMFile
