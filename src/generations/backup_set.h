// A backup set as a front end holds it: the management file beside the
// archive named, every generation's archive and the merged tree; or an
// archive alone, which is a set of one generation read in its own order.
// Nothing here prints: the manager's notice and question go to the caller's
// IManagerUser as the load asks them, and every failure, the manager's
// errors included, comes back as problems for the front end to show.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/qpx_file.h"
#include "generations/incremental_manager.h"
#include "generations/restore_tree.h"
#include "restore/restore_plan.h"

namespace IncrementalBackup {

// The management file the desktop program looks for: the archive's path with
// its extension (from the last dot of the file name) replaced by "qpm".
std::string ManagementPathFor(const std::string& archiveHostPath);

// Whether a path names a set's archive as the front ends open one: its name
// ends in exactly ".qpx" or ".qpi" (capitals are another file).
bool IsArchiveName(const std::string& hostPath);

// How a path handed to a front end to open is taken, before anything is
// loaded. Checked in this order.
enum class OpenVerdict {
  kNoFile,            // not an existing regular file (`why` says what it is)
  kNotAnArchiveName,  // see IsArchiveName
  kEmptyGeneration,   // a later generation's archive (".qpi") that holds no files
  kLoad,              // load the set through `archive`
};

struct OpenDecision {
  OpenVerdict verdict = OpenVerdict::kNoFile;
  std::string archive;     // the path as given
  std::string management;  // ManagementPathFor(archive)
  std::string why;         // with kNoFile
};

// A ".qpi" archive is read for its entry count, which takes as long as
// opening it: call this off the user-interface thread. One that cannot be
// read for the count is let through to the load, which tells why.
OpenDecision DecideOpen(const std::string& hostPath);

// Every node in the order the tree keeps them: a folder, then its files, then
// its subfolders, roots included. Iterative, as deep trees are allowed.
void WalkTree(const CFSTree& tree, const std::function<void(const CFolder&)>& onFolder,
              const std::function<void(const CFSFile&)>& onFile);

// The generation (0-based) whose archive holds the data a node shows in the
// generation `info` is set to, or -1 when the node has no update at or before it.
long SourceGeneration(const CGenerationInfo& info);

// A file of the selected generation (or of the archive alone).
struct SetFile {
  std::u16string path;        // stored form
  bool named = true;          // false: the entry's names cannot be read (path empty)
  QPXFile::IQPXBackupedFile* entry = nullptr;  // null: missing from the archive that should hold it
  long source = -1;           // generation whose archive holds the entry; -1 for an archive alone
};

// A folder of the selected generation with its attributes there.
struct SetFolder {
  std::u16string path;
  uint32_t attributes = 0;
  uint64_t created = 0, accessed = 0, modified = 0;
};

class CBackupSet {
 public:
  // Nothing is read until Load or LoadArchiveAlone.
  explicit CBackupSet(std::string archiveHostPath);
  ~CBackupSet();
  CBackupSet(const CBackupSet&) = delete;
  CBackupSet& operator=(const CBackupSet&) = delete;

  // Loads the set the archive belongs to and builds its tree with the first
  // generation selected. The manager's notice and question go to `user` as
  // they happen (name them with FailureSubject); whatever ends the load, the
  // manager's error (133, 136, 140, 142, ...) or the tree's (158), is added
  // to `problems` once, named after the file it concerns.
  bool Load(IManagerUser& user, QPXFile::Problems& problems);
  // Where the load reports its progress and messages (a front end's progress
  // display reads it while Load runs on another thread); not owned. Without
  // one the set keeps its own.
  void SetProgressInfo(IProgressInfo* sink) { externalSink_ = sink; }
  // The language of the reasons the problems give (English by default).
  void SetWording(QPXFile::Wording wording) { wording_ = wording; }
  // Opens the archive alone: a set of one generation, listed, tested and
  // restored in the archive's own order.
  bool LoadArchiveAlone(QPXFile::Problems& problems);

  bool IsArchiveAlone() const { return archive_ != nullptr; }
  // Generations, 1 for an archive alone.
  long Count() const;
  // Selects generation `shown` (1-based, as users count).
  // A receiver (the desktop program's folder tree) is told what the switch
  // adds and removes.
  bool SelectGeneration(long shown, QPXFile::Problems& problems,
                        CRecieveIncrementalRestoreTreeChange* receiver = nullptr);
  long SelectedShown() const { return selected_ + 1; }

  const std::string& ArchiveHostPath() const { return archivePath_; }
  const std::string& ManagementHostPath() const { return management_; }
  // The host path of generation g's archive (0-based) as the management data
  // lists it; "?" when there is none.
  std::string ArchiveText(long g) const;
  // When generation g's archive (0-based) was written, as its header and
  // the management data record it: a FILETIME of the writing computer's
  // local clock, so it is shown as it stands; 0 when unknown.
  uint64_t CreationTime(long g) const;
  // The file a manager notice or error with string-table id `id` concerns.
  std::string FailureSubject(int32_t id) const;
  // The message of error `id` (133, 136, 142) with the archive at fault
  // named and why it could not be used, in the set's wording.
  std::string FailureText(int32_t id, const FailedArchive& failed) const;
  // The text of question or notice `id`; the damaged-file question (139)
  // says what is wrong with the management file.
  std::string QuestionText(int32_t id) const;
  // The question 248 put after `failed`, with the failure told first.
  std::string ShowEarlierQuestion(const FailedArchive& failed) const;

  // Set only after Load.
  CIncrementalManager& Manager() { return *manager_; }
  const CIncrementalManager& Manager() const { return *manager_; }
  CIncrementalRestoreQPXFileExtendCreator& Creator() { return *creator_; }
  CFSTree& Tree() const { return *creator_->GetTree(); }
  // Set only after LoadArchiveAlone.
  QPXFile::CQPXFile& Archive() const { return *archive_; }

  // The files present in the selected generation, then (separately) its
  // folders: an archive alone in its file and folder list order, a set in
  // tree order.
  void ForEachFile(const std::function<void(const SetFile&)>& onFile) const;
  void ForEachFolder(const std::function<void(const SetFolder&)>& onFolder) const;

  // The runs that restore each chosen stored path (as typed) of the selected
  // generation, or every drive when none is chosen, below `destination`
  // (engine path). A set makes one generation-restoring archive per chosen
  // node, as the desktop program restores a marked selection.
  bool PlanRestore(const std::u16string& destination, const std::vector<std::string>& chosen,
                   QPXFile::RestorePlan& plan, QPXFile::Problems& problems);
  // Adds the run that restores the file at stored path `path` as generation
  // g (0-based) holds it, whichever generation is selected: an older
  // version of a file is restored without switching what the tree shows.
  bool PlanFileOfGeneration(const std::u16string& destination, const std::u16string& path, long g,
                            QPXFile::RestorePlan& plan, QPXFile::Problems& problems);

 private:
  bool LoadSet(IManagerUser& user, QPXFile::Problems& problems);
  bool LoadAlone(QPXFile::Problems& problems);
  bool OutOfMemoryIsAProblem(QPXFile::Problems& problems, const std::function<bool()>& load);
  bool PlanGenerationRuns(const std::u16string& destination, const std::vector<std::string>& chosen,
                          QPXFile::RestorePlan& plan, QPXFile::Problems& problems);
  void ReportGaps(const CFSObject& chosen, QPXFile::Problems& problems) const;

  std::string archivePath_;
  std::string management_;
  long selected_ = 0;
  QPXFile::Wording wording_ = QPXFile::Wording::kEnglish;
  std::unique_ptr<QPXFile::CQPXFile> archive_;
  std::unique_ptr<CProgressInfo> sink_;
  IProgressInfo* externalSink_ = nullptr;  // not owned
  std::unique_ptr<CIncrementalManager> manager_;
  // Borrows the manager's archives, so it goes first.
  std::unique_ptr<CIncrementalRestoreQPXFileExtendCreator> creator_;
};

}  // namespace IncrementalBackup
