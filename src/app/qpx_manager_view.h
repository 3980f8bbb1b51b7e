// The file list pane: the entries of the folder the tree pane shows, in
// large icons, small icons or a list.
#pragma once

#include <QListView>

#include "app/file_list_model.h"

class QMenu;

namespace app {

class CQPXManagerView : public QListView {
  Q_OBJECT

 public:
  enum class Mode { LargeIcons, SmallIcons, List };

  explicit CQPXManagerView(QWidget* parent = nullptr);

  FileListModel& Model() { return model_; }
  // Fills the list with the folder's entries and makes it the current folder.
  bool ShowFolder(const QString& path);
  const QString& CurrentFolder() const { return currentFolder_; }
  void SetViewMode(Mode mode);
  Mode GetViewMode() const { return mode_; }
  void SelectAll();
  // The selected entries' names, in the list's order.
  QStringList SelectedNames() const;
  void SetContextMenu(QMenu* menu) { contextMenu_ = menu; }

 signals:
  // A folder entry was opened: the tree pane selects it.
  void FolderOpened(const QString& path);
  // Two or more entries were opened at once: they are restored.
  void RestoreRequested();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Open(const QModelIndex& index);

  FileListModel model_;
  QString currentFolder_;
  Mode mode_ = Mode::LargeIcons;
  QMenu* contextMenu_ = nullptr;
};

}  // namespace app
