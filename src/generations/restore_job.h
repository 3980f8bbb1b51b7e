// One restore of a loaded set (or an archive alone), the same for every
// front end: the selection is a value (stored paths with the generation
// each is taken from), never marks on the set's tree. The job plans the
// runs, keeps the set's own files and the front end's from being replaced,
// confines every write below the destination, runs the session with the
// front end's user and tells the outcome as one summary.
//
// The job keeps the session that answers the driver and the restore log:
// a front end lends only its IRestoreUser, and reads the summary and the
// log from the job once the run is over.
//
// Threads: Plan and PrepareDestination run on the thread that owns the set
// (they read its tree); Run may then go to a worker while nobody switches
// the set's generation. RequestCancel may come from any thread, or from a
// signal handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "generations/backup_set.h"
#include "restore/log.h"
#include "restore/restore_plan.h"
#include "restore/restore_session.h"
#include "restore/restore_summary.h"

namespace IncrementalBackup {

struct ChosenPath {
  std::u16string path;   // stored form ("C:\Data\a.txt"); a drive stands for its contents
  long generation = 0;   // shown (1-based) generation it is taken from; 0: the one selected
  std::string shown;     // how a problem names it (as the user typed it); empty: the path
};
// Empty: every drive.
using RestoreSelection = std::vector<ChosenPath>;

struct RestoreJobOptions {
  std::u16string destination;              // engine path of the folder the user chose
  std::vector<std::string> alsoProtected;  // host paths of files the front end writes (a log)
};

// The records of the set's tree skipped at or below one of the chosen stored
// paths, or all of them when none is chosen.
std::vector<std::u16string> UnheldRecords(const CIncrementalRestoreQPXFileExtendCreator& creator,
                                          const std::vector<std::u16string>& chosen);

// Whether the system can name `hostPath` (its length and each name in it);
// false with the reason.
bool HostPathFits(const std::string& hostPath, std::string& why);

class CRestoreJob {
 public:
  CRestoreJob(CBackupSet& set, RestoreSelection selection, RestoreJobOptions options);
  CRestoreJob(const CRestoreJob&) = delete;
  CRestoreJob& operator=(const CRestoreJob&) = delete;

  // Plans the runs and gathers what the set could not hold; false with the
  // problem when a chosen path is not in the set or cannot be gathered.
  bool Plan(QPXFile::Problems& problems);
  // Checks that the destination can be named and makes it; false with why.
  bool PrepareDestination(std::string& why);

  // After Plan: what will not be restored, for the front end to name.
  const std::vector<std::u16string>& Unheld() const { return unheld_; }
  long LeftOut() const { return leftOut_; }
  long Unplaced() const { return plan_.unplaced; }
  const std::u16string& Name() const { return plan_.name; }
  uint64_t TotalBytes() const { return plan_.TotalFileSize(); }

  // Sees each event of the driver before the session answers it.
  using EventWatch = std::function<void(const QPXFile::RestoreEvent&)>;

  // Runs the planned runs with `user` answering, starting the log afresh,
  // and tells how they ended. A job that was not planned restores nothing
  // and ends as stopped.
  QPXFile::RestoreSummary Run(QPXFile::IRestoreUser& user, EventWatch watch = {});
  // The run stops at its next callback; a stop asked for after the last one
  // is still told as a stop.
  void RequestCancel();

  // After Run: whether it was stopped (by the user, an answer or a notice)
  // rather than ended by a failing run.
  bool Stopped() const { return sessionStore_ && sessionStore_->IsStopped(); }

  // Starts the session and the log as Run does, without running anything:
  // the driver's events may then be fed in by hand. Every call must name the
  // same user.
  void Begin(QPXFile::IRestoreUser& user, std::u16string name, uint64_t totalBytes);
  bool OnEvent(const QPXFile::RestoreEvent& event);
  bool OnProgress(uint64_t bytes);

  // The restore log of the last run; a front end may add its own lines to
  // it once the run has returned.
  QPXFile::CLogger& Log() { return log_; }
  const QPXFile::CLogger& Log() const { return log_; }

 private:
  CBackupSet& set_;
  RestoreSelection selection_;
  RestoreJobOptions options_;
  QPXFile::RestorePlan plan_;
  std::vector<std::u16string> unheld_;
  long leftOut_ = 0;
  bool planned_ = false;
  QPXFile::CLogger log_;
  // Made once, with the first user, and kept until the job goes, so that a
  // cancel from another thread never meets a session being replaced.
  std::optional<QPXFile::CRestoreSession> sessionStore_;
  std::atomic<bool> cancel_{false};
  std::atomic<QPXFile::CRestoreSession*> session_{nullptr};
};

}  // namespace IncrementalBackup
