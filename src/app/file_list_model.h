// The entries of the folder shown in the file list pane: its files and
// subfolders that are present in the selected generation.
//
// Each entry goes in at its index among all the folder's files (or all its
// subfolders), the way the Windows list control inserted them: an index past
// the end appends. With every entry present the subfolders come before the
// files; where earlier entries are absent, folders and files interleave.
//
// The entries are the tree's own nodes: the columns of the details view
// (size, modified time, type, change since the previous generation) are read
// from them when shown. A sort by a column reorders the entries until the
// sort is taken back (column -1), and holds for every folder shown after.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <vector>

#include "app/restore_tree_access.h"

namespace app {

struct ListEntry {
  const IncrementalBackup::CFSObject* node = nullptr;  // the tree's, not owned
  bool folder = false;
  QString Name() const { return QStringView(node->GetName()).toString(); }
};

// The list a folder shows, in the order described above.
std::vector<ListEntry> FolderListing(const IncrementalBackup::CFolder& folder);

// "1,235 KB": the size in kibibytes, rounded up, with comma groups.
QString KilobyteText(uint64_t bytes);

// One column per entry for the list views, the details view's texts by role.
class FileListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  enum Column { kName, kSize, kModified, kType, kState, kColumnCount };
  // The text of column c is data(index, kColumnTextRole + c).
  static constexpr int kColumnTextRole = Qt::UserRole + 1;
  // The headers' texts ("名前", "サイズ" ...).
  static QString ColumnTitle(int column);

  explicit FileListModel(QObject* parent = nullptr);

  void SetTree(RestoreTreeAccess access) { access_ = access; }
  const RestoreTreeAccess& Access() const { return access_; }
  // Shows the folder's entries; an empty path or one the tree does not hold
  // shows nothing.
  void ShowFolder(const QString& path);
  void ClearEntries();

  const std::vector<ListEntry>& Entries() const { return entries_; }
  const ListEntry* EntryAt(int row) const;

  // The details view's texts of one entry.
  QString SizeText(const ListEntry& entry) const;
  QString ModifiedText(const ListEntry& entry) const;
  QString TypeText(const ListEntry& entry) const;
  // "追加", "変更" or "変更なし" against the previous generation; empty
  // where the tree cannot tell (a folder no record names).
  QString StateText(const ListEntry& entry) const;

  int SortColumn() const { return sortColumn_; }
  Qt::SortOrder SortOrder() const { return sortOrder_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Every entry can be dragged out (restored into the temporary folder).
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // By a details column; folders stay before files; -1 takes the sort back.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  void SortEntries();

  RestoreTreeAccess access_;
  std::vector<ListEntry> entries_;
  QString folderPath_;
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace app
