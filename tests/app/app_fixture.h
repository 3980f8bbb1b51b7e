// What the desktop program's tests share: a temporary folder, backup sets
// written by the test support, an application whose configuration and lock
// live in that folder, and a watcher that answers the modal boxes the
// program raises while a test drives it.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QUrl>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/qpx_manager_app.h"
#include "app/restore_dialog_base.h"
#include "app/task_progress.h"
#include "support/backup_set_writer.h"

namespace apptest {

// Answers every message box that becomes modal with `answer` and records
// its text; other modal windows are left to `other` when given.
class ModalWatcher : public QObject {
  Q_OBJECT

 public:
  explicit ModalWatcher(QMessageBox::StandardButton answer = QMessageBox::Ok);
  void SetAnswer(QMessageBox::StandardButton answer) { answer_ = answer; }
  void SetOtherHandler(std::function<void(QWidget*)> other) { other_ = std::move(other); }
  const QStringList& Texts() const { return texts_; }
  void Clear() { texts_.clear(); }

 private:
  void Poll();

  QTimer timer_;
  QMessageBox::StandardButton answer_;
  std::function<void(QWidget*)> other_;
  QStringList texts_;
  bool handling_ = false;
};

// A task for the progress dialog that runs until released, then returns `result`.
class HeldTask : public app::CShowTaskProgressDlgConnector {
 public:
  explicit HeldTask(int32_t result = 1) : result_(result) {}
  int32_t RunTask(app::CShowTaskProgressDlg& dialog) override;
  int32_t GetCaptionId() override { return 127; }
  int32_t GetMessageId() override { return 129; }
  QString GetMessageText() override { return {}; }
  bool IsDeterminate() override { return false; }
  int32_t GetPercent() override { return 0; }
  QString GetSubText() override { return {}; }
  std::atomic<bool> release{false};

 private:
  int32_t result_;
};

// A restore dialog that only records: it stands for a dialog the run reports
// to, running from the start.
class ProbeDialog final : public app::CRestoreDialogBase {
 public:
  explicit ProbeDialog(app::CQPXManagerApp& app) : CRestoreDialogBase(app) { running_ = true; }
  ~ProbeDialog() override { running_ = false; }
  void SetStatusText(const QString& text) override { status = text; }
  QString StatusText() const override { return status; }
  void RestoreFinished() override { running_ = false; }
  QString status;

 protected:
  QWidget* StatusWidget() const override { return const_cast<ProbeDialog*>(this); }
};

// The numbered text as the program shows it.
QString Txt(int id);

// A folder of its own for each test, and an application living in it.
class AppHarness {
 public:
  AppHarness();
  ~AppHarness();

  std::filesystem::path Dir() const { return dir_.path().toStdString(); }
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString ConfigFile() const { return Path(QStringLiteral("Tessera.ini")); }

  // Starts a new application (ending the one before) with `arguments`.
  app::CQPXManagerApp& Start(const QStringList& arguments = {});
  app::CQPXManagerApp& App() { return *app_; }
  void Stop();

  // The four generations of the sample set, in `folder` below Dir().
  testsupport::BackupSetFiles WriteSampleSet(const std::string& folder = "set");
  testsupport::BackupSetFiles WriteSet(const testsupport::BackupSetSpec& setPlan, const std::string& folder);

 private:
  QTemporaryDir dir_;
  std::unique_ptr<app::CQPXManagerApp> app_;
};

QString Q(const std::filesystem::path& path);

// Records the local files the program hands to the desktop to open, for
// as long as it lives.
class OpenedUrls : public QObject {
  Q_OBJECT

 public:
  OpenedUrls();
  ~OpenedUrls() override;
  QStringList paths;

 public slots:
  void Open(const QUrl& url) { paths << url.toLocalFile(); }
};

// A file's bytes, or "<missing>".
QByteArray ReadAll(const QString& path);

// The names the tree pane shows below a path (top level for an empty path).
QStringList TreeChildren(app::CQPXManagerApp& app, const QString& path = {});
// The names the list pane shows, in order.
QStringList ListNames(app::CQPXManagerApp& app);

}  // namespace apptest
