// Runs of trivially copyable elements carved out of large blocks: millions
// of small arrays (names, updates, entry pointers) cost one heap block per
// few thousand instead of one each, and a run never moves once handed out.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

namespace IncrementalBackup {

template <class T>
class CChunkPool {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  explicit CChunkPool(size_t blockElements = 16384) : blockElements_(blockElements) {}
  CChunkPool(CChunkPool&&) noexcept = default;
  CChunkPool& operator=(CChunkPool&&) noexcept = default;

  // `count` value-initialised elements, contiguous, valid until Clear or
  // destruction. A run longer than a block gets a block of its own.
  T* Allocate(size_t count) {
    if (count > left_) {
      const size_t size = count > blockElements_ ? count : blockElements_;
      blocks_.push_back(std::make_unique<T[]>(size));
      next_ = blocks_.back().get();
      left_ = size;
    }
    T* run = next_;
    next_ += count;
    left_ -= count;
    return run;
  }
  void Clear() {
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
  }

 private:
  std::vector<std::unique_ptr<T[]>> blocks_;
  T* next_ = nullptr;
  size_t left_ = 0;
  size_t blockElements_;
};

}  // namespace IncrementalBackup
