#include "app/qpx_manager_view.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QUrl>

#include "app/app_texts.h"
#include "app/desktop_integration.h"
#include "app/qpx_data_object.h"
#include "app/temporary_restore.h"

namespace app {

CQPXManagerView::CQPXManagerView(QWidget* parent) : QListView(parent) {
  setObjectName(QStringLiteral("fileList"));
  setAccessibleName(QStringLiteral("ファイル"));
  setModel(&model_);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Qt's drag detection keeps a multiple selection when a press on one of
  // its entries turns into a drag; startDrag() makes the drag itself.
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);
  setUniformItemSizes(true);
  SetViewMode(Mode::LargeIcons);
  connect(this, &QListView::activated, this, [this] { OpenSelection(); });
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
  // Changing the view mode may switch dragging off.
  setDragEnabled(true);
  setResizeMode(QListView::Adjust);
  setTextElideMode(Qt::ElideRight);
}

void CQPXManagerView::SelectAll() { selectAll(); }

QModelIndexList CQPXManagerView::SelectedRows() const {
  QModelIndexList rows = selectionModel()->selectedIndexes();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  return rows;
}

QStringList CQPXManagerView::SelectedNames() const {
  QStringList names;
  for (const QModelIndex& index : SelectedRows())
    if (const ListEntry* entry = model_.EntryAt(index.row())) names << entry->name;
  return names;
}

void CQPXManagerView::SetTemporaryRestore(TemporaryRestore restore, RestoreFolderOf restoreFolder) {
  temporaryRestore_ = std::move(restore);
  restoreFolder_ = std::move(restoreFolder);
}

void CQPXManagerView::OpenSelection() {
  const QModelIndexList rows = SelectedRows();
  if (rows.size() >= 2) {
    emit RestoreRequested();
    return;
  }
  if (rows.isEmpty()) return;
  const ListEntry* entry = model_.EntryAt(rows.first().row());
  if (entry == nullptr) return;
  if (entry->folder) {
    emit FolderOpened(currentFolder_ + u'\\' + entry->name);
    return;
  }
  if (!temporaryRestore_ || !restoreFolder_) return;
  const QString name = entry->name;
  const QString folder = currentFolder_;
  if (!temporaryRestore_(folder, {name}, true)) return;
  OpenWithDesktop(QDir(restoreFolder_(folder)).filePath(name));
}

CQPXDataObject* CQPXManagerView::MakeDragData() {
  const QStringList names = SelectedNames();
  if (names.isEmpty() || !temporaryRestore_ || !restoreFolder_) return nullptr;
  const QString folder = restoreFolder_(currentFolder_);
  // No temporary restore folder of this user's: nothing to offer.
  if (folder.isEmpty()) {
    ShowErrorMessage(kTemporaryFolderRefused);
    return nullptr;
  }
  const QDir target(folder);
  QList<QUrl> files;
  for (const QString& name : names) files << QUrl::fromLocalFile(target.filePath(name));
  // The entries of this drag, not whatever is selected when the target
  // asks: the list it was given must be what is restored. Held by value:
  // the drag may be gone before its restore ends.
  return new CQPXDataObject(
      std::move(files),
      [restore = temporaryRestore_, folder = currentFolder_, names] { return restore(folder, names, false); },
      [folder = target.path(), window = QPointer<QWidget>(window())](bool restored) {
        if (restored) TellDropAbandoned(folder, window);
      });
}

void CQPXManagerView::startDrag(Qt::DropActions) {
  // Qt deletes a drag (and its data) once another program has taken the
  // drop, which may happen before exec() returns.
  QPointer<CQPXDataObject> data = MakeDragData();
  if (data == nullptr) return;
  if (drag_) drag_->deleteLater();
  auto* drag = new QDrag(this);
  drag_ = drag;
  drag->setMimeData(data);
  const QModelIndexList rows = SelectedRows();
  const QIcon icon = rows.first().data(Qt::DecorationRole).value<QIcon>();
  if (!icon.isNull()) drag->setPixmap(icon.pixmap(iconSize()));

  CQPXDropSource source(data);
  QTimer::singleShot(0, &source, &CQPXDropSource::Watch);
  dragging_ = true;
  drag->exec(Qt::MoveAction, Qt::MoveAction);
  dragging_ = false;
  // exec() says neither whether the target took the drop nor what it
  // did: unless the drag was cancelled, the target may still ask.
  if (data) data->Dropped();
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
