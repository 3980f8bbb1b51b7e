// How a finished restore is told to the user, the same in every front end:
// a run in which entries failed never reads as a plain success, the log ends
// with one line of counts and the target, and a target into which nothing
// was restored is not opened for the user.
#pragma once

#include <string>

#include "restore/restore_session.h"

namespace QPXFile {

// Entries that were not restored: files that failed and folders that could
// not be made because something stood in their place.
long FailedEntries(const RestoreCounts& counts);

// `done` ("復元完了", or the title saying so) as it stands after a run that
// went through: unchanged when nothing failed, else with the number of
// failures: "復元完了（失敗 3 件）".
std::u16string DoneText(const std::u16string& done, const RestoreCounts& counts);

// The last line of the result log: restored, skipped and failed entries and
// the folder they went to (a host path as the user chose it).
std::u16string SummaryLine(const RestoreCounts& counts, const std::u16string& target);

// Whether the target is worth opening in the file manager afterwards.
bool ShouldOpenTarget(const RestoreCounts& counts);

}  // namespace QPXFile
