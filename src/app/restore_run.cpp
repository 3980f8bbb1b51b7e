#include "app/restore_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include "app/app_texts.h"
#include "app/ask_to_user_dialog.h"
#include "app/qpx_manager_app.h"
#include "app/restore_dialog_base.h"
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

// The run's side of the questions and notices: each is shown by the
// user-interface thread while the worker waits for the answer.
class CRestoreRun::User : public QPXFile::IRestoreUser {
 public:
  explicit User(CRestoreRun& run) : run_(run) {}

  QPXFile::RestoreChoice Ask(const QPXFile::RestoreQuestion& question) override {
    int answer = 0;
    run_.RunOnDialog(
        [&] {
          CAskToUserDialog dialog(QString::fromStdU16String(question.message), {static_cast<int>(question.choices[0]),
                                                     static_cast<int>(question.choices[1]),
                                                     static_cast<int>(question.choices[2])},
                                  question.information ? CAskToUserDialog::Icon::Information
                                                       : CAskToUserDialog::Icon::Question,
                                  run_.dialog_);
          answer = dialog.Ask();
        },
        true);
    return static_cast<QPXFile::RestoreChoice>(answer);
  }

  void ShowError(const QPXFile::RestoreNotice& notice) override {
    const QString text = QString::fromStdU16String(notice.message);
    run_.RunOnDialog([text] { ShowErrorText(text); }, true);
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

CRestoreRun& CRestoreRun::Instance() {
  static CRestoreRun run;
  return run;
}

CRestoreRun::CRestoreRun() : user_(std::make_unique<User>(*this)), session_(*user_, QPXFile::RestoreLogger()) {}

CRestoreRun::~CRestoreRun() = default;

bool CRestoreRun::Prepare(CQPXManagerApp& app, CRestoreDialogBase* dialog, const QString& hostTarget) {
  Reset();
  dialog_ = dialog;
  IncrementalBackup::CBackupSet* set = app.MutableSet();
  if (set == nullptr) return false;
  archive_ = set->Creator().CreateRestoreArchive();
  if (!archive_) return false;

  target_ = hostTarget;
  // One trailing separator goes; the root stays the root.
  if (target_.size() > 1 && target_.endsWith(u'/')) target_.chop(1);
  restoreTarget_ = QPXFile::RestoreTarget{};
  restoreTarget_.hasDestinationRoot = true;
  restoreTarget_.destinationRoot = Engine(target_);
  restoreTarget_.shownFolder = app.CurrentFolder().toStdU16String();
  // Nothing is written through a link below the chosen folder, and the
  // set's own files are never replaced by restored ones.
  restoreTarget_.confinedBelow = restoreTarget_.destinationRoot;
  std::vector<std::string> archives;
  for (long g = 0; g < set->Count(); ++g) archives.push_back(set->ArchiveText(g));
  restoreTarget_.protectedFiles = QPXFile::ProtectedFiles(archives, {set->ManagementHostPath()});

  archive_->GetPathName(archiveName_);
  if (!archive_->GetTotalFileSize(totalBytes_)) totalBytes_ = set->Creator().GetTotalFileSize();
  session_.Reset(archiveName_, totalBytes_);
  busy_ = false;
  continue_ = false;
  failed_ = false;
  shownPercent_ = 0;
  showLog_ = true;
  return true;
}

void CRestoreRun::BindForTest(CRestoreDialogBase* dialog, const std::u16string& archiveName, uint64_t totalBytes) {
  Reset();
  dialog_ = dialog;
  archiveName_ = archiveName;
  totalBytes_ = totalBytes;
  session_.Reset(archiveName_, totalBytes_);
  continue_ = true;
}

void CRestoreRun::Reset() {
  archive_.reset();
  dialog_ = nullptr;
  target_.clear();
  restoreTarget_ = QPXFile::RestoreTarget{};
  busy_ = false;
  continue_ = false;
  failed_ = false;
  totalBytes_ = 0;
  shownPercent_ = 0;
  showLog_ = true;
  refreshPending_ = false;
  QPXFile::RestoreLogger().Clear();
  std::lock_guard<std::mutex> lock(displayMutex_);
  display_ = Display{};
}

void CRestoreRun::RequestCancel() {
  continue_ = false;
  session_.RequestCancel();
}

bool CRestoreRun::OnEvent(const QPXFile::RestoreEvent& event) {
  if (event.code == QPXFile::kEventRunStarted) OnDialog([](CRestoreDialogBase& d) { d.ResetProgress(); });
  return session_.OnEvent(event);
}

bool CRestoreRun::OnProgress(uint64_t bytes) { return session_.OnProgress(bytes); }

CRestoreRun::Display CRestoreRun::TakeDisplay() {
  std::lock_guard<std::mutex> lock(displayMutex_);
  Display out = display_;
  display_.currentFile.clear();
  return out;
}

void CRestoreRun::PostRefresh() {
  // One refresh waits at a time: the window repaints as often as it can,
  // never once per file.
  if (dialog_ == nullptr || refreshPending_.exchange(true)) return;
  OnDialog([this](CRestoreDialogBase& d) {
    refreshPending_ = false;
    d.RefreshFromRun();
  });
}

void CRestoreRun::RunOnDialog(const std::function<void()>& work, bool wait) {
  QObject* context = dialog_ != nullptr ? static_cast<QObject*>(dialog_) : QCoreApplication::instance();
  if (context == nullptr) return;
  if (QThread::currentThread() == context->thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(context, work, wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void CRestoreRun::OnDialog(const std::function<void(CRestoreDialogBase&)>& work, bool wait) {
  // The dialog is taken now: the state may be reset before a queued call runs.
  CRestoreDialogBase* dialog = dialog_;
  if (dialog == nullptr) return;
  RunOnDialog([dialog, work] { work(*dialog); }, wait);
}

void CRestoreRun::ShowStatus(int id) {
  OnDialog([id](CRestoreDialogBase& d) { d.SetStatusText(AppText(id)); });
}

void CRestoreRun::ShowTitle(int id) {
  OnDialog([id](CRestoreDialogBase& d) { d.setWindowTitle(AppText(id)); });
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
  continue_ = true;
  failed_ = false;
  busy_ = true;
  ShowTitle(RestoreText::kTitleRunning);

  bool ok = archive_ != nullptr &&
            QPXFile::RestoreArchive(*archive_, [this](const QPXFile::RestoreEvent& e) { return OnEvent(e); },
                                    [this](uint64_t bytes) { return OnProgress(bytes); }, restoreTarget_);
  session_.EndRun(ok);
  // A stop asked for after the last callback is still a stop, with its line.
  if (!continue_ && !session_.IsStopped()) session_.OnProgress(0);
  session_.Conclude();
  if (session_.IsStopped()) continue_ = false;
  if (ok) {
    OnDialog([](CRestoreDialogBase& d) { d.ShowFull(); });
    if (!archive_->Close()) {
      RunOnDialog([] { ShowErrorMessage(RestoreText::kCloseFailed); }, true);
      ok = false;
    }
  }
  if (!ok) failed_ = true;
  // The question whether to stop has no more meaning.
  OnDialog([](CRestoreDialogBase& d) { d.CloseCancelQuestion(); }, true);
  QPXFile::RestoreLogger().Add(QPXFile::CMessageLog(QPXFile::SummaryLine(session_.GetCounts(), target_.toStdU16String())));

  if (showLog_) {
    const QString suggested = SuggestedLogName();
    RunOnDialog(
        [this, suggested] {
          CShowLogDlg log(QPXFile::RestoreLogger(), suggested, dialog_);
          log.exec();
        },
        true);
  }

  busy_ = false;
  if (continue_) {
    if (failed_) {
      RunOnDialog([] { ShowErrorMessage(RestoreText::kRestoreFailed); }, true);
      ShowStatus(RestoreText::kStatusFailed);
      ShowTitle(RestoreText::kTitleFailed);
    } else {
      // Entries passed over after a question or by an obstacle are said.
      const QPXFile::RestoreCounts counts = session_.GetCounts();
      OnDialog([counts](CRestoreDialogBase& d) {
        d.SetStatusText(QString::fromStdU16String(QPXFile::DoneText(AppText(RestoreText::kStatusDone).toStdU16String(), counts)));
        d.setWindowTitle(QString::fromStdU16String(QPXFile::DoneText(AppText(RestoreText::kTitleDone).toStdU16String(), counts)));
      });
    }
  } else {
    ShowStatus(RestoreText::kStatusCancelled);
    ShowTitle(RestoreText::kTitleCancelled);
  }
  // The dialog reads the outcome before the state is reset.
  OnDialog([](CRestoreDialogBase& d) { d.RestoreFinished(); }, true);
  Reset();
}

}  // namespace app
