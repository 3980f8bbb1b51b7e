// A restore run of the desktop program: the engine's restore job on a
// worker thread, owned by the dialog that shows it.
//
// Threads: the worker never touches a widget. What it shows goes out as
// queued signals (progress, texts, finished); a question, an error box or
// the result log is a query: the worker makes it and waits, the
// user-interface thread shows it and stores the answer. The user-interface
// thread never waits for the worker while the worker may be waiting for it:
// Abort answers an open query as a cancel before it joins.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <QObject>
#include <thread>

#include "generations/restore_job.h"
#include "restore/log.h"
#include "restore/restore_session.h"
#include "restore/restore_summary.h"

class QWidget;

namespace app {

// Texts the restore dialogs show that are fixed in the program.
namespace RestoreFixedText {
inline constexpr char kCancelQuestion[] = "復元処理を中断しますか？";
inline constexpr char kNotChosen[] = "(未選択)";
inline constexpr char kSpaceUnknown[] = "(取得失敗)";
inline constexpr char kNetworkTarget[] =
    "復元先のフォルダがネットワークパスのため復元を開始できません。\r\n参照(R)ボタンを押して復元先を選択してください。";
inline constexpr char kNoSpace[] =
    "復元先に十分な容量がありません。\r\n他のドライブを選択するか、ファイルを削除するなどして\r\n空き容量を増やしてください。";
inline constexpr char kReady[] = "復元を開始できます。\r\n「復元を開始」ボタンを押して下さい。";
inline constexpr char kInvalidDrive[] =
    "有効でないドライブが選択されています。\r\n参照(R)ボタンを押して復元先を選択してください。";
inline constexpr char kUserCancelled[] = "ユーザーにより処理が中止されました。";
inline constexpr char kFailed[] = "復元に失敗しました。";
inline constexpr char kAutoNetworkTarget[] = "対象がネットワークフォルダのため復元できません";
inline constexpr char kTemporaryFailed[] = "テンポラリフォルダの生成に失敗しました。";
inline constexpr char kTargetMissing[] = "復元先のフォルダが見つかりません。\n%1";
inline constexpr char kUnheldRecord[] = "%1 は世代によってファイルとフォルダが入れ替わるため復元されませんでした。";
}  // namespace RestoreFixedText

// The kibibytes of `bytes` (truncated) with a comma between every three
// digits: 1263616 bytes -> "1,234".
QString SpaceText(uint64_t bytes);

// A network location that is not mounted: a URL of another scheme than
// file ("smb://server/share") or a path naming a server ("//server/share").
bool IsUnmountedNetworkLocation(const QString& target);

// The free bytes of the volume that holds a host folder; false when they
// cannot be read. Replaceable, so that tests can stand in a full volume.
using FreeSpaceQuery = std::function<bool(const QString& hostFolder, uint64_t& freeBytes)>;
void SetFreeSpaceQuery(FreeSpaceQuery query);  // an empty function restores the real one
bool QueryFreeSpace(const QString& hostFolder, uint64_t& freeBytes);
// Whether the folder lies on a drive the engine can write to (an absolute host path).
bool HasDriveRoot(const QString& hostFolder);

// One run: prepared on the user-interface thread, run on its worker.
class CRestoreRun : public QObject {
  Q_OBJECT

 public:
  // `questionParent` is the window questions and the log are shown over.
  explicit CRestoreRun(QWidget* questionParent = nullptr);
  // Aborts a run still going and joins it.
  ~CRestoreRun() override;

  // Before a run: plans the restore of `selection` from `set` into
  // `hostTarget`; the last run's log goes. False, with the problem, when there is
  // nothing it can restore from.
  bool Prepare(IncrementalBackup::CBackupSet& set, IncrementalBackup::RestoreSelection selection,
               const QString& hostTarget, QString& problem);
  // Starts the worker on the prepared run.
  void Start();
  // The worker's body (tests may run it on a thread of their own).
  void RunWorker();
  // Waits for a worker that has reported its end.
  void Join();
  // Quitting: stops the run, answers an open question as a cancel and
  // joins, without waiting for this thread's event loop.
  void Abort();

  // The user's "stop": the run ends at its next callback, which logs the stop.
  void RequestCancel();

  // The engine's callbacks for the run, as the worker passes them. Public
  // so that tests can send events as the driver would.
  bool OnEvent(const QPXFile::RestoreEvent& event);
  bool OnProgress(uint64_t bytes);

  bool IsBusy() const { return busy_; }
  bool Continues() const { return continue_; }
  bool Failed() const { return failed_; }
  void SetShowLog(bool show) { showLog_ = show; }
  uint64_t TotalBytes() const { return totalBytes_; }
  unsigned ShownPercent() const { return shownPercent_; }
  const QString& Target() const { return target_; }
  // Read after finished().
  const QPXFile::RestoreSummary& Summary() const { return summary_; }
  // The log of the last run, kept until the next one is prepared.
  const QPXFile::CLogger& Log() const;
  // The suggested name of the saved log: the documents folder and the
  // restore archive's name, ".qpm" taken out, with ".qpx".
  QString SuggestedLogName() const;

  // For tests of the event callback without a run: a job with nothing
  // planned, its session started as a run would start it.
  void BindForTest(const std::u16string& archiveName, uint64_t totalBytes);

  // The state the user-interface thread reads when it refreshes the dialog.
  struct Display {
    unsigned percent = 0;
    QString currentFile;
  };
  Display TakeDisplay();

 signals:
  // Queued from the worker.
  void runStarted();
  void progressed();
  void statusText(const QString& text);
  void titleText(const QString& text);
  void full();
  // Before the log is shown: an open question whether to stop goes.
  void ending();
  // The worker has ended: join it and read the outcome.
  void finished();

 private:
  class User;
  class Query;

  // Runs `work` on the user-interface thread while the calling worker waits
  // for its answer; `cancelled` when the run is aborted meanwhile.
  int Ask(const std::function<int()>& work, int cancelled);
  void PostRefresh();

  std::unique_ptr<User> user_;
  QWidget* questionParent_;
  // What BindForTest's job stands on: a set never loaded.
  std::unique_ptr<IncrementalBackup::CBackupSet> unloaded_;
  std::unique_ptr<IncrementalBackup::CRestoreJob> job_;
  QPXFile::RestoreSummary summary_;
  std::u16string archiveName_;
  QString target_;
  std::thread worker_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> continue_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> aborted_{false};
  bool showLog_ = true;
  uint64_t totalBytes_ = 0;
  std::atomic<unsigned> shownPercent_{0};

  std::mutex queryMutex_;
  std::shared_ptr<Query> openQuery_;

  std::mutex displayMutex_;
  Display display_;
  std::atomic<bool> refreshPending_{false};
};

}  // namespace app
