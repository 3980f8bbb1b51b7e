// The automatic restore dialog (dialog 237): restores a selection of the
// loaded set into a given folder at once, with a progress bar and a
// cancel button; quiet, it stays hidden and raises no error boxes. Dragging
// entries out and opening a file from the list restore through it.
#pragma once

#include <QString>
#include <QTimer>

#include "app/restore_dialog_base.h"

class QLabel;
class QPushButton;

namespace app {

class CAutoRestoreDlg : public CRestoreDialogBase {
  Q_OBJECT

 public:
  static constexpr int kStartDelayMs = 500;
  static constexpr int kWatchIntervalMs = 500;

  // `targetFolder` is a host path; it is made when it does not exist yet.
  CAutoRestoreDlg(CQPXManagerApp& app, IncrementalBackup::RestoreSelection selection, QString targetFolder,
                  QWidget* parent = nullptr);

  // Quiet: the dialog stays hidden and no error box is shown while it runs.
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  bool IsQuiet() const { return quiet_; }
  const QString& TargetFolder() const { return target_; }

  void SetStatusText(const QString& text) override;
  QString StatusText() const override;
  void RestoreFinished() override;

  QPushButton* CancelButton() const { return cancel_; }

 protected:
  void showEvent(QShowEvent* event) override;
  QWidget* StatusWidget() const override;
  void setVisible(bool visible) override;

 private:
  void Start();
  void Watch();

  bool quiet_ = false;
  IncrementalBackup::RestoreSelection selection_;
  QString target_;
  uint64_t freeBytes_ = 0;
  QLabel* status_;  // 1019
  QPushButton* cancel_;
  QTimer startTimer_;  // timer 1
  QTimer watchTimer_;  // timer 2
  bool started_ = false;
};

}  // namespace app
