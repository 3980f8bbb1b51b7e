// The items of the folder tree pane, read straight from the merged tree of
// the selected generation: an index points at the engine's folder node, the
// top-level items are the present drives and an item's children are the
// folder's present subfolders, so parent, row and child counts cost nothing
// and no second tree is kept.
//
// Rows follow the engine's order of present children, except where the
// pane's order differs: the children of the first drive are sorted by name
// after an open, and a folder that returns in a later generation goes after
// its siblings that stayed, as the Windows tree appended it. Those folders
// keep their own row order; every other folder needs none.
#pragma once

#include <QAbstractItemModel>
#include <QString>
#include <memory>
#include <unordered_map>
#include <vector>

#include "generations/restore_tree.h"

namespace app {

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  using CFolder = IncrementalBackup::CFolder;

  explicit FolderTreeModel(QObject* parent = nullptr);
  ~FolderTreeModel() override;

  // Shows the present folders of a tree (null: nothing); one reset.
  void SetTree(const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator* creator);
  void Clear() { SetTree(nullptr); }

  // A generation switch of the shown tree, told as one layout change: the
  // views keep the items they hold (expanded folders, the selection) where
  // those are still present. Between the two calls the tree's rows are
  // those of the last generation; FolderAdded names each folder that turns
  // present, so its parent's rows as the pane showed them are kept first.
  void BeginSwitch();
  void FolderAdded(const CFolder& folder);
  void EndSwitch();

  // Sorts one level of children by name (letter case aside), not below;
  // null sorts the drives.
  void SortChildren(const CFolder* parent);

  // The folder a pane path ("C:\Data") names while it is shown, or null;
  // components are compared without regard to case.
  const CFolder* FindFolder(const QString& path) const;
  // The path of a folder: its names from the drive down, joined with "\".
  static QString PathOf(const CFolder* folder);

  // Null for an invalid index, and an invalid index for a folder not shown.
  const CFolder* FolderOf(const QModelIndex& index) const;
  QModelIndex IndexOf(const CFolder* folder) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

 private:
  // A level's rows where they are not the engine's present order.
  struct Rows {
    std::vector<const CFolder*> order;
    std::unordered_map<const CFolder*, int> row;
    void Index();
  };

  // The engine's present children of a folder (null: the drives).
  const std::vector<CFolder*>& Present(const CFolder* parent) const;
  const Rows* RowsOf(const CFolder* parent) const;
  const CFolder* ChildAt(const CFolder* parent, int row) const;
  int RowOf(const CFolder* folder) const;
  bool Shown(const CFolder* folder) const;
  void KeepRows(const CFolder* parent);

  const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator* creator_ = nullptr;  // not owned
  std::unordered_map<const CFolder*, std::unique_ptr<Rows>> rows_;
  bool switching_ = false;
  // The views' persistent indexes when the switch began, with their folders.
  QModelIndexList switchIndexes_;
  std::vector<const CFolder*> switchFolders_;
};

}  // namespace app
