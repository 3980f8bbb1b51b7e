// The file list pane: the entries of the folder the tree pane shows, in
// large icons, small icons, a list, or details: one row per entry with the
// columns of a header above it, drawn by the same view so that selection,
// dragging, the context menu and the keys stay one widget's.
#pragma once

#include <QDrag>
#include <QListView>
#include <QPointer>
#include <functional>

#include "app/file_list_model.h"
#include "app/temporary_restore.h"

class QHeaderView;
class QMenu;

namespace app {

class CQPXDataObject;
class DetailsDelegate;

class CQPXManagerView : public QListView {
  Q_OBJECT

 public:
  enum class Mode { LargeIcons, SmallIcons, List, Details };

  explicit CQPXManagerView(QWidget* parent = nullptr);

  // Shows the model, which outlives the view.
  void SetListModel(FileListModel* model);
  FileListModel& Model() { return *model_; }
  // Fills the list with the folder's entries and makes it the current folder.
  bool ShowFolder(const QString& path);
  const QString& CurrentFolder() const { return currentFolder_; }
  void SetViewMode(Mode mode);
  Mode GetViewMode() const { return mode_; }
  void SelectAll();
  // The details view's column header (hidden in the other modes).
  QHeaderView* Header() const { return header_; }
  // Sorts by a column as a click on its header does (again: the other
  // way round); -1: the folder's own order.
  void SortBy(int column);
  QList<int> ColumnWidths() const;
  void SetColumnWidths(const QList<int>& widths);
  // The user has resized a column since the widths were set.
  bool ColumnsResized() const { return columnsResized_; }
  // For the status bar: the folder's counts, and the selection's with its size.
  QString FolderStatusText() const;
  QString SelectionStatusText() const;
  // The selected entries' names, in the list's order.
  QStringList SelectedNames() const;
  // Selects the entries of these names, and no other.
  void SelectNames(const QStringList& names);
  // The name of the one entry selected when it is a file; empty otherwise.
  QString SelectedFile() const;
  void SetContextMenu(QMenu* menu) { contextMenu_ = menu; }

  // Captures entries of a pane folder as they are now, with the host
  // folder they will be restored into.
  using CaptureEntries = std::function<TemporaryEntries(QString folder, QStringList names)>;
  // Restores captured entries into the temporary restore folder, quietly
  // (hidden, no error boxes) or with the restore window shown; true when
  // they are all there.
  using TemporaryRestore = std::function<bool(const TemporaryEntries& entries, bool quiet)>;
  void SetTemporaryRestore(CaptureEntries capture, TemporaryRestore restore);
  // The host folder the entries of the folder shown are restored into.
  QString RestoreFolder() const { return capture_ ? capture_(currentFolder_, {}).copyFolder : QString(); }

  // Open: two or more entries start a restore, a folder opens in the tree,
  // a file is restored quietly and opened with the desktop's application.
  void OpenSelection();

  // The data a drag of the selected entries offers; null without a selection.
  CQPXDataObject* MakeDragData();
  // Copy: the selected entries go on the clipboard as files, restored when
  // a program pastes them. False without a selection.
  bool CopySelection();
  // A drag started here has not been let go yet.
  bool IsDragging() const { return dragging_; }
  // The drag object of the last drag, kept after exec() because the
  // target fetches the data later.
  QDrag* LastDrag() const { return drag_; }
  // Drags the selected entries out as a press on them would.
  void DragSelection() { startDrag(Qt::CopyAction | Qt::MoveAction); }

 signals:
  // A folder entry was opened: the tree pane selects it.
  void FolderOpened(const QString& path);
  // Open with several entries selected: restore them.
  void RestoreRequested();
  // The folder shown or the selection changed.
  void StatusChanged();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // Row order of the selected rows.
  QModelIndexList SelectedRows() const;

  FileListModel* model_ = nullptr;  // not owned
  QHeaderView* header_;
  DetailsDelegate* delegate_;
  bool columnsResized_ = false;
  QString currentFolder_;
  Mode mode_ = Mode::LargeIcons;
  QMenu* contextMenu_ = nullptr;
  CaptureEntries capture_;
  TemporaryRestore temporaryRestore_;
  bool dragging_ = false;
  // Qt may delete a drag itself once its target has finished with it.
  QPointer<QDrag> drag_;
};

}  // namespace app
