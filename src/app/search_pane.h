// Search across every generation of the loaded set: a field in the bar
// (Ctrl+F) and, below the panes, the results with the generations each one
// is present in, its newest size and time and how many versions the set
// holds. Enter runs the search on a worker; activating a result shows it in
// a generation that holds it.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace app {

class CMainFrame;
class IFrameOwner;

struct SearchHit {
  QString name, folder, path;
  bool isFolder = false;
  std::vector<long> generations;  // 0-based, ascending
  qint64 size = -1;               // newest version's; -1: none known
  uint64_t modified = 0;
  int versions = 0;
};

class CSearchResultModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kName, kFolder, kGenerations, kSize, kModified, kVersions, kColumns };
  using QAbstractTableModel::QAbstractTableModel;

  void Clear();
  void Append(std::vector<SearchHit> hits);
  const SearchHit& Hit(int row) const { return hits_[static_cast<size_t>(row)]; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  std::vector<SearchHit> hits_;
};

class CSearchPane : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kUpdateIntervalMs = 100;
  // More would only fill memory; the pattern can be narrowed instead.
  static constexpr long kMaxHits = 100000;

  CSearchPane(IFrameOwner& app, CMainFrame& frame, QWidget* parent);
  ~CSearchPane() override;

  // The field for the bar.
  QLineEdit* Field() const { return field_; }
  QTreeView* Results() const { return results_; }
  CSearchResultModel& Model() { return model_; }
  QLabel* Status() const { return status_; }
  QPushButton* StopButton() const { return stop_; }
  bool IsSearching() const { return worker_.joinable(); }

  // Runs the field's pattern over the loaded set.
  void Search();
  // Stops a search and waits for its worker.
  void Stop();
  // A set was loaded or let go: the results of the one before go.
  void SetOpened(bool opened);
  // Shows result `row` in the panes: a generation that holds it, its folder, it selected.
  bool Activate(int row);

 signals:
  // A search has ended (all found, stopped or cut at kMaxHits).
  void searchEnded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void TakeHits();
  void Ended(unsigned serial, bool stopped);
  void SetSearching(bool searching);

  IFrameOwner& app_;
  CMainFrame& frame_;
  QLineEdit* field_;
  QLabel* status_;
  QPushButton* stop_;
  QPushButton* close_;
  QTreeView* results_;
  CSearchResultModel model_;
  QTimer timer_;

  std::thread worker_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> capped_{false};
  unsigned serial_ = 0;  // of the search last started
  std::mutex hitsLock_;
  std::vector<SearchHit> pending_;  // found by the worker, taken by the timer
};

}  // namespace app
