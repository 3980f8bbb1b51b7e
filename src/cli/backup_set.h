// Opening the backup set an archive belongs to, for the commands that show
// generations: the management file beside the archive, every generation's
// archive and the merged tree, with the generation manager's questions and
// messages on the terminal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "generations/incremental_manager.h"
#include "generations/restore_tree.h"

namespace cli {

struct SetOptions {
  long generation = 0;          // 1-based as users count; 0: the archive alone, no set
  bool rebuildDamaged = false;  // answers the damaged-management question with yes
};

// The management file the desktop program looks for: the archive's path with
// its extension (from the last dot of the file name) replaced by "qpm".
std::string ManagementPathFor(const std::string& archiveHostPath);

// A loaded backup set. The tree borrows the manager's archives, so it goes first.
class LoadedSet {
 public:
  LoadedSet();
  ~LoadedSet();
  LoadedSet(const LoadedSet&) = delete;
  LoadedSet& operator=(const LoadedSet&) = delete;

  IncrementalBackup::CIncrementalManager& Manager() { return *manager_; }
  const IncrementalBackup::CIncrementalManager& Manager() const { return *manager_; }
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& Creator() { return *creator_; }
  IncrementalBackup::CFSTree& Tree() const { return *creator_->GetTree(); }
  long Count() const { return manager_->GetGenerationCount(); }
  // The host path of generation g's archive as the management data lists it.
  std::string ArchiveText(long g) const;
  const std::string& ManagementText() const { return management_; }

 private:
  friend std::unique_ptr<LoadedSet> OpenSet(const std::string&, bool);
  std::unique_ptr<IncrementalBackup::CProgressInfo> sink_;
  std::unique_ptr<IncrementalBackup::CIncrementalManager> manager_;
  std::unique_ptr<IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator> creator_;
  std::string management_;
};

// Loads the set of the archive at `archiveHostPath` and builds its tree,
// selecting the first generation. On failure the reasons have been printed to
// standard error and the result is null.
std::unique_ptr<LoadedSet> OpenSet(const std::string& archiveHostPath, bool rebuildDamaged);

// Selects generation `shown` (1-based) in the tree; prints why not and
// returns false when the set has no such generation.
bool SelectGeneration(LoadedSet& set, const std::string& archiveHostPath, long shown);

// A stored path typed by a user: forward slashes as backslashes, no trailing
// separator.
std::u16string StoredPathArgument(const std::string& argument);

// The generation (0-based) whose archive holds the data a node shows in
// generation g, or -1 when the node has no update at or before g.
long SourceGeneration(const IncrementalBackup::CGenerationInfo& info);

// Prints "tessera-cli: NAME: " and a string-table text, one line per line of
// the text.
void PrintText(const std::string& name, const std::u16string& text);
std::u16string StringText(int32_t id);

// Commands over a set.
int RunGenerations(const std::string& archive, bool json, const SetOptions& options);
int RunHistory(const std::string& archive, const std::string& path, bool json, const SetOptions& options);
int RunDiff(const std::string& archive, long from, long to, bool json, const SetOptions& options);
int RunListGeneration(const std::string& archive, bool json, const SetOptions& options);
int RunTestGeneration(const std::string& archive, const SetOptions& options);

}  // namespace cli
