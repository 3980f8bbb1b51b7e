// What a backup set says about change over time: what each generation did,
// one stored path's state in every generation, and the difference between
// two generations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "generations/backup_set.h"

namespace IncrementalBackup {

// A node's state in one generation (0-based), from its updates.
struct NodeState {
  bool present = false;
  long source = -1;    // generation whose update applies; -1: none at or before
  int32_t index = -1;  // that update's position
  uint16_t kind = 0;
};
NodeState StateAt(CGenerationInfo::Updates updates, long g);

// What one generation did to the files of the set: files it adds (new, or back
// after a removal), changes (stores again) and removes.
struct GenerationChanges {
  long added = 0, changed = 0, removed = 0;
};
std::vector<GenerationChanges> CountChanges(const CBackupSet& set);

// One generation's state of a stored file or folder.
enum class HistoryState { kAbsent, kRemoved, kUnchanged, kStored, kMissing };
struct HistoryStep {
  HistoryState state = HistoryState::kAbsent;
  long since = -1;  // kUnchanged: the generation (0-based) that stored what applies
  // kStored of a file: its entry record.
  const QPXFile::CQPXBackupedFileHeader* header = nullptr;
  // kStored of a folder: whether its attributes are recorded, and they.
  bool hasAttributes = false;
  CAttributes attributes;
};
struct History {
  bool found = false;  // false: the set records nothing at the path
  bool isFolder = false;
  std::u16string path;  // as stored
  std::vector<HistoryStep> steps;  // one per generation
};
History HistoryOf(const CBackupSet& set, const std::u16string& storedPath);

// A file's history as the versions a user tells apart: one per generation
// that stored or removed it. The generations after a stored one in which the
// file stayed the same (not stored again, or stored again with the same size
// and CRC) fold into its row, so its data is that generation's.
struct Version {
  HistoryState state = HistoryState::kStored;  // kStored, kMissing or kRemoved
  long generation = -1;   // 0-based: the one that stored or removed it
  long unchangedTo = -1;  // the last generation folded in; -1: none
  const QPXFile::CQPXBackupedFileHeader* header = nullptr;  // kStored
};
std::vector<Version> FoldHistory(const History& history);

// The difference between generations a and b (0-based): files present only
// in b (added), only in a (removed), in both with another stored entry whose
// size or CRC differs (changed; a file stored again unchanged does not count),
// and folders a record names that are present in one only. Headers are null
// where an archive lacks the entry.
struct FileSide {
  std::u16string path;
  const QPXFile::CQPXBackupedFileHeader* header = nullptr;
};
struct FileChange {
  std::u16string path;
  const QPXFile::CQPXBackupedFileHeader* from = nullptr;
  const QPXFile::CQPXBackupedFileHeader* to = nullptr;
};
struct Difference {
  std::vector<FileSide> added, removed;
  std::vector<FileChange> changed;
  std::vector<std::u16string> foldersAdded, foldersRemoved;
};
Difference DiffGenerations(const CBackupSet& set, long a, long b);
// The same over a merged tree.
Difference DiffGenerations(const CFSTree& tree, long a, long b);

// One node between generations a and b (0-based; a may be -1, before the
// first) by the rule of DiffGenerations. Folders compare by presence alone;
// a folder no record names tells nothing (kUnknown).
enum class NodeChange { kAbsent, kAdded, kRemoved, kChanged, kUnchanged, kUnknown };
NodeChange CompareNode(const CFSObject& node, long a, long b);

}  // namespace IncrementalBackup
