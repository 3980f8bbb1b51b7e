// "整合性テスト": decodes every entry of the shown generation, or every
// version the whole set stored, on a worker thread and checks its CRC; lists
// the damaged entries with the reason, the archives the load could not open,
// and the counts.
#pragma once

#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace IncrementalBackup {
class CBackupSet;
}

namespace app {

class CIntegrityTestDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kUpdateIntervalMs = 100;

  // The set must stay loaded and untouched while the dialog is open.
  CIntegrityTestDialog(const IncrementalBackup::CBackupSet& set, QWidget* parent = nullptr);
  ~CIntegrityTestDialog() override;

  // "開始": tests what the choice names.
  void Start();
  // "中止": the worker stops before its next entry.
  void Stop();
  bool IsRunning() const { return worker_.joinable() && !ended_; }

  QRadioButton* ShownChoice() const { return shown_; }
  QRadioButton* WholeSetChoice() const { return whole_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* StopButton() const { return stop_; }
  QTreeWidget* Results() const { return results_; }
  QLabel* Summary() const { return summary_; }

 signals:
  // The test has ended, completed or stopped, and its results are shown.
  void testEnded();

 public slots:
  void reject() override;

 private:
  struct Found {
    QString name, where, reason;
  };
  void Refresh();
  void TakeFound();
  void Ended(long tested, long damaged, bool stopped);
  void Join();

  const IncrementalBackup::CBackupSet& set_;
  QRadioButton* shown_;
  QRadioButton* whole_;
  QLabel* message_;
  QProgressBar* bar_;
  QLabel* number_;
  QTreeWidget* results_;
  QLabel* summary_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* close_;
  QTimer timer_;

  std::thread worker_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> ended_{false};
  std::atomic<long> total_{-1};
  std::atomic<long> tested_{0};
  std::mutex foundLock_;
  std::vector<Found> found_;  // written by the worker, taken by the timer
  long unopened_ = 0;
};

}  // namespace app
