// How a finished restore is told to the user, the same in every front end:
// a run in which entries failed never reads as a plain success, the log ends
// with one line of counts and the target, and a target into which nothing
// was restored is not opened for the user.
#pragma once

#include <string>
#include <vector>

#include "restore/restore_session.h"

namespace QPXFile {

using RestoreOutcome = CRestoreSession::Outcome;

// Everything a finished restore job has to tell, whichever front end ran it.
struct RestoreSummary {
  RestoreCounts counts;
  // Records the set's merged tree could not hold, and records whose paths
  // lead outside their drive: never restored, told as skipped.
  long unheld = 0;
  long leftOut = 0;
  // Entries stored without a drive in their folder: no run places them.
  long unplaced = 0;
  std::vector<AttributeLoss> losses;
  RestoreOutcome outcome = RestoreOutcome::kStopped;
};

// The numbers every front end tells: files left alone (existing ones and
// records that could not be held) and files not restored.
long SkippedEntries(const RestoreSummary& summary);
long FailedFiles(const RestoreSummary& summary);

// 0 when everything was restored; 1 when something was skipped or failed;
// 2 when the restore stopped or could not start.
int ExitStatus(const RestoreSummary& summary);

// Entries that were not restored: files that failed and folders that could
// not be made because something stood in their place.
long FailedEntries(const RestoreCounts& counts);

// `done` ("復元完了", or the title saying so) as it stands after a run that
// went through: unchanged when nothing failed, else with the number of
// failures: "復元完了（失敗 3 件）".
std::u16string DoneText(const std::u16string& done, const RestoreSummary& summary);

// The last line of the result log: restored, skipped and failed entries and
// the folder they went to (a host path as the user chose it).
std::u16string SummaryLine(const RestoreSummary& summary, const std::u16string& target);

// Whether the target is worth opening in the file manager afterwards.
bool ShouldOpenTarget(const RestoreCounts& counts);

}  // namespace QPXFile
