// The restore run of the desktop program: one process-wide state shared by
// the restore dialog, the automatic restore dialog and the worker thread
// that drives the engine for them.
//
// Threads: the worker never touches a widget. What it shows goes to the
// dialog of the run as queued calls; questions, error boxes, the result log
// and the end of the run are blocking queued calls, answered by the
// user-interface thread while the worker waits. The user-interface thread
// never waits for the worker while the worker may be waiting for it: a
// dialog joins its worker only after the worker has told it the run ended.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "generations/incremental_restore_archive.h"
#include "restore/restore_driver.h"
#include "restore/restore_session.h"

class QWidget;

namespace app {

class CQPXManagerApp;
class CRestoreDialogBase;

// String-table numbers of the restore run.
namespace RestoreText {
constexpr int kChooseFolder = 168;
constexpr int kFolderChoiceFailed = 169;
constexpr int kNotNetworkDrive = 170;
constexpr int kNoDriveLetter = 171;
constexpr int kSpaceFormat = 174;
constexpr int kTitleRunning = 175;
constexpr int kHundred = 176;
constexpr int kCloseFailed = 177;
constexpr int kCancelled = 178;
constexpr int kTitleCancelled = 179;
constexpr int kStatusCancelled = 180;
constexpr int kRestoreFailed = 181;
constexpr int kTitleFailed = 182;
constexpr int kStatusFailed = 183;
constexpr int kTitleDone = 184;
constexpr int kStatusDone = 185;
constexpr int kNoSpaceForTemporary = 246;
}  // namespace RestoreText

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

// The one restore run state of the process.
class CRestoreRun {
 public:
  static CRestoreRun& Instance();

  // Before a run: forgets any earlier run, binds the dialog, makes the
  // restore archive of what is marked in the loaded set's tree (relative to
  // the application's current folder) and clears the log. False when there
  // is nothing to restore from.
  bool Prepare(CQPXManagerApp& app, CRestoreDialogBase* dialog, const QString& hostTarget);
  // After a run (or when a prepared run is not started).
  void Reset();

  // The worker thread's body.
  void RunWorker();

  // The user's "stop": the run ends at its next callback, which logs 178.
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
  QPXFile::CRestoreSession& Session() { return session_; }
  const QPXFile::RestoreCounts& Counts() const { return session_.GetCounts(); }
  // The suggested name of the saved log: the documents folder and the
  // restore archive's name, ".qpm" taken out, with ".qpx".
  QString SuggestedLogName() const;

  // For tests of the event callback without a run: binds a dialog (which
  // owns the questions) and starts the session as Prepare would.
  void BindForTest(CRestoreDialogBase* dialog, const std::u16string& archiveName, uint64_t totalBytes);

  // The state the user-interface thread reads when it refreshes the dialog.
  struct Display {
    unsigned percent = 0;
    QString currentFile;
  };
  Display TakeDisplay();

 private:
  class User;
  CRestoreRun();
  ~CRestoreRun();

  void PostRefresh();
  // Runs `work` on the user-interface thread: at once when called there,
  // else queued, or blocking when `wait` is set.
  void RunOnDialog(const std::function<void()>& work, bool wait);
  void OnDialog(const std::function<void(CRestoreDialogBase&)>& work, bool wait = false);
  void ShowStatus(int id);
  void ShowTitle(int id);

  std::unique_ptr<User> user_;
  QPXFile::CRestoreSession session_;
  CRestoreDialogBase* dialog_ = nullptr;
  std::unique_ptr<IncrementalBackup::CIncrementalRestoreQPXFileExtend> archive_;
  QPXFile::RestoreTarget restoreTarget_;
  std::u16string archiveName_;
  QString target_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> continue_{false};
  std::atomic<bool> failed_{false};
  bool showLog_ = true;
  uint64_t totalBytes_ = 0;
  std::atomic<unsigned> shownPercent_{0};

  std::mutex displayMutex_;
  Display display_;
  std::atomic<bool> refreshPending_{false};
};

}  // namespace app
