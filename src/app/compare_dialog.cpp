#include "app/compare_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/generation_input_bar.h"
#include "app/property_dialog.h"
#include "generations/backup_set.h"
#include "generations/set_history.h"

namespace app {

namespace {

qint64 SizeOf(const QPXFile::CQPXBackupedFileHeader* h) {
  return h != nullptr ? static_cast<qint64>(h->GetFileSize()) : -1;
}
uint64_t TimeOf(const QPXFile::CQPXBackupedFileHeader* h) { return h != nullptr ? h->GetLastWriteTime() : 0; }

QString SideText(qint64 size, uint64_t modified) {
  if (size < 0) return {};
  // Entries written without a time carry 0, which is no date to show.
  const QString time = modified != 0 ? TimeText(modified) : QString();
  return time.isEmpty() ? SizeText(static_cast<uint64_t>(size)) : SizeText(static_cast<uint64_t>(size)) + QStringLiteral("　") + time;
}

}  // namespace

std::vector<CompareRow> CompareGenerations(const IncrementalBackup::CBackupSet& set, long from, long to) {
  // An archive opened alone has one generation and no merged tree.
  if (set.IsArchiveAlone()) return {};
  const IncrementalBackup::Difference d = IncrementalBackup::DiffGenerations(set, from, to);
  std::vector<CompareRow> rows;
  rows.reserve(d.added.size() + d.removed.size() + d.changed.size() + d.foldersAdded.size() + d.foldersRemoved.size());
  for (const auto& f : d.added)
    rows.push_back({CompareRow::kAdded, false, QString::fromStdU16String(f.path), -1, SizeOf(f.header), 0, TimeOf(f.header)});
  for (const auto& f : d.removed)
    rows.push_back({CompareRow::kRemoved, false, QString::fromStdU16String(f.path), SizeOf(f.header), -1, TimeOf(f.header), 0});
  for (const auto& c : d.changed)
    rows.push_back({CompareRow::kChanged, false, QString::fromStdU16String(c.path), SizeOf(c.from), SizeOf(c.to),
                    TimeOf(c.from), TimeOf(c.to)});
  for (const auto& p : d.foldersAdded) rows.push_back({CompareRow::kAdded, true, QString::fromStdU16String(p)});
  for (const auto& p : d.foldersRemoved) rows.push_back({CompareRow::kRemoved, true, QString::fromStdU16String(p)});
  return rows;
}

void CCompareModel::SetRows(std::vector<CompareRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int CCompareModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CCompareModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CCompareModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  const CompareRow& r = Row(index.row());
  switch (index.column()) {
    case kState:
      return r.kind == CompareRow::kAdded     ? QStringLiteral("追加")
             : r.kind == CompareRow::kRemoved ? QStringLiteral("削除")
                                              : QStringLiteral("変更");
    case kType:
      return r.folder ? QStringLiteral("フォルダ") : QStringLiteral("ファイル");
    case kPath:
      return r.path;
    case kFromSize:
      return SideText(r.fromSize, r.fromModified);
    case kToSize:
      return SideText(r.toSize, r.toModified);
    default:
      return {};
  }
}

QVariant CCompareModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kState:
      return QStringLiteral("状態");
    case kType:
      return QStringLiteral("種類");
    case kPath:
      return QStringLiteral("パス");
    case kFromSize:
      return QStringLiteral("比較元");
    case kToSize:
      return QStringLiteral("比較先");
    default:
      return {};
  }
}

void CCompareFilter::SetShown(CompareRow::Kind kind, bool shown) {
  shown_[kind] = shown;
  invalidateFilter();
}

bool CCompareFilter::filterAcceptsRow(int row, const QModelIndex&) const {
  return shown_[static_cast<CCompareModel*>(sourceModel())->Row(row).kind];
}

bool CCompareFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const auto* model = static_cast<CCompareModel*>(sourceModel());
  const CompareRow& a = model->Row(left.row());
  const CompareRow& b = model->Row(right.row());
  switch (left.column()) {
    case CCompareModel::kState:
      return a.kind < b.kind;
    case CCompareModel::kType:
      return a.folder < b.folder;
    case CCompareModel::kFromSize:
      return a.fromSize < b.fromSize;
    case CCompareModel::kToSize:
      return a.toSize < b.toSize;
    default:
      return a.path.compare(b.path, Qt::CaseInsensitive) < 0;
  }
}

CCompareDialog::CCompareDialog(const IncrementalBackup::CBackupSet& set, QWidget* parent, Restore restore)
    : QDialog(parent), set_(set), restore_(std::move(restore)) {
  setWindowTitle(QStringLiteral("世代の比較"));
  setObjectName(QStringLiteral("compareGenerations"));

  from_ = new QComboBox(this);
  to_ = new QComboBox(this);
  from_->setAccessibleName(QStringLiteral("比較元の世代"));
  to_->setAccessibleName(QStringLiteral("比較先の世代"));
  for (long g = 0; g < set.Count(); ++g) {
    // As the generation bar names them, so the two read alike.
    const QString text = CGenerationInputBar::ItemText(static_cast<int>(g), set.CreationTime(g));
    from_->addItem(text);
    to_->addItem(text);
  }
  const int shown = static_cast<int>(set.SelectedShown()) - 1;
  if (shown > 0) {
    from_->setCurrentIndex(shown - 1);
    to_->setCurrentIndex(shown);
  } else {
    from_->setCurrentIndex(0);
    to_->setCurrentIndex(set.Count() > 1 ? 1 : 0);
  }
  auto* fromLabel = new QLabel(QStringLiteral("比較元(&F):"), this);
  auto* toLabel = new QLabel(QStringLiteral("比較先(&O):"), this);
  fromLabel->setBuddy(from_);
  toLabel->setBuddy(to_);

  const QString kindTexts[3] = {QStringLiteral("追加(&A)"), QStringLiteral("削除(&R)"), QStringLiteral("変更(&M)")};
  const QString kindNames[3] = {QStringLiteral("追加を表示"), QStringLiteral("削除を表示"), QStringLiteral("変更を表示")};
  auto* choices = new QHBoxLayout;
  choices->addWidget(fromLabel);
  choices->addWidget(from_, 1);
  choices->addWidget(toLabel);
  choices->addWidget(to_, 1);
  auto* kinds = new QHBoxLayout;
  kinds->addWidget(new QLabel(QStringLiteral("表示:"), this));
  for (int k = 0; k < 3; ++k) {
    kinds_[k] = new QCheckBox(kindTexts[k], this);
    kinds_[k]->setAccessibleName(kindNames[k]);
    kinds_[k]->setChecked(true);
    kinds->addWidget(kinds_[k]);
  }
  kinds->addStretch(1);

  model_ = new CCompareModel(this);
  filter_ = new CCompareFilter(this);
  filter_->setSourceModel(model_);
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("differences"));
  table_->setAccessibleName(QStringLiteral("世代の違い"));
  table_->setModel(filter_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(CCompareModel::kPath, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(CCompareModel::kState, 50);
  table_->setColumnWidth(CCompareModel::kType, 60);
  table_->setColumnWidth(CCompareModel::kPath, 280);
  table_->setColumnWidth(CCompareModel::kFromSize, 200);
  summary_ = new QLabel(this);
  summary_->setAccessibleName(QStringLiteral("比較の結果"));

  restoreFrom_ = new QPushButton(QStringLiteral("比較元から復元(&B)..."), this);
  restoreTo_ = new QPushButton(QStringLiteral("比較先から復元(&T)..."), this);
  restoreFrom_->setAccessibleName(QStringLiteral("比較元の世代から復元"));
  restoreTo_->setAccessibleName(QStringLiteral("比較先の世代から復元"));
  for (const bool fromSide : {true, false}) {
    QPushButton* button = RestoreButton(fromSide);
    button->setVisible(static_cast<bool>(restore_));
    button->setEnabled(false);
    connect(button, &QPushButton::clicked, this, [this, fromSide] {
      const QStringList paths = PathsOn(fromSide);
      if (!paths.isEmpty()) restore_((fromSide ? comparedFrom_ : comparedTo_) + 1, paths, this);
    });
  }
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(summary_, 1);
  buttons->addWidget(restoreFrom_);
  buttons->addWidget(restoreTo_);
  buttons->addWidget(close);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(choices);
  layout->addLayout(kinds);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  resize(820, 480);

  for (int k = 0; k < 3; ++k)
    connect(kinds_[k], &QCheckBox::toggled, this, [this, k](bool on) {
      filter_->SetShown(static_cast<CompareRow::Kind>(k), on);
      UpdateSummary();
    });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CCompareDialog::UpdateRestore);
  connect(from_, &QComboBox::currentIndexChanged, this, &CCompareDialog::Compare);
  connect(to_, &QComboBox::currentIndexChanged, this, &CCompareDialog::Compare);
  Compare();
}

CCompareDialog::~CCompareDialog() {
  // The difference has no way to stop; it ends on its own.
  if (worker_.joinable()) worker_.join();
}

void CCompareDialog::Compare() {
  if (worker_.joinable()) {
    pending_ = true;
    return;
  }
  pending_ = false;
  const long from = from_->currentIndex(), to = to_->currentIndex();
  summary_->setText(QStringLiteral("比較しています..."));
  restoreFrom_->setEnabled(false);
  restoreTo_->setEnabled(false);
  worker_ = std::thread([this, from, to] {
    std::vector<CompareRow> rows = CompareGenerations(set_, from, to);
    QMetaObject::invokeMethod(
        this, [this, rows = std::move(rows), from, to]() mutable { Show(std::move(rows), from, to); },
        Qt::QueuedConnection);
  });
}

void CCompareDialog::Show(std::vector<CompareRow> rows, long from, long to) {
  worker_.join();
  if (pending_) {
    Compare();
    return;
  }
  comparedFrom_ = from;
  comparedTo_ = to;
  model_->SetRows(std::move(rows));
  UpdateSummary();
  UpdateRestore();
  emit compared();
}

void CCompareDialog::UpdateSummary() {
  long counts[3] = {0, 0, 0};
  for (int r = 0; r < model_->rowCount(); ++r) ++counts[model_->Row(r).kind];
  summary_->setText(QStringLiteral("追加 %1　削除 %2　変更 %3　（表示 %4 件）")
                        .arg(counts[0])
                        .arg(counts[1])
                        .arg(counts[2])
                        .arg(filter_->rowCount()));
}

QStringList CCompareDialog::PathsOn(bool fromSide) const {
  QStringList paths;
  if (worker_.joinable() || comparedFrom_ < 0) return paths;
  // A file is had from any generation; a folder only from the one shown.
  const long side = fromSide ? comparedFrom_ : comparedTo_;
  const bool foldersToo = side + 1 == set_.SelectedShown();
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
    const CompareRow& row = model_->Row(filter_->mapToSource(index).row());
    const bool held = row.folder ? foldersToo && row.kind == (fromSide ? CompareRow::kRemoved : CompareRow::kAdded)
                                 : (fromSide ? row.fromSize : row.toSize) >= 0;
    if (held) paths << row.path;
  }
  return paths;
}

void CCompareDialog::UpdateRestore() {
  restoreFrom_->setEnabled(!PathsOn(true).isEmpty());
  restoreTo_->setEnabled(!PathsOn(false).isEmpty());
}

}  // namespace app
