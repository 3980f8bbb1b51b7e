// The record in front of every stored file: names, sizes, how the data is
// kept, its CRC-32, times and attributes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/file_attributes.h"
#include "io/section.h"

namespace QPXFile {

class CEntryNameStore;

// Format note: an entry record, little-endian, no padding.
//   0  u32  RecordLength   bytes that follow: 57 + N1 + N2
//   4  u32  reserved       not interpreted
//   8  u64  FileSize
//  16  u64  DataSize       bytes of data right after the record
//  24  u8   Compressed     non-zero: an implode stream
//  25  u32  Crc32          register from 0xFFFFFFFF, no final complement
//  29  u16  N1, then N1 bytes of file name
//      u16  N2, then N2 bytes of folder (a file in a drive root has "C:")
//      3 x FILETIME (creation, last access, last write), u32 attributes
// Names are code page 932 bytes in ANSI archives and UTF-16LE in Unicode ones.
class CQPXBackupedFileHeader : public CQPXHeader {
 public:
  static constexpr uint32_t kFixedSize = 61;  // record bytes besides the two names

  CQPXBackupedFileHeader() = default;
  CQPXBackupedFileHeader(const CQPXBackupedFileHeader&) = delete;
  CQPXBackupedFileHeader& operator=(const CQPXBackupedFileHeader&) = delete;
  ~CQPXBackupedFileHeader() override { FreeNames(); }

  bool SeekToEnd() override;
  bool GetSize(uint64_t& out) override;
  bool CanGetSize() override { return loaded_; }
  bool CheckBody() override { return loaded_; }
  bool ReadBody(CFileIO& stream) override;
  bool ProbeBody(CFileIO& stream) override;
  // ReadSection with the names kept in `names`, which must outlive the
  // record (an archive keeps its entries' names this way).
  bool ReadSectionInto(CEntryNameStore& names);
  // Filling a record from a file on disk belongs to writing archives, which
  // this program never does.
  virtual bool SetFromFile(const std::u16string& /*path*/) { return false; }
  virtual bool GetFileName(std::u16string& out) const;
  virtual bool GetFolderName(std::u16string& out) const;

  // Folder and file name joined with one backslash.
  bool GetFullPath(std::u16string& out) const;

  bool IsLoaded() const { return loaded_; }
  uint32_t GetReserved() const { return reserved_; }
  uint64_t GetFileSize() const { return fileSize_; }
  uint64_t GetDataSize() const { return dataSize_; }
  bool IsCompressed() const { return compressed_ != 0; }
  uint8_t GetCompressedByte() const { return compressed_; }
  uint32_t GetCrc32() const { return crc32_; }
  uint64_t GetCreationTime() const { return creation_; }
  uint64_t GetLastAccessTime() const { return lastAccess_; }
  uint64_t GetLastWriteTime() const { return lastWrite_; }
  uint32_t GetAttributes() const { return attributes_; }
  // The names' bytes as stored.
  std::string_view FileNameBytes() const { return {reinterpret_cast<const char*>(name_), nameLength_}; }
  std::string_view FolderBytes() const { return {reinterpret_cast<const char*>(folder_), folderLength_}; }
  bool IsEncrypted() const { return (attributes_ & host::kAttributeEncrypted) != 0; }
  // RecordLength + 4 once loaded.
  uint32_t GetRecordSize() const { return loaded_ ? static_cast<uint32_t>(recordLength_ + 4) : 0; }

 protected:
  // Turns the raw name bytes into wide text; the Unicode record overrides it.
  virtual bool DecodeName(std::string_view bytes, std::u16string& out) const;
  // Gives the record names of its own (raw bytes as they would be stored).
  void SetNames(std::string_view name, std::string_view folder);

  // An archive holds one record per entry, so the fields are ordered to leave
  // no padding (the first three share the section's last word).
  uint8_t compressed_ = 0;
  bool loaded_ = false;
  bool ownsNames_ = false;  // name_ is a block of its own holding both names
  uint32_t recordLength_ = 0;
  uint32_t reserved_ = 0;
  uint32_t crc32_ = 0;
  uint64_t fileSize_ = 0;
  uint64_t dataSize_ = 0;
  uint64_t creation_ = 0;
  uint64_t lastAccess_ = 0;
  uint64_t lastWrite_ = 0;
  uint32_t attributes_ = 0;
  uint16_t nameLength_ = 0;    // N1
  uint16_t folderLength_ = 0;  // N2
  const uint8_t* name_ = nullptr;    // raw bytes as stored
  const uint8_t* folder_ = nullptr;  // raw bytes as stored

 private:
  bool Parse(CFileIO& stream, CEntryNameStore* names);
  void FreeNames();
};

class CUQPXBackupedFileHeader : public CQPXBackupedFileHeader {
 protected:
  bool DecodeName(std::string_view bytes, std::u16string& out) const override;
};

}  // namespace QPXFile
