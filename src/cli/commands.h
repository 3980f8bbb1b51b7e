// The commands of tessera-cli. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace cli {

int RunInfo(const std::string& archive, bool json);
int RunList(const std::string& archive, bool json);
// Decodes every entry and compares its size and CRC; lists only damaged ones.
int RunTest(const std::string& archive);

struct ExtractOptions {
  std::string archive;              // host path
  std::string destination;          // host path
  std::vector<std::string> paths;   // stored folders or files; empty: every drive
  bool overwrite = false;           // existing files are overwritten
  bool skipExisting = false;        // existing files are left alone
  bool yes = false;                 // every other question: continue for all
  bool quiet = false;               // no progress, no summary
  std::string logFile;              // save the restore log here when set
};
// Restores below the destination; questions go to the terminal when the
// options do not answer them. 0 all restored, 1 some skipped or failed,
// 2 stopped or not started.
int RunExtract(const ExtractOptions& options);

}  // namespace cli
