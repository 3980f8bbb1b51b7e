// The entries of the folder shown in the file list pane: its files and
// subfolders that are present in the selected generation.
//
// Each entry goes in at its index among all the folder's files (or all its
// subfolders), the way the Windows list control inserted them: an index past
// the end appends. With every entry present the subfolders come before the
// files; where earlier entries are absent, folders and files interleave.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <vector>

#include "app/restore_tree_access.h"

namespace app {

struct ListEntry {
  QString name;
  bool folder = false;
};

// The list a folder shows, in the order described above.
std::vector<ListEntry> FolderListing(const IncrementalBackup::CFolder& folder);

class FileListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit FileListModel(QObject* parent = nullptr);

  void SetTree(RestoreTreeAccess access) { access_ = access; }
  const RestoreTreeAccess& Access() const { return access_; }
  // Shows the folder's entries; an empty path or one the tree does not hold
  // shows nothing.
  void ShowFolder(const QString& path);
  void ClearEntries();

  const std::vector<ListEntry>& Entries() const { return entries_; }
  const ListEntry* EntryAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Every entry can be dragged out (restored into the temporary folder).
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  RestoreTreeAccess access_;
  std::vector<ListEntry> entries_;
};

}  // namespace app
