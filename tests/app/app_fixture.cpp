#include "app_fixture.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <chrono>
#include <thread>

#include "app/app_texts.h"
#include "app/desktop_integration.h"
#include "app/folder_tree_model.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_view.h"
#include "app/task_progress.h"

namespace apptest {

ModalWatcher::ModalWatcher(QMessageBox::StandardButton answer) : answer_(answer) {
  timer_.setInterval(20);
  connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
  timer_.start();
}

void ModalWatcher::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr) return;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    if (!box->isVisible()) return;
    texts_ << box->text();
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) button = box->buttons().isEmpty() ? nullptr : box->buttons().first();
    if (button != nullptr) button->click();
    return;
  }
  if (qobject_cast<app::CShowTaskProgressDlg*>(modal) != nullptr || !other_ || handling_) return;
  // Run outside this timer's own call: Qt does not fire a timer again while
  // its handler runs, and the handler may raise boxes that need answers.
  handling_ = true;
  QTimer::singleShot(0, this, [this, modal = QPointer<QWidget>(modal)] {
    if (modal != nullptr) other_(modal);
    handling_ = false;
  });
}

int32_t HeldTask::RunTask(app::CShowTaskProgressDlg&) {
  while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return result_;
}

QString Txt(int id) { return app::AppText(id); }

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

OpenedUrls::OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
OpenedUrls::~OpenedUrls() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

AppHarness::AppHarness() {
  // Whatever this machine's desktop registers: the tests catch the opening.
  app::SetApplicationQuery([](const QString&) { return true; });
}

AppHarness::~AppHarness() {
  Stop();
  app::SetApplicationQuery({});
}

app::CQPXManagerApp& AppHarness::Start(const QStringList& arguments) {
  Stop();
  app_ = std::make_unique<app::CQPXManagerApp>(
      app::AppOptions{.configFile = ConfigFile(), .lockFile = Path(QStringLiteral("Tessera.lock"))});
  if (!app_->InitInstance(arguments)) throw std::runtime_error("start-up failed");
  return *app_;
}

void AppHarness::Stop() {
  if (app_ == nullptr) return;
  app_->ExitInstance();
  app_.reset();
}

testsupport::BackupSetFiles AppHarness::WriteSampleSet(const std::string& folder) {
  return WriteSet(testsupport::SampleBackupSet(), folder);
}

testsupport::BackupSetFiles AppHarness::WriteSet(const testsupport::BackupSetSpec& setPlan, const std::string& folder) {
  return testsupport::WriteBackupSet(setPlan, Dir() / folder);
}

QStringList TreeChildren(app::CQPXManagerApp& app, const QString& path) {
  const app::FolderTreeModel& model = app.MainFrame()->TreePane()->Model();
  QModelIndex item;
  if (!path.isEmpty()) {
    item = model.IndexOf(model.FindFolder(path));
    if (!item.isValid()) return {QStringLiteral("<no item ") + path + u'>'};
  }
  QStringList names;
  for (int row = 0; row < model.rowCount(item); ++row)
    names << QStringView(model.FolderOf(model.index(row, 0, item))->GetName()).toString();
  return names;
}

QStringList ListNames(app::CQPXManagerApp& app) {
  QStringList names;
  for (const app::ListEntry& entry : app.MainFrame()->ListPane()->Model().Entries()) names << entry.Name();
  return names;
}

}  // namespace apptest
