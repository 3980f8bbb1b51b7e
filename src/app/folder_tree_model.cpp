#include "app/folder_tree_model.h"

#include <algorithm>

#include "app/file_icons.h"
#include "app/shown_name.h"

namespace app {

FolderTreeModel::FolderTreeModel(QObject* parent) : QAbstractItemModel(parent) {}
FolderTreeModel::~FolderTreeModel() = default;

FolderTreeModel::Item* FolderTreeModel::Append(Item* parent, const QString& name, Kind kind) {
  const int row = static_cast<int>(parent->children.size());
  if (!Quiet()) beginInsertRows(IndexOf(parent), row, row);
  auto item = std::make_unique<Item>();
  item->name = name;
  item->kind = kind;
  item->parent = parent;
  item->row = row;
  Item* raw = item.get();
  parent->children.push_back(std::move(item));
  if (!Quiet()) endInsertRows();
  return raw;
}

void FolderTreeModel::Remove(Item* item) {
  Item* parent = item->parent;
  if (parent == nullptr) return;
  const int row = item->row;
  if (batch_ > 0 && !batchItems_.empty()) {
    std::vector<const Item*> todo{item};
    while (!todo.empty()) {
      const Item* gone = todo.back();
      todo.pop_back();
      batchRemoved_.insert(gone);
      for (const auto& child : gone->children) todo.push_back(child.get());
    }
  }
  if (!Quiet()) beginRemoveRows(IndexOf(parent), row, row);
  parent->children.erase(parent->children.begin() + row);
  for (size_t i = static_cast<size_t>(row); i < parent->children.size(); ++i) parent->children[i]->row = static_cast<int>(i);
  if (!Quiet()) endRemoveRows();
}

void FolderTreeModel::Clear() {
  if (bulk_ == 0) beginResetModel();
  root_.children.clear();
  if (bulk_ == 0) endResetModel();
}

void FolderTreeModel::SortChildren(Item* parent) {
  if (!Quiet()) emit layoutAboutToBeChanged();
  const QModelIndexList before = !Quiet() ? persistentIndexList() : QModelIndexList();
  std::vector<const Item*> items;
  for (const QModelIndex& index : before) items.push_back(ItemOf(index));
  std::stable_sort(parent->children.begin(), parent->children.end(), [](const auto& a, const auto& b) {
    return QString::compare(a->name, b->name, Qt::CaseInsensitive) < 0;
  });
  for (size_t i = 0; i < parent->children.size(); ++i) parent->children[i]->row = static_cast<int>(i);
  if (!Quiet()) {
    for (qsizetype i = 0; i < before.size(); ++i) changePersistentIndex(before[i], IndexOf(items[static_cast<size_t>(i)]));
    emit layoutChanged();
  }
}

FolderTreeModel::Item* FolderTreeModel::Child(const Item* parent, const QString& name) {
  for (const auto& child : parent->children)
    if (child->name.compare(name, Qt::CaseInsensitive) == 0) return child.get();
  return nullptr;
}

void FolderTreeModel::BeginBulk() {
  if (bulk_++ == 0) beginResetModel();
}

void FolderTreeModel::EndBulk() {
  if (--bulk_ == 0) endResetModel();
}

void FolderTreeModel::BeginLayoutBatch() {
  if (batch_++ > 0 || bulk_ > 0) return;
  // The views save their state as persistent indexes on this signal.
  emit layoutAboutToBeChanged();
  batchIndexes_ = persistentIndexList();
  batchItems_.clear();
  for (const QModelIndex& index : batchIndexes_) batchItems_.push_back(ItemOf(index));
}

void FolderTreeModel::EndLayoutBatch() {
  if (--batch_ > 0 || bulk_ > 0) return;
  for (qsizetype i = 0; i < batchIndexes_.size(); ++i) {
    const Item* item = batchItems_[static_cast<size_t>(i)];
    changePersistentIndex(batchIndexes_[i], batchRemoved_.count(item) ? QModelIndex() : IndexOf(item));
  }
  batchIndexes_.clear();
  batchItems_.clear();
  batchRemoved_.clear();
  emit layoutChanged();
}

QString FolderTreeModel::PathOf(const Item* item) {
  QStringList names;
  for (; item != nullptr && item->parent != nullptr; item = item->parent) names.prepend(item->name);
  return names.join(u'\\');
}

QModelIndex FolderTreeModel::IndexOf(const Item* item) const {
  if (item == nullptr || item == &root_) return {};
  return createIndex(item->row, 0, const_cast<Item*>(item));
}

FolderTreeModel::Item* FolderTreeModel::ItemOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Item*>(index.internalPointer()) : nullptr;
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const Item* p = parent.isValid() ? ItemOf(parent) : &root_;
  if (column != 0 || row < 0 || static_cast<size_t>(row) >= p->children.size()) return {};
  return createIndex(row, 0, p->children[static_cast<size_t>(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  const Item* item = ItemOf(child);
  return item != nullptr ? IndexOf(item->parent) : QModelIndex();
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  const Item* p = parent.isValid() ? ItemOf(parent) : &root_;
  return static_cast<int>(p->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const Item* item = ItemOf(index);
  if (item == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return ShownName(item->name);
    case Qt::DecorationRole:
      if (item->kind == Kind::Drive) return FileIcons::Instance().Drive();
      if (item->kind == Kind::File) return FileIcons::Instance().ForFile(item->name);
      return FileIcons::Instance().Folder();
    default:
      return {};
  }
}

}  // namespace app
