#include "app/folder_tree_model.h"

#include <QStringView>
#include <algorithm>

#include "app/file_icons.h"
#include "app/restore_tree_access.h"
#include "app/shown_name.h"

namespace app {
namespace {

using IncrementalBackup::CFolder;

const std::vector<CFolder*> kNone;

bool NameBefore(const CFolder* a, const CFolder* b) {
  return QStringView(a->GetName()).compare(QStringView(b->GetName()), Qt::CaseInsensitive) < 0;
}

template <class A, class B>
bool SameOrder(const A& a, const B& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

void FolderTreeModel::Rows::Index() {
  row.clear();
  row.reserve(order.size());
  for (size_t i = 0; i < order.size(); ++i) row.emplace(order[i], static_cast<int>(i));
}

FolderTreeModel::FolderTreeModel(QObject* parent) : QAbstractItemModel(parent) {}
FolderTreeModel::~FolderTreeModel() = default;

void FolderTreeModel::SetTree(const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator* creator) {
  beginResetModel();
  creator_ = creator;
  rows_.clear();
  switching_ = false;
  switchIndexes_.clear();
  switchFolders_.clear();
  endResetModel();
}

const std::vector<CFolder*>& FolderTreeModel::Present(const CFolder* parent) const {
  if (parent != nullptr) return parent->GetPresentFolders();
  const IncrementalBackup::CFSTree* tree = creator_ != nullptr ? creator_->GetTree() : nullptr;
  return tree != nullptr ? tree->GetPresentRoots() : kNone;
}

const FolderTreeModel::Rows* FolderTreeModel::RowsOf(const CFolder* parent) const {
  if (rows_.empty()) return nullptr;
  const auto it = rows_.find(parent);
  return it != rows_.end() ? it->second.get() : nullptr;
}

const CFolder* FolderTreeModel::ChildAt(const CFolder* parent, int row) const {
  if (row < 0) return nullptr;
  if (const Rows* rows = RowsOf(parent))
    return static_cast<size_t>(row) < rows->order.size() ? rows->order[static_cast<size_t>(row)] : nullptr;
  const auto& present = Present(parent);
  return static_cast<size_t>(row) < present.size() ? present[static_cast<size_t>(row)] : nullptr;
}

int FolderTreeModel::RowOf(const CFolder* folder) const {
  if (const Rows* rows = RowsOf(folder->GetParent())) {
    const auto it = rows->row.find(folder);
    return it != rows->row.end() ? it->second : -1;
  }
  return folder->GetRow();
}

bool FolderTreeModel::Shown(const CFolder* folder) const {
  if (creator_ == nullptr || folder == nullptr) return false;
  for (; folder != nullptr; folder = folder->GetParent())
    if (folder->GetRow() < 0) return false;
  return true;
}

void FolderTreeModel::BeginSwitch() {
  if (switching_) return;
  switching_ = true;
  // The views save their state as persistent indexes on this signal.
  emit layoutAboutToBeChanged();
  switchIndexes_ = persistentIndexList();
  switchFolders_.clear();
  switchFolders_.reserve(static_cast<size_t>(switchIndexes_.size()));
  for (const QModelIndex& index : switchIndexes_) switchFolders_.push_back(FolderOf(index));
  // A drive that turns present goes after the drives shown.
  KeepRows(nullptr);
}

void FolderTreeModel::FolderAdded(const CFolder& folder) {
  if (switching_) KeepRows(folder.GetParent());
}

void FolderTreeModel::KeepRows(const CFolder* parent) {
  // A folder that was absent shows no rows to keep.
  if (rows_.count(parent) != 0 || (parent != nullptr && !Shown(parent)) || Present(parent).empty()) return;
  auto rows = std::make_unique<Rows>();
  rows->order.assign(Present(parent).begin(), Present(parent).end());
  rows->Index();
  rows_.emplace(parent, std::move(rows));
}

void FolderTreeModel::EndSwitch() {
  if (!switching_) return;
  switching_ = false;
  // The folders that stayed keep their rows, those that came are appended.
  for (auto it = rows_.begin(); it != rows_.end();) {
    Rows& rows = *it->second;
    const auto& present = Present(it->first);
    std::vector<const CFolder*> order;
    order.reserve(present.size());
    if (it->first == nullptr || it->first->GetRow() >= 0) {
      for (const CFolder* child : rows.order)
        if (child->GetRow() >= 0) order.push_back(child);
      for (const CFolder* child : present)
        if (rows.row.count(child) == 0) order.push_back(child);
    }
    if (order.empty() || SameOrder(order, present)) {
      it = rows_.erase(it);
      continue;
    }
    rows.order = std::move(order);
    rows.Index();
    ++it;
  }
  QModelIndexList after;
  after.reserve(switchIndexes_.size());
  for (const CFolder* folder : switchFolders_) after << IndexOf(folder);
  changePersistentIndexList(switchIndexes_, after);
  switchIndexes_.clear();
  switchFolders_.clear();
  emit layoutChanged();
}

void FolderTreeModel::SortChildren(const CFolder* parent) {
  if (parent != nullptr && !Shown(parent)) return;
  emit layoutAboutToBeChanged();
  const QModelIndexList before = persistentIndexList();
  std::vector<const CFolder*> folders;
  folders.reserve(static_cast<size_t>(before.size()));
  for (const QModelIndex& index : before) folders.push_back(FolderOf(index));

  std::vector<const CFolder*> order;
  if (const Rows* rows = RowsOf(parent)) order = rows->order;
  else order.assign(Present(parent).begin(), Present(parent).end());
  std::stable_sort(order.begin(), order.end(), NameBefore);
  if (SameOrder(order, Present(parent))) {
    rows_.erase(parent);
  } else {
    auto rows = std::make_unique<Rows>();
    rows->order = std::move(order);
    rows->Index();
    rows_[parent] = std::move(rows);
  }

  QModelIndexList after;
  after.reserve(before.size());
  for (const CFolder* folder : folders) after << IndexOf(folder);
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

const CFolder* FolderTreeModel::FindFolder(const QString& path) const {
  const CFolder* folder = RestoreTreeAccess(creator_).FindFolder(path);
  return Shown(folder) ? folder : nullptr;
}

QString FolderTreeModel::PathOf(const CFolder* folder) {
  return folder != nullptr ? QString::fromStdU16String(folder->GetPath()) : QString();
}

const CFolder* FolderTreeModel::FolderOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<const CFolder*>(index.internalPointer()) : nullptr;
}

QModelIndex FolderTreeModel::IndexOf(const CFolder* folder) const {
  if (!Shown(folder)) return {};
  const int row = RowOf(folder);
  return row >= 0 ? createIndex(row, 0, const_cast<CFolder*>(folder)) : QModelIndex();
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || creator_ == nullptr || (parent.isValid() && parent.column() != 0)) return {};
  const CFolder* child = ChildAt(FolderOf(parent), row);
  return child != nullptr ? createIndex(row, 0, const_cast<CFolder*>(child)) : QModelIndex();
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  const CFolder* folder = FolderOf(child);
  if (folder == nullptr || folder->GetParent() == nullptr) return {};
  const CFolder* up = folder->GetParent();
  return createIndex(RowOf(up), 0, const_cast<CFolder*>(up));
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (creator_ == nullptr || parent.column() > 0) return 0;
  const CFolder* folder = FolderOf(parent);
  if (const Rows* rows = RowsOf(folder)) return static_cast<int>(rows->order.size());
  return static_cast<int>(Present(folder).size());
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const CFolder* folder = FolderOf(index);
  if (folder == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return ShownName(QStringView(folder->GetName()).toString());
    case Qt::DecorationRole:
      return folder->GetParent() == nullptr ? FileIcons::Instance().Drive() : FileIcons::Instance().Folder();
    default:
      return {};
  }
}

}  // namespace app
