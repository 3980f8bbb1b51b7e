#include "app/left_view.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>

namespace app {

CLeftView::CLeftView(QWidget* parent) : QTreeView(parent) {
  setObjectName(QStringLiteral("folderTree"));
  setAccessibleName(QStringLiteral("フォルダ"));
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setIconSize(QSize(16, 16));
  setExpandsOnDoubleClick(true);
}

void CLeftView::SetFolderModel(FolderTreeModel* model) {
  model_ = model;
  setModel(model);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { SelectionMoved(); });
  connect(model, &QAbstractItemModel::modelReset, this, [this] { SelectionMoved(); });
  connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { SelectionMoved(); });
}

QString CLeftView::SelectedFolderPath() const {
  return model_ != nullptr ? FolderTreeModel::PathOf(model_->FolderOf(currentIndex())) : QString();
}

bool CLeftView::SelectFolder(const QString& path) {
  const QModelIndex index = model_ != nullptr ? model_->IndexOf(model_->FindFolder(path)) : QModelIndex();
  if (!index.isValid()) return false;
  scrollTo(index);
  setCurrentIndex(index);
  return true;
}

void CLeftView::SelectFirstWhenNone() {
  if (!currentIndex().isValid() && model_ != nullptr && model_->rowCount() > 0) setCurrentIndex(model_->index(0, 0));
}

void CLeftView::SelectionMoved() { emit FolderShown(SelectedFolderPath()); }

QItemSelectionModel::SelectionFlags CLeftView::selectionCommand(const QModelIndex& index, const QEvent* event) const {
  if (!index.isValid()) return QItemSelectionModel::NoUpdate;
  const QItemSelectionModel::SelectionFlags flags = QTreeView::selectionCommand(index, event);
  if (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) return QItemSelectionModel::ClearAndSelect;
  return flags;
}

void CLeftView::contextMenuEvent(QContextMenuEvent* event) {
  // The menu key acts on the selected item, the mouse on the one under it.
  const bool keyboard = event->reason() == QContextMenuEvent::Keyboard;
  const QModelIndex index = keyboard ? currentIndex() : indexAt(event->pos());
  if (!index.isValid() || contextMenu_ == nullptr) return;  // empty space opens no menu
  setCurrentIndex(index);
  const QRect item = visualRect(index);
  contextMenu_->exec(keyboard ? viewport()->mapToGlobal(item.bottomLeft()) : event->globalPos());
}

}  // namespace app
