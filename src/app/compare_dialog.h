// "世代の比較": what changed between two generations of the loaded set, the
// added, removed and changed files and folders, in a table that can be
// narrowed to each kind. The difference is worked out on a worker thread.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QSortFilterProxyModel>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace IncrementalBackup {
class CBackupSet;
}

namespace app {

// One line of the difference.
struct CompareRow {
  enum Kind : uint8_t { kAdded, kRemoved, kChanged };
  Kind kind = kAdded;
  bool folder = false;
  QString path;
  // The file's size on each side; -1 where it has none there (or its
  // archive lacks the entry).
  qint64 fromSize = -1, toSize = -1;
  uint64_t fromModified = 0, toModified = 0;
};

// The rows as a table: 状態, 種類, パス, and each side's size and time.
class CCompareModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kState, kType, kPath, kFromSize, kToSize, kColumns };
  using QAbstractTableModel::QAbstractTableModel;

  void SetRows(std::vector<CompareRow> rows);
  const CompareRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<CompareRow> rows_;
};

// Keeps the kinds whose box is checked.
class CCompareFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void SetShown(CompareRow::Kind kind, bool shown);

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override;
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

 private:
  bool shown_[3] = {true, true, true};
};

// The difference between generations `from` and `to` (0-based) as rows:
// files added, removed and changed, then folders added and removed.
std::vector<CompareRow> CompareGenerations(const IncrementalBackup::CBackupSet& set, long from, long to);

class CCompareDialog : public QDialog {
  Q_OBJECT

 public:
  // The set must stay loaded and untouched while the dialog is open. The
  // first comparison, of the generation before the shown one with the shown
  // one, starts at once.
  // `restore` restores full pane paths as a generation (1-based) holds them,
  // over the window given; without it nothing can be restored from here.
  using Restore = std::function<void(long generation, const QStringList& paths, QWidget* over)>;
  CCompareDialog(const IncrementalBackup::CBackupSet& set, QWidget* parent = nullptr, Restore restore = {});
  ~CCompareDialog() override;

  QComboBox* FromCombo() const { return from_; }
  QComboBox* ToCombo() const { return to_; }
  QCheckBox* KindBox(CompareRow::Kind kind) const { return kinds_[kind]; }
  QTableView* Table() const { return table_; }
  CCompareModel* Model() const { return model_; }
  QLabel* Summary() const { return summary_; }
  QPushButton* RestoreButton(bool fromSide) const { return fromSide ? restoreFrom_ : restoreTo_; }
  // The selected rows' paths that side holds, as the restore takes them.
  QStringList PathsOn(bool fromSide) const;
  bool IsComparing() const { return worker_.joinable(); }

 signals:
  // A comparison has ended and its rows are shown.
  void compared();

 private:
  void Compare();
  void Show(std::vector<CompareRow> rows, long from, long to);
  void UpdateSummary();
  void UpdateRestore();

  const IncrementalBackup::CBackupSet& set_;
  QComboBox* from_;
  QComboBox* to_;
  QCheckBox* kinds_[3];
  QTableView* table_;
  CCompareModel* model_;
  CCompareFilter* filter_;
  QLabel* summary_;
  QPushButton* restoreFrom_;
  QPushButton* restoreTo_;
  Restore restore_;
  // The generations (0-based) the rows shown were compared between.
  long comparedFrom_ = -1, comparedTo_ = -1;
  std::thread worker_;
  // A choice made while a comparison runs waits for it to end: two workers
  // never read the set at once.
  bool pending_ = false;
};

}  // namespace app
