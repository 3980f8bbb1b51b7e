// The generation manager: turns a management file into the open archives of
// every generation of a backup set, checks that each archive is the one that
// was recorded, and answers the merged tree's lookups.
//
// Threads: a manager, its management data, its archives and their entries
// belong to one thread at a time. The load runs on a worker thread; once it
// has returned, the whole set (manager, tree, archives) may be handed to
// another thread (the user-interface thread) with the usual happens-before
// of a thread join, a queued signal or a mutex, and is then used there
// alone. Nothing here locks; the only values another thread may read while
// the load runs are those of the progress sink (progress.h). Lookups
// (FindGenerationEntry) move each archive's own find hint, so two threads
// must not look up in one set at the same time.
//
// Reporting: questions and notices go to IManagerUser, answered before the
// load goes on; errors that end the load (133, 135, 136, 140, 142) go to the
// progress sink only, once each, and GetLastError keeps the last one for a
// caller without a sink.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/load_error_text.h"
#include "archive/qpx_file.h"
#include "generations/generation_lookup.h"
#include "generations/inf_item.h"
#include "generations/progress.h"
#include "generations/qpm_file.h"
#include "host/string_ids.h"

namespace IncrementalBackup {

// String-table ids the manager reports or asks with.
namespace ManagerText = host::StringId;

// The archive a load could not use: the one a management file was to be
// rebuilt from (142), or the generation that failed (133, 136).
struct FailedArchive {
  int32_t errorId = -1;          // 133, 136 or 142; -1 when no archive failed
  long generation = -1;          // 0-based; the rebuild's archive is 0
  std::u16string path;           // engine path
  QPXFile::ArchiveFault fault;   // why, when it could not be read (not for 136)
};

// What the manager asks of the person in front of it, on the loading
// thread, waiting for the answer. The desktop program answers with message
// boxes (silent in quiet mode), the command-line tool on the terminal. Every
// id is a string-table number. Errors do not come here: they go to the
// progress sink, so that each is shown once, by whoever shows the sink.
class IManagerUser {
 public:
  virtual ~IManagerUser() = default;
  // A notice the load goes on after, whatever the answer (247).
  virtual void Notice(int32_t id) = 0;
  // A yes/no question (139); true only for Yes.
  virtual bool AskYesNo(int32_t id) = 0;
  // Generation `failed.generation` (1 or later) cannot be used: whether the
  // generations before it are to be shown (248, after 133 or 136, naming the
  // archive and why). True only for Yes.
  virtual bool AskShowEarlier(const FailedArchive& /*failed*/) { return false; }
};

class CIncrementalManager : public CProgressInformable, public IGenerationLookup {
 public:
  CIncrementalManager();
  ~CIncrementalManager() override;
  CIncrementalManager(const CIncrementalManager&) = delete;
  CIncrementalManager& operator=(const CIncrementalManager&) = delete;

  // Not owned; null: no questions (a damaged file is then not rebuilt) and no notices.
  void SetUser(IManagerUser* user) { user_ = user; }
  IManagerUser* GetUser() const { return user_; }

  // Loads the management file at `managementPath` (engine path), or rebuilds
  // it from the archive the user opened when it is missing, or damaged and
  // the user agrees, then opens every generation archive it lists. On failure
  // the cause has been reported to the sink (and GetLastError), unless the
  // user stopped, and the archives opened so far stay until Reset.
  bool LoadGenerations(const std::u16string& archivePath, const std::u16string& managementPath);
  // Opens, loads and checks one generation's archive and appends it.
  bool OpenGeneration(const QPMFile::CQPMQPXFileInfo& record);

  // IGenerationLookup. The generation count is the number of archives
  // opened: after a successful load, the size of the archives table.
  const QPMFile::CQPMFile& GetManagement() const override { return management_; }
  long GetGenerationCount() const override { return static_cast<long>(archives_.size()); }
  QPXFile::CQPXFile* GetGenerationArchive(long generation) const override;
  QPXFile::IQPXBackupedFile* FindGenerationEntry(long generation, std::u16string_view fullPath) const override;
  bool GetFolderAttributes(long generation, std::u16string_view folderPath, CAttributes& out) const override;

  // Closes every archive and the management file; the management content
  // and the INF items stay.
  void Reset();

  // Fills the INF items from generation 0; false when there is none.
  bool CollectINFItems() { return INFFile::CollectINFItems(GetGenerationArchive(0), management_, infItems_); }
  const INFFile::CINFItemArray& GetINFItems() const { return infItems_; }
  INFFile::CINFItemArray& GetINFItems() { return infItems_; }

  // The management data was made from the opened archive alone (one generation).
  bool IsRebuilt() const { return rebuilt_; }
  // The last error this manager reported, or -1.
  int32_t GetLastError() const { return lastError_; }
  // The archive the last load could not use (errorId -1 when none), also
  // after the user chose to go on with the generations before it.
  const FailedArchive& GetFailedArchive() const { return failed_; }
  // The load went on without the generations from GetFailedArchive() on.
  bool IsCutShort() const { return cutShort_; }

 private:
  void ReportError(int32_t id);
  bool Rebuild(const std::u16string& archivePath);
  bool AppendChecked(std::unique_ptr<QPXFile::CQPXFile> archive, const QPMFile::CQPMQPXFileInfo& record);
  void CheckGeneration(long generation) const;

  IManagerUser* user_ = nullptr;
  QPMFile::CQPMFile management_;
  std::vector<std::unique_ptr<QPXFile::CQPXFile>> archives_;  // position = generation
  // After a rebuild, the opened archive it read, open and loaded: the set's
  // only generation, not opened a second time.
  std::unique_ptr<QPXFile::CQPXFile> rebuiltFrom_;
  INFFile::CINFItemArray infItems_;
  bool rebuilt_ = false;
  bool cutShort_ = false;
  int32_t lastError_ = -1;
  FailedArchive failed_;
};

}  // namespace IncrementalBackup
