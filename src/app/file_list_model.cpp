#include "app/file_list_model.h"

#include <QCollator>
#include <QDateTime>
#include <algorithm>
#include <numeric>

#include "app/file_icons.h"
#include "app/shown_name.h"
#include "app/time_text.h"
#include "generations/set_history.h"

namespace app {
namespace {

using IncrementalBackup::CFolder;
using IncrementalBackup::CFSFile;
using IncrementalBackup::NodeChange;

void InsertAt(std::vector<ListEntry>& list, size_t position, ListEntry entry) {
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(position, list.size())), entry);
}

const CFSFile& AsFile(const ListEntry& entry) { return static_cast<const CFSFile&>(*entry.node); }
const CFolder& AsFolder(const ListEntry& entry) { return static_cast<const CFolder&>(*entry.node); }

uint64_t FileSize(const ListEntry& entry) { return entry.folder ? 0 : AsFile(entry).GetData().GetFileSize(); }

uint64_t ModifiedTime(const ListEntry& entry) {
  if (entry.folder) {
    IncrementalBackup::CAttributes attributes;
    return AsFolder(entry).GetData().GetCurrentAttributes(attributes) ? attributes.LastWriteTime : 0;
  }
  const QPXFile::IQPXBackupedFile* current = AsFile(entry).GetData().GetCurrentEntry();
  return current != nullptr && current->GetHeader() != nullptr ? current->GetHeader()->GetLastWriteTime() : 0;
}

}  // namespace

QString KilobyteText(uint64_t bytes) {
  QString digits = QString::number(bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0));
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, u',');
  return digits + QStringLiteral(" KB");
}

std::vector<ListEntry> FolderListing(const CFolder& folder) {
  std::vector<ListEntry> list;
  list.reserve(folder.GetPresentFiles().size() + folder.GetPresentFolders().size());
  // The present children in order, each at its index among all of its kind.
  for (const CFSFile* file : folder.GetPresentFiles()) InsertAt(list, file->GetIndex(), ListEntry{file, false});
  for (const CFolder* sub : folder.GetPresentFolders()) InsertAt(list, sub->GetIndex(), ListEntry{sub, true});
  return list;
}

QString FileListModel::ColumnTitle(int column) {
  switch (column) {
    case kName: return QStringLiteral("名前");
    case kSize: return QStringLiteral("サイズ");
    case kModified: return QStringLiteral("更新日時");
    case kType: return QStringLiteral("種類");
    case kState: return QStringLiteral("状態");
    default: return {};
  }
}

FileListModel::FileListModel(QObject* parent) : QAbstractListModel(parent) {}

void FileListModel::ShowFolder(const QString& path) {
  beginResetModel();
  entries_.clear();
  folderPath_ = path;
  if (const CFolder* folder = access_.FindFolder(path)) entries_ = FolderListing(*folder);
  SortEntries();
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

QString FileListModel::SizeText(const ListEntry& entry) const {
  return entry.folder ? QString() : KilobyteText(FileSize(entry));
}

QString FileListModel::ModifiedText(const ListEntry& entry) const {
  // 0: no time recorded (a folder without attributes in this generation).
  const uint64_t time = ModifiedTime(entry);
  return time != 0 ? ShortDateTimeText(LocalDateTime(time)) : QString();
}

QString FileListModel::TypeText(const ListEntry& entry) const {
  return entry.folder ? QStringLiteral("フォルダ") : FileIcons::Instance().TypeName(entry.Name());
}

QString FileListModel::StateText(const ListEntry& entry) const {
  const long g = access_.Generation();
  switch (IncrementalBackup::CompareNode(*entry.node, g - 1, g)) {
    case NodeChange::kAdded: return QStringLiteral("追加");
    case NodeChange::kChanged: return QStringLiteral("変更");
    case NodeChange::kUnchanged: return QStringLiteral("変更なし");
    default: return {};
  }
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
    case kColumnTextRole + kName:
      return ShownName(entry->Name());
    case Qt::DecorationRole:
      return entry->folder ? FileIcons::Instance().Folder() : FileIcons::Instance().ForFile(entry->Name());
    case Qt::ToolTipRole:
      // The whole name, which a large icon's label may cut, and the type.
      return entry->folder ? ShownName(entry->Name())
                           : ShownName(entry->Name()) + u'\n' + FileIcons::Instance().TypeName(entry->Name());
    case kColumnTextRole + kSize:
      return SizeText(*entry);
    case kColumnTextRole + kModified:
      return ModifiedText(*entry);
    case kColumnTextRole + kType:
      return TypeText(*entry);
    case kColumnTextRole + kState:
      return StateText(*entry);
    default:
      return {};
  }
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractListModel::flags(index);
  if (EntryAt(index.row()) != nullptr) flags |= Qt::ItemIsDragEnabled;
  return flags;
}

void FileListModel::sort(int column, Qt::SortOrder order) {
  if (column >= kColumnCount) return;
  sortColumn_ = column;
  sortOrder_ = order;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<const IncrementalBackup::CFSObject*> nodes;
  for (const QModelIndex& index : before) nodes.push_back(entries_[static_cast<size_t>(index.row())].node);
  if (column < 0) {
    // The folder's own order, as first shown.
    if (const CFolder* folder = access_.FindFolder(folderPath_)) entries_ = FolderListing(*folder);
  } else {
    SortEntries();
  }
  QModelIndexList after;
  for (const IncrementalBackup::CFSObject* node : nodes) {
    const auto it = std::find_if(entries_.begin(), entries_.end(), [node](const ListEntry& e) { return e.node == node; });
    after << (it != entries_.end() ? index(static_cast<int>(it - entries_.begin())) : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::SortEntries() {
  if (sortColumn_ < 0 || entries_.empty()) return;
  // Keys once per entry: a folder of many thousand files is sorted in a blink.
  struct Key {
    ListEntry entry;
    QString text;
    uint64_t number = 0;
  };
  std::vector<Key> keys;
  keys.reserve(entries_.size());
  for (const ListEntry& entry : entries_) {
    Key key{entry, entry.Name(), 0};
    if (sortColumn_ == kSize) key.number = FileSize(entry);
    else if (sortColumn_ == kModified) key.number = ModifiedTime(entry);
    else if (sortColumn_ == kType) key.text = TypeText(entry) + u'\0' + key.text;
    else if (sortColumn_ == kState) key.text = StateText(entry) + u'\0' + key.text;
    keys.push_back(std::move(key));
  }
  QCollator collator;
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  const bool descending = sortOrder_ == Qt::DescendingOrder;
  std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    if (a.entry.folder != b.entry.folder) return a.entry.folder;
    if (a.number != b.number) return descending ? a.number > b.number : a.number < b.number;
    const int c = collator.compare(a.text, b.text);
    return descending ? c > 0 : c < 0;
  });
  for (size_t i = 0; i < keys.size(); ++i) entries_[i] = keys[i].entry;
}

}  // namespace app
