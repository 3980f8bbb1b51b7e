// Opening what a command names, with the lines a user gets when that fails.
#pragma once

#include <memory>
#include <string>

#include "generations/backup_set.h"
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
  bool rebuildDamaged = false;  // answers the damaged-management question with yes
};

// Prints "tessera-cli: NAME: message" to standard error.
void PrintError(const std::string& name, const std::string& message);
// The same for a message of several lines: the name goes on the first only.
void PrintText(const std::string& name, const std::string& text);
void PrintProblems(const QPXFile::Problems& problems);

// Loads the whole backup set the archive belongs to, the manager's notices
// and questions on the terminal. Null, with the reasons printed, on failure.
std::unique_ptr<IncrementalBackup::CBackupSet> OpenSet(const std::string& archive, bool rebuildDamaged);

// What list, test and extract work on: the archive alone, or with a
// generation that generation of its set, selected. Null, with the reasons
// printed, on failure.
std::unique_ptr<IncrementalBackup::CBackupSet> OpenForCommand(const std::string& archive, const SetOptions& options);

}  // namespace cli
