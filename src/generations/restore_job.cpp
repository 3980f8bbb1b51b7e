#include "generations/restore_job.h"

#include <cerrno>
#include <climits>
#include <new>

#include "host/file.h"
#include "host/host_path.h"
#include "host/text.h"
#include "paths/user_text.h"

namespace IncrementalBackup {
namespace {

bool AtOrBelow(std::u16string_view path, std::u16string_view chosen) {
  if (path.size() < chosen.size() || !host::EqualsNoCase(path.substr(0, chosen.size()), chosen)) return false;
  return path.size() == chosen.size() || path[chosen.size()] == u'\\';
}

}  // namespace

std::vector<std::u16string> UnheldRecords(const CIncrementalRestoreQPXFileExtendCreator& creator,
                                          const std::vector<std::u16string>& chosen) {
  std::vector<std::u16string> out;
  for (const std::u16string& record : creator.GetSkippedRecords()) {
    bool wanted = chosen.empty();
    for (size_t i = 0; i < chosen.size() && !wanted; ++i) wanted = AtOrBelow(record, chosen[i]);
    if (wanted) out.push_back(record);
  }
  return out;
}

// A destination the system cannot name would otherwise fail after some of
// its folders were made, with a reason that depends on where it failed.
bool HostPathFits(const std::string& hostPath, std::string& why) {
  if (hostPath.size() >= PATH_MAX) {
    why = host::SystemErrorText(ENAMETOOLONG) + ": the path is " + std::to_string(hostPath.size()) +
          " bytes long, and the system allows " + std::to_string(PATH_MAX - 1);
    return false;
  }
  size_t start = 0;
  while (start <= hostPath.size()) {
    size_t end = hostPath.find('/', start);
    if (end == std::string::npos) end = hostPath.size();
    if (end - start > NAME_MAX) {
      why = host::SystemErrorText(ENAMETOOLONG) + ": a folder name in it is " + std::to_string(end - start) +
            " bytes long, and the system allows " + std::to_string(NAME_MAX);
      return false;
    }
    start = end + 1;
  }
  return true;
}

CRestoreJob::CRestoreJob(CBackupSet& set, RestoreSelection selection, RestoreJobOptions options)
    : set_(set), selection_(std::move(selection)), options_(std::move(options)) {}

bool CRestoreJob::Plan(QPXFile::Problems& problems) {
  std::vector<std::string> chosen;
  std::vector<std::u16string> paths;
  std::vector<const ChosenPath*> older;
  for (const ChosenPath& item : selection_) {
    const std::string shown = item.shown.empty() ? paths::Utf8(item.path) : item.shown;
    if (item.generation != 0 && item.generation != set_.SelectedShown()) {
      // A file is taken from its own generation's data; anything larger is
      // what the tree shows, and it shows one generation at a time.
      const CFSObject* node = set_.IsArchiveAlone() ? nullptr : set_.Tree().Find(item.path);
      if (node == nullptr || node->IsFolder()) {
        problems.push_back({set_.ArchiveHostPath(), "generation " + std::to_string(item.generation) +
                                                         " is not selected for " + shown});
        return false;
      }
      older.push_back(&item);
    } else {
      chosen.push_back(shown);
    }
    paths.push_back(paths::StoredPathArgument(shown));
  }
  plan_ = QPXFile::RestorePlan{};
  planned_ = false;
  // No path chosen in the selected generation means every drive only when
  // nothing at all was chosen.
  if ((!chosen.empty() || older.empty()) && !set_.PlanRestore(options_.destination, chosen, plan_, problems))
    return false;
  for (const ChosenPath* item : older)
    if (!set_.PlanFileOfGeneration(options_.destination, item->path, item->generation - 1, plan_, problems)) return false;
  unheld_.clear();
  leftOut_ = 0;
  if (!set_.IsArchiveAlone()) {
    unheld_ = UnheldRecords(set_.Creator(), paths);
    // Those whose paths lead outside their drive are in no chosen folder; a
    // run of every drive counts them.
    if (selection_.empty()) leftOut_ = static_cast<long>(set_.Creator().GetLeftOutRecords().size());
  }

  // Nothing is written through a link below the destination, and the files
  // the set is read from (and those the front end writes) are never
  // replaced by restored ones.
  std::vector<std::string> archives, others;
  if (set_.IsArchiveAlone()) {
    archives.push_back(set_.ArchiveHostPath());
  } else {
    for (long g = 0; g < set_.Count(); ++g) archives.push_back(set_.ArchiveText(g));
    others.push_back(set_.ManagementHostPath());
  }
  others.insert(others.end(), options_.alsoProtected.begin(), options_.alsoProtected.end());
  const std::vector<host::FileIdentity> protectedFiles = QPXFile::ProtectedFiles(archives, others);
  for (QPXFile::RestoreRun& run : plan_.runs) {
    run.target.confinedBelow = options_.destination;
    run.target.protectedFiles = protectedFiles;
  }
  planned_ = true;
  return true;
}

bool CRestoreJob::PrepareDestination(std::string& why) {
  return HostPathFits(paths::HostPathText(options_.destination), why) &&
         QPXFile::MakeFolders(options_.destination, why);
}

void CRestoreJob::Begin(QPXFile::IRestoreUser& user, std::u16string name, uint64_t totalBytes) {
  if (!sessionStore_) {
    sessionStore_.emplace(user, log_);
    session_.store(&*sessionStore_);
  }
  sessionStore_->Reset(std::move(name), totalBytes);
  // A stop asked for before the run began holds for it.
  if (cancel_.load()) sessionStore_->RequestCancel();
}

bool CRestoreJob::OnEvent(const QPXFile::RestoreEvent& event) { return sessionStore_ && sessionStore_->OnEvent(event); }

bool CRestoreJob::OnProgress(uint64_t bytes) { return sessionStore_ && sessionStore_->OnProgress(bytes); }

QPXFile::RestoreSummary CRestoreJob::Run(QPXFile::IRestoreUser& user, EventWatch watch) {
  Begin(user, plan_.name, plan_.TotalFileSize());
  QPXFile::CRestoreSession& session = *sessionStore_;
  QPXFile::RestoreEventCallback events = session.Events();
  if (watch) {
    events = [&session, &watch](const QPXFile::RestoreEvent& event) {
      watch(event);
      return session.OnEvent(event);
    };
  }
  const QPXFile::ExtractProgress progress = session.Progress();
  if (!planned_) session.EndRun(false);
  for (QPXFile::RestoreRun& run : plan_.runs) {
    // The restore is where running out of memory is caught: the run ends,
    // what it wrote stays, and the user hears of it once.
    bool ok = false;
    try {
      ok = QPXFile::RestoreArchive(*run.selection, events, progress, run.target);
    } catch (const std::bad_alloc&) {
      session.EndRunOutOfMemory();
      break;
    }
    session.EndRun(ok);
    if (session.GetOutcome() == QPXFile::CRestoreSession::Outcome::kStopped) break;
  }
  // A stop asked for after the last callback is still a stop, with its line.
  if (cancel_.load() && !session.IsStopped()) session.OnProgress(0);
  session.Conclude();

  QPXFile::RestoreSummary summary;
  summary.counts = session.GetCounts();
  summary.unheld = static_cast<long>(unheld_.size());
  summary.leftOut = leftOut_;
  summary.unplaced = plan_.unplaced;
  summary.losses = session.GetAttributeLosses();
  summary.outcome = session.GetOutcome();
  return summary;
}

void CRestoreJob::RequestCancel() {
  cancel_.store(true);
  if (QPXFile::CRestoreSession* session = session_.load()) session->RequestCancel();
}

}  // namespace IncrementalBackup
