#include "generations/backup_set.h"

#include <new>

#include "archive/load_error_text.h"
#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"
#include "generations/incremental_restore_archive.h"
#include "host/host_path.h"
#include "host/regular_file.h"
#include "host/string_ids.h"
#include "host/text.h"
#include "paths/user_text.h"
#include "restore/log.h"

namespace IncrementalBackup {
namespace {

namespace Text = ManagerText;
using QPXFile::Problems;

bool EndsWith(const std::string& text, const char* tail) {
  const std::string t(tail);
  return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

std::string ManagementPathFor(const std::string& archive) {
  const size_t slash = archive.find_last_of('/');
  const size_t dot = archive.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? archive.substr(0, dot) : archive) + ".qpm";
}

bool IsArchiveName(const std::string& hostPath) {
  // Only the file name's own extension counts: a folder on the way may be
  // called anything, "x.qpi" included.
  return EndsWith(hostPath, ".qpx") || EndsWith(hostPath, ".qpi");
}

OpenDecision DecideOpen(const std::string& hostPath) {
  OpenDecision decision;
  decision.archive = hostPath;
  decision.management = ManagementPathFor(hostPath);
  if (!host::CheckRegularFile(hostPath, decision.why)) return decision;
  if (!IsArchiveName(hostPath)) {
    decision.verdict = OpenVerdict::kNotAnArchiveName;
    return decision;
  }
  if (EndsWith(hostPath, ".qpi")) {
    const QPXFile::OpenResult opened = QPXFile::OpenArchive(host::ToEnginePath(hostPath));
    if (opened.archive && opened.archive->GetEntryCount() == 0) {
      decision.verdict = OpenVerdict::kEmptyGeneration;
      return decision;
    }
  }
  decision.verdict = OpenVerdict::kLoad;
  return decision;
}

void WalkTree(const CFSTree& tree, const std::function<void(const CFolder&)>& onFolder,
              const std::function<void(const CFSFile&)>& onFile) {
  struct Level {
    const CFolder* folder;
    size_t next;
  };
  std::vector<Level> stack;
  auto enter = [&](const CFolder* folder) {
    onFolder(*folder);
    for (const CFSFile* file : folder->GetFiles()) onFile(*file);
    stack.push_back({folder, 0});
  };
  for (const CFolder* root : tree.GetRoots()) {
    enter(root);
    while (!stack.empty()) {
      Level& top = stack.back();
      if (top.next < top.folder->GetFolders().size()) {
        enter(top.folder->GetFolders()[top.next++]);
      } else {
        stack.pop_back();
      }
    }
  }
}

long SourceGeneration(const CGenerationInfo& info) {
  const int32_t i = info.GetApplyingIndex();
  if (i < 0 || static_cast<size_t>(i) >= info.GetUpdates().size()) return -1;
  return info.GetUpdates()[static_cast<size_t>(i)].Generation;
}

CBackupSet::CBackupSet(std::string archiveHostPath)
    : archivePath_(std::move(archiveHostPath)), management_(ManagementPathFor(archivePath_)) {}

bool CBackupSet::OutOfMemoryIsAProblem(Problems& problems, const std::function<bool()>& load) {
  // The load is where running out of memory is caught: what was built is
  // released, and the user told, like any other failure of the load.
  try {
    return load();
  } catch (const std::bad_alloc&) {
    creator_.reset();
    manager_.reset();
    archive_.reset();
    problems.push_back({archivePath_, paths::MessageText(host::StringId::kOutOfMemory)});
    return false;
  }
}

CBackupSet::~CBackupSet() {
  creator_.reset();
  manager_.reset();
}

bool CBackupSet::Load(IManagerUser& user, Problems& problems) {
  return OutOfMemoryIsAProblem(problems, [&] { return LoadSet(user, problems); });
}

bool CBackupSet::LoadSet(IManagerUser& user, Problems& problems) {
  if (!IsArchiveName(archivePath_)) {
    problems.push_back({archivePath_, "a backup set is opened through one of its archives (.qpx or .qpi)"});
    return false;
  }
  std::string why;
  if (!host::CheckRegularFile(archivePath_, why)) {
    problems.push_back({archivePath_, why});
    return false;
  }
  sink_ = std::make_unique<CProgressInfo>();
  IProgressInfo* sink = externalSink_ != nullptr ? externalSink_ : sink_.get();
  manager_ = std::make_unique<CIncrementalManager>();
  creator_ = std::make_unique<CIncrementalRestoreQPXFileExtendCreator>();
  manager_->SetProgressInfo(sink);
  manager_->SetUser(&user);
  const bool loaded = manager_->LoadGenerations(host::ToEnginePath(archivePath_), host::ToEnginePath(management_));
  manager_->SetUser(nullptr);
  // An error that ends the load or the build reaches the front end through
  // the sink alone, so it is shown once; a load the user declined has one too
  // (140), one stopped has none.
  if (!loaded) {
    const int32_t id = sink->GetErrorId();
    if (sink->HasError()) problems.push_back({FailureSubject(id), FailureText(id, manager_->GetFailedArchive())});
    return false;
  }
  manager_->CollectINFItems();

  creator_->SetProgressInfo(sink);
  if (!creator_->Build(*manager_) || creator_->GetTree() == nullptr) {
    problems.push_back(
        {archivePath_, paths::MessageText(sink->HasError() ? sink->GetErrorId() : host::StringId::kTreeFailed)});
    return false;
  }
  return true;
}

bool CBackupSet::LoadArchiveAlone(Problems& problems) {
  return OutOfMemoryIsAProblem(problems, [&] { return LoadAlone(problems); });
}

bool CBackupSet::LoadAlone(Problems& problems) {
  // Opening a FIFO blocks until a writer comes, and a device is no archive.
  std::string why;
  if (!host::CheckRegularFile(archivePath_, why)) {
    problems.push_back({archivePath_, why});
    return false;
  }
  QPXFile::OpenResult result = QPXFile::OpenArchive(host::ToEnginePath(archivePath_));
  if (result.failure != QPXFile::OpenFailure::kNone) {
    problems.push_back({archivePath_, QPXFile::DescribeOpenFailure(result)});
    return false;
  }
  archive_ = std::move(result.archive);
  return true;
}

long CBackupSet::Count() const {
  if (archive_) return 1;
  return manager_ ? manager_->GetGenerationCount() : 0;
}

bool CBackupSet::SelectGeneration(long shown, Problems& problems, CRecieveIncrementalRestoreTreeChange* receiver) {
  if (shown < 1 || shown > Count()) {
    problems.push_back({archivePath_, "the backup set has no generation " + std::to_string(shown) + " (it has " +
                                          std::to_string(Count()) + ")"});
    return false;
  }
  if (creator_ && !creator_->SwitchGeneration(shown - 1, receiver)) {
    problems.push_back({archivePath_, paths::MessageText(host::StringId::kTreeFailed)});
    return false;
  }
  selected_ = shown - 1;
  return true;
}

std::string CBackupSet::ArchiveText(long g) const {
  if (archive_) return g == 0 ? archivePath_ : std::string("?");
  const QPMFile::CQPMQPXFileInfo* record = manager_ ? manager_->GetManagement().GetArchive(g) : nullptr;
  return record != nullptr ? paths::HostPathText(record->Path) : std::string("?");
}

uint64_t CBackupSet::CreationTime(long g) const {
  if (archive_) return g == 0 && archive_->GetHeader() != nullptr ? archive_->GetHeader()->GetCreationTime() : 0;
  const QPMFile::CQPMQPXFileInfo* record = manager_ ? manager_->GetManagement().GetArchive(g) : nullptr;
  return record != nullptr ? record->CreationTime : 0;
}

std::string CBackupSet::FailureSubject(int32_t id) const {
  if (manager_ && manager_->GetFailedArchive().errorId == id)
    return id == Text::kRebuildFailed ? archivePath_ : paths::HostPathText(manager_->GetFailedArchive().path);
  // A generation archive's failure names that archive: the manager appends
  // archives in table order, so the one that failed is the next one.
  if (manager_ && (id == Text::kGenerationFailed || id == Text::kOverwritten)) {
    const QPMFile::CQPMQPXFileInfo* record = manager_->GetManagement().GetArchive(manager_->GetGenerationCount());
    if (record != nullptr) return paths::HostPathText(record->Path);
  }
  return management_;
}

std::string CBackupSet::FailureText(int32_t id, const FailedArchive& failed) const {
  std::string text = paths::MessageText(id);
  if (failed.errorId != id) return text;
  const std::string why = QPXFile::DescribeArchiveFault(failed.fault, wording_);
  // The command-line tool names the file before the message; a message box
  // has only its text, so the file is named in it.
  if (wording_ == QPXFile::Wording::kJapanese) {
    text += '\n';
    text += paths::HostPathText(failed.path);
    if (!why.empty()) text.append("：").append(why);
  } else if (!why.empty()) {
    text.append(1, '\n').append(why);
  }
  return text;
}

std::string CBackupSet::QuestionText(int32_t id) const {
  std::string text = paths::MessageText(id);
  if (id != Text::kDamagedRebuild || !manager_) return text;
  const bool ja = wording_ == QPXFile::Wording::kJapanese;
  std::string why;
  switch (manager_->GetManagement().GetLastFailure()) {
    case QPMFile::QPMFailure::kNone:
      why = ja ? "バックアップファイルが1つも記録されていません" : "it lists no archive";
      break;
    case QPMFile::QPMFailure::kRead:
    case QPMFile::QPMFailure::kCount:
      why = ja ? "ファイルが途中で切れています" : "it is cut short";
      break;
    case QPMFile::QPMFailure::kVersion:
      why = ja ? "バージョンが不明です" : "its version is unknown";
      break;
    case QPMFile::QPMFailure::kChecksum:
      why = ja ? "チェックサムが一致しません" : "its checksum does not match";
      break;
    case QPMFile::QPMFailure::kOutOfMemory:
      why = ja ? "メモリが足りません" : "not enough memory";
      break;
    default:
      why = ja ? "記録の内容が正しくありません" : "its records are damaged";
      break;
  }
  return text + "\n" + (ja ? management_ + "：" + why : why);
}

std::string CBackupSet::ShowEarlierQuestion(const FailedArchive& failed) const {
  const std::u16string shown = host::Utf8ToWide(std::to_string(failed.generation + 1));
  return FailureText(failed.errorId, failed) + "\n" +
         paths::Utf8(QPXFile::FormatWithText(host::Utf8ToWide(paths::MessageText(Text::kShowEarlier)), shown));
}

void CBackupSet::ForEachFile(const std::function<void(const SetFile&)>& onFile) const {
  SetFile f;
  if (archive_) {
    for (long i = 0; i < archive_->GetEntryCount(); ++i) {
      f.entry = archive_->GetEntry(i);
      const QPXFile::CQPXBackupedFileHeader* h = f.entry != nullptr ? f.entry->GetHeader() : nullptr;
      f.named = h != nullptr && h->GetFullPath(f.path);
      if (!f.named) f.path.clear();
      onFile(f);
    }
    return;
  }
  WalkTree(Tree(), [](const CFolder&) {},
           [&](const CFSFile& file) {
             if (!file.GetData().Exists()) return;
             f.path = file.GetPath();
             f.entry = file.GetData().GetCurrentEntry();
             f.source = SourceGeneration(file.GetData().GetGeneration());
             onFile(f);
           });
}

void CBackupSet::ForEachFolder(const std::function<void(const SetFolder&)>& onFolder) const {
  SetFolder f;
  if (archive_) {
    const auto* extend = dynamic_cast<const QPXFile::CQPXFileExtend*>(archive_.get());
    const QPXFile::CQPXFolderList* folders = extend ? extend->GetFolderList() : nullptr;
    const int count = folders ? folders->GetFolderCount() : 0;
    for (int i = 0; i < count; ++i) {
      f = SetFolder{};
      folders->GetFolder(i, &f.path, &f.created, &f.attributes, &f.accessed, &f.modified);
      onFolder(f);
    }
    return;
  }
  WalkTree(Tree(),
           [&](const CFolder& folder) {
             CAttributes a;
             if (!folder.GetData().Exists() || !folder.GetData().GetCurrentAttributes(a)) return;
             f = SetFolder{folder.GetPath(), a.Attributes, a.CreationTime, a.LastAccessTime, a.LastWriteTime};
             onFolder(f);
           },
           [](const CFSFile&) {});
}

bool CBackupSet::PlanRestore(const std::u16string& destination, const std::vector<std::string>& chosen,
                             QPXFile::RestorePlan& plan, Problems& problems) {
  if (!archive_) return PlanGenerationRuns(destination, chosen, plan, problems);
  auto* source = dynamic_cast<QPXFile::CQPXFileExtend*>(archive_.get());
  if (source == nullptr) {
    problems.push_back({archivePath_, "archives of this kind cannot be extracted"});
    return false;
  }
  return QPXFile::PlanArchiveRuns(*source, host::ToEnginePath(archivePath_), archivePath_, destination, chosen, plan,
                                  problems);
}

// The files at or below `chosen` whose generation archive lacks their
// entry: the reason a generation-restoring archive cannot be made.
void CBackupSet::ReportGaps(const CFSObject& chosen, Problems& problems) const {
  std::vector<const CFSFile*> gaps;
  auto visit = [&](const CFSFile& file) {
    if (file.Exists() && file.GetData().GetCurrentEntry() == nullptr) gaps.push_back(&file);
  };
  if (!chosen.IsFolder()) {
    visit(static_cast<const CFSFile&>(chosen));
  } else {
    std::vector<const CFolder*> folders{static_cast<const CFolder*>(&chosen)};
    while (!folders.empty()) {
      const CFolder* folder = folders.back();
      folders.pop_back();
      for (const CFSFile* file : folder->GetFiles()) visit(*file);
      for (const CFolder* sub : folder->GetFolders()) folders.push_back(sub);
    }
  }
  for (const CFSFile* file : gaps)
    problems.push_back({archivePath_, paths::Utf8(file->GetPath()) + " is missing from " +
                                          ArchiveText(SourceGeneration(file->GetData().GetGeneration()))});
  if (gaps.empty()) problems.push_back({archivePath_, "the generation cannot be prepared for restoring"});
}

bool CBackupSet::PlanGenerationRuns(const std::u16string& destination, const std::vector<std::string>& chosen,
                                    QPXFile::RestorePlan& plan, Problems& problems) {
  // The marks on the tree are the panes' state: a plan never touches them.
  auto add = [&](const CFSObject& node, QPXFile::RestoreTarget target) {
    std::unique_ptr<CIncrementalRestoreQPXFileExtend> archive = creator_->CreateRestoreArchive(node);
    if (!archive) {
      ReportGaps(node, problems);
      return false;
    }
    plan.runs.push_back(QPXFile::RestoreRun{std::move(archive), std::move(target)});
    return true;
  };
  plan.name = RestoreArchiveName(host::ToEnginePath(management_), selected_);
  if (chosen.empty()) {
    for (const CFolder* root : Tree().GetRoots()) {
      if (!root->Exists() || !QPXFile::IsDrive(root->GetName())) continue;
      if (!add(*root, QPXFile::DriveTarget(destination, root->GetName()))) return false;
    }
    return true;
  }
  for (const std::string& argument : chosen) {
    const CFSObject* node = Tree().Find(paths::StoredPathArgument(argument));
    if (node == nullptr || !node->Exists()) {
      problems.push_back({archivePath_, "nothing is stored at " + argument + " in generation " +
                                            std::to_string(selected_ + 1)});
      return false;
    }
    if (!add(*node, QPXFile::ChosenTarget(destination, node->GetPath()))) return false;
  }
  return true;
}

bool CBackupSet::PlanFileOfGeneration(const std::u16string& destination, const std::u16string& path, long g,
                                      QPXFile::RestorePlan& plan, Problems& problems) {
  const std::string shown = paths::Utf8(path);
  const std::string where = " in generation " + std::to_string(g + 1);
  if (archive_ || g < 0 || g >= Count()) {
    problems.push_back({archivePath_, "the backup set has no generation " + std::to_string(g + 1)});
    return false;
  }
  const CFSObject* node = Tree().Find(path);
  if (node == nullptr || node->IsFolder()) {
    problems.push_back({archivePath_, "no file is stored at " + shown + where});
    return false;
  }
  const auto& file = static_cast<const CFSFile&>(*node);
  CGenerationInfo at;
  at.Attach(file.GetData().GetGeneration().GetUpdates());
  if (!at.SelectGeneration(g) || !at.Exists()) {
    problems.push_back({archivePath_, "nothing is stored at " + shown + where});
    return false;
  }
  std::unique_ptr<CIncrementalRestoreQPXFileExtend> archive = creator_->CreateRestoreArchive(file, g);
  if (!archive) {
    problems.push_back({archivePath_, shown + " is missing from " + ArchiveText(SourceGeneration(at))});
    return false;
  }
  if (plan.name.empty()) plan.name = RestoreArchiveName(host::ToEnginePath(management_), g);
  plan.runs.push_back(QPXFile::RestoreRun{std::move(archive), QPXFile::ChosenTarget(destination, node->GetPath())});
  return true;
}

}  // namespace IncrementalBackup
