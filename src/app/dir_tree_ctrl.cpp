#include "app/dir_tree_ctrl.h"

namespace IncrementalBackup {
namespace {

using Kind = app::FolderTreeModel::Kind;

QStringList Components(const QString& path) { return path.split(u'\\', Qt::SkipEmptyParts); }

}  // namespace

CDirTreeCtrl::CDirTreeCtrl(app::FolderTreeModel& model, const CIncrementalRestoreQPXFileExtendCreator* creator)
    : model_(model), access_(creator) {}

bool CDirTreeCtrl::Fill() {
  model_.BeginBulk();
  model_.Clear();
  ForgetLastParent();
  const bool walked = access_.VisitPresentFolders(*this);
  if (walked) Prune();
  model_.EndBulk();
  return walked;
}

bool CDirTreeCtrl::InsertFolderPath(const std::u16string& path) {
  return AddPath(QString::fromStdU16String(path), true) != nullptr;
}

void CDirTreeCtrl::FolderAdded(const std::u16string& path, bool) {
  if (!suspended_) AddPath(QString::fromStdU16String(path), true);
}

void CDirTreeCtrl::FolderRemoved(const std::u16string& path) {
  if (!suspended_) RemovePath(QString::fromStdU16String(path));
}

void CDirTreeCtrl::SwitchStarting() {
  // A switch may add and remove thousands of folders: the pane hears them
  // as one change when the switch has settled.
  ForgetLastParent();
  model_.BeginLayoutBatch();
}

void CDirTreeCtrl::SwitchFinished() {
  ForgetLastParent();
  model_.EndLayoutBatch();
}

void CDirTreeCtrl::Prune() {
  std::vector<app::TreeChild> roots;
  access_.ForEachRoot([&roots](const app::TreeChild& root) { roots.push_back(root); });
  // A drive that a switch made present through files in its root alone.
  for (const app::TreeChild& root : roots) {
    if (root.present && FindItem(root.name) == nullptr) {
      ForgetLastParent();
      AddPath(root.name, true);
    }
  }
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) {
    if (it->present) continue;
    if (Item* item = FindItem(it->name)) {
      ForgetLastParent();
      model_.Remove(item);
    }
  }
}

CDirTreeCtrl::Item* CDirTreeCtrl::Insert(Item* parent, const QString& name, Kind kind) {
  return model_.Append(parent, name, kind);
}

CDirTreeCtrl::Item* CDirTreeCtrl::AddPath(const QString& path, bool isFolder) {
  const QStringList parts = Components(path);
  if (parts.isEmpty()) return nullptr;

  // Filling in tree order adds each folder below the one added just before.
  if (lastParentItem_ != nullptr && parts.size() == lastParentPath_.size() + 1 &&
      std::equal(lastParentPath_.begin(), lastParentPath_.end(), parts.begin())) {
    Item* item = Insert(lastParentItem_, parts.last(), isFolder ? Kind::Folder : Kind::File);
    if (isFolder) {
      lastParentPath_ = parts;
      lastParentItem_ = item;
    }
    return item;
  }

  Item* item = model_.Root();
  for (qsizetype i = 0; i < parts.size(); ++i) {
    Item* child = app::FolderTreeModel::Child(item, parts[i]);
    if (child == nullptr) {
      const Kind kind = i == 0 ? Kind::Drive : (i == parts.size() - 1 && !isFolder ? Kind::File : Kind::Folder);
      child = Insert(item, parts[i], kind);
    }
    item = child;
  }
  if (isFolder) {
    lastParentPath_ = parts;
    lastParentItem_ = item;
  } else {
    lastParentPath_ = parts.mid(0, parts.size() - 1);
    lastParentItem_ = item->parent;
  }
  return item;
}

void CDirTreeCtrl::RemovePath(const QString& path) {
  Item* item = FindItem(path);
  if (item == nullptr || item->parent == model_.Root()) return;
  ForgetLastParent();
  model_.Remove(item);
}

CDirTreeCtrl::Item* CDirTreeCtrl::FindItem(const QString& path) const {
  const QStringList parts = Components(path);
  if (parts.isEmpty()) return nullptr;
  const Item* item = model_.Root();
  for (const QString& part : parts) {
    item = app::FolderTreeModel::Child(item, part);
    if (item == nullptr) return nullptr;
  }
  return const_cast<Item*>(item);
}

void CDirTreeCtrl::ForgetLastParent() {
  lastParentPath_.clear();
  lastParentItem_ = nullptr;
}

}  // namespace IncrementalBackup
