// The merged tree of a backup set: one node for every folder and file that
// any generation recorded, each with its history, showing its state as of
// the selected generation, and the user's check marks with running totals.
//
// Nodes are kept small because a set may record millions of files: the
// payload lives inside its node, nodes live in blocks the tree allocates
// many at a time, a node's name is a slice of the management data's own
// text (which therefore outlives the tree), its updates are the record's,
// and a file's per-update entries take no block of their own when there is
// one update. No operation recurses along the depth of the tree, so paths
// of thousands of components cost heap, not stack.
//
// For a view (a model over the tree), in constant time:
//   - CFSObject::GetParent(), GetIndex() (position among all the parent's
//     children of its kind, absent ones included) and GetRow() (position
//     among the parent's present children of its kind, -1 when absent);
//   - CFolder::GetPresentFolders() / GetPresentFiles(): the present children
//     in order, so "child n" is an index; CFSTree::GetPresentRoots() likewise
//     for the drives. A view that lists folders before files gives a file the
//     row GetPresentFolders().size() + GetRow().
//   Presence, rows and these arrays change only in Build and
//   SwitchGeneration; check marks change only totals and flags.
//   - A switch is one reset: the receiver hears SwitchStarting() before any
//     node changes and SwitchFinished() when presence, rows and totals are
//     settled (a Qt model: beginResetModel / endResetModel). Between the two
//     it hears each folder and each file that appeared or disappeared,
//     folders by path (the folder tree pane), files by node.
//   - SetChecked(node, state, &changed) marks or unmarks a node and brings
//     every total up to date at once; `changed` lists the folders whose
//     totals or check state changed, the node itself (a folder) first, then
//     its ancestors nearest first. The marked folder's whole subtree changes
//     its marks too and is not listed.
//
// Threads: the creator, its tree and the entries the tree points to belong
// to one thread at a time. Build runs on the load's worker thread; once it
// has returned, the set is handed to the user-interface thread (through a
// join, a queued signal or a mutex) and used only there: SwitchGeneration,
// SetChecked, RecalcTotals and every read. Nothing here locks and nothing
// may be read from another thread while one of those runs; during Build only
// the progress sink may be polled (progress.h). A restore archive made by
// CreateRestoreArchive may be handed to the restore's worker thread while
// the tree stays unchanged (no switch or marking until that restore ends).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "generations/chunk_pool.h"
#include "generations/generation_lookup.h"
#include "generations/incremental_restore_archive.h"
#include "generations/progress.h"
#include "generations/qpm_file.h"

namespace QPXFile {
class IQPXBackupedFile;
}

namespace IncrementalBackup {

class CFolder;
class CFSFile;

// An array of trivially copyable elements that keeps a single element in
// place; almost every node has exactly one update.
template <class T>
class CSmallArray {
 public:
  CSmallArray() = default;
  CSmallArray(const CSmallArray&) = delete;
  CSmallArray& operator=(const CSmallArray&) = delete;
  ~CSmallArray() { Clear(); }

  // Drops the elements and makes room for `count` value-initialised ones.
  void Reset(uint32_t count) {
    Clear();
    if (count > 1) s_.heap = new T[count]();
    else new (&s_.one) T();
    size_ = count;
  }
  uint32_t size() const { return size_; }
  T& operator[](uint32_t i) { return size_ > 1 ? s_.heap[i] : s_.one; }
  const T& operator[](uint32_t i) const { return size_ > 1 ? s_.heap[i] : s_.one; }

 private:
  void Clear() {
    if (size_ > 1) delete[] s_.heap;
    size_ = 0;
  }
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  union Storage {
    Storage() : heap(nullptr) {}
    T one;
    T* heap;
  } s_;
  uint32_t size_ = 0;
};

// Which of a node's updates applies in the selected generation.
class CGenerationInfo {
 public:
  using Updates = std::span<const QPMFile::CQPMUpdateContents>;

  // The updates stay owned by the management record (at most 65535, as
  // the file's 16-bit count allows).
  void Attach(Updates updates) {
    updates_ = updates.data();
    count_ = static_cast<uint16_t>(updates.size() < UINT16_MAX ? updates.size() : UINT16_MAX);
  }
  Updates GetUpdates() const { return {updates_, count_}; }
  bool HasUpdates() const { return count_ != 0; }

  // The merge rule: the update of the latest generation at or before g
  // applies (of several with one generation, the first); the node exists
  // when there is one and it is not a removal. False, changing nothing,
  // without updates or for a negative g.
  bool SelectGeneration(long g);

  bool Exists() const { return exists_; }
  // Only for nodes whose presence follows their children.
  void SetExists(bool exists) { exists_ = exists; }
  int32_t GetApplyingIndex() const { return static_cast<int32_t>(applying_) - 1; }

 private:
  const QPMFile::CQPMUpdateContents* updates_ = nullptr;
  uint16_t count_ = 0;
  uint16_t applying_ = 0;  // index + 1; 0: none applies
  bool exists_ = true;
};

class CIncrementalRestoreTreeFileData {
 public:
  uint64_t GetFileSize() const;    // of the current entry; 0 without one
  uint64_t GetStoredSize() const;  // likewise
  bool IsChecked() const { return Exists() && checked_; }
  bool GetCheckedFlag() const { return checked_; }
  bool Exists() const { return generation_.Exists(); }
  const CGenerationInfo& GetGeneration() const { return generation_; }
  // The entry of the applying update, or null (absent, or a gap in its archive).
  QPXFile::IQPXBackupedFile* GetCurrentEntry() const;
  // One per update.
  uint32_t GetEntryCount() const { return static_cast<uint32_t>(generation_.GetUpdates().size()); }
  QPXFile::IQPXBackupedFile* GetEntry(uint32_t i) const {
    const uint32_t count = GetEntryCount();
    if (i >= count) return nullptr;
    return count == 1 ? entries_.one : entries_.many[i];
  }

 private:
  friend class CIncrementalRestoreQPXFileExtendCreator;
  friend class CSwitchGenerationOperator;

  // Not owned. One update's entry in place, more in a run of the tree's.
  union Entries {
    QPXFile::IQPXBackupedFile* one;
    QPXFile::IQPXBackupedFile** many;
  } entries_{nullptr};
  // Last, so that the flag after it fills its padding.
  [[no_unique_address]] CGenerationInfo generation_;
  bool checked_ = false;
};

class CIncrementalRestoreTreeFolderData {
 public:
  // The four totals answer 0 while the folder is absent.
  uint64_t GetTotalFileSize() const { return Exists() ? fileSize_ : 0; }
  uint64_t GetTotalStoredSize() const { return Exists() ? storedSize_ : 0; }
  int32_t GetCheckedFileCount() const { return Exists() ? checkedFiles_ : 0; }
  int32_t GetCheckedFolderCount() const { return Exists() ? checkedFolders_ : 0; }
  bool IsChecked() const { return Exists() && checked_; }
  bool GetCheckedFlag() const { return checked_; }
  bool Exists() const { return generation_.Exists(); }
  const CGenerationInfo& GetGeneration() const { return generation_; }
  // A folder no record names, made only as the ancestor of recorded paths:
  // present exactly when one of its children is.
  bool IsAncestorOnly() const { return !generation_.HasUpdates(); }
  // The attributes of the applying update; false when there are none.
  bool GetCurrentAttributes(CAttributes& out) const;

 private:
  friend class CIncrementalRestoreQPXFileExtendCreator;
  friend class CSwitchGenerationOperator;

  uint64_t fileSize_ = 0;
  uint64_t storedSize_ = 0;
  int32_t checkedFiles_ = 0;
  int32_t checkedFolders_ = 0;
  bool checked_ = false;
  CGenerationInfo generation_;
  CSmallArray<CAttributes> attributes_;  // one per update
};

// A node: one path component below its parent folder. Nodes are made and
// owned by their tree (CFSTree::AddRoot, AddFolder, AddFile) and live as
// long as it does.
class CFSObject {
 public:
  CFSObject(const CFSObject&) = delete;
  CFSObject& operator=(const CFSObject&) = delete;
  bool IsFolder() const { return folder_; }

  std::u16string_view GetName() const { return {name_, nameLength_}; }
  CFolder* GetParent() const { return parent_; }
  bool IsRegistered() const { return registered_; }
  bool Exists() const;
  // The names of the node and its ancestors joined with backslashes.
  std::u16string GetPath() const;
  // Position in the parent's GetFiles() or GetFolders() (a root: in the
  // tree's GetRoots()).
  uint32_t GetIndex() const { return index_; }
  // Position in the parent's GetPresentFiles() or GetPresentFolders() (a
  // root: in GetPresentRoots()); -1 while the node is absent.
  int32_t GetRow() const { return row_; }

 protected:
  // `name` is not copied: it must outlive the node.
  CFSObject(std::u16string_view name, CFolder* parent, bool folder)
      : name_(name.data()), parent_(parent), nameLength_(static_cast<uint32_t>(name.size())), folder_(folder) {}
  ~CFSObject() = default;

  const char16_t* name_;
  CFolder* parent_;
  uint32_t index_ = 0;
  int32_t row_ = -1;
  uint32_t nameLength_;
  bool folder_;
  bool registered_ = false;

  friend class CFolder;
  friend class CFSTree;
  friend class CIncrementalRestoreQPXFileExtendCreator;
};

// Only the tree makes nodes.
class CNodeKey {
  CNodeKey() = default;
  friend class CFSTree;
};

class CFSFile final : public CFSObject {
 public:
  // Registers with `parent` when there is one.
  CFSFile(CNodeKey, std::u16string_view name, CFolder* parent);

  CIncrementalRestoreTreeFileData& GetData() { return data_; }
  const CIncrementalRestoreTreeFileData& GetData() const { return data_; }

 private:
  CIncrementalRestoreTreeFileData data_;
};

class CFolder final : public CFSObject {
 public:
  CFolder(CNodeKey, std::u16string_view name, CFolder* parent);
  // Appends to the file or the folder array according to the child's kind.
  bool AddChild(CFSObject* child);

  // Every child ever recorded, present or not, in insertion order.
  const std::vector<CFSFile*>& GetFiles() const { return files_; }
  const std::vector<CFolder*>& GetFolders() const { return folders_; }
  // The children present in the selected generation, in the same order.
  const std::vector<CFSFile*>& GetPresentFiles() const { return presentFiles_; }
  const std::vector<CFolder*>& GetPresentFolders() const { return presentFolders_; }
  bool HasPresentChild() const { return !presentFiles_.empty() || !presentFolders_.empty(); }
  // By name, ignoring case: files first, then folders, each from the last.
  CFSObject* FindChild(std::u16string_view name) const;
  CFolder* FindFolder(std::u16string_view name) const;
  CFSFile* FindFile(std::u16string_view name) const;
  bool HasExistingChild() const;

  CIncrementalRestoreTreeFolderData& GetData() { return data_; }
  const CIncrementalRestoreTreeFolderData& GetData() const { return data_; }

 private:
  friend class CIncrementalRestoreQPXFileExtendCreator;

  std::vector<CFSFile*> files_;     // owned by the tree
  std::vector<CFolder*> folders_;   // likewise
  std::vector<CFSFile*> presentFiles_;    // not owned; settled by the creator
  std::vector<CFolder*> presentFolders_;  // likewise
  CIncrementalRestoreTreeFolderData data_;
};

// What a folder holds in the selected generation: its present files and
// folders at any depth and the files' sizes, as marking it would total
// them, read without touching any mark. Nothing for an absent folder.
struct FolderTotals {
  uint64_t fileSize = 0;
  uint64_t storedSize = 0;
  int32_t files = 0;
  int32_t folders = 0;
};
FolderTotals TotalsBelow(const CFolder& folder);

class CFSTreeOperator;

class CFSTree {
 public:
  CFSTree();
  CFSTree(const CFSTree&) = delete;
  CFSTree& operator=(const CFSTree&) = delete;
  ~CFSTree();

  // New nodes, owned by the tree, appended to their parent's children in
  // order. The name is not copied: it must outlive the tree.
  CFolder* AddRoot(std::u16string_view name);
  CFolder* AddFolder(CFolder& parent, std::u16string_view name);
  CFSFile* AddFile(CFolder& parent, std::u16string_view name);
  // Ignoring case, from the last root.
  CFolder* FindRoot(std::u16string_view name) const;
  const std::vector<CFolder*>& GetRoots() const { return roots_; }
  // The roots with a present child, in order.
  const std::vector<CFolder*>& GetPresentRoots() const { return presentRoots_; }
  // The node a path names (drive first), or null; a path that runs into a
  // file before its last component names nothing.
  CFSObject* Find(std::u16string_view path) const;

  // Visits each root's files, then each subfolder in order with its own
  // walk after it; roots themselves are never passed to VisitFolder. The
  // first false ends the traversal with false.
  bool Traverse(CFSTreeOperator& op) const;

 private:
  friend class CIncrementalRestoreQPXFileExtendCreator;

  // Room for a file's entries when it has more than one update.
  QPXFile::IQPXBackupedFile** AllocateEntries(uint32_t count) { return entryRuns_.Allocate(count); }

  std::vector<CFolder*> roots_;
  std::vector<CFolder*> presentRoots_;  // settled by the creator
  // Every node, in blocks: a node never moves once made.
  std::deque<CFolder> folders_;
  std::deque<CFSFile> files_;
  CChunkPool<QPXFile::IQPXBackupedFile*> entryRuns_;
};

class CFSTreeOperator {
 public:
  virtual ~CFSTreeOperator() = default;
  virtual bool VisitFile(CFSFile& file, CIncrementalRestoreTreeFileData& data) = 0;
  virtual bool VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) = 0;
};

// Told what a generation switch changed, on the thread that switches. The
// folder tree pane implements the folder calls and Prune; a model over the
// tree uses SwitchStarting / SwitchFinished as one reset (see the top of
// this file). Calls come in this order: SwitchStarting; FolderAdded,
// FolderRemoved, FileAdded, FileRemoved for each node whose presence
// changed (recorded nodes in tree order, then the folders no record names,
// deepest first); Prune; SwitchFinished. A failed switch ends with
// SwitchFinished too, the tree then as far as the switch got. While the
// calls come, rows and present arrays are still those of the last
// generation; they are settled when SwitchFinished comes.
class CRecieveIncrementalRestoreTreeChange {
 public:
  virtual ~CRecieveIncrementalRestoreTreeChange() = default;
  // A folder became present / absent (never called for files).
  virtual void FolderAdded(const std::u16string& path, bool checked) = 0;
  virtual void FolderRemoved(const std::u16string& path) = 0;
  virtual void Prune() = 0;
  // A file became present / absent; its node stays valid.
  virtual void FileAdded(const CFSFile& /*file*/) {}
  virtual void FileRemoved(const CFSFile& /*file*/) {}
  // Before any node changes, and after presence, rows and totals are settled.
  virtual void SwitchStarting() {}
  virtual void SwitchFinished() {}
};

// Where the register visitor puts the present folders (the folder tree pane).
class IRestoreTreeFolderSink {
 public:
  virtual ~IRestoreTreeFolderSink() = default;
  virtual bool InsertFolderPath(const std::u16string& path) = 0;
};

class CRegisterOperator : public CFSTreeOperator {
 public:
  explicit CRegisterOperator(IRestoreTreeFolderSink& sink) : sink_(sink) {}
  bool VisitFile(CFSFile&, CIncrementalRestoreTreeFileData&) override { return true; }
  bool VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) override;

 private:
  IRestoreTreeFolderSink& sink_;
};

// Selects a generation in every node it visits and reports presence changes.
// Folders without updates are left alone: their presence is settled from
// their children afterwards.
class CSwitchGenerationOperator : public CFSTreeOperator {
 public:
  CSwitchGenerationOperator(long generation, CRecieveIncrementalRestoreTreeChange* receiver)
      : generation_(generation), receiver_(receiver) {}
  bool VisitFile(CFSFile& file, CIncrementalRestoreTreeFileData& data) override;
  bool VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) override;

 private:
  bool Select(CFSObject& node, CGenerationInfo& info);

  long generation_;
  CRecieveIncrementalRestoreTreeChange* receiver_;
};

// Fills a generation-restoring archive with the checked, present nodes.
// With `chosen`, the nodes taken are those a mark on it alone would check:
// the present nodes at or below it and the folders above it.
class CRegisterToQPXOperator : public CFSTreeOperator {
 public:
  explicit CRegisterToQPXOperator(CIncrementalRestoreQPXFileExtend& archive, const CFSObject* chosen = nullptr)
      : archive_(archive), chosen_(chosen) {}
  bool VisitFile(CFSFile& file, CIncrementalRestoreTreeFileData& data) override;
  bool VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) override;

 private:
  bool Taken(const CFSObject& node, bool checked) const;

  CIncrementalRestoreQPXFileExtend& archive_;
  const CFSObject* chosen_;
};

// Builds and owns the tree of one backup set.
class CIncrementalRestoreQPXFileExtendCreator : public CProgressInformable {
 public:
  CIncrementalRestoreQPXFileExtendCreator();
  ~CIncrementalRestoreQPXFileExtendCreator() override;

  // Builds the tree from the lookup's management data; the lookup, and its
  // management data unchanged (nodes' names are slices of its text), must
  // outlive this object. On failure error 158 goes to the sink and no tree
  // is left.
  bool Build(const IGenerationLookup& lookup);
  // g within 0 .. generation count - 1.
  bool SwitchGeneration(long g, CRecieveIncrementalRestoreTreeChange* receiver = nullptr);
  // Marks (state true) or unmarks a node: a file alone, a folder with
  // everything below it. The folders that contain it take the mark when
  // something in them is marked and lose it when nothing is. Every total,
  // the creator's included, is current when it returns: the same as
  // RecalcTotals would make them, at the cost of the node's subtree and its
  // ancestors only. `changed`, when given, receives the folders whose totals
  // or marks changed (the node itself when it is a folder, then its
  // ancestors, nearest first).
  void SetChecked(CFSObject& node, bool state, std::vector<CFolder*>* changed = nullptr);
  // The same by stored path (ignoring case); a path that names no node does
  // nothing.
  void SetChecked(std::u16string_view path, bool state);
  // The node a path names, or null: the tree's own lookup, but the children
  // of large folders are found by a hash of their folded names.
  CFSObject* FindNode(std::u16string_view path) const;
  // Recomputes every total and mark from the files' marks.
  bool RecalcTotals();
  // A new archive of the checked nodes as they stand in the selected
  // generation, owned by the caller; null on failure.
  std::unique_ptr<CIncrementalRestoreQPXFileExtend> CreateRestoreArchive() const;
  // The same for one node (a file, or a folder with everything below it)
  // as if it alone were marked, leaving every mark as it is.
  std::unique_ptr<CIncrementalRestoreQPXFileExtend> CreateRestoreArchive(const CFSObject& chosen) const;
  // A file as generation g (0-based) holds it, whichever generation is
  // selected, with the folders above it as g recorded them; null when g
  // holds no data of it.
  std::unique_ptr<CIncrementalRestoreQPXFileExtend> CreateRestoreArchive(const CFSFile& file, long g) const;

  CFSTree* GetTree() const { return tree_.get(); }
  long GetSelectedGeneration() const { return selected_; }
  uint64_t GetTotalFileSize() const { return totalFileSize_; }
  uint64_t GetTotalStoredSize() const { return totalStoredSize_; }
  int32_t GetCheckedFileCount() const { return checkedFiles_; }
  int32_t GetCheckedFolderCount() const { return checkedFolders_; }
  bool IsNotifying() const { return notify_; }
  // The paths of the records the last Build skipped because a node of the
  // other kind holds their place (a file in one generation, a folder in
  // another) or they name nothing: they are in no generation's view.
  const std::vector<std::u16string>& GetSkippedRecords() const { return skipped_; }
  // The paths of the records the last Build left out because they lead
  // outside their drive: absolute or relative paths, and those with a ".."
  // or "." component. The rest of the set is built without them.
  const std::vector<std::u16string>& GetLeftOutRecords() const { return leftOut_; }

 private:
  class BuildState;
  class ChildIndex;

  std::unique_ptr<CIncrementalRestoreQPXFileExtend> MakeRestoreArchive(const CFSObject* chosen) const;

  bool RunBuild(const IGenerationLookup& lookup, BuildState& state);
  void FileCheckChanged(CFSFile& file);
  void ChildFolderChecked(CFolder* folder);
  void ChildFolderUnchecked(CFolder* folder);
  void SetFolderChecked(CFolder& folder, bool state);
  void SettleAncestorOnlyFolders(CRecieveIncrementalRestoreTreeChange* receiver);
  void SettlePresence();
  void ResetTree();
  static void RecalcFolder(CFolder& folder);
  void SettleRoot(CFolder& root);
  // Adds (sign +1) or takes away (-1) a root's totals from the creator's.
  void AddRootTotals(const CFolder& root, int sign);

  // Children of large folders by the hash of their folded names, made while
  // building and kept for FindNode.
  std::unordered_map<const CFolder*, std::unique_ptr<ChildIndex>> indexes_;

  const IGenerationLookup* lookup_ = nullptr;  // not owned
  std::unique_ptr<CFSTree> tree_;
  long selected_ = 0;
  uint64_t totalFileSize_ = 0;
  uint64_t totalStoredSize_ = 0;
  int32_t checkedFiles_ = 0;
  int32_t checkedFolders_ = 0;
  // On: check changes travel up the ancestors. Off while building and
  // inside a folder's own subtree pass.
  bool notify_ = false;
  std::vector<std::u16string> skipped_;
  std::vector<std::u16string> leftOut_;
};

}  // namespace IncrementalBackup
