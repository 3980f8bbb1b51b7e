#include "app/restore_dialog_base.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

#include "app/app_texts.h"
#include "app/qpx_manager_app.h"
#include "app/shown_name.h"
#include "restore/restore_summary.h"

namespace app {

CRestoreDialogBase::CRestoreDialogBase(CQPXManagerApp& app, QWidget* parent)
    : QDialog(parent), app_(app), run_(this) {
  connect(&run_, &CRestoreRun::runStarted, this, [this] {
    // Only the first run of a restore starts the bar from nothing.
    if (!barStarted_) ResetProgress();
    barStarted_ = true;
  });
  connect(&run_, &CRestoreRun::progressed, this, &CRestoreDialogBase::RefreshFromRun);
  connect(&run_, &CRestoreRun::titleText, this, &QWidget::setWindowTitle);
  connect(&run_, &CRestoreRun::statusText, this, [this](const QString& text) { SetStatusText(text); });
  connect(&run_, &CRestoreRun::full, this, &CRestoreDialogBase::ShowFull);
  connect(&run_, &CRestoreRun::ending, this, &CRestoreDialogBase::CloseCancelQuestion);
  connect(&run_, &CRestoreRun::finished, this, &CRestoreDialogBase::OnRunFinished);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("progress"));
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  percent_ = new QLabel(QStringLiteral("0"), this);
  percent_->setObjectName(QStringLiteral("percent"));
  percent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  percent_->setMinimumWidth(percent_->fontMetrics().horizontalAdvance(QStringLiteral("100")) + 4);
}

CRestoreDialogBase::~CRestoreDialogBase() {
  // Only quitting leaves a run going here: it is stopped, an open question
  // answered as a cancel, and joined.
  run_.Abort();
}

void CRestoreDialogBase::ResetProgress() {
  bar_->setRange(0, 100);
  bar_->setValue(0);
}

void CRestoreDialogBase::ShowPercent(unsigned percent) {
  bar_->setValue(static_cast<int>(percent));
  percent_->setText(QString::number(percent));
}

void CRestoreDialogBase::ShowFull() {
  bar_->setRange(0, 1);
  bar_->setValue(1);
  percent_->setText(AppText(Text::kHundred));
}

void CRestoreDialogBase::ShowCurrentPath(const QString& path) {
  QWidget* status = StatusWidget();
  const int width = status->width() > 20 ? status->width() - 12 : 300;
  SetStatusText(status->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
}

void CRestoreDialogBase::RefreshFromRun() {
  const CRestoreRun::Display display = run_.TakeDisplay();
  if (!running_) return;
  if (static_cast<int>(display.percent) > bar_->value() && bar_->maximum() == 100) ShowPercent(display.percent);
  if (!display.currentFile.isEmpty()) ShowCurrentPath(ShownName(display.currentFile));
}

void CRestoreDialogBase::CloseCancelQuestion() {
  if (cancelQuestion_ != nullptr) cancelQuestion_->done(QMessageBox::No);
}

bool CRestoreDialogBase::PrepareRun(IncrementalBackup::RestoreSelection selection, const QString& target) {
  IncrementalBackup::CBackupSet* set = app_.MutableSet();
  QString problem;
  if (set == nullptr || !run_.Prepare(*set, std::move(selection), target, problem)) {
    ShowErrorMessage(Text::kRestoreFailed);
    return false;
  }
  return true;
}

void CRestoreDialogBase::StartWorker() {
  running_ = true;
  barStarted_ = false;
  run_.Start();
}

void CRestoreDialogBase::OnRunFinished() {
  run_.Join();
  if (run_.Continues()) {
    if (run_.Failed()) {
      ShowErrorMessage(Text::kRestoreFailed);
      SetStatusText(AppText(Text::kStatusFailed));
      setWindowTitle(AppText(Text::kTitleFailed));
    } else {
      // Entries passed over after a question or by an obstacle are said.
      const QPXFile::RestoreSummary& summary = run_.Summary();
      SetStatusText(QString::fromStdU16String(
          QPXFile::DoneText(AppText(Text::kStatusDone).toStdU16String(), summary)));
      setWindowTitle(QString::fromStdU16String(
          QPXFile::DoneText(AppText(Text::kTitleDone).toStdU16String(), summary)));
    }
  } else {
    SetStatusText(AppText(Text::kStatusCancelled));
    setWindowTitle(AppText(Text::kTitleCancelled));
  }
  RestoreFinished();
}

void CRestoreDialogBase::reject() {
  if (!running_) {
    // Closing an idle dialog is no refusal of anything: it ends as accepted.
    done(QDialog::Accepted);
    return;
  }
  if (asking_) return;
  asking_ = true;
  QMessageBox box(QMessageBox::Question, AppText(Text::kCaption), QString::fromUtf8(RestoreFixedText::kCancelQuestion),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName(QStringLiteral("cancelQuestion"));
  cancelQuestion_ = &box;
  const bool yes = box.exec() == QMessageBox::Yes;
  cancelQuestion_ = nullptr;
  asking_ = false;
  if (yes && running_) run_.RequestCancel();
}

void CRestoreDialogBase::done(int result) {
  // Nothing ends the dialog under a running worker.
  if (running_ || asking_) return;
  run_.Join();
  QDialog::done(result);
}

void CRestoreDialogBase::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

}  // namespace app
