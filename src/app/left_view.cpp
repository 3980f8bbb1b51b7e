#include "app/left_view.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>

namespace app {

CLeftView::CLeftView(QWidget* parent) : QTreeView(parent) {
  setObjectName(QStringLiteral("folderTree"));
  setAccessibleName(QStringLiteral("フォルダ"));
  setModel(&model_);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setIconSize(QSize(16, 16));
  setExpandsOnDoubleClick(true);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { SelectionMoved(); });
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] { SelectionMoved(); });
  connect(&model_, &QAbstractItemModel::rowsRemoved, this, [this] { SelectionMoved(); });
}

QString CLeftView::SelectedFolderPath() const {
  return FolderTreeModel::PathOf(model_.ItemOf(currentIndex()));
}

bool CLeftView::SelectFolder(const QString& path) {
  FolderTreeModel::Item* item = model_.Root();
  for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
    item = FolderTreeModel::Child(item, part);
    if (item == nullptr) return false;
  }
  if (item == model_.Root()) return false;
  const QModelIndex index = model_.IndexOf(item);
  scrollTo(index);
  setCurrentIndex(index);
  return true;
}

void CLeftView::SelectFirstWhenNone() {
  if (!currentIndex().isValid() && model_.rowCount() > 0) setCurrentIndex(model_.index(0, 0));
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
