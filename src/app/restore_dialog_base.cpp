#include "app/restore_dialog_base.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

#include "app/app_texts.h"
#include "app/restore_run.h"
#include "app/shown_name.h"

namespace app {

CRestoreDialogBase::CRestoreDialogBase(CQPXManagerApp& app, QWidget* parent) : QDialog(parent), app_(app) {
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
  // A worker still running here would wait for this dialog forever; the
  // dialog cannot close while it runs, so this only collects its end.
  JoinWorker();
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
  percent_->setText(AppText(RestoreText::kHundred));
}

void CRestoreDialogBase::ShowCurrentPath(const QString& path) {
  QWidget* status = StatusWidget();
  const int width = status->width() > 20 ? status->width() - 12 : 300;
  SetStatusText(status->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
}

void CRestoreDialogBase::RefreshFromRun() {
  const CRestoreRun::Display display = CRestoreRun::Instance().TakeDisplay();
  if (!running_) return;
  if (static_cast<int>(display.percent) > bar_->value() && bar_->maximum() == 100) ShowPercent(display.percent);
  if (!display.currentFile.isEmpty()) ShowCurrentPath(ShownName(display.currentFile));
}

void CRestoreDialogBase::CloseCancelQuestion() {
  if (cancelQuestion_ != nullptr) cancelQuestion_->done(QMessageBox::No);
}

void CRestoreDialogBase::StartWorker() {
  JoinWorker();
  running_ = true;
  worker_ = std::thread([] { CRestoreRun::Instance().RunWorker(); });
}

void CRestoreDialogBase::JoinWorker() {
  if (worker_.joinable()) worker_.join();
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
  if (yes && running_) CRestoreRun::Instance().RequestCancel();
}

void CRestoreDialogBase::done(int result) {
  // Nothing ends the dialog under a running worker.
  if (running_ || asking_) return;
  JoinWorker();
  QDialog::done(result);
}

void CRestoreDialogBase::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

}  // namespace app
