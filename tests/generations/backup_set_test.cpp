// The backup set a front end holds: a set loaded through one of its archives
// or an archive alone, its contents per generation, restore plans, the
// history of a path and the difference of two generations.
#include "generations/backup_set.h"
#include "generations/restore_job.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <new>
#include <filesystem>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "generation_set.h"
#include "generations/set_history.h"
#include "host/host_path.h"
#include "host/string_ids.h"
#include "host/text.h"
#include "paths/user_text.h"
#include "support/archive_writer.h"
#include "support/backup_set_writer.h"
#include "support/bytes.h"

namespace fs = std::filesystem;
using IncrementalBackup::CBackupSet;
using IncrementalBackup::CFSFile;
using IncrementalBackup::CFSObject;
using IncrementalBackup::CIncrementalRestoreQPXFileExtend;
using IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator;
using IncrementalBackup::CRestoreJob;
using IncrementalBackup::HistoryState;
using IncrementalBackup::SetFile;

namespace {

// Records what the manager says and answers its question as told.
struct RecordingUser : IncrementalBackup::IManagerUser {
  void Notice(int32_t id) override { notices.push_back(id); }
  bool AskYesNo(int32_t id) override {
    asked.push_back(id);
    return answer;
  }
  bool AskShowEarlier(const IncrementalBackup::FailedArchive& failed) override {
    earlier.push_back(failed);
    return showEarlier;
  }
  std::vector<int32_t> notices, asked;
  std::vector<IncrementalBackup::FailedArchive> earlier;
  bool answer = false;
  bool showEarlier = false;
};

class BackupSetTest : public gentest::GenerationTest {
 protected:
  std::unique_ptr<CBackupSet> LoadSample(testsupport::BackupSetSpec setPlan = testsupport::SampleBackupSet()) {
    files_ = testsupport::WriteBackupSet(setPlan, dir_);
    auto set = std::make_unique<CBackupSet>(files_.archives[0].string());
    QPXFile::Problems problems;
    EXPECT_TRUE(set->Load(user_, problems));
    EXPECT_TRUE(problems.empty());
    return set;
  }

  static std::vector<std::pair<std::u16string, long>> Files(const CBackupSet& set) {
    std::vector<std::pair<std::u16string, long>> out;
    set.ForEachFile([&](const SetFile& f) { out.emplace_back(f.path, f.source); });
    return out;
  }

  testsupport::BackupSetFiles files_;
  RecordingUser user_;
};

TEST_F(BackupSetTest, ManagementPathReplacesTheExtensionOfTheFileNameOnly) {
  EXPECT_EQ(IncrementalBackup::ManagementPathFor("/a/set_2.qpi"), "/a/set_2.qpm");
  EXPECT_EQ(IncrementalBackup::ManagementPathFor("/a.b/set"), "/a.b/set.qpm");
  EXPECT_EQ(IncrementalBackup::ManagementPathFor("x.y.qpx"), "x.y.qpm");
}

TEST_F(BackupSetTest, ArchiveAloneIsOneGenerationInItsOwnOrder) {
  testsupport::ArchiveSpec plan;
  plan.folders = {{u"C:\\Data"}, {u"D:\\Work"}};
  plan.entries.push_back({.folder = u"D:\\Work", .name = u"z.txt", .data = testsupport::Bytes("z")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = testsupport::Bytes("a")});
  testsupport::WriteArchive(plan, dir_ / "one.qpx");

  CBackupSet set((dir_ / "one.qpx").string());
  QPXFile::Problems problems;
  ASSERT_TRUE(set.LoadArchiveAlone(problems));
  EXPECT_TRUE(set.IsArchiveAlone());
  EXPECT_EQ(set.Count(), 1);
  EXPECT_EQ(set.ArchiveText(0), (dir_ / "one.qpx").string());
  const std::vector<std::pair<std::u16string, long>> expected{{u"D:\\Work\\z.txt", -1}, {u"C:\\Data\\a.txt", -1}};
  EXPECT_EQ(Files(set), expected);
  std::vector<std::u16string> folders;
  set.ForEachFolder([&](const IncrementalBackup::SetFolder& f) { folders.push_back(f.path); });
  EXPECT_EQ(folders, (std::vector<std::u16string>{u"C:\\Data", u"D:\\Work"}));

  // Every drive gets a run of its own; a path the archive lacks is refused.
  QPXFile::RestorePlan plan2;
  ASSERT_TRUE(set.PlanRestore(u"Z:\\out", {}, plan2, problems));
  ASSERT_EQ(plan2.runs.size(), 2u);
  EXPECT_EQ(plan2.runs[0].target.destinationRoot, u"Z:\\out\\C");
  EXPECT_EQ(plan2.runs[1].target.destinationRoot, u"Z:\\out\\D");
  EXPECT_EQ(plan2.unplaced, 0);
  EXPECT_EQ(plan2.TotalFileSize(), 2u);
  QPXFile::RestorePlan refused;
  EXPECT_FALSE(set.PlanRestore(u"Z:\\out", {"C:/Nowhere"}, refused, problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].message, "nothing is stored at C:/Nowhere");
}

TEST_F(BackupSetTest, UnreadableArchiveAloneComesBackAsAProblem) {
  CBackupSet missing((dir_ / "none.qpx").string());
  QPXFile::Problems problems;
  EXPECT_FALSE(missing.LoadArchiveAlone(problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].subject, (dir_ / "none.qpx").string());
  EXPECT_EQ(problems[0].message, "cannot open: No such file or directory");
}

TEST_F(BackupSetTest, SetIsOpenedOnlyThroughAnArchiveThatExists) {
  QPXFile::Problems problems;
  CBackupSet wrongKind((dir_ / "set.qpm").string());
  EXPECT_FALSE(wrongKind.Load(user_, problems));
  CBackupSet absent((dir_ / "set.qpx").string());
  EXPECT_FALSE(absent.Load(user_, problems));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].message, "a backup set is opened through one of its archives (.qpx or .qpi)");
  EXPECT_EQ(problems[1].message, "cannot open: No such file or directory");
  EXPECT_TRUE(user_.notices.empty());
}

TEST_F(BackupSetTest, OpenDecisionLooksAtTheFileNameOnly) {
  using IncrementalBackup::DecideOpen;
  using IncrementalBackup::OpenVerdict;
  // An archive that holds no files is refused only as a later generation's
  // (".qpi"); a folder called "x.qpi" on the way changes nothing.
  testsupport::ArchiveSpec empty;
  fs::create_directories(dir_ / "x.qpi");
  testsupport::WriteArchive(empty, dir_ / "x.qpi" / "set.qpx");
  testsupport::WriteArchive(empty, dir_ / "x.qpi" / "set_2.qpi");
  testsupport::WriteArchive(empty, dir_ / "x.qpi" / "SET.QPX");

  const IncrementalBackup::OpenDecision first = DecideOpen((dir_ / "x.qpi" / "set.qpx").string());
  EXPECT_EQ(first.verdict, OpenVerdict::kLoad);
  EXPECT_EQ(first.management, (dir_ / "x.qpi" / "set.qpm").string());
  EXPECT_EQ(DecideOpen((dir_ / "x.qpi" / "set_2.qpi").string()).verdict, OpenVerdict::kEmptyGeneration);
  EXPECT_EQ(DecideOpen((dir_ / "x.qpi" / "SET.QPX").string()).verdict, OpenVerdict::kNotAnArchiveName);
  EXPECT_EQ(DecideOpen((dir_ / "x.qpi").string()).verdict, OpenVerdict::kNoFile);
  EXPECT_EQ(DecideOpen((dir_ / "none.qpx").string()).why, "cannot open: No such file or directory");
}

TEST_F(BackupSetTest, GenerationsShowTheFilesPresentWithTheArchiveHoldingThem) {
  std::unique_ptr<CBackupSet> set = LoadSample();
  ASSERT_TRUE(set);
  EXPECT_FALSE(set->IsArchiveAlone());
  EXPECT_EQ(set->Count(), 4);
  EXPECT_TRUE(user_.notices.empty());

  QPXFile::Problems problems;
  EXPECT_FALSE(set->SelectGeneration(5, problems));
  EXPECT_FALSE(set->SelectGeneration(0, problems));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].message, "the backup set has no generation 5 (it has 4)");

  problems.clear();
  ASSERT_TRUE(set->SelectGeneration(2, problems));
  const std::vector<std::pair<std::u16string, long>> second{
      {u"C:\\Data\\a.txt", 1}, {u"C:\\Data\\c.txt", 1}, {u"C:\\Data\\keep.txt", 0}};
  auto files = Files(*set);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, second);
  EXPECT_EQ(set->ArchiveText(1), files_.archives[1].string());

  // A restore of generation 2 is named after the management file.
  QPXFile::RestorePlan plan;
  ASSERT_TRUE(set->PlanRestore(u"Z:\\out", {"c:\\data\\a.txt"}, plan, problems));
  ASSERT_EQ(plan.runs.size(), 1u);
  EXPECT_EQ(plan.runs[0].target.shownFolder, u"C:\\Data");
  EXPECT_NE(plan.name.find(u"(2"), std::u16string::npos);
  EXPECT_FALSE(set->PlanRestore(u"Z:\\out", {"C:\\Data\\Old\\b.txt"}, plan, problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].message, "nothing is stored at C:\\Data\\Old\\b.txt in generation 2");
}

TEST_F(BackupSetTest, ARestoreJobTakesItsSelectionAsAValueAndLeavesTheMarksAlone) {
  std::unique_ptr<CBackupSet> set = LoadSample();
  ASSERT_TRUE(set);
  QPXFile::Problems problems;
  ASSERT_TRUE(set->SelectGeneration(2, problems));
  // The user has marked another file in the pane.
  CIncrementalRestoreQPXFileExtendCreator& creator = set->Creator();
  creator.SetChecked(u"C:\\Data\\keep.txt", true);
  const CFSObject* a = creator.FindNode(u"C:\\Data\\a.txt");
  ASSERT_NE(a, nullptr);
  std::unique_ptr<CIncrementalRestoreQPXFileExtend> alone = creator.CreateRestoreArchive(*a);
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->GetEntryCount(), 1);

  CRestoreJob job(*set, {{u"C:\\Data\\a.txt", 2, {}}}, {u"Z:\\out", {}});
  ASSERT_TRUE(job.Plan(problems)) << (problems.empty() ? "" : problems[0].message);
  EXPECT_TRUE(static_cast<const CFSFile*>(creator.FindNode(u"C:\\Data\\keep.txt"))->GetData().IsChecked());
  EXPECT_FALSE(static_cast<const CFSFile*>(a)->GetData().IsChecked());
  EXPECT_EQ(creator.GetCheckedFileCount(), 1);
  // The marked file does not ride along.
  uint64_t aloneBytes = 0;
  ASSERT_TRUE(alone->GetTotalFileSize(aloneBytes));
  EXPECT_EQ(job.TotalBytes(), aloneBytes);
  EXPECT_NE(creator.GetTotalFileSize(), 0u);

  // A folder chosen in a generation the tree no longer shows is refused.
  CRestoreJob stale(*set, {{u"C:\\Data", 3, {}}}, {u"Z:\\out", {}});
  EXPECT_FALSE(stale.Plan(problems));
  ASSERT_FALSE(problems.empty());
  EXPECT_EQ(problems.back().message, "generation 3 is not selected for C:\\Data");
}

// A user whose first progress report finds the memory gone, as a restore
// meets it anywhere below the job.
struct MemoryShortUser : QPXFile::IRestoreUser {
  QPXFile::RestoreChoice Ask(const QPXFile::RestoreQuestion& question) override {
    return question.IsExistingFile() ? QPXFile::kChoiceOverwriteAll : QPXFile::kChoiceContinueAll;
  }
  void ShowError(const QPXFile::RestoreNotice& notice) override { notices.push_back(notice.messageId); }
  void ShowProgress(const QPXFile::RestoreProgressState&) override {
    if (failures == 0) return;
    --failures;
    throw std::bad_alloc();
  }
  int failures = 1;
  std::vector<uint32_t> notices;
};

TEST_F(BackupSetTest, ARestoreThatRunsOutOfMemoryStopsAndSaysSoOnce) {
  std::unique_ptr<CBackupSet> set = LoadSample();
  ASSERT_TRUE(set);
  CRestoreJob job(*set, {}, {Engine("out"), {}});
  QPXFile::Problems problems;
  std::string why;
  ASSERT_TRUE(job.Plan(problems) && job.PrepareDestination(why)) << why;

  MemoryShortUser user;
  const QPXFile::RestoreSummary summary = job.Run(user);
  EXPECT_EQ(user.failures, 0) << "the memory never ran out";
  EXPECT_EQ(summary.outcome, QPXFile::RestoreOutcome::kStopped);
  EXPECT_EQ(QPXFile::ExitStatus(summary), 2);
  EXPECT_EQ(user.notices, std::vector<uint32_t>{host::StringId::kOutOfMemory});
  const std::u16string outOfMemory = host::Utf8ToWide(paths::MessageText(host::StringId::kOutOfMemory));
  int told = 0;
  for (size_t i = 0; i < job.Log().GetCount(); ++i) {
    std::u16string line;
    job.Log().GetAt(i).GetText(line);
    told += line == outOfMemory;
  }
  EXPECT_EQ(told, 1);

  // Nothing is left half done: the same job runs again, whole.
  MemoryShortUser enough;
  enough.failures = 0;
  EXPECT_EQ(job.Run(enough).outcome, QPXFile::RestoreOutcome::kComplete);
  EXPECT_TRUE(enough.notices.empty());
}

TEST_F(BackupSetTest, VersionsFoldWhatStayedTheSameAndRestoreFromTheirOwnGeneration) {
  testsupport::BackupSetSpec setPlan = testsupport::SampleBackupSet();
  setPlan.generations[2].files[1].storeAgain = true;  // keep.txt, the same bytes again
  setPlan.generations[0].files[2].data = testsupport::Bytes("b-old");
  std::unique_ptr<CBackupSet> set = LoadSample(setPlan);
  ASSERT_TRUE(set);
  using IncrementalBackup::FoldHistory;
  using IncrementalBackup::HistoryOf;

  const std::vector<IncrementalBackup::Version> keep = FoldHistory(HistoryOf(*set, u"C:\\Data\\keep.txt"));
  ASSERT_EQ(keep.size(), 1u);
  EXPECT_EQ(keep[0].generation, 0);
  EXPECT_EQ(keep[0].unchangedTo, 3);
  // Stored, removed, gone, stored anew: nothing folds across the removal.
  const std::vector<IncrementalBackup::Version> b = FoldHistory(HistoryOf(*set, u"C:\\Data\\Old\\b.txt"));
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[0].state, HistoryState::kStored);
  EXPECT_EQ(b[0].unchangedTo, -1);
  ASSERT_NE(b[0].header, nullptr);
  EXPECT_EQ(b[0].header->GetFileSize(), 5u);
  EXPECT_EQ(b[1].state, HistoryState::kRemoved);
  EXPECT_EQ(b[1].generation, 1);
  EXPECT_EQ(b[2].generation, 3);
  const std::vector<IncrementalBackup::Version> c = FoldHistory(HistoryOf(*set, u"C:\\Data\\c.txt"));
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].generation, 1);
  EXPECT_EQ(c[0].unchangedTo, 2);
  EXPECT_EQ(c[1].state, HistoryState::kRemoved);

  // With generation 4 shown, b.txt of generation 1 comes from its own data
  // and the tree goes on showing generation 4.
  QPXFile::Problems problems;
  ASSERT_TRUE(set->SelectGeneration(4, problems));
  CRestoreJob old(*set, {{u"C:\\Data\\Old\\b.txt", 1, {}}}, {u"Z:\\out", {}});
  ASSERT_TRUE(old.Plan(problems)) << (problems.empty() ? "" : problems[0].message);
  EXPECT_EQ(old.TotalBytes(), 5u);
  EXPECT_EQ(set->SelectedShown(), 4);
  EXPECT_TRUE(set->Creator().FindNode(u"C:\\Data\\c.txt") != nullptr &&
              !set->Creator().FindNode(u"C:\\Data\\c.txt")->Exists());
  CRestoreJob removed(*set, {{u"C:\\Data\\Old\\b.txt", 2, {}}}, {u"Z:\\out", {}});
  EXPECT_FALSE(removed.Plan(problems));
  ASSERT_FALSE(problems.empty());
  EXPECT_EQ(problems.back().message, "nothing is stored at C:\\Data\\Old\\b.txt in generation 2");
}

TEST_F(BackupSetTest, FailuresNameTheArchiveOrManagementFileConcernedAndWhy) {
  testsupport::BackupSetSpec setPlan = testsupport::SampleBackupSet();
  setPlan.missingArchives = {2};
  files_ = testsupport::WriteBackupSet(setPlan, dir_);
  CBackupSet set(files_.archives[0].string());
  QPXFile::Problems problems;
  // The manager's error comes back once, named after the archive it
  // concerns, with the reason; the user was asked about the generations before it.
  RecordingUser user;
  EXPECT_FALSE(set.Load(user, problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].subject, files_.archives[2].string());
  EXPECT_EQ(problems[0].message, paths::MessageText(IncrementalBackup::ManagerText::kGenerationFailed) +
                                     "\ncannot open: No such file or directory");
  ASSERT_EQ(user.earlier.size(), 1u);
  EXPECT_EQ(user.earlier[0].generation, 2);
  EXPECT_EQ(set.FailureSubject(IncrementalBackup::ManagerText::kNoManagement), files_.management.string());

  // A message box has only its text: there the archive is named in it, and
  // the question says which generations remain.
  CBackupSet shown(files_.archives[0].string());
  shown.SetWording(QPXFile::Wording::kJapanese);
  problems.clear();
  EXPECT_FALSE(shown.Load(user, problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].message.find(files_.archives[2].string() + "：開けません: "), std::string::npos)
      << problems[0].message;
  EXPECT_NE(shown.ShowEarlierQuestion(user.earlier.back()).find("第3世代以降を除き"), std::string::npos);
}

TEST_F(BackupSetTest, TheGenerationsBeforeOneThatCannotBeOpenedCanStillBeShown) {
  testsupport::BackupSetSpec setPlan = testsupport::SampleBackupSet();
  setPlan.missingArchives = {2};
  files_ = testsupport::WriteBackupSet(setPlan, dir_);
  CBackupSet set(files_.archives[0].string());
  QPXFile::Problems problems;
  RecordingUser user;
  user.showEarlier = true;
  ASSERT_TRUE(set.Load(user, problems));
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(set.Count(), 2);
  EXPECT_TRUE(set.Manager().IsCutShort());
  EXPECT_EQ(set.Manager().GetFailedArchive().path, host::ToEnginePath(files_.archives[2].string()));
  ASSERT_TRUE(set.SelectGeneration(2, problems));
  auto files = Files(set);
  EXPECT_EQ(files.size(), 3u);
  for (const auto& [path, source] : files) EXPECT_LT(source, 2) << host::WideToUtf8(path);
  EXPECT_FALSE(set.SelectGeneration(3, problems));
}

TEST_F(BackupSetTest, AnArchiveThatCannotBeReadIsNamedNotTheMissingManagementFile) {
  const fs::path empty = dir_ / "empty.qpx";
  std::ofstream(empty).flush();
  CBackupSet set(empty.string());
  QPXFile::Problems problems;
  RecordingUser user;
  EXPECT_FALSE(set.Load(user, problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].subject, empty.string());
  EXPECT_EQ(problems[0].message, paths::MessageText(IncrementalBackup::ManagerText::kRebuildFailed) +
                                     "\nnot an archive of this kind");
}

TEST_F(BackupSetTest, WithoutManagementTheArchiveFormsOneGeneration) {
  testsupport::BackupSetSpec setPlan = testsupport::SampleBackupSet();
  setPlan.writeManagement = false;
  std::unique_ptr<CBackupSet> set = LoadSample(setPlan);
  ASSERT_TRUE(set);
  EXPECT_EQ(user_.notices, (std::vector<int32_t>{IncrementalBackup::ManagerText::kNoManagement}));
  EXPECT_EQ(set->Count(), 1);
  EXPECT_EQ(Files(*set).size(), 3u);
}

TEST_F(BackupSetTest, ChangesHistoryAndDifferenceFollowTheUpdates) {
  std::unique_ptr<CBackupSet> set = LoadSample();
  ASSERT_TRUE(set);
  const std::vector<IncrementalBackup::GenerationChanges> changes = IncrementalBackup::CountChanges(*set);
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0].added, 3);
  EXPECT_EQ(changes[1].added, 1);    // c.txt
  EXPECT_EQ(changes[1].changed, 1);  // a.txt
  EXPECT_EQ(changes[1].removed, 1);  // Old\b.txt
  EXPECT_EQ(changes[3].added, 1);    // Old\b.txt again
  EXPECT_EQ(changes[3].removed, 1);  // c.txt

  const IncrementalBackup::History b = IncrementalBackup::HistoryOf(*set, u"c:\\data\\old\\B.TXT");
  ASSERT_TRUE(b.found);
  EXPECT_FALSE(b.isFolder);
  EXPECT_EQ(b.path, u"C:\\Data\\Old\\b.txt");
  ASSERT_EQ(b.steps.size(), 4u);
  EXPECT_EQ(b.steps[0].state, HistoryState::kStored);
  ASSERT_NE(b.steps[0].header, nullptr);
  EXPECT_EQ(b.steps[0].header->GetFileSize(), 2u);
  EXPECT_EQ(b.steps[1].state, HistoryState::kRemoved);
  EXPECT_EQ(b.steps[2].state, HistoryState::kAbsent);
  EXPECT_EQ(b.steps[3].state, HistoryState::kStored);

  const IncrementalBackup::History keep = IncrementalBackup::HistoryOf(*set, u"C:\\Data\\keep.txt");
  EXPECT_EQ(keep.steps[3].state, HistoryState::kUnchanged);
  EXPECT_EQ(keep.steps[3].since, 0);
  EXPECT_FALSE(IncrementalBackup::HistoryOf(*set, u"C:\\Nothing").found);

  const IncrementalBackup::Difference d = IncrementalBackup::DiffGenerations(*set, 0, 1);
  ASSERT_EQ(d.added.size(), 1u);
  EXPECT_EQ(d.added[0].path, u"C:\\Data\\c.txt");
  ASSERT_EQ(d.removed.size(), 1u);
  EXPECT_EQ(d.removed[0].path, u"C:\\Data\\Old\\b.txt");
  ASSERT_EQ(d.changed.size(), 1u);
  EXPECT_EQ(d.changed[0].path, u"C:\\Data\\a.txt");
  const IncrementalBackup::Difference folders = IncrementalBackup::DiffGenerations(*set, 1, 2);
  EXPECT_EQ(folders.foldersAdded, (std::vector<std::u16string>{u"C:\\Data\\New"}));
  EXPECT_EQ(folders.foldersRemoved, (std::vector<std::u16string>{u"C:\\Data\\Old"}));
  EXPECT_TRUE(IncrementalBackup::DiffGenerations(*set, 2, 2).changed.empty());
}

TEST_F(BackupSetTest, PlanNamesEveryCheckedFileMissingFromItsArchive) {
  testsupport::BackupSetSpec setPlan = testsupport::SampleBackupSet();
  setPlan.gaps = {{1, u"C:\\Data\\c.txt"}};
  std::unique_ptr<CBackupSet> set = LoadSample(setPlan);
  ASSERT_TRUE(set);
  QPXFile::Problems problems;
  ASSERT_TRUE(set->SelectGeneration(2, problems));
  QPXFile::RestorePlan plan;
  EXPECT_FALSE(set->PlanRestore(u"Z:\\out", {"C:\\Data"}, plan, problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].message, "C:\\Data\\c.txt is missing from " + files_.archives[1].string());
}

}  // namespace
