// The file list: a set of paths, each with a one-byte flag. The restore
// driver uses the flagged paths as the roots that destination paths are made
// relative to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/folded_index.h"
#include "archive/tagged_section.h"

namespace QPXFile {

// Format notes: after the tag (see CQPXTaggedSection, tag "FileList"):
//   u32 N      number of records
//   N records, back to back:
//     u8  flag   1 = set, any other value = clear
//     u16 n      byte length of the path
//     n bytes    path: code page 932 here, UTF-16LE (n/2 units) in
//                CUQPXFileList; no terminator
// A record is n + 3 bytes. CQPXUnicodeFileList has a longer record, see
// CQPXUnicodeFileListPathInfo.
//
// Every path comparison ignores case. The stored length that GetFile yields
// is the byte length of the path as it stands in the record.
class CQPXFileList : public CQPXTaggedSection {
 public:
  CQPXFileList();

  bool ReadBody(CFileIO& stream) override;

  // Replaces the contents (tag, records, L) by another list's.
  virtual bool CopyFrom(const CQPXFileList& other);
  // A path already present (ignoring case) succeeds without change.
  virtual bool AddFile(std::u16string_view path, bool flag);
  virtual bool RemoveFile(int index);
  virtual bool RemoveFileByPath(std::u16string_view path);
  virtual int GetFileCount() const;
  // Out-arguments are optional; fails, touching none, outside 0..count-1.
  virtual bool GetFile(int index, bool* flag, std::u16string* path, uint16_t* length) const;
  virtual bool GetFileByPath(std::u16string_view path, bool* flag, uint16_t* length) const;
  virtual int FindFile(std::u16string_view path) const;
  // The first flagged record, in list order, whose path begins `path`
  // ignoring case. No separator is needed after the matched part: C:\WORK
  // begins both c:\work\a.txt and c:\workshop.
  virtual bool FindFlaggedAncestor(std::u16string_view path, std::u16string& found) const;
  // The flag byte of record 0..count-1 as stored (GetFile tells only set or clear).
  uint8_t GetFlagByte(int index) const { return RecordFlagByte(static_cast<size_t>(index)); }
  // 4 + T + 4 + the sum of the record sizes.
  virtual uint64_t ComputeLength() const;

  // Empties the list; L becomes T + 8.
  void Clear();

 protected:
  // How records are held. This class and CUQPXFileList keep the records
  // below; CQPXUnicodeFileList keeps its own record objects.
  virtual size_t RecordCount() const { return records_.size(); }
  virtual const std::u16string& RecordPath(size_t i) const { return records_[i].path; }
  virtual uint8_t RecordFlagByte(size_t i) const { return records_[i].flag; }
  bool RecordFlagged(size_t i) const { return RecordFlagByte(i) == 1; }
  virtual uint16_t RecordPathLength(size_t i) const { return records_[i].length; }
  virtual uint64_t RecordSize(size_t i) const { return records_[i].length + 3u; }
  virtual void EraseRecord(size_t i) { records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(i)); }
  virtual void ClearRecords() { records_.clear(); }
  virtual void ReserveRecords(size_t count) { records_.reserve(count); }
  virtual uint32_t MinRecordBytes() const { return 3; }
  // Reads one record and appends it.
  virtual bool ReadRecord(CFileIO& stream);
  // Appends a record made from the caller's values.
  virtual bool AppendNew(std::u16string_view path, bool flag, std::u16string_view second);
  // Copies the records of a list of the same class; false for another class.
  virtual bool CopyRecordsFrom(const CQPXFileList& other);

  // The encoding of the path field.
  virtual bool ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out);
  virtual bool EncodedLength(std::u16string_view path, uint16_t& out) const;

  void RebuildIndexes();
  // AddFile with a second string, for the lists that carry one.
  bool AddUnique(std::u16string_view path, bool flag, std::u16string_view second);

 private:
  struct Record {
    uint8_t flag;        // the flag byte as stored
    uint16_t length;     // byte length of the path in the record
    std::u16string path;
  };

  void IndexLast();
  CFoldedIndex::PathAt PathAt() const;

  std::vector<Record> records_;  // in section order
  CFoldedIndex index_;           // all records, case-insensitive
  CFoldedIndex flagged_;         // flagged records only
};

// The file list of header-only Unicode archives: the same records with
// UTF-16 paths.
class CUQPXFileList : public CQPXFileList {
 protected:
  bool ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out) override;
  bool EncodedLength(std::u16string_view path, uint16_t& out) const override;
};

// Format notes: one record of CQPXUnicodeFileList:
//   u8  flag   1 = set, any other value = clear
//   u16 a      byte length of the path
//   a bytes    path, UTF-16LE, a/2 units
//   u16 b      byte length of the second string
//   b bytes    second string, UTF-16LE, b/2 units; b = 0 when none
// A record is a + b + 5 bytes. What the second string holds is up to the
// product that wrote the archive; it is only carried.
class CQPXUnicodeFileListPathInfo {
 public:
  CQPXUnicodeFileListPathInfo() = default;
  virtual ~CQPXUnicodeFileListPathInfo() = default;

  virtual uint32_t GetRecordSize() const { return pathLength_ + secondLength_ + 5u; }
  // Leaves the object unchanged on failure.
  virtual bool ReadRecord(CFileIO& stream);

  // Fails, changing nothing, when a string does not fit a 16-bit length.
  bool Set(std::u16string_view path, bool flag, std::u16string_view second);

  bool GetFlag() const { return flag_; }
  const std::u16string& GetPath() const { return path_; }
  uint16_t GetPathLength() const { return pathLength_; }
  const std::u16string& GetSecond() const { return second_; }
  uint16_t GetSecondLength() const { return secondLength_; }

 private:
  bool flag_ = false;          // the flag byte was 1
  uint16_t pathLength_ = 0;    // a
  std::u16string path_;
  uint16_t secondLength_ = 0;  // b
  std::u16string second_;
};

// The file list of Unicode archives.
class CQPXUnicodeFileList : public CQPXFileList {
 public:
  // As AddFile, with a second string.
  virtual bool AddFileEx(std::u16string_view path, bool flag, std::u16string_view second);
  // The record object, valid until the list next changes.
  virtual bool GetPathInfo(int index, const CQPXUnicodeFileListPathInfo*& out) const;
  virtual bool FindPathInfo(std::u16string_view path, const CQPXUnicodeFileListPathInfo*& out) const;
  // HasTag (inherited) tells whether a tag is held.

 protected:
  size_t RecordCount() const override { return infos_.size(); }
  const std::u16string& RecordPath(size_t i) const override { return infos_[i].GetPath(); }
  uint8_t RecordFlagByte(size_t i) const override { return infos_[i].GetFlag() ? 1 : 0; }
  uint16_t RecordPathLength(size_t i) const override { return infos_[i].GetPathLength(); }
  uint64_t RecordSize(size_t i) const override { return infos_[i].GetRecordSize(); }
  void EraseRecord(size_t i) override { infos_.erase(infos_.begin() + static_cast<std::ptrdiff_t>(i)); }
  void ClearRecords() override { infos_.clear(); }
  void ReserveRecords(size_t count) override { infos_.reserve(count); }
  uint32_t MinRecordBytes() const override { return 5; }
  bool ReadRecord(CFileIO& stream) override;
  bool AppendNew(std::u16string_view path, bool flag, std::u16string_view second) override;
  bool CopyRecordsFrom(const CQPXFileList& other) override;
  bool EncodedLength(std::u16string_view path, uint16_t& out) const override;

 private:
  std::vector<CQPXUnicodeFileListPathInfo> infos_;  // in section order
};

}  // namespace QPXFile
