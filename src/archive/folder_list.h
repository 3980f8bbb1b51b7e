// The folder list: every backed-up folder with its attributes and times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/folded_index.h"
#include "archive/tagged_section.h"

namespace QPXFile {

// All folders of a list, as the restore driver keeps them while it restores.
// The vectors are parallel and indexed by folder number.
struct CQPXFolderTable {
  std::vector<std::u16string> paths;      // wide folder paths
  std::vector<uint16_t> pathLengths;      // characters of each path
  std::vector<uint32_t> attributes;       // Windows file-attribute bits
  std::vector<uint64_t> creationTimes;    // FILETIME values
  std::vector<uint64_t> lastAccessTimes;
  std::vector<uint64_t> lastWriteTimes;

  int GetCount() const { return static_cast<int>(paths.size()); }
  void Clear();
  void Truncate(size_t count);
  // Room for `count` folders in every column.
  void Reserve(size_t count);
};

// Format notes: after the tag (see CQPXTaggedSection, tag "FolderList"):
//   u32 N      number of folder records
//   N records, back to back:
//     u16 n    byte length of the path
//     n bytes  path: code page 932 here, UTF-16LE (n/2 units) in the
//              Unicode list; no terminator
//     u32      attributes
//     u64      creation time      (FILETIME)
//     u64      last-access time
//     u64      last-write time
// A record is n + 30 bytes.
class CQPXFolderList : public CQPXTaggedSection {
 public:
  CQPXFolderList();

  bool ReadBody(CFileIO& stream) override;

  // Appends a folder (no check for duplicates) and adds its record size to
  // L. Fails, changing nothing, when the path cannot be encoded in 65535
  // bytes or memory runs out.
  virtual bool AddFolder(std::u16string_view path, uint32_t attributes, uint64_t creationTime,
                         uint64_t lastAccessTime, uint64_t lastWriteTime);
  virtual bool RemoveFolder(int index);

  // First folder whose path equals `path` ignoring case, or -1.
  int FindFolder(std::u16string_view path) const;
  // Every out-argument is optional; fails, touching none, outside 0..count-1.
  bool GetFolder(int index, std::u16string* path, uint64_t* creationTime, uint32_t* attributes,
                 uint64_t* lastAccessTime, uint64_t* lastWriteTime) const;
  int GetFolderCount() const { return folders_.GetCount(); }
  // Byte length of folder 0..count-1's path as stored.
  uint16_t GetStoredPathLength(int index) const { return encodedLengths_[static_cast<size_t>(index)]; }
  // Empties the list; L becomes T + 8.
  void Clear();
  // Copies every folder out, for the restore driver; fails only when memory
  // runs out.
  bool CopyFolders(CQPXFolderTable& out) const;

 protected:
  // The encoding of the path field.
  virtual bool ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out);
  virtual bool EncodedLength(std::u16string_view path, uint16_t& out) const;

 private:
  // Throws std::bad_alloc, leaving the arrays of unequal length.
  void Append(std::u16string path, uint16_t encodedLength, uint32_t attributes, uint64_t creationTime,
              uint64_t lastAccessTime, uint64_t lastWriteTime);
  void RebuildIndex();
  CFoldedIndex::PathAt PathAt() const;

  CQPXFolderTable folders_;               // the folders in section order
  std::vector<uint16_t> encodedLengths_;  // byte length of each path as stored
  CFoldedIndex index_;                    // case-insensitive path lookup
};

// The same list with UTF-16 paths, in Unicode archives.
class CUQPXFolderList : public CQPXFolderList {
 protected:
  bool ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out) override;
  bool EncodedLength(std::u16string_view path, uint16_t& out) const override;
};

}  // namespace QPXFile
