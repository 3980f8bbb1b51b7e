// The name bytes of an archive's entry records, kept in large blocks: an
// archive of a million entries would otherwise make two allocations per entry
// for them, and most entries share their folder with many others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace QPXFile {

class CEntryNameStore {
 public:
  CEntryNameStore() = default;
  CEntryNameStore(const CEntryNameStore&) = delete;
  CEntryNameStore& operator=(const CEntryNameStore&) = delete;

  // A copy of `bytes` that lives as long as the store. Throws std::bad_alloc.
  const uint8_t* Add(std::string_view bytes);
  // The same for a folder (at most 65535 bytes): equal folders share one
  // copy while the store is loading.
  const uint8_t* AddFolder(std::string_view bytes);
  // Frees what only loading needs (the folder lookup); the names stay.
  void EndLoading();
  void Clear();

  // Room that entry records of a name may need while they are read.
  std::vector<uint8_t>& Scratch() { return scratch_; }

 private:
  uint8_t* Allocate(size_t length);
  void GrowFolders();

  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  size_t used_ = 0;      // bytes taken of the last block
  size_t capacity_ = 0;  // size of the last block
  // Open addressing over the folders added since the last EndLoading: each
  // slot is null or a folder's copy, preceded by its 16-bit length.
  std::vector<const uint8_t*> folders_;
  size_t folderCount_ = 0;
  const uint8_t* lastFolder_ = nullptr;  // entries come folder by folder, mostly
  std::vector<uint8_t> scratch_;
};

}  // namespace QPXFile
