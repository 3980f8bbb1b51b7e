// The backup-management file beside the archives of one incremental backup
// set: which archive holds each generation, and in which generations every
// folder and file was stored or removed. The viewer only reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "archive/load_error_text.h"
#include "generations/chunk_pool.h"
#include "io/buffering_file_io.h"

namespace QPXFile {
class CQPXFile;
}

namespace QPMFile {

// Kept for the shape of the class family; the viewer never updates a file.
class CSafetyFileUpdate {
 public:
  virtual ~CSafetyFileUpdate() = default;
};

// Kind of an update that removed the object in its generation.
constexpr uint16_t kKindRemoved = 3;
// Kind a rebuild writes: the object's data is in that generation's archive.
constexpr uint16_t kKindStored = 1;

struct CQPMUpdateContents {
  uint16_t Generation = 0;  // index into the archives table
  uint16_t Kind = 0;
};

struct CQPMQPXFileInfo {
  uint16_t Generation = 0;  // as written; callers use the record's position
  std::u16string Path;      // drive-rooted once loaded
  uint32_t Crc32 = 0;
  uint64_t CreationTime = 0;
};

// A folder or file record as its table hands it out: views of the file's
// own storage, valid until the content is replaced (Load, RebuildFromArchive)
// or the file is destroyed; KeepGenerations shortens the updates in place.
// The path is kept as the folder it lies in (shared by every record of that
// folder) and its last component.
struct CQPMFileInfo {
  std::u16string_view Folder;  // the path before its last backslash
  std::u16string_view Name;    // after it; the whole path when it has none
  bool Nested = false;         // the path has a backslash: Folder + '\' + Name
  std::span<const CQPMUpdateContents> Updates;  // ascending Generation

  std::u16string Path() const;
  size_t PathLength() const { return Nested ? Folder.size() + 1 + Name.size() : Name.size(); }
  // Whether the path equals `path`, ignoring case.
  bool PathEqualsNoCase(std::u16string_view path) const;
};

struct CQPMFolderInfo : CQPMFileInfo {
  std::u16string_view ExtraText;
};

// One table of records, stored compactly: 16 bytes a record beside its
// name and updates, and each folder's text once.
template <class Record>
class CQPMTable {
 public:
  size_t size() const { return stored_.size(); }
  bool empty() const { return stored_.empty(); }
  Record operator[](size_t i) const;

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Record;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Record;
    const_iterator() = default;
    const_iterator(const CQPMTable* table, size_t i) : table_(table), i_(i) {}
    Record operator*() const { return (*table_)[i_]; }
    const_iterator& operator++() { return ++i_, *this; }
    const_iterator operator++(int) { const_iterator was = *this; ++i_; return was; }
    bool operator==(const const_iterator& other) const { return i_ == other.i_; }

   private:
    const CQPMTable* table_ = nullptr;
    size_t i_ = 0;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

 private:
  friend class CQPMFile;
  struct Stored {
    std::byte* data;     // the updates, then the name's units
    uint32_t folder;     // index into the file's folder texts; kNoFolder when not nested
    uint16_t nameLength;
    uint16_t updateCount;
  };
  static constexpr uint32_t kNoFolder = UINT32_MAX;

  const std::vector<std::u16string_view>* folders_ = nullptr;  // the file's folder texts
  std::vector<Stored> stored_;
  std::vector<std::u16string_view> extra_;  // folder tables with texts only
};

template <class Record>
Record CQPMTable<Record>::operator[](size_t i) const {
  const Stored& s = stored_[i];
  Record r;
  r.Updates = {reinterpret_cast<const CQPMUpdateContents*>(s.data), s.updateCount};
  r.Name = {reinterpret_cast<const char16_t*>(s.data + sizeof(CQPMUpdateContents) * s.updateCount), s.nameLength};
  r.Nested = s.folder != kNoFolder;
  if (r.Nested) r.Folder = (*folders_)[s.folder];
  if constexpr (std::is_same_v<Record, CQPMFolderInfo>) {
    if (i < extra_.size()) r.ExtraText = extra_[i];
  }
  return r;
}

using CQPMFolderTable = CQPMTable<CQPMFolderInfo>;
using CQPMFileTable = CQPMTable<CQPMFileInfo>;

class CQPMExtendHeaderBase {
 public:
  explicit CQPMExtendHeaderBase(std::u16string name) : Name(std::move(name)) {}
  virtual ~CQPMExtendHeaderBase() = default;
  std::u16string Name;
};

class CQPMExHeaderDefaultCompressInfo : public CQPMExtendHeaderBase {
 public:
  CQPMExHeaderDefaultCompressInfo() : CQPMExtendHeaderBase(u"DefaultCompressInfo") {}
  bool Compress = false;
};

struct CQPMExHeaderDefaultCategoryItemInfo {
  std::u16string Name, Value;
  uint16_t Code = 0;
};

class CQPMExHeaderDefaultCategoryInfo : public CQPMExtendHeaderBase {
 public:
  CQPMExHeaderDefaultCategoryInfo() : CQPMExtendHeaderBase(u"DefaultCategoryInfo") {}
  bool Enabled = false;
  std::vector<std::unique_ptr<CQPMExHeaderDefaultCategoryItemInfo>> Items;
};

// The 32 header bytes as read.
struct CQPMHeader {
  uint32_t Checksum = 0;   // 0: not set
  uint32_t Unnamed4 = 0;   // carried, not interpreted
  std::u16string Version;  // the 20-byte text, padding included
  uint32_t Unnamed28 = 0;  // carried, not interpreted
};

// How the version text steers the parser.
struct CQPMTraits {
  bool WideCounts = false;        // 32-bit folder and file table counts
  bool FolderExtraText = false;   // folder records carry a second text
  bool HasCategoryBlock = false;  // a category block follows the compress block
  bool Utf16Strings = false;      // counted texts are UTF-16LE, else ANSI
};

// Traits of one of the four known version texts; false for any other text.
bool TraitsForVersion(std::u16string_view version, CQPMTraits& out);

// A hash of a path as it compares (letter case folded), made without
// copying it: two paths that are equal ignoring case hash alike.
uint64_t FoldedPathHash(std::u16string_view path);


// A lookup position kept between searches of one table, because callers ask
// for paths in nearly the order the table stores them.
struct RecordCursor {
  long position = 0;
  bool followScanHits = false;  // a hit found by the full scan becomes the position
};

// Why the last Load or RebuildFromArchive failed.
enum class QPMFailure {
  kNone,
  kNotOpen,       // no reader, or a reader in create mode
  kRead,          // a short read: the file ends inside a field
  kVersion,       // the version text is not one of the four
  kChecksum,      // stored checksum differs (versions after 1.0)
  kCount,         // a count or text length beyond the bytes left in the file
  kText,          // text that does not convert (odd UTF-16 length, bad ANSI)
  kPath,          // a record path that is not drive-rooted, or an archive path that cannot be resolved
  kUpdates,       // a generation beyond the archives table, out of order, or a removal first
  kBlock,         // wrong block name or bad Compress byte
  kArchive,       // rebuild: the archive cannot be opened, loaded or read
  kOutOfMemory,
};

class CQPMFile : public CSafetyFileUpdate {
 public:
  CQPMFile();
  ~CQPMFile() override;
  CQPMFile(const CQPMFile&) = delete;
  CQPMFile& operator=(const CQPMFile&) = delete;

  bool Open(const std::u16string& path);
  bool Load();
  // `opened`, when given, receives the archive the data was taken from,
  // still open and loaded, instead of its being closed: the caller that
  // opens the same archive next (the generation manager) is spared a
  // second load.
  bool RebuildFromArchive(const std::u16string& archivePath,
                          std::unique_ptr<QPXFile::CQPXFile>* opened = nullptr);
  // Closes and frees the reader.
  void Reset();

  std::u16string GetManagementPath() const;
  const CQPMHeader& GetHeader() const { return header_; }
  const std::u16string& GetVersionText() const { return header_.Version; }
  const CQPMTraits& GetTraits() const { return traits_; }
  QPMFailure GetLastFailure() const { return failure_; }
  // Why the last RebuildFromArchive could not use its archive.
  const QPXFile::ArchiveFault& GetRebuildFault() const { return rebuildFault_; }
  // Forgets every generation from `count` on: their archives' records, and
  // the updates that name them (a record left without any goes too).
  void KeepGenerations(long count);
  bool HasReader() const { return reader_ != nullptr; }

  long GetArchiveCount() const { return static_cast<long>(archives_.size()); }
  const CQPMQPXFileInfo* GetArchive(long generation) const;
  // table is 0 or 1 (folder table 1 or 2, file table 1 or 2).
  const CQPMFolderTable& GetFolderTable(int table) const { return folders_[table & 1]; }
  const CQPMFileTable& GetFileTable(int table) const { return files_[table & 1]; }
  const CQPMExHeaderDefaultCompressInfo& GetCompressInfo() const { return compress_; }
  const CQPMExHeaderDefaultCategoryInfo& GetCategoryInfo() const { return category_; }

  long FindFolderRecord(int table, std::u16string_view path, RecordCursor& cursor) const;
  long FindFileRecord(int table, std::u16string_view path, RecordCursor& cursor) const;

 private:
  bool Fail(QPMFailure failure);
  void ClearContent();
  bool ParseBody();
  // Bytes from the reader's position to the end of the file.
  bool Left(uint64_t& out) const;
  bool ReadText(std::u16string& out, bool ansiOnly);
  bool ReadUpdates(std::vector<CQPMUpdateContents>& out);
  bool ResolveArchivePath(std::u16string& path) const;
  template <class Record>
  bool ReadTable(CQPMTable<Record>& table);
  // Appends a record; false when the path cannot be kept (a last component
  // beyond 65535 units).
  template <class Record>
  bool Append(CQPMTable<Record>& table, std::u16string_view path, std::span<const CQPMUpdateContents> updates);
  uint32_t InternFolder(std::u16string_view folder);
  std::u16string_view KeepText(std::u16string_view text);
  template <class Record>
  void Attach(CQPMTable<Record>& table) { table.folders_ = &folderTexts_; }

  CQPMHeader header_;
  CQPMTraits traits_;
  std::vector<std::unique_ptr<CQPMQPXFileInfo>> archives_;  // position = generation
  CQPMFolderTable folders_[2];
  CQPMFileTable files_[2];
  // Storage of the tables: records' updates and names, and the folder
  // texts, each kept once; the index finds a folder text while records are
  // added and is dropped afterwards.
  IncrementalBackup::CChunkPool<std::byte> recordBytes_{1 << 18};
  IncrementalBackup::CChunkPool<char16_t> texts_{1 << 16};
  std::vector<std::u16string_view> folderTexts_;
  std::vector<std::pair<uint64_t, uint32_t>> folderIndex_;  // (hash, index + 1), probed in place
  size_t folderIndexUsed_ = 0;
  // Scratch of the parser, kept between records.
  std::u16string text_;
  std::vector<CQPMUpdateContents> updates_;
  CQPMExHeaderDefaultCompressInfo compress_;
  CQPMExHeaderDefaultCategoryInfo category_;
  std::unique_ptr<QPXFile::CBufferingFileIO> reader_;  // open from Open until Reset
  std::u16string path_;
  uint64_t length_ = 0;  // of the file being loaded
  QPMFailure failure_ = QPMFailure::kNone;
  QPXFile::ArchiveFault rebuildFault_;
};

}  // namespace QPMFile
