#include "generations/set_history.h"

#include <algorithm>

namespace IncrementalBackup {
namespace {

const QPXFile::CQPXBackupedFileHeader* HeaderOf(const QPXFile::IQPXBackupedFile* entry) {
  return entry != nullptr ? entry->GetHeader() : nullptr;
}

// Two entries of one file hold the same data; a store again of such data
// changes nothing the user could see.
bool SameData(const QPXFile::CQPXBackupedFileHeader* a, const QPXFile::CQPXBackupedFileHeader* b) {
  return a != nullptr && b != nullptr && a->GetFileSize() == b->GetFileSize() && a->GetCrc32() == b->GetCrc32();
}

// A file in generations a and b, with the entries that apply in each.
struct FileComparison {
  NodeChange change = NodeChange::kAbsent;
  const QPXFile::CQPXBackupedFileHeader* from = nullptr;
  const QPXFile::CQPXBackupedFileHeader* to = nullptr;
};

FileComparison CompareFile(const CFSFile& file, long a, long b) {
  FileComparison c;
  const CGenerationInfo::Updates updates = file.GetData().GetGeneration().GetUpdates();
  if (updates.empty()) return c;
  const NodeState before = StateAt(updates, a), after = StateAt(updates, b);
  if (before.present) c.from = HeaderOf(file.GetData().GetEntry(static_cast<uint32_t>(before.index)));
  if (after.present) c.to = HeaderOf(file.GetData().GetEntry(static_cast<uint32_t>(after.index)));
  if (!before.present) {
    c.change = after.present ? NodeChange::kAdded : NodeChange::kAbsent;
  } else if (!after.present) {
    c.change = NodeChange::kRemoved;
  } else if (before.index == after.index) {
    c.change = NodeChange::kUnchanged;
  } else {
    // Stored again: changed unless the data came out the same.
    c.change = SameData(c.from, c.to) ? NodeChange::kUnchanged : NodeChange::kChanged;
  }
  return c;
}

NodeChange CompareFolder(const CFolder& folder, long a, long b) {
  // Folders no record names follow their contents and tell nothing.
  const CGenerationInfo::Updates updates = folder.GetData().GetGeneration().GetUpdates();
  if (updates.empty()) return NodeChange::kUnknown;
  const bool before = StateAt(updates, a).present, after = StateAt(updates, b).present;
  if (before == after) return before ? NodeChange::kUnchanged : NodeChange::kAbsent;
  return after ? NodeChange::kAdded : NodeChange::kRemoved;
}

}  // namespace

NodeChange CompareNode(const CFSObject& node, long a, long b) {
  return node.IsFolder() ? CompareFolder(static_cast<const CFolder&>(node), a, b)
                         : CompareFile(static_cast<const CFSFile&>(node), a, b).change;
}

NodeState StateAt(CGenerationInfo::Updates updates, long g) {
  NodeState s;
  CGenerationInfo info;
  info.Attach(updates);
  if (!info.SelectGeneration(g)) return s;
  s.present = info.Exists();
  s.index = info.GetApplyingIndex();
  s.source = SourceGeneration(info);
  if (s.index >= 0) s.kind = updates[static_cast<size_t>(s.index)].Kind;
  return s;
}

std::vector<GenerationChanges> CountChanges(const CBackupSet& set) {
  const long count = set.Count();
  std::vector<GenerationChanges> changes(static_cast<size_t>(count));
  // Each generation's first update of a file says what that generation did
  // to it, measured against the state the file had before.
  WalkTree(set.Tree(), [](const CFolder&) {},
           [&](const CFSFile& file) {
             const CGenerationInfo::Updates updates = file.GetData().GetGeneration().GetUpdates();
             bool before = false;
             for (size_t k = 0; k < updates.size(); ++k) {
               const QPMFile::CQPMUpdateContents& u = updates[k];
               if (k > 0 && updates[k - 1].Generation == u.Generation) continue;
               if (u.Generation >= count) break;
               GenerationChanges& c = changes[static_cast<size_t>(u.Generation)];
               if (u.Kind == QPMFile::kKindRemoved) {
                 if (before) ++c.removed;
                 before = false;
               } else {
                 ++(before ? c.changed : c.added);
                 before = true;
               }
             }
           });
  return changes;
}

History HistoryOf(const CBackupSet& set, const std::u16string& storedPath) {
  History history;
  const CFSObject* node = set.Tree().Find(storedPath);
  const CFSFile* file = node != nullptr && !node->IsFolder() ? static_cast<const CFSFile*>(node) : nullptr;
  const CFolder* folder = node != nullptr && node->IsFolder() ? static_cast<const CFolder*>(node) : nullptr;
  const CGenerationInfo::Updates updates = file     ? file->GetData().GetGeneration().GetUpdates()
                                           : folder ? folder->GetData().GetGeneration().GetUpdates()
                                                    : CGenerationInfo::Updates();
  if (updates.empty()) return history;
  history.found = true;
  history.isFolder = file == nullptr;
  history.path = node->GetPath();
  for (long g = 0; g < set.Count(); ++g) {
    const NodeState s = StateAt(updates, g);
    HistoryStep step;
    if (s.source < 0 || (!s.present && s.source < g)) {
      step.state = HistoryState::kAbsent;
    } else if (!s.present) {
      step.state = HistoryState::kRemoved;
    } else if (s.source < g) {
      step.state = HistoryState::kUnchanged;
      step.since = s.source;
    } else if (file != nullptr) {
      step.header = HeaderOf(file->GetData().GetEntry(static_cast<uint32_t>(s.index)));
      step.state = step.header != nullptr ? HistoryState::kStored : HistoryState::kMissing;
    } else {
      step.state = HistoryState::kStored;
      step.hasAttributes = set.Manager().GetFolderAttributes(g, history.path, step.attributes);
    }
    history.steps.push_back(step);
  }
  return history;
}

std::vector<Version> FoldHistory(const History& history) {
  std::vector<Version> versions;
  for (long g = 0; g < static_cast<long>(history.steps.size()); ++g) {
    const HistoryStep& step = history.steps[static_cast<size_t>(g)];
    Version* last = versions.empty() ? nullptr : &versions.back();
    // Folding continues only a run without gaps behind a stored version
    // (one whose entry is missing stays missing).
    const bool continues = last != nullptr && last->state != HistoryState::kRemoved &&
                           std::max(last->generation, last->unchangedTo) == g - 1;
    const bool same = step.state == HistoryState::kUnchanged ||
                      (step.state == HistoryState::kStored && last != nullptr && SameData(last->header, step.header));
    if (continues && same) {
      last->unchangedTo = g;
      continue;
    }
    switch (step.state) {
      case HistoryState::kStored:
      case HistoryState::kMissing:
      case HistoryState::kRemoved:
        versions.push_back({step.state, g, -1, step.header});
        break;
      case HistoryState::kUnchanged:
        // What it stays as lies before the versions shown (not with a
        // history from the first generation on): nothing to show of it.
        versions.push_back({HistoryState::kMissing, g, -1, nullptr});
        break;
      default:
        break;
    }
  }
  return versions;
}

Difference DiffGenerations(const CBackupSet& set, long a, long b) { return DiffGenerations(set.Tree(), a, b); }

Difference DiffGenerations(const CFSTree& tree, long a, long b) {
  Difference d;
  WalkTree(tree,
           [&](const CFolder& folder) {
             const NodeChange change = CompareFolder(folder, a, b);
             if (change == NodeChange::kAdded) d.foldersAdded.push_back(folder.GetPath());
             else if (change == NodeChange::kRemoved) d.foldersRemoved.push_back(folder.GetPath());
           },
           [&](const CFSFile& file) {
             const FileComparison c = CompareFile(file, a, b);
             switch (c.change) {
               case NodeChange::kAdded:
                 d.added.push_back({file.GetPath(), c.to});
                 break;
               case NodeChange::kRemoved:
                 d.removed.push_back({file.GetPath(), c.from});
                 break;
               case NodeChange::kChanged:
                 d.changed.push_back({file.GetPath(), c.from, c.to});
                 break;
               default:
                 break;
             }
           });
  return d;
}

}  // namespace IncrementalBackup
