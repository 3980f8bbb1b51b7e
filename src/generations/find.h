// Finding files and folders by name across every generation of a backup set:
// where a file is, in which generations it is present, and which versions of
// it the set holds. The command-line tool and the desktop search share it.
//
// The search walks the merged tree, which holds every folder and file that
// any generation recorded, so it needs no generation to be selected and
// leaves the tree's selection and marks alone. Like the tree, it belongs to
// the thread that owns the loaded set.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "generations/backup_set.h"
#include "generations/restore_tree.h"

namespace IncrementalBackup {

// A name pattern: `*` stands for any run of characters, `?` for one
// character (one code point), everything else for itself; letters are
// compared without regard to case, as paths are everywhere in the engine. A
// pattern holding a backslash (or a slash, taken for one) is matched against
// the whole stored path ("C:\Users\*\*.doc"), where `*` also spans
// backslashes; any other pattern against the last component alone.
class CNamePattern {
 public:
  explicit CNamePattern(std::u16string_view pattern);

  bool MatchesWholePath() const { return wholePath_; }
  // `folded` must already be case-folded (FoldName).
  bool Matches(std::u16string_view folded) const;

  // Folds `text` into `out` as the pattern was folded, reusing its storage.
  static void FoldName(std::u16string_view text, std::u16string& out);

 private:
  std::u16string folded_;
  bool wholePath_ = false;
};

// What narrows a search besides the name. Sizes are in bytes, times are
// FILETIME values (100-ns intervals since 1601-01-01) of the modification
// time. A file is kept when one of its versions passes every bound, and only
// such versions are reported; folders have neither, so any bound leaves them
// out.
struct FindCriteria {
  std::u16string pattern;
  std::optional<uint64_t> minSize;   // size at least this
  std::optional<uint64_t> maxSize;   // size at most this
  std::optional<uint64_t> newerThan; // modified at or after this
  std::optional<uint64_t> olderThan; // modified before this

  bool HasBounds() const { return minSize || maxSize || newerThan || olderThan; }
};

// One distinct content of a file: the first generation (0-based) that stored
// it; later generations that stored the same size, CRC and time again are
// not repeated. `missing`: the management data records the file as stored in
// that generation but its archive lacks the entry, so nothing is known of it.
struct FoundVersion {
  long generation = 0;
  uint64_t size = 0;
  uint32_t crc32 = 0;
  uint64_t modified = 0;
  bool missing = false;
};

struct FoundItem {
  std::u16string path;  // stored form, "C:\Users\me\a.txt"
  bool folder = false;
  std::vector<long> generations;      // 0-based, ascending: where it is present
  std::vector<FoundVersion> versions;  // files only, in the order stored
};

// Calls `onHit` for every matching node in the tree's order (a folder, its
// files, then its subfolders). `generationCount` bounds the generations
// considered. Returns false when `onHit` returned false, which ends the search.
bool FindInTree(const CFSTree& tree, long generationCount, const FindCriteria& criteria,
                const std::function<bool(FoundItem&&)>& onHit);

// The same over a set loaded with CBackupSet::Load (an archive named alone
// is then a set of one generation). False also for a set opened with
// LoadArchiveAlone, which has no tree.
bool FindInSet(const CBackupSet& set, const FindCriteria& criteria, const std::function<bool(FoundItem&&)>& onHit);

// Every hit at once.
std::vector<FoundItem> FindInTree(const CFSTree& tree, long generationCount, const FindCriteria& criteria);

// "1-3, 5" from ascending 0-based generations, as users count them; `dash`
// joins the ends of a range.
std::string GenerationRanges(const std::vector<long>& generations, std::string_view dash = "-");

}  // namespace IncrementalBackup
