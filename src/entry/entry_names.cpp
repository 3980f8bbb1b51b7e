#include "entry/entry_names.h"

#include <cstring>

namespace QPXFile {
namespace {

// Large enough that the block table and the unused tail of the last block
// are noise, small enough that a one-entry archive stays small.
constexpr size_t kBlockBytes = 256 * 1024;

uint16_t LengthBefore(const uint8_t* bytes) {
  uint16_t length = 0;
  std::memcpy(&length, bytes - 2, 2);
  return length;
}

size_t Hash(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : bytes) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return static_cast<size_t>(hash ^ (hash >> 32));
}

bool Same(const uint8_t* held, std::string_view bytes) {
  if (LengthBefore(held) != bytes.size()) return false;
  return bytes.empty() || std::memcmp(held, bytes.data(), bytes.size()) == 0;
}

}  // namespace

uint8_t* CEntryNameStore::Allocate(size_t length) {
  if (blocks_.empty() || capacity_ - used_ < length) {
    const size_t size = length > kBlockBytes ? length : kBlockBytes;
    blocks_.reserve(blocks_.size() + 1);
    blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(size));
    used_ = 0;
    capacity_ = size;
  }
  uint8_t* place = blocks_.back().get() + used_;
  used_ += length;
  return place;
}

const uint8_t* CEntryNameStore::Add(std::string_view bytes) {
  if (bytes.empty()) return nullptr;
  uint8_t* copy = Allocate(bytes.size());
  std::memcpy(copy, bytes.data(), bytes.size());
  return copy;
}

void CEntryNameStore::GrowFolders() {
  std::vector<const uint8_t*> grown(folders_.empty() ? 1024 : folders_.size() * 2, nullptr);
  const size_t mask = grown.size() - 1;
  for (const uint8_t* held : folders_) {
    if (held == nullptr) continue;
    size_t slot = Hash({reinterpret_cast<const char*>(held), LengthBefore(held)}) & mask;
    while (grown[slot] != nullptr) slot = (slot + 1) & mask;
    grown[slot] = held;
  }
  folders_.swap(grown);
}

const uint8_t* CEntryNameStore::AddFolder(std::string_view bytes) {
  if (lastFolder_ != nullptr && Same(lastFolder_, bytes)) return lastFolder_;
  if ((folderCount_ + 1) * 2 > folders_.size()) GrowFolders();
  const size_t mask = folders_.size() - 1;
  size_t slot = Hash(bytes) & mask;
  for (; folders_[slot] != nullptr; slot = (slot + 1) & mask) {
    if (Same(folders_[slot], bytes)) return lastFolder_ = folders_[slot];
  }
  const uint16_t length = static_cast<uint16_t>(bytes.size());
  uint8_t* copy = Allocate(bytes.size() + 2);
  std::memcpy(copy, &length, 2);
  if (!bytes.empty()) std::memcpy(copy + 2, bytes.data(), bytes.size());
  folders_[slot] = copy + 2;
  ++folderCount_;
  return lastFolder_ = copy + 2;
}

void CEntryNameStore::EndLoading() {
  std::vector<const uint8_t*>().swap(folders_);
  folderCount_ = 0;
  lastFolder_ = nullptr;
  std::vector<uint8_t>().swap(scratch_);
}

void CEntryNameStore::Clear() {
  EndLoading();
  blocks_.clear();
  used_ = 0;
  capacity_ = 0;
}

}  // namespace QPXFile
