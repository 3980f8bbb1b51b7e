#include "generations/find.h"

#include <algorithm>

#include "entry/backuped_file.h"
#include "host/text.h"

namespace IncrementalBackup {
namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Units of the code point at `i`: a `?` takes a surrogate pair as one.
size_t CodePointUnits(std::u16string_view s, size_t i) {
  return IsHighSurrogate(s[i]) && i + 1 < s.size() && IsLowSurrogate(s[i + 1]) ? 2 : 1;
}

// The generations in which the node exists, by the tree's own merge rule.
void PresentGenerations(CGenerationInfo::Updates updates, long count, std::vector<long>& out) {
  out.clear();
  CGenerationInfo info;
  info.Attach(updates);
  for (long g = 0; g < count; ++g)
    if (info.SelectGeneration(g) && info.Exists()) out.push_back(g);
}

bool PassesBounds(const FindCriteria& c, const FoundVersion& v) {
  if (v.missing) return false;
  if (c.minSize && v.size < *c.minSize) return false;
  if (c.maxSize && v.size > *c.maxSize) return false;
  if (c.newerThan && v.modified < *c.newerThan) return false;
  if (c.olderThan && v.modified >= *c.olderThan) return false;
  return true;
}

// The distinct contents a file's stored updates hold, each with the first
// generation that stored it.
void CollectVersions(const CIncrementalRestoreTreeFileData& data, long count, std::vector<FoundVersion>& out) {
  out.clear();
  const CGenerationInfo::Updates updates = data.GetGeneration().GetUpdates();
  for (size_t i = 0; i < updates.size(); ++i) {
    const QPMFile::CQPMUpdateContents& u = updates[i];
    if (u.Generation >= count) break;
    // Only the first of several updates with one generation ever applies.
    if (i > 0 && updates[i - 1].Generation == u.Generation) continue;
    if (u.Kind == QPMFile::kKindRemoved) continue;
    FoundVersion v;
    v.generation = u.Generation;
    const QPXFile::IQPXBackupedFile* entry = data.GetEntry(static_cast<uint32_t>(i));
    const QPXFile::CQPXBackupedFileHeader* header = entry != nullptr ? entry->GetHeader() : nullptr;
    if (header == nullptr) {
      v.missing = true;
      out.push_back(v);
      continue;
    }
    v.size = header->GetFileSize();
    v.crc32 = header->GetCrc32();
    v.modified = header->GetLastWriteTime();
    const bool seen = std::any_of(out.begin(), out.end(), [&](const FoundVersion& o) {
      return !o.missing && o.size == v.size && o.crc32 == v.crc32 && o.modified == v.modified;
    });
    if (!seen) out.push_back(v);
  }
}

// A folder no record names is present wherever something below it is.
void AncestorOnlyGenerations(const CFolder& folder, long count, std::vector<long>& out) {
  std::vector<bool> present(static_cast<size_t>(count > 0 ? count : 0), false);
  long marked = 0;
  std::vector<long> scratch;
  auto note = [&](const CGenerationInfo& info) {
    if (!info.HasUpdates()) return;
    PresentGenerations(info.GetUpdates(), count, scratch);
    for (long g : scratch)
      if (!present[static_cast<size_t>(g)]) {
        present[static_cast<size_t>(g)] = true;
        ++marked;
      }
  };
  std::vector<const CFolder*> stack{&folder};
  // Stops as soon as every generation is known to hold something below.
  while (!stack.empty() && marked < count) {
    const CFolder* f = stack.back();
    stack.pop_back();
    for (const CFSFile* file : f->GetFiles()) note(file->GetData().GetGeneration());
    for (const CFolder* sub : f->GetFolders()) {
      note(sub->GetData().GetGeneration());
      if (sub->GetData().IsAncestorOnly()) stack.push_back(sub);
    }
  }
  out.clear();
  for (long g = 0; g < count; ++g)
    if (present[static_cast<size_t>(g)]) out.push_back(g);
}

class Search {
 public:
  Search(long count, const FindCriteria& criteria, const std::function<bool(FoundItem&&)>& onHit)
      : count_(count), criteria_(criteria), pattern_(criteria.pattern), onHit_(onHit) {}

  bool Run(const CFSTree& tree) {
    struct Level {
      const CFolder* folder;
      size_t next;         // subfolder to enter next
      size_t pathLength;   // folded path length up to and including this folder
    };
    std::vector<Level> stack;
    for (const CFolder* root : tree.GetRoots()) {
      path_.clear();
      if (!Enter(*root, stack)) return false;
      while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next < top.folder->GetFolders().size()) {
          const CFolder* sub = top.folder->GetFolders()[top.next++];
          path_.resize(top.pathLength);
          if (!Enter(*sub, stack)) return false;
        } else {
          stack.pop_back();
        }
      }
    }
    return true;
  }

 private:
  template <class Level>
  bool Enter(const CFolder& folder, std::vector<Level>& stack) {
    const size_t parentLength = path_.size();
    const bool matched = Matches(folder.GetName(), parentLength);
    const size_t folderLength = path_.size();
    if (matched && !criteria_.HasBounds() && !ReportFolder(folder)) return false;
    for (const CFSFile* file : folder.GetFiles()) {
      path_.resize(folderLength);
      if (Matches(file->GetName(), folderLength) && !ReportFile(*file)) return false;
    }
    stack.push_back({&folder, 0, folderLength});
    return true;
  }

  // Appends the node's folded name to the folded path (whole-path patterns
  // only) and matches it.
  bool Matches(std::u16string_view name, size_t parentLength) {
    CNamePattern::FoldName(name, folded_);
    if (!pattern_.MatchesWholePath()) return pattern_.Matches(folded_);
    if (parentLength > 0) path_ += u'\\';
    path_ += folded_;
    return pattern_.Matches(path_);
  }

  bool ReportFolder(const CFolder& folder) {
    FoundItem item;
    item.folder = true;
    const CGenerationInfo& info = folder.GetData().GetGeneration();
    if (info.HasUpdates())
      PresentGenerations(info.GetUpdates(), count_, item.generations);
    else
      AncestorOnlyGenerations(folder, count_, item.generations);
    if (item.generations.empty()) return true;
    item.path = folder.GetPath();
    return onHit_(std::move(item));
  }

  bool ReportFile(const CFSFile& file) {
    const CIncrementalRestoreTreeFileData& data = file.GetData();
    if (!data.GetGeneration().HasUpdates()) return true;
    FoundItem item;
    CollectVersions(data, count_, item.versions);
    if (criteria_.HasBounds()) {
      auto fails = [this](const FoundVersion& v) { return !PassesBounds(criteria_, v); };
      item.versions.erase(std::remove_if(item.versions.begin(), item.versions.end(), fails), item.versions.end());
      if (item.versions.empty()) return true;
    }
    PresentGenerations(data.GetGeneration().GetUpdates(), count_, item.generations);
    if (item.generations.empty() && item.versions.empty()) return true;
    item.path = file.GetPath();
    return onHit_(std::move(item));
  }

  const long count_;
  const FindCriteria& criteria_;
  const CNamePattern pattern_;
  const std::function<bool(FoundItem&&)>& onHit_;
  std::u16string folded_;  // the current node's folded name
  std::u16string path_;    // the current node's folded path (whole-path patterns)
};

}  // namespace

CNamePattern::CNamePattern(std::u16string_view pattern) {
  FoldName(pattern, folded_);
  for (char16_t& u : folded_) {
    if (u == u'/') u = u'\\';
    if (u == u'\\') wholePath_ = true;
  }
}

void CNamePattern::FoldName(std::u16string_view text, std::u16string& out) {
  // Nearly every name is ASCII; those are folded here without a new string.
  out.resize(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0x80) {
      out = host::FoldCase(text);
      return;
    }
    out[i] = (u >= u'A' && u <= u'Z') ? static_cast<char16_t>(u + 32) : u;
  }
}

bool CNamePattern::Matches(std::u16string_view s) const {
  const std::u16string_view p = folded_;
  // Greedy matching that returns to the last `*` on a mismatch: linear in
  // practice, and never recursive.
  size_t pi = 0, si = 0;
  size_t starP = std::u16string_view::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == u'*') {
      starP = ++pi;
      starS = si;
    } else if (pi < p.size() && p[pi] == u'?') {
      ++pi;
      si += CodePointUnits(s, si);
    } else if (pi < p.size() && p[pi] == s[si]) {
      ++pi;
      ++si;
    } else if (starP != std::u16string_view::npos) {
      starS += CodePointUnits(s, starS);
      pi = starP;
      si = starS;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

bool FindInTree(const CFSTree& tree, long generationCount, const FindCriteria& criteria,
                const std::function<bool(FoundItem&&)>& onHit) {
  Search search(generationCount, criteria, onHit);
  return search.Run(tree);
}

bool FindInSet(const CBackupSet& set, const FindCriteria& criteria, const std::function<bool(FoundItem&&)>& onHit) {
  if (set.IsArchiveAlone()) return false;
  return FindInTree(set.Tree(), set.Count(), criteria, onHit);
}

std::vector<FoundItem> FindInTree(const CFSTree& tree, long generationCount, const FindCriteria& criteria) {
  std::vector<FoundItem> hits;
  FindInTree(tree, generationCount, criteria, [&hits](FoundItem&& item) {
    hits.push_back(std::move(item));
    return true;
  });
  return hits;
}

std::string GenerationRanges(const std::vector<long>& generations, std::string_view dash) {
  std::string out;
  for (size_t i = 0; i < generations.size();) {
    size_t j = i;
    while (j + 1 < generations.size() && generations[j + 1] == generations[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(generations[i] + 1);
    if (j > i) {
      // Appended in two steps: GCC 12 takes dash + string for an overlapping copy (-Wrestrict).
      out += dash;
      out += std::to_string(generations[j] + 1);
    }
    i = j + 1;
  }
  return out;
}

}  // namespace IncrementalBackup
