#include "app/dir_tree_ctrl.h"

namespace IncrementalBackup {

CDirTreeCtrl::CDirTreeCtrl(app::FolderTreeModel& model, const CIncrementalRestoreQPXFileExtendCreator* creator)
    : model_(model), creator_(creator) {}

bool CDirTreeCtrl::Fill() {
  if (creator_ == nullptr || creator_->GetTree() == nullptr) {
    model_.Clear();
    return false;
  }
  model_.SetTree(creator_);
  return true;
}

void CDirTreeCtrl::FolderAdded(const std::u16string& path, bool) {
  const size_t cut = path.rfind(u'\\');
  // A drive: the drives' rows are kept when the switch starts.
  if (cut == std::u16string::npos) return;
  if (haveLastParent_ && lastParent_.size() == cut && path.compare(0, cut, lastParent_) == 0) return;
  lastParent_.assign(path, 0, cut);
  haveLastParent_ = true;
  const CFSObject* node = creator_->FindNode(path);
  if (node != nullptr && node->IsFolder()) model_.FolderAdded(*static_cast<const CFolder*>(node));
}

void CDirTreeCtrl::SwitchStarting() {
  haveLastParent_ = false;
  model_.BeginSwitch();
}

void CDirTreeCtrl::SwitchFinished() {
  haveLastParent_ = false;
  model_.EndSwitch();
}

}  // namespace IncrementalBackup
