// The task-progress dialog (dialog 130): runs a long task on a worker thread
// while it stays modal on the user-interface thread, refreshes its texts and
// bar every 100 ms, and cannot be closed until the task has ended.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "generations/progress.h"

class QLabel;
class QProgressBar;

namespace app {

class CShowTaskProgressDlg;

// What the dialog asks of its owner.
class CShowTaskProgressDlgConnector {
 public:
  virtual ~CShowTaskProgressDlgConnector() = default;
  // The task body, on the worker thread. It must not touch widgets; what it
  // needs shown goes through RunOnUserInterface.
  virtual int32_t RunTask(CShowTaskProgressDlg& dialog) = 0;
  virtual int32_t GetCaptionId() = 0;
  virtual int32_t GetMessageId() = 0;
  // When not empty it wins over the message id.
  virtual QString GetMessageText() = 0;
  virtual bool IsDeterminate() = 0;
  virtual int32_t GetPercent() = 0;
  virtual QString GetSubText() = 0;
};

class CShowTaskProgressDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kUpdateIntervalMs = 100;

  CShowTaskProgressDlg(QWidget* parent, CShowTaskProgressDlgConnector& connector);
  ~CShowTaskProgressDlg() override;

  // The task's result, once exec() has returned.
  int32_t GetTaskResult() const { return result_; }
  bool IsFinished() const { return finished_; }

  // Runs `work` on the user-interface thread and waits for it: the way the
  // task shows a message box or asks a question. Called on the
  // user-interface thread itself, it runs `work` at once.
  void RunOnUserInterface(const std::function<void()>& work);

  // One refresh tick (public for tests that step the bar).
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 public slots:
  void reject() override;

 private:
  void Start();
  void TaskEnded();
  void UpdateTexts();

  CShowTaskProgressDlgConnector& connector_;
  std::thread worker_;
  QTimer timer_;
  std::atomic<int32_t> result_{0};
  std::atomic<bool> finished_{true};
  bool started_ = false;

  int32_t cachedMessageId_ = 0;
  int32_t cachedCaptionId_ = 0;
  QString cachedMessageText_;

  QLabel* message_;     // 1004
  QProgressBar* bar_;   // 1005
  QLabel* notice_;      // the fixed text
  QLabel* number_;      // 1007
  QLabel* percent_;     // 1006
  QLabel* subText_;     // 1008
};

}  // namespace app
