// Where the file streams find the files they open. Normally the host's file
// system; a source installed on a thread serves engine paths from memory
// instead, so an archive and its split volumes can be read without any file
// existing (the archive fuzz target, tests of damaged volumes).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace QPXFile {

// Named files held in memory. Names are engine paths, compared as written.
class CMemoryVolumes {
 public:
  void Add(const std::u16string& enginePath, std::vector<uint8_t> bytes) { files_[enginePath] = std::move(bytes); }
  void Clear() { files_.clear(); }
  // The bytes served for a path, or null when the source has no such file.
  const std::vector<uint8_t>* Find(const std::u16string& enginePath) const;

 private:
  std::map<std::u16string, std::vector<uint8_t>> files_;
};

// While one of these lives, every stream opened on this thread reads its
// files from `volumes` only: a path it does not hold is a missing file, and
// opening one for writing fails. Streams opened before stay as they were.
// Sources nest; the innermost serves.
class CScopedVolumeSource {
 public:
  explicit CScopedVolumeSource(const CMemoryVolumes& volumes);
  ~CScopedVolumeSource();
  CScopedVolumeSource(const CScopedVolumeSource&) = delete;
  CScopedVolumeSource& operator=(const CScopedVolumeSource&) = delete;

  // The source in force on this thread, or null for the host's files.
  static const CMemoryVolumes* Current();

 private:
  const CMemoryVolumes* previous_;
};

}  // namespace QPXFile
