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

// The progress sink of a long operation: written by the worker, read by the
// dialog's refresh. Every field is atomic, so the two threads never race.
class CAppProgressInfo : public IncrementalBackup::IProgressInfo {
 public:
  bool IsValid() const override { return total_ >= 0 && current_ >= 0; }
  bool HasError() const override { return hasError_; }
  bool HasMessage() const override { return hasMessage_; }
  int32_t GetTotal() const override { return IsValid() ? total_.load() : -1; }
  int32_t GetCurrent() const override { return IsValid() ? current_.load() : -1; }
  int32_t GetErrorId() const override { return errorId_; }
  int32_t GetMessageId() const override { return messageId_; }
  // Loading cannot be cancelled.
  bool CanContinue() override { return true; }
  void SetTotal(int32_t total) override { Yield(total_ = total); }
  void SetCurrent(int32_t current) override { Yield(current_ = current); }
  void SetError(int32_t id) override {
    errorId_ = id;
    hasError_ = true;
    std::this_thread::yield();
  }
  void ClearError() override {
    hasError_ = false;
    errorId_ = -1;
  }
  void ClearMessage() override {
    hasMessage_ = false;
    messageId_ = -1;
  }
  void SetMessage(int32_t id) override {
    messageId_ = id;
    hasMessage_ = true;
    std::this_thread::yield();
  }

 private:
  static void Yield(int32_t) { std::this_thread::yield(); }

  std::atomic<int32_t> total_{-1};
  std::atomic<int32_t> current_{-1};
  std::atomic<bool> hasError_{false};
  std::atomic<bool> hasMessage_{false};
  std::atomic<int32_t> errorId_{-1};
  std::atomic<int32_t> messageId_{-1};
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
