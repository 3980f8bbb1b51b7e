#include "app/integrity_test_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "generations/backup_set.h"
#include "generations/integrity_test.h"

namespace app {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

CIntegrityTestDialog::CIntegrityTestDialog(const IncrementalBackup::CBackupSet& set, QWidget* parent)
    : QDialog(parent), set_(set) {
  setWindowTitle(QStringLiteral("整合性テスト"));
  setObjectName(QStringLiteral("integrityTest"));

  auto* scope = new QGroupBox(QStringLiteral("テストする範囲"), this);
  shown_ = new QRadioButton(QStringLiteral("表示中の世代 (%1)(&G)").arg(set.SelectedShown()), scope);
  whole_ = new QRadioButton(QStringLiteral("すべての世代(&A)"), scope);
  shown_->setAccessibleName(QStringLiteral("表示中の世代"));
  whole_->setAccessibleName(QStringLiteral("すべての世代"));
  shown_->setChecked(true);
  whole_->setEnabled(!set.IsArchiveAlone() && set.Count() > 1);
  auto* scopeLayout = new QVBoxLayout(scope);
  scopeLayout->addWidget(shown_);
  scopeLayout->addWidget(whole_);

  // The look of the task-progress dialog: a message, a bar and the numbers.
  message_ = new QLabel(QStringLiteral("「開始」を押すとテストを始めます。"), this);
  message_->setAccessibleName(QStringLiteral("メッセージ"));
  bar_ = new QProgressBar(this);
  bar_->setAccessibleName(QStringLiteral("進行状況"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  number_ = new QLabel(this);
  number_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  number_->setAccessibleName(QStringLiteral("テストしたファイルの数"));

  results_ = new QTreeWidget(this);
  results_->setObjectName(QStringLiteral("results"));
  results_->setAccessibleName(QStringLiteral("テストの結果"));
  results_->setRootIsDecorated(false);
  results_->setUniformRowHeights(true);
  results_->setHeaderLabels({QStringLiteral("ファイル"), QStringLiteral("世代"), QStringLiteral("理由")});
  results_->header()->setStretchLastSection(true);
  results_->setColumnWidth(0, 300);
  results_->setColumnWidth(1, 50);
  summary_ = new QLabel(this);
  summary_->setAccessibleName(QStringLiteral("結果"));
  summary_->setWordWrap(true);

  start_ = new QPushButton(QStringLiteral("開始(&S)"), this);
  stop_ = new QPushButton(QStringLiteral("中止(&C)"), this);
  close_ = new QPushButton(QStringLiteral("閉じる"), this);
  stop_->setEnabled(false);
  start_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addWidget(close_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scope);
  layout->addWidget(message_);
  layout->addWidget(bar_);
  layout->addWidget(number_);
  layout->addWidget(results_, 1);
  layout->addWidget(summary_);
  layout->addLayout(buttons);
  resize(640, 440);

  connect(start_, &QPushButton::clicked, this, &CIntegrityTestDialog::Start);
  connect(stop_, &QPushButton::clicked, this, &CIntegrityTestDialog::Stop);
  connect(close_, &QPushButton::clicked, this, &CIntegrityTestDialog::reject);
  timer_.setInterval(kUpdateIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &CIntegrityTestDialog::Refresh);
}

CIntegrityTestDialog::~CIntegrityTestDialog() {
  stopRequested_ = true;
  Join();
}

void CIntegrityTestDialog::Join() {
  // The worker never waits for this thread, so joining cannot hang; it ends
  // at the latest after the entry it is decoding.
  if (worker_.joinable()) worker_.join();
}

void CIntegrityTestDialog::Start() {
  if (IsRunning()) return;
  Join();
  results_->clear();
  summary_->clear();
  stopRequested_ = false;
  ended_ = false;
  total_ = -1;
  tested_ = 0;
  found_.clear();
  const IncrementalBackup::TestScope scope = whole_->isChecked() ? IncrementalBackup::TestScope::kWholeSet
                                                                 : IncrementalBackup::TestScope::kSelectedGeneration;
  const std::vector<IncrementalBackup::UnopenedArchive> unopened = IncrementalBackup::UnopenedArchives(set_, QPXFile::Wording::kJapanese);
  unopened_ = static_cast<long>(unopened.size());
  for (const IncrementalBackup::UnopenedArchive& a : unopened)
    new QTreeWidgetItem(results_, {FromUtf8(a.path), QString::number(a.generation + 1),
                                   QStringLiteral("バックアップファイルを開けませんでした：") + FromUtf8(a.reason)});
  message_->setText(QStringLiteral("ファイルのデータを読み込んで CRC を確かめています..."));
  bar_->setValue(0);
  number_->clear();
  start_->setEnabled(false);
  shown_->setEnabled(false);
  whole_->setEnabled(false);
  stop_->setEnabled(true);
  stop_->setFocus();
  timer_.start();
  worker_ = std::thread([this, scope] {
    total_ = IncrementalBackup::CountEntriesToTest(set_, scope);
    const IncrementalBackup::IntegrityCounts counts = IncrementalBackup::TestEntries(
        set_, scope,
        [this](const IncrementalBackup::DamagedEntry& d) {
          Found f;
          const QString path = d.named ? QString::fromStdU16String(d.path) : QStringLiteral("?");
          f.name = path;
          f.where = d.source >= 0 ? QString::number(d.source + 1) : QString();
          f.reason = FromUtf8(IncrementalBackup::DamageText(set_, d, QPXFile::Wording::kJapanese));
          std::lock_guard<std::mutex> lock(foundLock_);
          found_.push_back(std::move(f));
        },
        [this](long tested) {
          tested_ = tested;
          return !stopRequested_;
        });
    tested_ = counts.tested;
    ended_ = true;
    QMetaObject::invokeMethod(
        this, [this, counts] { Ended(counts.tested, counts.damaged, counts.stopped); }, Qt::QueuedConnection);
  });
}

void CIntegrityTestDialog::Stop() {
  stopRequested_ = true;
  stop_->setEnabled(false);
  message_->setText(QStringLiteral("中止しています..."));
}

void CIntegrityTestDialog::TakeFound() {
  std::vector<Found> taken;
  {
    std::lock_guard<std::mutex> lock(foundLock_);
    taken.swap(found_);
  }
  for (const Found& f : taken) {
    auto* item = new QTreeWidgetItem(results_, {f.name, f.where, f.reason});
    item->setToolTip(0, f.name);
    item->setToolTip(2, f.reason);
  }
}

void CIntegrityTestDialog::Refresh() {
  const long total = total_, tested = tested_;
  if (total > 0) {
    bar_->setValue(static_cast<int>(tested * 100 / total));
    number_->setText(QStringLiteral("%1 / %2").arg(tested).arg(total));
  }
  TakeFound();
}

void CIntegrityTestDialog::Ended(long tested, long damaged, bool stopped) {
  Join();
  timer_.stop();
  Refresh();
  if (!stopped) bar_->setValue(100);
  message_->setText(stopped ? QStringLiteral("テストを中止しました。") : QStringLiteral("テストが終わりました。"));
  QString text = QStringLiteral("テストしたファイル: %1　損傷: %2　開けなかったバックアップファイル: %3")
                     .arg(tested)
                     .arg(damaged)
                     .arg(unopened_);
  if (!stopped && damaged == 0 && unopened_ == 0) text += QStringLiteral("\n損傷したファイルはありません。");
  summary_->setText(text);
  start_->setEnabled(true);
  stop_->setEnabled(false);
  shown_->setEnabled(true);
  whole_->setEnabled(!set_.IsArchiveAlone() && set_.Count() > 1);
  start_->setFocus();
  emit testEnded();
}

void CIntegrityTestDialog::reject() {
  // Closing while the test runs stops it first.
  if (IsRunning() || worker_.joinable()) {
    stopRequested_ = true;
    Join();
    timer_.stop();
  }
  QDialog::reject();
}

}  // namespace app
