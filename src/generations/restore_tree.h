// The merged tree of a backup set: one node for every folder and file that
// any generation recorded, each with its history, showing its state as of
// the selected generation, and the user's check marks with running totals.
//
// Nodes are kept small because a set may record millions of files: the
// payload lives inside its node, and the per-update arrays hold one element
// without a heap block. No operation recurses along the depth of the tree,
// so paths of thousands of components cost heap, not stack.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <string>
#include <string_view>
#include <vector>

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
  using Updates = std::vector<QPMFile::CQPMUpdateContents>;

  // The updates stay owned by the management record.
  void Attach(const Updates* updates) { updates_ = updates; }
  const Updates* GetUpdates() const { return updates_; }
  bool HasUpdates() const { return updates_ != nullptr && !updates_->empty(); }

  // The merge rule: the update of the latest generation at or before g
  // applies (of several with one generation, the first); the node exists
  // when there is one and it is not a removal. False, changing nothing,
  // without updates or for a negative g.
  bool SelectGeneration(long g);

  bool Exists() const { return exists_; }
  // Only for nodes whose presence follows their children.
  void SetExists(bool exists) { exists_ = exists; }
  int32_t GetSelectedGeneration() const { return selected_; }
  int32_t GetApplyingIndex() const { return applying_; }

 private:
  const Updates* updates_ = nullptr;
  int32_t selected_ = -1;
  int32_t applying_ = -1;
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
  uint32_t GetEntryCount() const { return entries_.size(); }
  QPXFile::IQPXBackupedFile* GetEntry(uint32_t i) const { return i < entries_.size() ? entries_[i] : nullptr; }

 private:
  friend class CIncrementalRestoreQPXFileExtendCreator;
  friend class CSwitchGenerationOperator;

  CGenerationInfo generation_;
  bool checked_ = false;
  CSmallArray<QPXFile::IQPXBackupedFile*> entries_;  // one per update, not owned
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

// A node: one path component below its parent folder.
class CFSObject {
 public:
  CFSObject(const CFSObject&) = delete;
  CFSObject& operator=(const CFSObject&) = delete;
  virtual ~CFSObject() = default;
  // Detaches (does not destroy) a child; false when it is not one.
  virtual bool RemoveChild(CFSObject* child) = 0;
  virtual bool AddChild(CFSObject* child) = 0;
  virtual bool IsFolder() const = 0;

  const std::u16string& GetName() const { return name_; }
  CFolder* GetParent() const { return parent_; }
  bool IsRegistered() const { return registered_; }
  bool Exists() const;
  // The names of the node and its ancestors joined with backslashes.
  std::u16string GetPath() const;

 protected:
  CFSObject(std::u16string name, CFolder* parent) : name_(std::move(name)), parent_(parent) {}

  std::u16string name_;
  CFolder* parent_;
  bool registered_ = false;

  friend class CFolder;
};

class CFSFile final : public CFSObject {
 public:
  // Registers with `parent` when there is one.
  CFSFile(std::u16string name, CFolder* parent);
  ~CFSFile() override;
  bool RemoveChild(CFSObject*) override { return false; }
  bool AddChild(CFSObject*) override { return false; }
  bool IsFolder() const override { return false; }

  CIncrementalRestoreTreeFileData& GetData() { return data_; }
  const CIncrementalRestoreTreeFileData& GetData() const { return data_; }

 private:
  CIncrementalRestoreTreeFileData data_;
};

class CFolder final : public CFSObject {
 public:
  CFolder(std::u16string name, CFolder* parent);
  // Destroys the whole subtree without recursing along its depth.
  ~CFolder() override;
  bool RemoveChild(CFSObject* child) override;
  bool AddChild(CFSObject* child) override;
  bool IsFolder() const override { return true; }

  // New children, owned by this folder, appended in order.
  CFSFile* AddFile(std::u16string name);
  CFolder* AddFolder(std::u16string name);

  const std::vector<CFSFile*>& GetFiles() const { return files_; }
  const std::vector<CFolder*>& GetFolders() const { return folders_; }
  // By name, ignoring case: files first, then folders, each from the last.
  CFSObject* FindChild(std::u16string_view name) const;
  CFolder* FindFolder(std::u16string_view name) const;
  CFSFile* FindFile(std::u16string_view name) const;
  bool HasExistingChild() const;

  CIncrementalRestoreTreeFolderData& GetData() { return data_; }
  const CIncrementalRestoreTreeFolderData& GetData() const { return data_; }

 private:
  std::vector<CFSFile*> files_;     // owned
  std::vector<CFolder*> folders_;   // owned
  CIncrementalRestoreTreeFolderData data_;
};

class CFSTreeOperator;

class CFSTree {
 public:
  CFSTree() = default;
  CFSTree(const CFSTree&) = delete;
  CFSTree& operator=(const CFSTree&) = delete;
  // Destroys the roots from the last to the first.
  ~CFSTree();

  CFolder* AddRoot(std::u16string name);
  // Ignoring case, from the last root.
  CFolder* FindRoot(std::u16string_view name) const;
  const std::vector<CFolder*>& GetRoots() const { return roots_; }
  // The node a path names (drive first), or null; a path that runs into a
  // file before its last component names nothing.
  CFSObject* Find(std::u16string_view path) const;

  // Visits each root's files, then each subfolder in order with its own
  // walk after it; roots themselves are never passed to VisitFolder. The
  // first false ends the traversal with false.
  bool Traverse(CFSTreeOperator& op) const;

 private:
  std::vector<CFolder*> roots_;  // owned
};

class CFSTreeOperator {
 public:
  virtual ~CFSTreeOperator() = default;
  virtual bool VisitFile(CFSFile& file, CIncrementalRestoreTreeFileData& data) = 0;
  virtual bool VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) = 0;
};

// Told what a generation switch changed (the folder tree pane implements it).
class CRecieveIncrementalRestoreTreeChange {
 public:
  virtual ~CRecieveIncrementalRestoreTreeChange() = default;
  virtual void FolderAdded(const std::u16string& path, bool checked) = 0;
  virtual void FolderRemoved(const std::u16string& path) = 0;
  virtual void Prune() = 0;
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
class CRegisterToQPXOperator : public CFSTreeOperator {
 public:
  explicit CRegisterToQPXOperator(CIncrementalRestoreQPXFileExtend& archive) : archive_(archive) {}
  bool VisitFile(CFSFile& file, CIncrementalRestoreTreeFileData& data) override;
  bool VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) override;

 private:
  CIncrementalRestoreQPXFileExtend& archive_;
};

// Builds and owns the tree of one backup set.
class CIncrementalRestoreQPXFileExtendCreator : public CProgressInformable {
 public:
  CIncrementalRestoreQPXFileExtendCreator();
  ~CIncrementalRestoreQPXFileExtendCreator() override;

  // Builds the tree from the lookup's management data; the lookup must
  // outlive this object. On failure error 158 goes to the sink and no tree
  // is left.
  bool Build(const IGenerationLookup& lookup);
  // g within 0 .. generation count - 1.
  bool SwitchGeneration(long g, CRecieveIncrementalRestoreTreeChange* receiver = nullptr);
  // Totals go stale; call RecalcTotals afterwards.
  void SetChecked(std::u16string_view path, bool state);
  bool RecalcTotals();
  // A new archive of the checked nodes as they stand in the selected
  // generation, owned by the caller; null on failure.
  std::unique_ptr<CIncrementalRestoreQPXFileExtend> CreateRestoreArchive() const;

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

 private:
  class BuildState;

  bool RunBuild(const IGenerationLookup& lookup, BuildState& state);
  void FileCheckChanged(CFSFile& file);
  void ChildFolderChecked(CFolder* folder);
  void ChildFolderUnchecked(CFolder* folder);
  void SetFolderChecked(CFolder& folder, bool state);
  void SettleAncestorOnlyFolders(CRecieveIncrementalRestoreTreeChange* receiver);

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
};

}  // namespace IncrementalBackup
