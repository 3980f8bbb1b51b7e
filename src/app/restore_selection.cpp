#include "app/restore_selection.h"

#include "app/dir_tree_ctrl.h"
#include "app/qpx_manager_app.h"

namespace app {
namespace {

// Suspends the folder tree's notifications for its lifetime.
class QuietTree {
 public:
  explicit QuietTree(CQPXManagerApp& app) : tree_(app.DirTree()) {
    if (tree_ != nullptr) tree_->SuspendNotifications(true);
  }
  ~QuietTree() {
    if (tree_ != nullptr) tree_->SuspendNotifications(false);
  }

 private:
  IncrementalBackup::CDirTreeCtrl* tree_;
};

}  // namespace

QString EntryPath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return name;
  return folder.endsWith(u'\\') ? folder + name : folder + u'\\' + name;
}

bool MarkForRestore(CQPXManagerApp& app, const QString& folder, const QStringList& names) {
  IncrementalBackup::CBackupSet* set = app.MutableSet();
  if (set == nullptr) return false;
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator = set->Creator();
  bool marked = false;
  {
    QuietTree quiet(app);
    for (const QString& name : names) {
      IncrementalBackup::CFSObject* node = creator.FindNode(EntryPath(folder, name).toStdU16String());
      if (node == nullptr || !node->Exists()) continue;
      creator.SetChecked(*node, true);
      marked = true;
    }
  }
  app.SetCurrentFolder(folder);
  return marked;
}

void UnmarkFolder(CQPXManagerApp& app, const QString& folder) {
  IncrementalBackup::CBackupSet* set = app.MutableSet();
  if (set == nullptr) return;
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator = set->Creator();
  QuietTree quiet(app);
  if (IncrementalBackup::CFSObject* node = creator.FindNode(folder.toStdU16String())) creator.SetChecked(*node, false);
}

}  // namespace app
