// The folder-tree adapter: binds the merged tree of a loaded set to the
// folder tree pane's model, and passes on what a generation switch changes.
// The model reads folders, rows and children from the tree itself; a switch
// reaches it as one layout change, and the folders that turn present are
// named only so that their parents keep the rows the pane showed.
#pragma once

#include <string>

#include "app/folder_tree_model.h"
#include "generations/restore_tree.h"

namespace IncrementalBackup {

class CDirTreeCtrl : public CRecieveIncrementalRestoreTreeChange {
 public:
  CDirTreeCtrl(app::FolderTreeModel& model, const CIncrementalRestoreQPXFileExtendCreator* creator);

  // Shows the tree's present folders; false when there is no tree.
  bool Fill();

  void FolderAdded(const std::u16string& path, bool checked) override;
  void FolderRemoved(const std::u16string&) override {}
  void SwitchStarting() override;
  void SwitchFinished() override;
  void Prune() override {}

 private:
  app::FolderTreeModel& model_;
  const CIncrementalRestoreQPXFileExtendCreator* creator_;  // not owned
  // The parent path of the folder added last: its siblings need no lookup.
  std::u16string lastParent_;
  bool haveLastParent_ = false;
};

}  // namespace IncrementalBackup
