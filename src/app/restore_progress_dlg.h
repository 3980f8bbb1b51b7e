// The restore dialog (dialog 168): the user chooses the target folder, sees
// the free and the needed space, starts the restore of the selection,
// follows it, may cancel it, and gets the result log; the target folder can
// be opened in the file manager afterwards.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QTimer>
#include <functional>

#include "app/restore_dialog_base.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace app {

class CRestoreProgressDlg : public CRestoreDialogBase {
  Q_OBJECT

 public:
  static constexpr int kCloseCheckMs = 1000;

  CRestoreProgressDlg(CQPXManagerApp& app, IncrementalBackup::RestoreSelection selection, QWidget* parent = nullptr);

  // Asks for a folder: a host path, a URL for a location that is not a
  // local folder, or empty when the user cancelled.
  using FolderChooser = std::function<QString(QWidget* parent, const QString& title, const QString& start)>;
  // An empty function restores Qt's folder dialog.
  static void SetFolderChooser(FolderChooser chooser);
  // Options of Qt's folder dialog (tests use Qt's own).
  static void SetFileDialogOptions(QFileDialog::Options options);

  const QString& TargetFolder() const { return target_; }
  const IncrementalBackup::RestoreSelection& Selection() const { return selection_; }
  // Sets the target as "参照(&R)" would after a choice, without the dialog.
  void SetTargetFolder(const QString& folder);

  void SetStatusText(const QString& text) override;
  QString StatusText() const override;
  void RestoreFinished() override;

  // "参照(&R)" and "復元を開始".
  void OnBrowse();
  // What the user typed or pasted into the target field, checked as a
  // folder chosen with "参照(&R)" is; false when refused.
  bool TakeTypedTarget();
  void OnStart();

  QPushButton* StartButton() const { return start_; }
  QPushButton* BrowseButton() const { return browse_; }
  QPushButton* CancelButton() const { return cancel_; }
  QLineEdit* TargetEdit() const { return targetEdit_; }
  QLineEdit* FreeEdit() const { return freeEdit_; }
  QLineEdit* NeededEdit() const { return neededEdit_; }
  QCheckBox* OpenAfterBox() const { return openAfter_; }

 protected:
  QWidget* StatusWidget() const override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateInformation();
  bool TakeChosenTarget(const QString& chosen);
  void RefreshSpace();
  void OnTimer();
  void MailDataNotice();

  IncrementalBackup::RestoreSelection selection_;
  uint64_t neededBytes_ = 0;
  QString target_;
  uint64_t freeBytes_ = 0;
  bool noticeShown_ = false;
  QLineEdit* targetEdit_;   // 1013
  QLineEdit* freeEdit_;     // 1014
  QLineEdit* neededEdit_;   // 1015
  QPlainTextEdit* status_;  // 1019
  QCheckBox* openAfter_;    // 1021
  QPushButton* browse_;     // 1003
  QPushButton* start_;      // 1
  QPushButton* cancel_;     // 2
  QTimer timer_;            // timer 1
};

}  // namespace app
