// The user's side of a restore run: turns the driver's events into the
// questions and notices a front end shows, remembers the answers given "for
// all", stops the run when the user says so, follows the progress and writes
// the restore log. The command-line tool and the desktop program share it and
// differ only in their IRestoreUser.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/string_ids.h"
#include "restore/log.h"
#include "restore/restore_driver.h"

namespace QPXFile {

// The buttons of a question. Each value is the string-table id of the
// button's caption, so a dialog built from the captions can hand back the id
// of the pressed button as it is.
enum RestoreChoice : uint32_t {
  kChoiceNone = 0,  // closed without pressing a button: treated as stop (or skip)
  kChoiceContinue = host::StringId::kContinue,
  kChoiceContinueAll = host::StringId::kContinueAll,
  kChoiceStop = host::StringId::kStop,
  kChoiceOverwrite = host::StringId::kOverwrite,
  kChoiceOverwriteAll = host::StringId::kOverwriteAll,
  kChoiceSkip = host::StringId::kSkip,
};

// A question for the user. Paths in it are host paths.
struct RestoreQuestion {
  int event = 0;              // the driver's event code
  uint32_t messageId = 0;     // string-table id of the wording
  std::u16string message;     // the wording with its subject filled in, shown escaped (paths::ShownText)
  std::u16string subject;     // the path or file name the question is about, as it is
  RestoreChoice choices[3] = {kChoiceContinue, kChoiceContinueAll, kChoiceStop};  // left to right
  bool information = false;   // shown with the information icon, else the question icon

  bool IsExistingFile() const { return event == kEventFileExists; }
};

// A message the run shows without asking (the run stops after it).
struct RestoreNotice {
  int event = 0;
  uint32_t messageId = 0;
  std::u16string message;
};

struct RestoreProgressState {
  uint64_t doneBytes = 0;
  uint64_t totalBytes = 0;
  unsigned percent = 0;        // never decreases during a run
  std::u16string currentFile;  // host path of the file being restored, or empty
};

// What a front end provides. Called on the thread that runs the restore.
class IRestoreUser {
 public:
  virtual ~IRestoreUser() = default;
  virtual RestoreChoice Ask(const RestoreQuestion& question) = 0;
  virtual void ShowError(const RestoreNotice& notice) = 0;
  // When the percentage grows or another file starts.
  virtual void ShowProgress(const RestoreProgressState& /*state*/) {}
};

// How the entries of the runs since Reset ended.
struct RestoreCounts {
  long restored = 0;       // written, with their times and attributes
  long skipped = 0;        // left alone because the destination file existed
  long failed = 0;         // not restored (damaged, not creatable, too long, ...)
  long incomplete = 0;     // written, but times or attributes could not be set
  long foldersFailed = 0;  // folders whose attributes or times could not be set
  long foldersNotRestored = 0;  // folders without files that could not be made (an obstacle)
  long shortened = 0;      // files and folders restored under a shortened name
};

// Attributes that a file system had no place for (hidden, system and archive
// on ext4, everything but the times through a FAT driver that ignores them):
// the files and folders that lost one attribute on one file system. Such a
// loss is no failure; it is reported once, after the runs.
struct AttributeLoss {
  std::string fileSystem;  // as the mount table names it ("ext4", "tmpfs"), or "?"
  uint32_t attribute = 0;  // one of host::kSettableAttributes
  long files = 0;
  long folders = 0;
};

class CRestoreSession {
 public:
  enum class Outcome {
    kComplete,    // every run went through and every entry was restored fully
    kIncomplete,  // the runs went through, but entries were skipped or failed
    kStopped,     // a run stopped early, was cancelled or could not start
  };

  // `log` receives the restore log; both must outlive the session.
  CRestoreSession(IRestoreUser& user, CLogger& log);
  CRestoreSession(const CRestoreSession&) = delete;
  CRestoreSession& operator=(const CRestoreSession&) = delete;

  // Starts afresh for a restore from the archive at `archivePath` (an engine
  // path) of `totalBytes` file bytes: forgets the answers, the stop, the
  // counts and the progress, and clears the log. Several runs may follow
  // (one per selection); they share answers, progress and log.
  void Reset(std::u16string archivePath, uint64_t totalBytes);

  // The callbacks for IQPXFileRestore::Restore; they refer to this session.
  RestoreEventCallback Events();
  ExtractProgress Progress();

  bool OnEvent(const RestoreEvent& event);
  bool OnProgress(uint64_t bytes);

  // Safe from any thread, a signal handler included: the run stops at its
  // next callback, which also writes the cancel line into the log.
  void RequestCancel() { cancelRequested_.store(true); }

  // Tells the session that a run has returned, with Restore's result.
  void EndRun(bool succeeded);
  // Memory ran out in a run, which has ended: the entry under way counts as
  // failed, the user is told once, the log says so and the restore stops.
  void EndRunOutOfMemory();
  // After the last run: writes the attributes the file systems had no place
  // for into the log, one line per file system.
  void Conclude();

  bool IsStopped() const { return stopped_; }
  bool HasAnswerForAll(int event) const { return answersForAll_.count(event) != 0; }
  const RestoreCounts& GetCounts() const { return counts_; }
  // In the order first met, by file system, then attribute bit.
  const std::vector<AttributeLoss>& GetAttributeLosses() const { return losses_; }
  const RestoreProgressState& GetProgressState() const { return progress_; }
  Outcome GetOutcome() const;

 private:
  struct EntryState {
    bool tracked = false;       // an entry's events have begun
    long position = -1;
    const CQPXBackupedFileHeader* header = nullptr;
    uint64_t fileSize = 0;
    uint64_t written = 0;       // progress bytes seen for it, at most fileSize
    bool done = false;          // event 3 answered true
    bool problem = false;       // a problem event was met
    bool skippedExisting = false;
  };

  bool Question(const RestoreEvent& event);
  bool ExistingFile(const RestoreEvent& event);
  // Notice, log line, and the run ends.
  bool Fatal(const RestoreEvent& event, uint32_t noticeId, uint32_t logId, bool withPath);
  // The cancel request: the stop line goes into the log once.
  void Cancel();
  void Follow(const RestoreEvent& event);
  void FinishEntry();
  // Counts the rest of the current entry as done, for a file that is passed over.
  void PassOver();
  void UpdateProgress(bool fileChanged);
  void LogFile(uint32_t id, const std::u16string& text);
  // A line of the engine's own: what the host said, or what stood in the way.
  void LogLine(std::u16string text);
  void LogReason(const RestoreEvent& event);
  bool Obstacle(const RestoreEvent& event);
  std::u16string Shown(const std::u16string* text) const;
  void CountAttributesNotKept(const RestoreEvent& event);

  IRestoreUser& user_;
  CLogger& log_;
  std::u16string archivePath_;
  std::map<int, bool> answersForAll_;
  std::atomic<bool> cancelRequested_{false};
  bool stopped_ = false;  // every later event is answered false
  bool halted_ = false;   // a run ended early or failed
  RestoreCounts counts_;
  RestoreProgressState progress_;
  uint64_t finishedBytes_ = 0;  // file bytes of the entries already finished
  EntryState entry_;
  std::vector<AttributeLoss> losses_;
  // The folder last asked about and its file system: the files of one folder
  // come one after another, so the mount table is read about once a folder.
  std::u16string lossFolder_;
  std::string lossFileSystem_;
};

}  // namespace QPXFile
