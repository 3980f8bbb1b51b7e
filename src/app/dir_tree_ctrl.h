// The folder-tree adapter: binds the merged tree of the selected generation
// to the items of the folder tree pane. It fills the items from the tree,
// and receives what a generation switch changes.
#pragma once

#include <QString>
#include <QStringList>

#include "app/folder_tree_model.h"
#include "app/restore_tree_access.h"
#include "generations/restore_tree.h"

namespace IncrementalBackup {

class CDirTreeCtrl : public CRecieveIncrementalRestoreTreeChange, public IRestoreTreeFolderSink {
 public:
  using Item = app::FolderTreeModel::Item;

  CDirTreeCtrl(app::FolderTreeModel& model, const CIncrementalRestoreQPXFileExtendCreator* creator);

  // Empties the items and adds every present folder, in the tree's order,
  // then drops the drives that are absent. Views are told once.
  bool Fill();

  // A switch reports folders and files apart: the folder calls name folders
  // only, so each becomes or stops being an item without asking the tree;
  // files are not items of this pane and their calls are left alone.
  void FolderAdded(const std::u16string& path, bool checked) override;
  void FolderRemoved(const std::u16string& path) override;
  void SwitchStarting() override;
  void SwitchFinished() override;
  void Prune() override;
  bool InsertFolderPath(const std::u16string& path) override;

  // Creates the items a folder path needs, drive first.
  Item* AddPath(const QString& path, bool isFolder);
  // Removes the item of a path, unless it is a top-level item.
  void RemovePath(const QString& path);
  // The item of a path (components compared without regard to case), or null.
  Item* FindItem(const QString& path) const;

  // While a pane marks entries for a restore, switch reports are not items.
  void SuspendNotifications(bool suspended) { suspended_ = suspended; }
  bool NotificationsSuspended() const { return suspended_; }

  const app::RestoreTreeAccess& Access() const { return access_; }

 private:
  Item* Insert(Item* parent, const QString& name, app::FolderTreeModel::Kind kind);
  void ForgetLastParent();

  app::FolderTreeModel& model_;
  app::RestoreTreeAccess access_;
  QStringList lastParentPath_;  // components of the folder most recently added or used as parent
  Item* lastParentItem_ = nullptr;
  bool suspended_ = false;
};

}  // namespace IncrementalBackup
