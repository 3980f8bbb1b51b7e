// tessera-cli extract.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct ExtractOptions {
  std::string archive;              // host path
  std::string destination;          // host path
  std::vector<std::string> paths;   // stored folders or files; empty: every drive
  bool overwrite = false;           // existing files are overwritten
  bool skipExisting = false;        // existing files are left alone
  bool yes = false;                 // every other question: continue for all
  bool quiet = false;               // no progress, no summary
  std::string logFile;              // save the restore log here when set
  long generation = 0;              // of the backup set, 1-based; 0: the archive alone
  bool generationGiven = false;     // --generation was given
  bool rebuildDamaged = false;      // a damaged management file is rebuilt without asking
};
// Restores below the destination (with a generation: as that generation of
// the set stood, through the generation-restoring archive); questions go to
// the terminal when the options do not answer them. 0 all restored, 1 some
// skipped or failed, 2 stopped or not started, or the log could not be
// printed or saved.
int RunExtract(const ExtractOptions& options);

}  // namespace cli
