// What the merged tree of a backup set asks of its generations: the stored
// entry of a path and the attributes of a folder in one generation. The
// generation manager answers it; tests can answer it without archives.
#pragma once

#include <cstdint>
#include <string_view>

namespace QPXFile {
class CQPXFile;
class IQPXBackupedFile;
}  // namespace QPXFile

namespace QPMFile {
class CQPMFile;
}

namespace IncrementalBackup {

// A folder's attributes and times as the folder list holds them.
struct CAttributes {
  uint32_t Attributes = 0;
  uint64_t CreationTime = 0;
  uint64_t LastAccessTime = 0;
  uint64_t LastWriteTime = 0;
};

class IGenerationLookup {
 public:
  virtual ~IGenerationLookup() = default;
  // The loaded management data the tree is built from.
  virtual const QPMFile::CQPMFile& GetManagement() const = 0;
  virtual long GetGenerationCount() const = 0;
  // The open archive of generation `generation` (0-based), or null.
  virtual QPXFile::CQPXFile* GetGenerationArchive(long generation) const = 0;
  // Both throw std::out_of_range for a generation outside 0 .. count - 1.
  // The entry stays owned by its generation archive; null when that archive
  // is missing or holds no entry for the path.
  virtual QPXFile::IQPXBackupedFile* FindGenerationEntry(long generation, std::u16string_view fullPath) const = 0;
  // False when the archive is missing or its folder list lacks the folder.
  virtual bool GetFolderAttributes(long generation, std::u16string_view folderPath, CAttributes& out) const = 0;
};

}  // namespace IncrementalBackup
