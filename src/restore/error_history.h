// The errors met while a backup was loaded, kept by the generation manager
// for as long as the backup stays open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace QPXFile {

// One error: the string-table message that describes it and what it is
// about, so it can be shown later in the words the progress dialog used.
struct CErrorDescription {
  static constexpr int32_t kNoGeneration = -1;

  uint32_t messageId = 0;                // string-table id of the wording
  std::u16string text;                   // the path or name concerned; fills the message's "%s"
  int32_t generation = kNoGeneration;    // 0-based generation concerned, or kNoGeneration

  // The message with `text` in place of its "%s". False, with `out` empty,
  // when the id has no string or memory runs out.
  bool GetText(std::u16string& out) const;
};

class CErrorHistory {
 public:
  CErrorHistory() = default;
  ~CErrorHistory();
  CErrorHistory(const CErrorHistory&) = delete;
  CErrorHistory& operator=(const CErrorHistory&) = delete;

  // Stores a copy at the end: its index, or -1 when memory runs out.
  int Add(const CErrorDescription& description);

  // Destroys the descriptions, the last first, and frees the array.
  void RemoveAll();

  size_t GetCount() const { return descriptions_.size(); }
  bool IsEmpty() const { return descriptions_.empty(); }
  // Throws std::invalid_argument for an index past the end.
  const CErrorDescription& GetAt(size_t index) const;

 private:
  std::vector<std::unique_ptr<CErrorDescription>> descriptions_;
};

}  // namespace QPXFile
