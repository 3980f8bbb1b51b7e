// The archive object: one per open archive file. It owns the byte stream,
// the header, the list sections and a table of stored entries, and it is what
// every other subsystem asks for folders, files and entries.
//
// Threads: an archive, its sections and its entries belong to one thread at
// a time (the one that opened it, or the one it was handed to afterwards
// through a join, a queued signal or a mutex). Reading its entries from two
// threads at once is not supported: entries share the archive's stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/file_header.h"
#include "entry/backuped_file.h"
#include "entry/entry_names.h"
#include "io/divided_file_io.h"

namespace QPXFile {

// What went wrong in the last Open or Load, in terms a message can be made of.
enum class LoadFailure {
  kNone,
  kNotOpen,         // Load on a closed archive or one opened for writing
  kOpenFailed,      // the file could not be opened (systemError holds errno)
  kStrings,         // the program's identifier texts are missing
  kHeader,          // the 168-byte header could not be read
  kFormatId,        // the header's identifier is not one this class reads
  kSection,         // a list section is damaged (section, offset)
  kVolume,          // a following volume is missing or foreign (division, volumePath)
  kEntryCount,      // more entries than the file can hold
  kEntry,           // entry `entryIndex` could not be read (offset)
  kOutOfMemory,
};

struct LoadError {
  LoadFailure failure = LoadFailure::kNone;
  std::u16string section;       // "FileList", "FolderList", "Division_Info", "CategoryInfo"
  uint64_t offset = 0;          // where the damaged section or entry starts
  uint32_t entryIndex = 0;      // 0-based
  DivisionError division = DivisionError::kNone;
  std::u16string volumePath;    // engine path of the failing volume
  int systemError = 0;
};

// The primary interface, shared by every archive class.
class IQPXFileIO {
 public:
  virtual ~IQPXFileIO() = default;
  virtual bool Open(const std::u16string& path, uint16_t mode) = 0;
  virtual bool Close() = 0;
  virtual bool GetPathName(std::u16string& out) const = 0;
  virtual bool IsOpen() const = 0;
  virtual bool IsLoaded() const = 0;
  virtual uint16_t GetOpenMode() const = 0;
  virtual bool Load() = 0;
  virtual bool HasContent() const = 0;
  virtual bool GetVersionText(std::u16string& out) const = 0;
  virtual bool GetCompressionText(std::u16string& out) const = 0;
  virtual bool GetFormatId(std::u16string& out) const = 0;
  virtual bool GetSectionLevel(uint32_t& out) const = 0;
  virtual bool GetReservedLevel(uint32_t& out) const = 0;
  virtual CDividedFileIO* CreateIO(const std::u16string& path, uint16_t mode) = 0;
  virtual bool ReleaseIO(CDividedFileIO* io) = 0;
  virtual bool CheckFormatId() = 0;
  virtual bool PrepareEntries() = 0;
  virtual bool ReadEntries() = 0;
  virtual bool AttachSections(CDividedFileIO* io) = 0;
  virtual void DetachSections() = 0;
  virtual bool ReadSections() = 0;
  virtual bool OnReadEntry(uint32_t index) = 0;
};

class IQPXFileBaseSection {
 public:
  virtual ~IQPXFileBaseSection() = default;
  virtual CQPXFileHeader* GetHeader() const = 0;
};

class IQPXFileBackupedFileSection {
 public:
  virtual ~IQPXFileBackupedFileSection() = default;
  virtual IQPXBackupedFile* GetEntry(long index) const = 0;
  virtual CQPXBackupedFileHeader* GetEntryHeader(long index) const = 0;
  virtual CQPXBackupedFileData* GetEntryData(long index) const = 0;
  virtual bool GetEntryPath(std::u16string& out, long index) const = 0;
  virtual long GetEntryCount() const = 0;
  virtual long FindEntry(const std::u16string& path) const = 0;
  virtual bool GetTotalFileSize(uint64_t& out) const = 0;
  virtual bool GetTotalStoredSize(uint64_t& out) const = 0;
};

// This program never writes archives: what is left of the writing side is
// whether an archive was opened for creating, which loading refuses.
class IQPXFileBackup {
 public:
  virtual ~IQPXFileBackup() = default;
  virtual bool IsCreateMode() const = 0;
};

// Restoring an archive is the restore driver's work (RestoreArchive in
// restore/restore_driver.h): the archive layer stays below the driver.
class IQPXFileRestore {
 public:
  virtual ~IQPXFileRestore() = default;
  virtual bool IsReadMode() const = 0;
};

// The entries Load reads, in one block: `Slots` places, of which the first
// `Made` hold an entry (a failed load stops part way).
class CQPXReadEntryTable {
 public:
  CQPXReadEntryTable() = default;
  CQPXReadEntryTable(const CQPXReadEntryTable&) = delete;
  CQPXReadEntryTable& operator=(const CQPXReadEntryTable&) = delete;
  ~CQPXReadEntryTable() { Clear(); }

  // Empties the table and makes room for `slots` entries; throws
  // std::bad_alloc.
  void Reset(size_t slots);
  // Makes the next entry; only while Made() < Slots().
  CQPXReadBackupedFile& MakeNext(bool unicodeNames);
  // Unmakes the last entry made.
  void DropLast();
  void Clear();

  size_t Slots() const { return slots_; }
  size_t Made() const { return made_; }
  CQPXReadBackupedFile* At(size_t i) const { return i < made_ ? block_ + i : nullptr; }

 private:
  CQPXReadBackupedFile* block_ = nullptr;
  size_t slots_ = 0;
  size_t made_ = 0;
};

// The base archive: a header followed directly by the stored entries.
class CQPXFile : public IQPXFileIO,
                 public IQPXFileBaseSection,
                 public IQPXFileBackupedFileSection,
                 public IQPXFileBackup,
                 public IQPXFileRestore {
 public:
  CQPXFile() = default;
  CQPXFile(const CQPXFile&) = delete;
  CQPXFile& operator=(const CQPXFile&) = delete;
  ~CQPXFile() override;

  // IQPXFileIO
  bool Open(const std::u16string& path, uint16_t mode) override;
  bool Close() override;
  bool GetPathName(std::u16string& out) const override;
  bool IsOpen() const override { return openMode_ != 0; }
  bool IsLoaded() const override { return loaded_; }
  uint16_t GetOpenMode() const override { return openMode_; }
  bool Load() override;
  bool HasContent() const override;
  bool GetVersionText(std::u16string& out) const override;
  bool GetCompressionText(std::u16string& out) const override;
  bool GetFormatId(std::u16string& out) const override;
  bool GetSectionLevel(uint32_t& out) const override;
  bool GetReservedLevel(uint32_t& out) const override;
  CDividedFileIO* CreateIO(const std::u16string& path, uint16_t mode) override;
  bool ReleaseIO(CDividedFileIO* io) override;
  bool CheckFormatId() override;
  bool PrepareEntries() override;
  bool ReadEntries() override;
  bool AttachSections(CDividedFileIO* io) override;
  void DetachSections() override {}
  bool ReadSections() override { return true; }
  bool OnReadEntry(uint32_t) override { return true; }

  // IQPXFileBaseSection
  CQPXFileHeader* GetHeader() const override { return header_.get(); }

  // IQPXFileBackupedFileSection
  IQPXBackupedFile* GetEntry(long index) const override;
  CQPXBackupedFileHeader* GetEntryHeader(long index) const override;
  CQPXBackupedFileData* GetEntryData(long index) const override;
  bool GetEntryPath(std::u16string& out, long index) const override;
  long GetEntryCount() const override { return static_cast<long>(read_.Slots() + entries_.size()); }
  long FindEntry(const std::u16string& path) const override;
  bool GetTotalFileSize(uint64_t& out) const override;
  bool GetTotalStoredSize(uint64_t& out) const override;

  // IQPXFileBackup
  bool IsCreateMode() const override { return openMode_ == kModeCreate; }

  // IQPXFileRestore
  bool IsReadMode() const override { return openMode_ == kModeRead; }

  // The CRC-32 register over the whole archive stream (every volume once
  // loaded), in read mode only; 0 for an empty stream or on failure.
  uint32_t ComputeCRC();
  // Appends an entry that someone else owns (the generation-restoring
  // archive fills its table this way).
  bool AppendEntry(IQPXBackupedFile* entry);

  CDividedFileIO* GetIO() const { return io_; }
  const LoadError& GetLoadError() const { return error_; }

 protected:
  // The header kind of this class.
  virtual std::unique_ptr<CQPXFileHeader> NewHeader() const;
  // The entry record kind of this class: Unicode names or code page bytes.
  virtual bool UnicodeEntryNames() const { return false; }
  CQPXBackupedFileHeader* NewEntryHeader() const;
  // Identifiers this class accepts besides its own.
  virtual bool AcceptsFormatId(const std::u16string& id) const;
  // Ids in the string table of the class constants.
  virtual uint32_t FormatIdString() const { return 118; }
  virtual uint32_t VersionTextString() const { return 118; }
  virtual uint32_t CompressionTextString() const { return 119; }
  virtual uint32_t SectionLevelValue() const { return 0; }

  bool ReadHeader();
  void DiscardEntries();
  bool FailLoad(LoadFailure failure);
  bool FailRead();

  CDividedFileIO* io_ = nullptr;  // owned
  std::u16string path_;
  // The entry table: the entries Load read, then entries_ (those
  // PrepareEntries made or AppendEntry added). The names of the entries read
  // live in names_, which therefore outlives read_.
  CEntryNameStore names_;
  CQPXReadEntryTable read_;
  std::vector<IQPXBackupedFile*> entries_;  // owned unless ownsEntries_ is clear; slots may be null
  bool ownsEntries_ = true;
  uint16_t openMode_ = 0;  // 0 closed, 1 create, 2 read, 3 read/write
  std::unique_ptr<CQPXFileHeader> header_;
  bool loaded_ = false;
  // Where the last FindEntry ended: lookups in archive order then cost one
  // comparison each. Kept per archive, since callers that walk several
  // archives at once would otherwise spoil each other's guess. A lookup
  // changes it, so it is atomic: a reader on another thread sees a whole
  // position, and any position gives a right answer (it only decides which
  // of two entries with one path a lookup meets first). Concurrent lookups
  // are still not part of the contract: an archive belongs to one thread.
  mutable std::atomic<long> findHint_{0};
  LoadError error_;
};

}  // namespace QPXFile
