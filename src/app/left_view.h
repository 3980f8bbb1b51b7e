// The folder tree pane: one top-level item per backed-up drive and the
// folders below it; selecting a folder shows its entries in the list pane.
// It shows the folder model the application object owns.
#pragma once

#include <QTreeView>

#include "app/folder_tree_model.h"

class QMenu;

namespace app {

class CLeftView : public QTreeView {
  Q_OBJECT

 public:
  explicit CLeftView(QWidget* parent = nullptr);

  // Shows the model, which outlives the view.
  void SetFolderModel(FolderTreeModel* model);
  FolderTreeModel& Model() { return *model_; }
  // The selected folder's path ("C:\Data"), or empty.
  QString SelectedFolderPath() const;
  // Selects the item of a path; false when there is none.
  bool SelectFolder(const QString& path);
  // Selects the first top-level item when nothing is selected.
  void SelectFirstWhenNone();
  // The context menu (open, restore, properties), built by the frame.
  void SetContextMenu(QMenu* menu) { contextMenu_ = menu; }

 signals:
  // The folder to show in the list pane (empty: show nothing).
  void FolderShown(const QString& path);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // The highlighted folder is always the current one, which the restore
  // command acts on: empty space, or Ctrl on the selected folder, selects
  // nothing away.
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index, const QEvent* event) const override;

 private:
  void SelectionMoved();

  FolderTreeModel* model_ = nullptr;  // not owned
  QMenu* contextMenu_ = nullptr;
};

}  // namespace app
