// Planning a restore: which selections of an archive are restored where, as
// the desktop program restores what is marked in a view, and the folder
// that receives them.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "archive/qpx_file_extend.h"
#include "archive/restore_selection.h"
#include "restore/restore_driver.h"

namespace QPXFile {

// Something a front end shows a user: the file concerned (a host path, or
// what the user typed) and what is wrong with it, both UTF-8; the message may
// run over several lines.
struct Problem {
  std::string subject;
  std::string message;
};
using Problems = std::vector<Problem>;

// One restore run: a selection and where it goes.
struct RestoreRun {
  std::unique_ptr<CRestoreSelectionQPXFileExtend> selection;
  RestoreTarget target;
};

struct RestorePlan {
  std::vector<RestoreRun> runs;
  // Entries stored without a drive in their folder: no run places them.
  long unplaced = 0;
  // The name the restore log gives the run (engine path).
  std::u16string name;
  // The bytes the runs restore.
  uint64_t TotalFileSize() const;
};

// "C:" (either case).
bool IsDrive(std::u16string_view text);
char16_t DriveLetter(std::u16string_view drive);

// A drive's contents go below DEST/<letter>, as if the drive were a folder
// chosen in a view of all drives.
RestoreTarget DriveTarget(const std::u16string& destination, std::u16string_view drive);

// Where a chosen stored path lands: in the destination under its own name
// (the folder it was chosen in is its parent); a drive stands for its letter.
RestoreTarget ChosenTarget(const std::u16string& destination, const std::u16string& storedPath);

// The drives the archive holds, from its folders and its entries.
std::set<char16_t> DrivesOf(const CQPXFileExtend& archive);

// Makes `path` and its missing parents; false with the reason in `why`.
bool MakeFolders(const std::u16string& path, std::string& why);

// The runs of a restore of one archive: each chosen stored path (as typed,
// any case, either separator), or every drive when none is chosen.
// `archivePath` is the archive's engine path, `archiveText` the name
// problems are reported under. False, with the problem, when a chosen path
// is not in the archive.
bool PlanArchiveRuns(CQPXFileExtend& source, const std::u16string& archivePath, const std::string& archiveText,
                     const std::u16string& destination, const std::vector<std::string>& chosen, RestorePlan& plan,
                     Problems& problems);

}  // namespace QPXFile
