// Case-insensitive lookup of paths by position, for lists that can hold
// hundreds of thousands of records. Only a hash of each folded path is kept,
// not a second copy of the text; candidates are confirmed against the list.
// Only the first position of each path is indexed, so a damaged list that
// repeats one path many times does not slow every lookup down.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace QPXFile {

class CFoldedIndex {
 public:
  // Yields the path held at a position of the indexed list.
  using PathAt = std::function<const std::u16string&(int32_t)>;

  void Clear() { map_.clear(); }
  // Positions must be added in increasing order; a path already indexed at
  // an earlier position is not added again.
  void Add(std::u16string_view path, int32_t index, const PathAt& pathAt);

  // Lowest position whose path equals `path` ignoring case, or -1.
  int32_t Find(std::u16string_view path, const PathAt& pathAt) const;

  // Lowest position whose path, case-folded, is a prefix of the already folded
  // `foldedText`, or -1. Costs one lookup per
  // unit of the text, whatever the size of the list.
  int32_t FindFirstPrefix(std::u16string_view foldedText, const PathAt& pathAt) const;

 private:
  // FNV-1a over the folded units, so every prefix's hash is one step from
  // the previous one's.
  static constexpr uint64_t kHashStart = 14695981039346656037ull;
  static uint64_t Step(uint64_t hash, char16_t unit) { return (hash ^ unit) * 1099511628211ull; }

  std::unordered_multimap<uint64_t, int32_t> map_;  // folded-path hash -> position
};

}  // namespace QPXFile
