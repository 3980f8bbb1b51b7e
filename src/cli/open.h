// Opening what a command names, with the lines a user gets when that fails.
#pragma once

#include <memory>
#include <string>

#include "generations/backup_set.h"
#include "paths/user_text.h"
#include "restore/restore_plan.h"

namespace cli {

// Exit statuses shared by every command.
enum : int {
  kExitOk = 0,
  kExitDamaged = 1,   // test found damaged entries; extract skipped or failed some
  kExitFailed = 2,    // the archive cannot be read, the arguments are wrong, or extract stopped
};

struct SetOptions {
  long generation = 0;          // 1-based as users count; 0: the archive alone, no set
  bool generationGiven = false; // --generation was given (a 0 typed is refused, not taken as "none")
  bool rebuildDamaged = false;  // answers the damaged-management question with yes
};

// Makes sure file descriptors 0, 1 and 2 are open before anything else is:
// a descriptor the caller closed would otherwise be handed to the next file
// opened (a restored file, the --log file), and what is printed would be
// written into it. A closed one is opened on /dev/null; the result says
// whether standard output was closed, since what is printed is then lost.
bool ReserveStandardDescriptors();
// Whether standard output was closed when the program started.
bool StandardOutputClosed();

// Prints "tessera-cli: NAME: message" to standard error.
void PrintError(const std::string& name, const std::string& message);
// The same for a message of several lines: the name goes on the first only.
void PrintText(const std::string& name, const std::string& text);
void PrintProblems(const QPXFile::Problems& problems);

// Keeps what a person reads on one line (paths::Printable): names and paths
// from archives, and paths typed, are shown through it.
using paths::Printable;

// Whether generation `shown`, as the user typed it, is one of the set's;
// otherwise prints why (generations count from 1, and the set's range).
bool CheckGenerationNumber(const IncrementalBackup::CBackupSet& set, const std::string& archive, long shown);

// Loads the whole backup set the archive belongs to, the manager's notices
// and questions on the terminal. Null, with the reasons printed, on failure.
std::unique_ptr<IncrementalBackup::CBackupSet> OpenSet(const std::string& archive, bool rebuildDamaged);

// What list, test and extract work on: the archive alone, or with a
// generation that generation of its set, selected. Null, with the reasons
// printed, on failure.
std::unique_ptr<IncrementalBackup::CBackupSet> OpenForCommand(const std::string& archive, const SetOptions& options);

}  // namespace cli
