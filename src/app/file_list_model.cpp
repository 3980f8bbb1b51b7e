#include "app/file_list_model.h"

#include <algorithm>

#include "app/file_icons.h"
#include "app/shown_name.h"

namespace app {
namespace {

void InsertAt(std::vector<ListEntry>& list, size_t position, ListEntry entry) {
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(position, list.size())), std::move(entry));
}

}  // namespace

std::vector<ListEntry> FolderListing(const IncrementalBackup::CFolder& folder) {
  std::vector<ListEntry> list;
  list.reserve(folder.GetFiles().size() + folder.GetFolders().size());
  RestoreTreeAccess::ForEachFile(folder, [&list](size_t i, const TreeChild& child) {
    if (child.present) InsertAt(list, i, ListEntry{child.name, false});
  });
  RestoreTreeAccess::ForEachSubfolder(folder, [&list](size_t i, const TreeChild& child) {
    if (child.present) InsertAt(list, i, ListEntry{child.name, true});
  });
  return list;
}

FileListModel::FileListModel(QObject* parent) : QAbstractListModel(parent) {}

void FileListModel::ShowFolder(const QString& path) {
  beginResetModel();
  entries_.clear();
  if (const IncrementalBackup::CFolder* folder = access_.FindFolder(path)) entries_ = FolderListing(*folder);
  endResetModel();
}

void FileListModel::ClearEntries() {
  beginResetModel();
  entries_.clear();
  endResetModel();
}

const ListEntry* FileListModel::EntryAt(int row) const {
  return row >= 0 && static_cast<size_t>(row) < entries_.size() ? &entries_[static_cast<size_t>(row)] : nullptr;
}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  const ListEntry* entry = EntryAt(index.row());
  if (entry == nullptr) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return ShownName(entry->name);
    case Qt::DecorationRole:
      return entry->folder ? FileIcons::Instance().Folder() : FileIcons::Instance().ForFile(entry->name);
    case Qt::ToolTipRole:
      return entry->folder ? QString() : FileIcons::Instance().TypeName(entry->name);
    default:
      return {};
  }
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractListModel::flags(index);
  if (EntryAt(index.row()) != nullptr) flags |= Qt::ItemIsDragEnabled;
  return flags;
}

}  // namespace app

