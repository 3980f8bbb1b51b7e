#include "app/qpx_manager_view.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>

namespace app {

CQPXManagerView::CQPXManagerView(QWidget* parent) : QListView(parent) {
  setObjectName(QStringLiteral("fileList"));
  setAccessibleName(QStringLiteral("ファイル"));
  setModel(&model_);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setDragEnabled(false);
  setUniformItemSizes(true);
  SetViewMode(Mode::LargeIcons);
  connect(this, &QListView::activated, this, &CQPXManagerView::Open);
}

bool CQPXManagerView::ShowFolder(const QString& path) {
  model_.ShowFolder(path);
  if (!path.isEmpty()) currentFolder_ = path;
  return true;
}

void CQPXManagerView::SetViewMode(Mode mode) {
  mode_ = mode;
  // Switching keeps the selection: only the presentation changes.
  switch (mode) {
    case Mode::LargeIcons:
      QListView::setViewMode(QListView::IconMode);
      setIconSize(QSize(32, 32));
      setGridSize(QSize(96, 72));
      setFlow(QListView::LeftToRight);
      setWrapping(true);
      setWordWrap(true);
      break;
    case Mode::SmallIcons:
      QListView::setViewMode(QListView::ListMode);
      setIconSize(QSize(16, 16));
      setGridSize(QSize(160, 22));
      setFlow(QListView::LeftToRight);
      setWrapping(true);
      setWordWrap(false);
      break;
    case Mode::List:
      QListView::setViewMode(QListView::ListMode);
      setIconSize(QSize(16, 16));
      setGridSize(QSize());
      setFlow(QListView::TopToBottom);
      setWrapping(true);
      setWordWrap(false);
      break;
  }
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setTextElideMode(Qt::ElideRight);
}

void CQPXManagerView::SelectAll() { selectAll(); }

QStringList CQPXManagerView::SelectedNames() const {
  QStringList names;
  QModelIndexList rows = selectionModel()->selectedIndexes();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  for (const QModelIndex& index : rows)
    if (const ListEntry* entry = model_.EntryAt(index.row())) names << entry->name;
  return names;
}

void CQPXManagerView::Open(const QModelIndex& index) {
  const ListEntry* entry = model_.EntryAt(index.row());
  if (entry == nullptr) return;
  // Opening several entries restores them.
  if (selectionModel()->selectedIndexes().size() > 1) {
    emit RestoreRequested();
    return;
  }
  // Opening a file restores it quietly first, which comes with restoring.
  if (entry->folder) emit FolderOpened(currentFolder_ + u'\\' + entry->name);
}

void CQPXManagerView::contextMenuEvent(QContextMenuEvent* event) {
  if (contextMenu_ == nullptr || !selectionModel()->hasSelection()) return;
  contextMenu_->exec(event->globalPos());
}

void CQPXManagerView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
    return;
  }
  QListView::keyPressEvent(event);
}

}  // namespace app
