#include "app/auto_restore_dlg.h"

#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_texts.h"
#include "app/file_icons.h"
#include "app/qpx_manager_app.h"
#include "app/restore_run.h"
#include "app/restore_selection.h"

namespace app {

CAutoRestoreDlg::CAutoRestoreDlg(CQPXManagerApp& app, IncrementalBackup::RestoreSelection selection,
                                 QString targetFolder, QWidget* parent)
    : CRestoreDialogBase(app, parent), selection_(std::move(selection)), target_(std::move(targetFolder)) {
  setObjectName(QStringLiteral("autoRestore"));
  setWindowTitle(QStringLiteral("Tessera - 復元処理"));
  setWindowIcon(FileIcons::Instance().Application());

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setTextFormat(Qt::PlainText);
  status_->setMinimumWidth(360);
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  cancel_ = new QPushButton(QStringLiteral("キャンセル"), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  connect(cancel_, &QPushButton::clicked, this, &CAutoRestoreDlg::reject);

  auto* progress = new QHBoxLayout;
  progress->addWidget(bar_, 1);
  progress->addWidget(percent_);
  progress->addWidget(new QLabel(QStringLiteral("%"), this));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addLayout(progress);
  layout->addLayout(buttons);
  resize(420, sizeHint().height());

  startTimer_.setSingleShot(true);
  startTimer_.setInterval(kStartDelayMs);
  connect(&startTimer_, &QTimer::timeout, this, &CAutoRestoreDlg::Start);
  watchTimer_.setInterval(kWatchIntervalMs);
  connect(&watchTimer_, &QTimer::timeout, this, &CAutoRestoreDlg::Watch);
}

void CAutoRestoreDlg::setVisible(bool visible) {
  // A quiet restore runs with the dialog modal but never on screen.
  if (visible && quiet_) setAttribute(Qt::WA_DontShowOnScreen, true);
  CRestoreDialogBase::setVisible(visible);
}

void CAutoRestoreDlg::showEvent(QShowEvent* event) {
  CRestoreDialogBase::showEvent(event);
  if (!started_) {
    started_ = true;
    startTimer_.start();
  }
}

void CAutoRestoreDlg::SetStatusText(const QString& text) { status_->setText(text); }
QString CAutoRestoreDlg::StatusText() const { return status_->text(); }
QWidget* CAutoRestoreDlg::StatusWidget() const { return status_; }

void CAutoRestoreDlg::Start() {
  // Every refusal below closes the dialog as accepted, but not succeeded.
  if (IsUnmountedNetworkLocation(target_)) {
    ShowErrorText(QString::fromUtf8(RestoreFixedText::kAutoNetworkTarget));
    done(QDialog::Accepted);
    return;
  }
  // The temporary folder may not exist yet; its space is that of the
  // nearest folder that does.
  const bool made = HasDriveRoot(target_) && QDir().mkpath(target_);
  if (!made || !QueryFreeSpace(target_, freeBytes_)) {
    ShowErrorText(QString::fromUtf8(RestoreFixedText::kTemporaryFailed));
    done(QDialog::Accepted);
    return;
  }
  if (SelectionBytes(app_, selection_) > freeBytes_) {
    ShowErrorMessage(Text::kNoSpaceForTemporary);
    done(QDialog::Accepted);
    return;
  }
  if (!PrepareRun(selection_, target_)) {
    // The entries cannot be gathered for a restore (an entry its
    // generation's archive lacks).
    done(QDialog::Accepted);
    return;
  }
  Run().SetShowLog(false);
  if (quiet_) SetQuietMode(true);
  StartWorker();
  watchTimer_.start();
}

void CAutoRestoreDlg::Watch() {
  if (running_) return;
  watchTimer_.stop();
  done(QDialog::Accepted);
}

void CAutoRestoreDlg::RestoreFinished() {
  running_ = false;
  if (quiet_) SetQuietMode(false);
  succeeded_ = Run().Continues() && !Run().Failed();
}

}  // namespace app
