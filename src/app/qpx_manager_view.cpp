#include "app/qpx_manager_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QUrl>

#include "app/app_texts.h"
#include "app/desktop_integration.h"
#include "app/qpx_data_object.h"
#include "app/temporary_restore.h"

namespace app {

// Draws an entry as a row of the details view's columns, where the header
// places them; the other modes draw it as Qt does.
class DetailsDelegate : public QStyledItemDelegate {
 public:
  DetailsDelegate(QHeaderView* header, QObject* parent) : QStyledItemDelegate(parent), header_(header) {}
  void SetActive(bool active) { active_ = active; }
  // Large icons: every entry fills its cell, so a long name wraps over the
  // lines the cell has room for instead of being cut after one.
  void SetCell(QSize cell) { cell_ = cell; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (!active_) {
      QStyleOptionViewItem item = option;
      // A name of one line sits under its icon, not in the middle of the cell.
      if (cell_.isValid()) item.displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
      QStyledItemDelegate::paint(painter, item, index);
      return;
    }
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    const int last = header_->count() - 1;
    for (int visual = 0; visual <= last; ++visual) {
      const int column = header_->logicalIndex(visual);
      if (header_->isSectionHidden(column)) continue;
      QStyleOptionViewItem cell = option;
      initStyleOption(&cell, index);
      cell.rect = QRect(option.rect.x() + header_->sectionPosition(column), option.rect.y(),
                        header_->sectionSize(column), option.rect.height());
      cell.viewItemPosition = visual == 0      ? QStyleOptionViewItem::Beginning
                              : visual == last ? QStyleOptionViewItem::End
                                               : QStyleOptionViewItem::Middle;
      if (column != FileListModel::kName) {
        cell.icon = QIcon();
        cell.features &= ~QStyleOptionViewItem::HasDecoration;
        cell.text = index.data(FileListModel::kColumnTextRole + column).toString();
        cell.state &= ~QStyle::State_HasFocus;
        if (column == FileListModel::kSize) cell.displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
      }
      style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
    }
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    if (cell_.isValid()) return cell_;
    const QSize size = QStyledItemDelegate::sizeHint(option, index);
    return active_ ? QSize(header_->length(), size.height()) : size;
  }

 private:
  QHeaderView* header_;
  bool active_ = false;
  QSize cell_;
};

CQPXManagerView::CQPXManagerView(QWidget* parent) : QListView(parent) {
  setObjectName(QStringLiteral("fileList"));
  setAccessibleName(QStringLiteral("ファイル"));
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Qt's drag detection keeps a multiple selection when a press on one of
  // its entries turns into a drag; startDrag() makes the drag itself.
  setDragEnabled(true);
  setDragDropMode(QAbstractItemView::DragOnly);
  setUniformItemSizes(true);

  header_ = new QHeaderView(Qt::Horizontal, this);
  header_->setObjectName(QStringLiteral("detailsHeader"));
  header_->setAccessibleName(QStringLiteral("列見出し"));
  auto* titles = new QStandardItemModel(0, FileListModel::kColumnCount, header_);
  for (int column = 0; column < FileListModel::kColumnCount; ++column)
    titles->setHeaderData(column, Qt::Horizontal, FileListModel::ColumnTitle(column));
  header_->setModel(titles);
  header_->setSectionsClickable(true);
  header_->setSortIndicatorShown(true);
  // No sort until a column is clicked: the folder's own order first.
  header_->setSortIndicator(-1, Qt::AscendingOrder);
  header_->setStretchLastSection(false);
  header_->setFocusPolicy(Qt::NoFocus);
  SetColumnWidths({});
  header_->hide();
  delegate_ = new DetailsDelegate(header_, this);
  setItemDelegate(delegate_);
  connect(header_, &QHeaderView::sectionResized, this, [this] {
    columnsResized_ = true;
    scheduleDelayedItemsLayout();
    viewport()->update();
  });
  connect(header_, &QHeaderView::sortIndicatorChanged, this, [this](int column, Qt::SortOrder order) {
    // The rows move under the selection: it is dropped rather than left on
    // entries the user did not choose.
    clearSelection();
    model_->sort(column, order);
  });

  SetViewMode(Mode::LargeIcons);
  connect(this, &QListView::activated, this, [this] { OpenSelection(); });
}

void CQPXManagerView::SetListModel(FileListModel* model) {
  model_ = model;
  setModel(model);
  connect(model, &QAbstractItemModel::modelReset, this, &CQPXManagerView::StatusChanged);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CQPXManagerView::StatusChanged);
}

void CQPXManagerView::SortBy(int column) {
  const bool again = column >= 0 && header_->sortIndicatorSection() == column;
  header_->setSortIndicator(column, again && header_->sortIndicatorOrder() == Qt::AscendingOrder
                                        ? Qt::DescendingOrder
                                        : Qt::AscendingOrder);
}

QList<int> CQPXManagerView::ColumnWidths() const {
  QList<int> widths;
  for (int column = 0; column < header_->count(); ++column) widths << header_->sectionSize(column);
  return widths;
}

void CQPXManagerView::SetColumnWidths(const QList<int>& widths) {
  static constexpr int kDefaults[FileListModel::kColumnCount] = {200, 80, 120, 150, 70};
  for (int column = 0; column < FileListModel::kColumnCount; ++column)
    header_->resizeSection(column, column < widths.size() && widths[column] > 8 ? widths[column] : kDefaults[column]);
  columnsResized_ = false;
}

QString CQPXManagerView::FolderStatusText() const {
  qsizetype folders = 0;
  for (const ListEntry& entry : model_->Entries()) folders += entry.folder ? 1 : 0;
  return QStringLiteral("フォルダ %1 個、ファイル %2 個")
      .arg(folders)
      .arg(static_cast<qsizetype>(model_->Entries().size()) - folders);
}

QString CQPXManagerView::SelectionStatusText() const {
  qsizetype folders = 0, files = 0;
  uint64_t bytes = 0;
  for (const QModelIndex& index : SelectedRows()) {
    const ListEntry* entry = model_->EntryAt(index.row());
    if (entry == nullptr) continue;
    if (entry->folder) {
      ++folders;
    } else {
      ++files;
      bytes += static_cast<const IncrementalBackup::CFSFile*>(entry->node)->GetData().GetFileSize();
    }
  }
  if (folders + files == 0) return {};
  return QStringLiteral("選択: フォルダ %1 個、ファイル %2 個 (%3)").arg(folders).arg(files).arg(KilobyteText(bytes));
}

void CQPXManagerView::updateGeometries() {
  QListView::updateGeometries();
  if (header_->isHidden()) return;
  const QRect area = viewport()->geometry();
  header_->setGeometry(area.x(), area.y() - header_->sizeHint().height(), area.width(), header_->sizeHint().height());
  header_->setOffset(horizontalScrollBar()->value());
}

void CQPXManagerView::scrollContentsBy(int dx, int dy) {
  QListView::scrollContentsBy(dx, dy);
  if (dx != 0) header_->setOffset(horizontalScrollBar()->value());
}

bool CQPXManagerView::ShowFolder(const QString& path) {
  model_->ShowFolder(path);
  if (!path.isEmpty()) currentFolder_ = path;
  return true;
}

void CQPXManagerView::SetViewMode(Mode mode) {
  mode_ = mode;
  const bool details = mode == Mode::Details;
  delegate_->SetActive(details);
  delegate_->SetCell(QSize());
  header_->setVisible(details);
  setViewportMargins(0, details ? header_->sizeHint().height() : 0, 0, 0);
  // Switching keeps the selection: only the presentation changes.
  switch (mode) {
    case Mode::LargeIcons:
      QListView::setViewMode(QListView::IconMode);
      setIconSize(QSize(32, 32));
      // Room for three lines of a name wrapped anywhere; a longer one is cut
      // and its tooltip shows it whole.
      setGridSize(QSize(100, 32 + 8 + 3 * fontMetrics().lineSpacing()));
      delegate_->SetCell(gridSize() - QSize(4, 4));
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
    case Mode::Details:
      QListView::setViewMode(QListView::ListMode);
      setIconSize(QSize(16, 16));
      setGridSize(QSize());
      setFlow(QListView::TopToBottom);
      setWrapping(false);
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
  QModelIndexList rows = selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  return rows;
}

QStringList CQPXManagerView::SelectedNames() const {
  QStringList names;
  for (const QModelIndex& index : SelectedRows())
    if (const ListEntry* entry = model_->EntryAt(index.row())) names << entry->Name();
  return names;
}

void CQPXManagerView::SelectNames(const QStringList& names) {
  QItemSelection chosen;
  for (int row = 0; row < model_->rowCount(); ++row) {
    const ListEntry* entry = model_->EntryAt(row);
    if (entry != nullptr && names.contains(entry->Name())) chosen.select(model_->index(row, 0), model_->index(row, 0));
  }
  selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect);
}

QString CQPXManagerView::SelectedFile() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.size() != 1) return {};
  const ListEntry* entry = model_->EntryAt(rows.first().row());
  return entry != nullptr && !entry->folder ? entry->Name() : QString();
}

void CQPXManagerView::SetTemporaryRestore(CaptureEntries capture, TemporaryRestore restore) {
  capture_ = std::move(capture);
  temporaryRestore_ = std::move(restore);
}

void CQPXManagerView::OpenSelection() {
  const QModelIndexList rows = SelectedRows();
  if (rows.size() >= 2) {
    emit RestoreRequested();
    return;
  }
  if (rows.isEmpty()) return;
  const ListEntry* entry = model_->EntryAt(rows.first().row());
  if (entry == nullptr) return;
  if (entry->folder) {
    emit FolderOpened(currentFolder_ + u'\\' + entry->Name());
    return;
  }
  if (!capture_ || !temporaryRestore_) return;
  const TemporaryEntries entries = capture_(currentFolder_, {entry->Name()});
  if (!temporaryRestore_(entries, true)) return;
  OpenWithDesktop(QDir(entries.copyFolder).filePath(entries.names.first()));
}

CQPXDataObject* CQPXManagerView::MakeDragData() {
  const QStringList names = SelectedNames();
  if (names.isEmpty() || !capture_ || !temporaryRestore_) return nullptr;
  // The entries of this drag, not whatever is selected or shown when the
  // target asks: the list it was given must be what is restored. Held by
  // value: the drag may be gone before its restore ends.
  TemporaryEntries entries = capture_(currentFolder_, names);
  // No temporary restore folder of this user's: nothing to offer.
  if (entries.copyFolder.isEmpty()) {
    ShowErrorMessage(kTemporaryFolderRefused);
    return nullptr;
  }
  const QDir target(entries.copyFolder);
  QList<QUrl> files;
  for (const QString& name : names) files << QUrl::fromLocalFile(target.filePath(name));
  return new CQPXDataObject(
      std::move(files), [restore = temporaryRestore_, entries = std::move(entries)] { return restore(entries, false); },
      [folder = target.path(), window = QPointer<QWidget>(window())](bool restored, bool pasted) {
        if (restored) TellDropAbandoned(folder, window, pasted);
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
  // The files are copies in the temporary restore folder: the target may
  // move them out of it or copy them, as it chooses.
  drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
  dragging_ = false;
  // exec() says neither whether the target took the drop nor what it
  // did: unless the drag was cancelled, the target may still ask.
  if (data) data->Dropped();
}

bool CQPXManagerView::CopySelection() {
  CQPXDataObject* data = MakeDragData();
  if (data == nullptr) return false;
  data->PutOnClipboard();
  return true;
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
