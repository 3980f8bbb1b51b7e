// "バージョン履歴": the versions of one stored file across the generations
// of the loaded set, a row per generation that stored or removed it, with
// the generations where it stayed the same folded into the row that holds
// its data. A row is opened or restored from its own generation; the main
// window goes on showing the generation it shows.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "generations/set_history.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace app {

class CVersionsDialog : public QDialog {
  Q_OBJECT

 public:
  enum Column { kGeneration, kDate, kSize, kCrc, kModified, kNote, kColumns };
  // What 開く and 復元 do with a row: the generation (1-based) that holds
  // the row's data, and the dialog for what they show over it.
  using Action = std::function<void(long generation, QWidget* over)>;

  // `path` is the file's stored path ("C:\Data\a.txt"). The set must stay
  // loaded and untouched while the dialog is open.
  CVersionsDialog(const IncrementalBackup::CBackupSet& set, const QString& path, Action open, Action restore,
                  QWidget* parent = nullptr);

  QTableWidget* Table() const { return table_; }
  QPushButton* OpenButton() const { return open_; }
  QPushButton* RestoreButton() const { return restore_; }
  const std::vector<IncrementalBackup::Version>& Versions() const { return versions_; }

 private:
  // The row's version when it holds data that can be had; null otherwise.
  const IncrementalBackup::Version* Usable(int row) const;
  void UpdateButtons();
  void Run(const Action& action);

  std::vector<IncrementalBackup::Version> versions_;
  Action openAction_, restoreAction_;
  QTableWidget* table_;
  QPushButton* open_;
  QPushButton* restore_;
};

}  // namespace app
