#include "app/versions_dialog.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/property_dialog.h"
#include "app/time_text.h"
#include "generations/backup_set.h"

namespace app {
namespace {

using IncrementalBackup::HistoryState;
using IncrementalBackup::Version;

QString NoteText(const Version& v) {
  if (v.state == HistoryState::kRemoved) return QStringLiteral("削除");
  if (v.state == HistoryState::kMissing) return QStringLiteral("アーカイブにありません");
  if (v.unchangedTo < 0) return {};
  const long from = v.generation + 2, to = v.unchangedTo + 1;
  return (from == to ? QString::number(from) : QStringLiteral("%1–%2").arg(from).arg(to)) + QStringLiteral(" 変更なし");
}

}  // namespace

CVersionsDialog::CVersionsDialog(const IncrementalBackup::CBackupSet& set, const QString& path, Action open,
                                 Action restore, QWidget* parent)
    : QDialog(parent), openAction_(std::move(open)), restoreAction_(std::move(restore)) {
  setWindowTitle(QStringLiteral("バージョン履歴"));
  setObjectName(QStringLiteral("versions"));
  if (!set.IsArchiveAlone())
    versions_ = IncrementalBackup::FoldHistory(IncrementalBackup::HistoryOf(set, path.toStdU16String()));

  auto* file = new QLabel(path, this);
  file->setObjectName(QStringLiteral("versionsPath"));
  file->setAccessibleName(QStringLiteral("ファイル"));
  file->setTextInteractionFlags(Qt::TextSelectableByMouse);

  table_ = new QTableWidget(static_cast<int>(versions_.size()), kColumns, this);
  table_->setObjectName(QStringLiteral("versionRows"));
  table_->setAccessibleName(QStringLiteral("バージョンの一覧"));
  table_->setHorizontalHeaderLabels({QStringLiteral("世代"), QStringLiteral("作成日時"), QStringLiteral("サイズ"),
                                     QStringLiteral("CRC"), QStringLiteral("更新日時"), QStringLiteral("備考")});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setStretchLastSection(true);
  for (int row = 0; row < table_->rowCount(); ++row) {
    const Version& v = versions_[static_cast<size_t>(row)];
    QString cells[kColumns];
    cells[kGeneration] = QString::number(v.generation + 1);
    cells[kDate] = CreationTimeText(set.CreationTime(v.generation));
    if (v.header != nullptr) {
      cells[kSize] = SizeText(v.header->GetFileSize());
      cells[kCrc] = QStringLiteral("%1").arg(v.header->GetCrc32(), 8, 16, QLatin1Char('0')).toUpper();
      // Entries written without a time carry 0, which is no date to show.
      if (v.header->GetLastWriteTime() != 0) cells[kModified] = TimeText(v.header->GetLastWriteTime());
    }
    cells[kNote] = NoteText(v);
    for (int column = 0; column < kColumns; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (column == kGeneration || column == kSize || column == kCrc)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table_->setItem(row, column, item);
    }
  }
  table_->resizeColumnsToContents();
  table_->setColumnWidth(kNote, std::max(table_->columnWidth(kNote), 120));

  open_ = new QPushButton(QStringLiteral("開く(&O)"), this);
  restore_ = new QPushButton(QStringLiteral("復元(&R)..."), this);
  auto* close = new QPushButton(QStringLiteral("閉じる"), this);
  open_->setAccessibleName(QStringLiteral("この世代のファイルを開く"));
  restore_->setAccessibleName(QStringLiteral("この世代のファイルを復元"));
  open_->setAutoDefault(false);
  restore_->setAutoDefault(false);
  close->setAutoDefault(false);
  connect(open_, &QPushButton::clicked, this, [this] { Run(openAction_); });
  connect(restore_, &QPushButton::clicked, this, [this] { Run(restoreAction_); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  // Enter or a double click on a row opens it, as in the list.
  connect(table_, &QTableWidget::activated, this, [this] { Run(openAction_); });
  connect(table_, &QTableWidget::itemSelectionChanged, this, &CVersionsDialog::UpdateButtons);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(open_);
  buttons->addWidget(restore_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(file);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  resize(720, 320);

  // The newest version first under the cursor: the one most often wanted back.
  if (table_->rowCount() > 0) table_->selectRow(table_->rowCount() - 1);
  UpdateButtons();
  table_->setFocus();
}

const Version* CVersionsDialog::Usable(int row) const {
  if (row < 0 || row >= static_cast<int>(versions_.size())) return nullptr;
  const Version& v = versions_[static_cast<size_t>(row)];
  return v.state == HistoryState::kStored && v.header != nullptr ? &v : nullptr;
}

void CVersionsDialog::UpdateButtons() {
  const bool usable = Usable(table_->currentRow()) != nullptr && table_->selectionModel()->hasSelection();
  open_->setEnabled(usable);
  restore_->setEnabled(usable);
}

void CVersionsDialog::Run(const Action& action) {
  const Version* v = Usable(table_->currentRow());
  if (v == nullptr || !action) return;
  action(v->generation + 1, this);
}

}  // namespace app
