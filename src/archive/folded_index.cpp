#include "archive/folded_index.h"

#include "host/text.h"

namespace QPXFile {

void CFoldedIndex::Add(std::u16string_view path, int32_t index, const PathAt& pathAt) {
  std::u16string folded = host::FoldCase(path);
  uint64_t hash = kHashStart;
  for (char16_t unit : folded) hash = Step(hash, unit);
  auto [first, last] = map_.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (host::FoldCase(pathAt(it->second)) == folded) return;
  }
  map_.emplace(hash, index);
}

int32_t CFoldedIndex::Find(std::u16string_view path, const PathAt& pathAt) const {
  std::u16string folded = host::FoldCase(path);
  uint64_t hash = kHashStart;
  for (char16_t unit : folded) hash = Step(hash, unit);
  int32_t best = -1;
  auto [first, last] = map_.equal_range(hash);
  for (auto it = first; it != last; ++it) {
    if (best != -1 && it->second >= best) continue;
    if (host::FoldCase(pathAt(it->second)) == folded) best = it->second;
  }
  return best;
}

int32_t CFoldedIndex::FindFirstPrefix(std::u16string_view foldedText, const PathAt& pathAt) const {
  int32_t best = -1;
  uint64_t hash = kHashStart;
  for (size_t length = 0;; ++length) {
    auto [first, last] = map_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
      if (best != -1 && it->second >= best) continue;
      if (host::FoldCase(pathAt(it->second)) == foldedText.substr(0, length)) best = it->second;
    }
    if (length == foldedText.size()) break;
    hash = Step(hash, foldedText[length]);
  }
  return best;
}

}  // namespace QPXFile
