#include "app/restore_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <condition_variable>

#include "app/app_texts.h"
#include "app/ask_to_user_dialog.h"
#include "app/show_log_dlg.h"
#include "host/host_path.h"
#include "host/volume.h"
#include "restore/log.h"
#include "restore/restore_summary.h"

namespace app {
namespace {

FreeSpaceQuery& FreeSpaceOverride() {
  static FreeSpaceQuery query;
  return query;
}

std::u16string Engine(const QString& hostPath) { return host::ToEnginePath(hostPath.toStdString()); }

}  // namespace

QString SpaceText(uint64_t bytes) {
  // "%I64u" of the kibibytes, then the commas.
  QString digits = QString::number(bytes >> 10);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, u',');
  return digits;
}

bool IsUnmountedNetworkLocation(const QString& target) {
  if (target.startsWith(QStringLiteral("//")) || target.startsWith(QStringLiteral("\\\\"))) return true;
  const QUrl url(target, QUrl::StrictMode);
  return url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1 && url.scheme() != QStringLiteral("file");
}

void SetFreeSpaceQuery(FreeSpaceQuery query) { FreeSpaceOverride() = std::move(query); }

bool QueryFreeSpace(const QString& hostFolder, uint64_t& freeBytes) {
  if (FreeSpaceOverride()) return FreeSpaceOverride()(hostFolder, freeBytes);
  host::DiskSpace space;
  if (!host::GetDiskSpace(Engine(hostFolder), space)) return false;
  freeBytes = space.freeBytes;
  return true;
}

bool HasDriveRoot(const QString& hostFolder) {
  if (hostFolder.isEmpty() || !QDir::isAbsolutePath(hostFolder)) return false;
  std::u16string root;
  return host::GetVolumeRoot(Engine(hostFolder), root);
}

// A question of the worker's: made and waited on by the worker, answered by
// the user-interface thread, or as a cancel when the run is aborted.
class CRestoreRun::Query {
 public:
  void Answer(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (answered_) return;
    answer_ = answer;
    answered_ = true;
    done_.notify_all();
  }
  bool Answered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
  }
  int Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return answered_; });
    return answer_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool answered_ = false;
  int answer_ = 0;
};

// The run's side of the questions and notices: each is shown by the
// user-interface thread while the worker waits for the answer.
class CRestoreRun::User : public QPXFile::IRestoreUser {
 public:
  explicit User(CRestoreRun& run) : run_(run) {}

  QPXFile::RestoreChoice Ask(const QPXFile::RestoreQuestion& question) override {
    const int answer = run_.Ask(
        [&] {
          CAskToUserDialog dialog(QString::fromStdU16String(question.message), {static_cast<int>(question.choices[0]),
                                                     static_cast<int>(question.choices[1]),
                                                     static_cast<int>(question.choices[2])},
                                  question.information ? CAskToUserDialog::Icon::Information
                                                       : CAskToUserDialog::Icon::Question,
                                  run_.questionParent_);
          return dialog.Ask();
        },
        QPXFile::kChoiceNone);
    return static_cast<QPXFile::RestoreChoice>(answer);
  }

  void ShowError(const QPXFile::RestoreNotice& notice) override {
    const QString text = QString::fromStdU16String(notice.message);
    run_.Ask(
        [text] {
          ShowErrorText(text);
          return 0;
        },
        0);
  }

  void ShowProgress(const QPXFile::RestoreProgressState& state) override {
    {
      std::lock_guard<std::mutex> lock(run_.displayMutex_);
      run_.display_.percent = state.percent;
      if (!state.currentFile.empty()) run_.display_.currentFile = QString::fromStdU16String(state.currentFile);
    }
    run_.shownPercent_ = state.percent;
    run_.PostRefresh();
  }

 private:
  CRestoreRun& run_;
};

CRestoreRun::CRestoreRun(QWidget* questionParent)
    : user_(std::make_unique<User>(*this)), questionParent_(questionParent) {}

CRestoreRun::~CRestoreRun() { Abort(); }

bool CRestoreRun::Prepare(IncrementalBackup::CBackupSet& set, IncrementalBackup::RestoreSelection selection,
                          const QString& hostTarget, QString& problem) {
  Join();
  target_ = hostTarget;
  // One trailing separator goes; the root stays the root.
  if (target_.size() > 1 && target_.endsWith(u'/')) target_.chop(1);
  job_ = std::make_unique<IncrementalBackup::CRestoreJob>(set, std::move(selection),
                                                          IncrementalBackup::RestoreJobOptions{Engine(target_), {}});
  QPXFile::Problems problems;
  std::string why;
  if (!job_->Plan(problems) || !job_->PrepareDestination(why)) {
    problem = QString::fromStdString(problems.empty() ? why : problems.front().message);
    job_.reset();
    return false;
  }
  archiveName_ = job_->Name();
  totalBytes_ = job_->TotalBytes();
  summary_ = QPXFile::RestoreSummary{};
  busy_ = false;
  continue_ = false;
  failed_ = false;
  aborted_ = false;
  shownPercent_ = 0;
  refreshPending_ = false;
  std::lock_guard<std::mutex> lock(displayMutex_);
  display_ = Display{};
  return true;
}

void CRestoreRun::BindForTest(const std::u16string& archiveName, uint64_t totalBytes) {
  Join();
  if (!unloaded_) unloaded_ = std::make_unique<IncrementalBackup::CBackupSet>(std::string());
  job_ = std::make_unique<IncrementalBackup::CRestoreJob>(*unloaded_, IncrementalBackup::RestoreSelection{},
                                                          IncrementalBackup::RestoreJobOptions{});
  archiveName_ = archiveName;
  totalBytes_ = totalBytes;
  job_->Begin(*user_, archiveName_, totalBytes_);
  continue_ = true;
}

const QPXFile::CLogger& CRestoreRun::Log() const {
  static const QPXFile::CLogger none;
  return job_ ? job_->Log() : none;
}

void CRestoreRun::Start() {
  Join();
  busy_ = true;
  worker_ = std::thread([this] { RunWorker(); });
}

void CRestoreRun::Join() {
  if (worker_.joinable()) worker_.join();
}

void CRestoreRun::Abort() {
  aborted_ = true;
  RequestCancel();
  {
    std::lock_guard<std::mutex> lock(queryMutex_);
    if (openQuery_) openQuery_->Answer(QPXFile::kChoiceNone);
  }
  Join();
}

void CRestoreRun::RequestCancel() {
  continue_ = false;
  if (job_) job_->RequestCancel();
}

bool CRestoreRun::OnEvent(const QPXFile::RestoreEvent& event) {
  if (event.code == QPXFile::kEventRunStarted) emit runStarted();
  return job_ && job_->OnEvent(event);
}

bool CRestoreRun::OnProgress(uint64_t bytes) { return job_ && job_->OnProgress(bytes); }

CRestoreRun::Display CRestoreRun::TakeDisplay() {
  std::lock_guard<std::mutex> lock(displayMutex_);
  refreshPending_ = false;
  Display out = display_;
  display_.currentFile.clear();
  return out;
}

void CRestoreRun::PostRefresh() {
  // One refresh waits at a time: the window repaints as often as it can,
  // never once per file.
  if (refreshPending_.exchange(true)) return;
  emit progressed();
}

int CRestoreRun::Ask(const std::function<int()>& work, int cancelled) {
  if (QThread::currentThread() == thread()) return work();
  auto query = std::make_shared<Query>();
  {
    std::lock_guard<std::mutex> lock(queryMutex_);
    if (aborted_) return cancelled;
    openQuery_ = query;
  }
  QMetaObject::invokeMethod(
      this,
      [query, work] {
        // Answered already when the run was aborted before this came up.
        if (!query->Answered()) query->Answer(work());
      },
      Qt::QueuedConnection);
  const int answer = query->Wait();
  std::lock_guard<std::mutex> lock(queryMutex_);
  openQuery_.reset();
  return answer;
}

QString CRestoreRun::SuggestedLogName() const {
  QString name = QString::fromStdU16String(archiveName_);
  const qsizetype qpm = name.indexOf(QStringLiteral(".qpm"));
  if (qpm >= 0) name.remove(qpm, 4);
  // The archive's name may carry its folder in the engine's form.
  name = name.mid(name.lastIndexOf(u'\\') + 1) + QStringLiteral(".qpx");
  return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(name);
}

void CRestoreRun::RunWorker() {
  continue_ = !aborted_;
  failed_ = false;
  busy_ = true;
  emit titleText(AppText(Text::kTitleRunning));

  if (job_) {
    summary_ = job_->Run(*user_, [this](const QPXFile::RestoreEvent& event) {
      if (event.code == QPXFile::kEventRunStarted) emit runStarted();
    });
  } else {
    summary_ = QPXFile::RestoreSummary{};
  }
  if (job_ && job_->Stopped()) continue_ = false;
  const bool ok = summary_.outcome != QPXFile::RestoreOutcome::kStopped;
  if (ok) emit full();
  if (!ok) failed_ = true;
  if (job_) {
    // Records the set's merged tree could not hold are named in the log.
    QPXFile::CLogger& log = job_->Log();
    for (const std::u16string& record : job_->Unheld())
      log.Add(QPXFile::CMessageLog(
          QString::fromUtf8(RestoreFixedText::kUnheldRecord).arg(QString::fromStdU16String(record)).toStdU16String()));
    log.Add(QPXFile::CMessageLog(QPXFile::SummaryLine(summary_, target_.toStdU16String())));
  }
  emit ending();

  if (showLog_) {
    const QString suggested = SuggestedLogName();
    Ask(
        [this, suggested] {
          CShowLogDlg log(Log(), suggested, questionParent_);
          return log.exec();
        },
        0);
  }
  busy_ = false;
  emit finished();
}

}  // namespace app
