// What the restore dialog and the automatic restore dialog have in common:
// the progress bar (1005), the percent number (1007) and the status line
// (1019) the run shows its progress in, the run it owns, and the cancel
// question. Every member runs on the user-interface thread.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include "app/restore_run.h"

class QLabel;
class QProgressBar;

namespace app {

class CQPXManagerApp;

class CRestoreDialogBase : public QDialog {
  Q_OBJECT

 public:
  explicit CRestoreDialogBase(CQPXManagerApp& app, QWidget* parent = nullptr);
  ~CRestoreDialogBase() override;

  bool IsRunning() const { return running_; }
  bool Succeeded() const { return succeeded_; }
  CQPXManagerApp& App() { return app_; }
  CRestoreRun& Run() { return run_; }

  QProgressBar* ProgressBar() const { return bar_; }
  QLabel* PercentLabel() const { return percent_; }

  // Shown as the run reports.
  void ResetProgress();
  void ShowPercent(unsigned percent);
  void ShowFull();
  // The path being restored, shortened in the middle to fit the status line.
  void ShowCurrentPath(const QString& path);
  virtual void SetStatusText(const QString& text) = 0;
  virtual QString StatusText() const = 0;
  // The run has ended; its outcome is in Run().
  virtual void RestoreFinished() = 0;
  // The run has ended: an open question whether to stop it goes, answered "no".
  void CloseCancelQuestion();
  // Takes the run's latest progress and shows it.
  void RefreshFromRun();

 public slots:
  // Esc, the close box and "キャンセル": closes when idle; while running,
  // asks whether to stop.
  void reject() override;
  void done(int result) override;

 protected:
  // Starts the worker on the prepared run.
  void StartWorker();
  // Prepares the run of `selection` into `target`; shows that the restore
  // failed when it cannot be prepared.
  bool PrepareRun(IncrementalBackup::RestoreSelection selection, const QString& target);
  // The widget the status line is drawn in, for shortening paths.
  virtual QWidget* StatusWidget() const = 0;
  void closeEvent(QCloseEvent* event) override;

 private:
  // The run's end told: status and title, then RestoreFinished.
  void OnRunFinished();

 protected:

  CQPXManagerApp& app_;
  bool running_ = false;
  bool succeeded_ = false;
  bool asking_ = false;  // the cancel question is open
  bool barStarted_ = false;
  QPointer<QDialog> cancelQuestion_;
  QProgressBar* bar_;    // 1005
  QLabel* percent_;      // 1007

 private:
  CRestoreRun run_;
};

}  // namespace app
