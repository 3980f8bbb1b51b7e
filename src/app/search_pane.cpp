#include "app/search_pane.h"

#include <QAction>
#include <algorithm>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <functional>
#include <QVBoxLayout>

#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/property_dialog.h"
#include "app/frame_owner.h"
#include "app/qpx_manager_view.h"
#include "generations/find.h"

namespace app {

namespace {

class ResultsView : public QTreeView {
 public:
  using QTreeView::QTreeView;
  std::function<void()> onDrag;

 protected:
  void startDrag(Qt::DropActions) override {
    if (onDrag) onDrag();
  }
};

SearchHit HitOf(IncrementalBackup::FoundItem&& item) {
  SearchHit hit;
  hit.path = QString::fromStdU16String(item.path);
  const qsizetype cut = hit.path.lastIndexOf(u'\\');
  hit.name = cut < 0 ? hit.path : hit.path.mid(cut + 1);
  hit.folder = cut < 0 ? QString() : hit.path.left(cut);
  hit.isFolder = item.folder;
  hit.generations = std::move(item.generations);
  hit.versions = static_cast<int>(item.versions.size());
  // The newest version the archives still hold tells the size and time.
  for (auto v = item.versions.rbegin(); v != item.versions.rend(); ++v) {
    if (v->missing) continue;
    hit.size = static_cast<qint64>(v->size);
    hit.modified = v->modified;
    break;
  }
  return hit;
}

}  // namespace

void CSearchResultModel::Clear() {
  beginResetModel();
  hits_.clear();
  endResetModel();
}

void CSearchResultModel::Append(std::vector<SearchHit> hits) {
  if (hits.empty()) return;
  const int first = static_cast<int>(hits_.size());
  beginInsertRows({}, first, first + static_cast<int>(hits.size()) - 1);
  for (SearchHit& h : hits) hits_.push_back(std::move(h));
  endInsertRows();
}

int CSearchResultModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(hits_.size());
}

int CSearchResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CSearchResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const SearchHit& h = Hit(index.row());
  if (role == Qt::ToolTipRole && index.column() == kName) return h.path;
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kName:
      return h.name;
    case kFolder:
      return h.folder;
    case kGenerations:
      return QString::fromStdString(IncrementalBackup::GenerationRanges(h.generations, "–"));
    case kSize:
      return h.isFolder || h.size < 0 ? QString() : SizeText(static_cast<uint64_t>(h.size));
    case kModified:
      return h.isFolder || h.modified == 0 ? QString() : TimeText(h.modified);
    case kVersions:
      return h.isFolder ? QString() : QString::number(h.versions);
    default:
      return {};
  }
}

Qt::ItemFlags CSearchResultModel::flags(const QModelIndex& index) const {
  return index.isValid() ? QAbstractTableModel::flags(index) | Qt::ItemIsDragEnabled : QAbstractTableModel::flags(index);
}

QVariant CSearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const kTitles[kColumns] = {"名前", "フォルダ", "世代", "サイズ", "更新日時", "版の数"};
  return section >= 0 && section < kColumns ? QString::fromUtf8(kTitles[section]) : QVariant();
}

CSearchPane::CSearchPane(IFrameOwner& app, CMainFrame& frame, QWidget* parent)
    : QWidget(parent), app_(app), frame_(frame) {
  setObjectName(QStringLiteral("searchPane"));
  field_ = new QLineEdit(parent);
  field_->setObjectName(QStringLiteral("searchField"));
  field_->setAccessibleName(QStringLiteral("検索"));
  field_->setPlaceholderText(QStringLiteral("検索 (Ctrl+F)"));
  field_->setToolTip(QStringLiteral("ファイル名（* と ? が使えます）。\\ を含むとパス全体と比べます。"));
  field_->setClearButtonEnabled(true);
  field_->setMinimumWidth(200);
  field_->setEnabled(false);

  status_ = new QLabel(this);
  status_->setAccessibleName(QStringLiteral("検索の状態"));
  stop_ = new QPushButton(QStringLiteral("中止"), this);
  stop_->setEnabled(false);
  close_ = new QPushButton(QStringLiteral("閉じる"), this);
  close_->setToolTip(QStringLiteral("Esc"));
  auto* results = new ResultsView(this);
  // A result is dragged as the list's entry it shows, from the generation
  // that shows it.
  results->onDrag = [this] {
    const QModelIndex current = results_->currentIndex();
    if (current.isValid() && Activate(current.row())) frame_.ListPane()->DragSelection();
  };
  results_ = results;
  results_->setDragEnabled(true);
  results_->setDragDropMode(QAbstractItemView::DragOnly);
  results_->setObjectName(QStringLiteral("searchResults"));
  results_->setAccessibleName(QStringLiteral("検索結果"));
  results_->setModel(&model_);
  results_->setRootIsDecorated(false);
  results_->setUniformRowHeights(true);
  results_->setAllColumnsShowFocus(true);
  results_->setSelectionBehavior(QAbstractItemView::SelectRows);
  results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  results_->setColumnWidth(CSearchResultModel::kName, 180);
  results_->setColumnWidth(CSearchResultModel::kFolder, 220);
  results_->setColumnWidth(CSearchResultModel::kGenerations, 80);
  results_->setColumnWidth(CSearchResultModel::kSize, 110);
  results_->setColumnWidth(CSearchResultModel::kModified, 170);

  auto* head = new QHBoxLayout;
  head->addWidget(status_, 1);
  head->addWidget(stop_);
  head->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->addLayout(head);
  layout->addWidget(results_, 1);
  setMinimumHeight(160);
  hide();

  auto* find = new QAction(&frame);
  find->setShortcut(QKeySequence::Find);
  connect(find, &QAction::triggered, this, [this] {
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
  });
  frame.addAction(find);
  connect(field_, &QLineEdit::returnPressed, this, &CSearchPane::Search);
  connect(stop_, &QPushButton::clicked, this, [this] { stopRequested_ = true; });
  connect(close_, &QPushButton::clicked, this, [this] {
    Stop();
    hide();
    frame_.ListPane()->setFocus();
  });
  connect(results_, &QTreeView::activated, this, [this](const QModelIndex& index) { Activate(index.row()); });
  // Opening and restoring a result are the list's own, on the entry it shows.
  results_->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* open = new QAction(QStringLiteral("開く(&O)"), results_);
  auto* restore = new QAction(QStringLiteral("復元(&R)"), results_);
  // A drive is shown in the tree only: the list has no entry of it to act on.
  auto selectInList = [this] {
    const int row = results_->currentIndex().row();
    return Activate(row) && !model_.Hit(row).folder.isEmpty();
  };
  connect(open, &QAction::triggered, this, [this, selectInList] {
    if (selectInList()) frame_.ListPane()->OpenSelection();
  });
  connect(restore, &QAction::triggered, this, [this, selectInList] {
    if (selectInList()) frame_.RestoreListSelection();
  });
  results_->addActions({open, restore});
  results_->installEventFilter(this);
  field_->installEventFilter(this);
  // Closing the window lets go of the set: the worker ends first.
  frame.installEventFilter(this);
  timer_.setInterval(kUpdateIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &CSearchPane::TakeHits);
}

CSearchPane::~CSearchPane() { Stop(); }

bool CSearchPane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &frame_ && event->type() == QEvent::Close) {
    Stop();
  } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
             (watched == results_ || (watched == field_ && isVisible()))) {
    close_->click();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void CSearchPane::SetOpened(bool opened) {
  Stop();
  model_.Clear();
  hide();
  field_->setEnabled(opened);
}

void CSearchPane::SetSearching(bool searching) {
  // The worker reads the set: the window neither switches nor replaces it meanwhile.
  frame_.GenerationBar()->setEnabled(!searching);
  frame_.OpenAction()->setEnabled(!searching);
  stop_->setEnabled(searching);
  if (searching) timer_.start();
  else timer_.stop();
}

void CSearchPane::Search() {
  const IncrementalBackup::CBackupSet* set = app_.Set();
  const QString pattern = field_->text().trimmed();
  if (set == nullptr || pattern.isEmpty()) return;
  Stop();
  model_.Clear();
  pending_.clear();
  stopRequested_ = false;
  capped_ = false;
  show();
  status_->setText(QStringLiteral("検索しています..."));
  SetSearching(true);
  IncrementalBackup::FindCriteria criteria;
  criteria.pattern = pattern.toStdU16String();
  const unsigned serial = ++serial_;
  worker_ = std::thread([this, set, criteria, serial] {
    long found = 0;
    IncrementalBackup::FindInSet(*set, criteria, [&](IncrementalBackup::FoundItem&& item) {
      if (stopRequested_) return false;
      SearchHit hit = HitOf(std::move(item));
      {
        std::lock_guard<std::mutex> lock(hitsLock_);
        pending_.push_back(std::move(hit));
      }
      if (++found < kMaxHits) return true;
      capped_ = true;
      return false;
    });
    const bool stopped = stopRequested_;
    QMetaObject::invokeMethod(this, [this, stopped, serial] { Ended(serial, stopped); }, Qt::QueuedConnection);
  });
}

void CSearchPane::Stop() {
  if (!worker_.joinable()) return;
  stopRequested_ = true;
  // The worker never waits for this thread: it ends at its next hit or node.
  worker_.join();
  SetSearching(false);
  TakeHits();
  status_->setText(QStringLiteral("検索を中止しました。%1 件").arg(model_.rowCount()));
}

void CSearchPane::TakeHits() {
  std::vector<SearchHit> taken;
  {
    std::lock_guard<std::mutex> lock(hitsLock_);
    taken.swap(pending_);
  }
  model_.Append(std::move(taken));
}

void CSearchPane::Ended(unsigned serial, bool stopped) {
  // A search stopped and joined before its end arrived, or one before the current.
  if (serial != serial_ || !worker_.joinable()) return;
  worker_.join();
  SetSearching(false);
  TakeHits();
  const int n = model_.rowCount();
  if (capped_)
    status_->setText(QStringLiteral("最初の %1 件を表示しています。名前を絞り込んでください。").arg(n));
  else if (stopped)
    status_->setText(QStringLiteral("検索を中止しました。%1 件").arg(n));
  else
    status_->setText(n == 0 ? QStringLiteral("見つかりませんでした。") : QStringLiteral("%1 件見つかりました。").arg(n));
  if (n > 0 && !results_->currentIndex().isValid()) results_->setCurrentIndex(model_.index(0, 0));
  emit searchEnded();
}

bool CSearchPane::Activate(int row) {
  if (row < 0 || row >= model_.rowCount() || IsSearching()) return false;
  const SearchHit& hit = model_.Hit(row);
  if (hit.generations.empty() || app_.Set() == nullptr) return false;
  const long shown = app_.Set()->SelectedShown() - 1;
  const bool holds = std::binary_search(hit.generations.begin(), hit.generations.end(), shown);
  const long target = holds ? shown : hit.generations.back();
  if (target != shown) app_.SelectGeneration(static_cast<int>(target));
  if (app_.Set()->SelectedShown() - 1 != target) return false;
  CQPXManagerView* list = frame_.ListPane();
  if (hit.folder.isEmpty()) {
    // A drive: shown in the tree itself.
    frame_.TreePane()->SelectFolder(hit.path);
    frame_.TreePane()->setFocus();
    return true;
  }
  if (!frame_.TreePane()->SelectFolder(hit.folder)) return false;
  list->ShowFolder(hit.folder);
  list->clearSelection();
  for (int r = 0; r < list->model()->rowCount(); ++r) {
    const QModelIndex index = list->model()->index(r, 0);
    if (index.data().toString().compare(hit.name, Qt::CaseInsensitive) != 0) continue;
    list->setCurrentIndex(index);
    list->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    list->scrollTo(index);
    list->setFocus();
    return true;
  }
  return false;
}

}  // namespace app
