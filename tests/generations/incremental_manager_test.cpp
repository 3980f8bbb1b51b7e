// Loading backup sets: the lookups of every generation, the questions and
// errors of missing, damaged, overwritten and incomplete sets, cancelling.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "generations/incremental_manager.h"
#include "host/host_path.h"
#include "host/text.h"
#include "support/backup_set_writer.h"

namespace fs = std::filesystem;
using namespace IncrementalBackup;
using namespace testsupport;

namespace {

// Answers questions as told and keeps what it was asked, in order: "N247",
// "Q139"; the sink adds the errors it is given ("E140") to the same list, so
// a list shows every report of a load once, in the order made.
class RecordingUser : public IManagerUser {
 public:
  explicit RecordingUser(bool yes = false) : yes_(yes) {}
  void Notice(int32_t id) override { calls.push_back("N" + std::to_string(id)); }
  bool AskYesNo(int32_t id) override {
    calls.push_back("Q" + std::to_string(id));
    return yes_;
  }
  std::vector<std::string> calls;

 private:
  bool yes_;
};

// Keeps every message and lets the load go on for a number of checks.
class RecordingSink : public CProgressInfo {
 public:
  bool CanContinue() override { return continues_ < 0 || continues_-- > 0; }
  void SetMessage(int32_t id) override {
    CProgressInfo::SetMessage(id);
    messages.push_back(id);
  }
  void SetError(int32_t id) override {
    CProgressInfo::SetError(id);
    if (log) log->push_back("E" + std::to_string(id));
  }
  void StopAfter(int checks) { continues_ = checks; }
  std::vector<int32_t> messages;
  std::vector<std::string>* log = nullptr;

 private:
  int continues_ = -1;
};

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-gen-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    manager_.SetProgressInfo(&sink_);
    manager_.SetUser(&user_);
    sink_.log = &user_.calls;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::u16string Engine(const fs::path& path) const { return host::ToEnginePath(path.string()); }

  BackupSetFiles Write(const BackupSetSpec& set) { return files_ = WriteBackupSet(set, dir_); }
  bool Load() { return manager_.LoadGenerations(Engine(files_.archives[0]), Engine(files_.management)); }
  void Rewrite(const ManagementSpec& plan) { WriteManagement(plan, files_.management); }

  // Generations in which the path has an entry.
  std::vector<long> EntryGenerations(std::u16string_view path) const {
    std::vector<long> out;
    for (long g = 0; g < manager_.GetGenerationCount(); ++g)
      if (manager_.FindGenerationEntry(g, path)) out.push_back(g);
    return out;
  }

  fs::path dir_;
  BackupSetFiles files_;
  RecordingSink sink_;
  RecordingUser user_;
  CIncrementalManager manager_;
};

using Gens = std::vector<long>;

TEST_F(ManagerTest, FourGenerationsAnswerEachLookupFromTheirOwnArchive) {
  Write(SampleBackupSet());
  ASSERT_TRUE(Load());
  EXPECT_TRUE(user_.calls.empty());
  EXPECT_EQ(sink_.GetErrorId(), -1);
  EXPECT_EQ(sink_.messages, (std::vector<int32_t>{129, 143, 131, 131, 131, 131}));
  ASSERT_EQ(manager_.GetGenerationCount(), 4);
  EXPECT_FALSE(manager_.IsRebuilt());

  EXPECT_EQ(EntryGenerations(u"C:\\Data\\a.txt"), (Gens{0, 1, 3}));
  EXPECT_EQ(EntryGenerations(u"C:\\Data\\keep.txt"), (Gens{0}));
  EXPECT_EQ(EntryGenerations(u"C:\\Data\\Old\\b.txt"), (Gens{0, 3}));
  EXPECT_EQ(EntryGenerations(u"C:\\Data\\c.txt"), (Gens{1}));
  EXPECT_EQ(EntryGenerations(u"C:\\Data\\New\\d.txt"), (Gens{2}));
  EXPECT_EQ(EntryGenerations(u"C:\\Data"), Gens{}) << "a folder is no entry";
  EXPECT_EQ(manager_.FindGenerationEntry(2, u"C:\\Data\\New\\d.txt")->GetHeader()->GetFileSize(), 3000u);
  EXPECT_NE(manager_.FindGenerationEntry(0, u"C:\\Data\\a.txt")->GetHeader()->GetCrc32(),
            manager_.FindGenerationEntry(1, u"C:\\Data\\a.txt")->GetHeader()->GetCrc32());

  CAttributes attributes;
  ASSERT_TRUE(manager_.GetFolderAttributes(1, u"C:\\Data\\Old", attributes));
  EXPECT_EQ(attributes.Attributes, 0x12u);
  EXPECT_EQ(attributes.CreationTime, 4u);
  EXPECT_EQ(attributes.LastAccessTime, 5u);
  EXPECT_EQ(attributes.LastWriteTime, 6u);
  EXPECT_FALSE(manager_.GetFolderAttributes(2, u"C:\\Data\\Old", attributes)) << "removed in generation 2";
  EXPECT_EQ(attributes.Attributes, 0x12u) << "a failed lookup leaves the record alone";
  ASSERT_TRUE(manager_.GetFolderAttributes(3, u"C:\\Data\\Old", attributes));
  EXPECT_EQ(attributes.Attributes, 0x10u);
  EXPECT_EQ(attributes.LastWriteTime, 12u);

  for (long outside : {-1L, 4L, 65536L}) {
    EXPECT_THROW(manager_.FindGenerationEntry(outside, u"C:\\Data\\a.txt"), std::out_of_range) << outside;
    EXPECT_THROW(manager_.GetFolderAttributes(outside, u"C:\\Data", attributes), std::out_of_range) << outside;
    EXPECT_EQ(manager_.GetGenerationArchive(outside), nullptr);
  }
}

TEST_F(ManagerTest, EveryVersionAndArchivePathFormLoads) {
  for (const char* version : {kManage10, kManage11, kManage20, kManage30}) {
    for (ArchivePathForm form : {ArchivePathForm::DriveRooted, ArchivePathForm::Relative, ArchivePathForm::DotRelative}) {
      SCOPED_TRACE(std::string(version) + " form " + std::to_string(static_cast<int>(form)));
      BackupSetSpec set = SampleBackupSet();
      set.version = version;
      set.archivePaths = form;
      Write(set);
      ASSERT_TRUE(Load());
      ASSERT_EQ(manager_.GetGenerationCount(), 4);
      EXPECT_EQ(EntryGenerations(u"C:\\Data\\Old\\b.txt"), (Gens{0, 3}));
      std::u16string path;
      ASSERT_TRUE(manager_.GetGenerationArchive(2)->GetPathName(path));
      EXPECT_EQ(path, Engine(fs::absolute(files_.archives[2])));
    }
  }
}

TEST_F(ManagerTest, LookupsIgnoreCaseBetweenManagementAndArchives) {
  BackupSetSpec set = SampleBackupSet();
  set.managementCase = PathCase::Upper;
  Write(set);
  ASSERT_TRUE(Load());
  for (const auto& record : manager_.GetManagement().GetFileTable(0)) {
    SCOPED_TRACE(host::WideToUtf8(record.Path()));
    for (const auto& update : record.Updates) {
      if (update.Kind != QPMFile::kKindRemoved) {
        EXPECT_NE(manager_.FindGenerationEntry(update.Generation, record.Path()), nullptr) << update.Generation;
      }
    }
  }
  CAttributes attributes;
  for (const auto& record : manager_.GetManagement().GetFolderTable(0)) {
    for (const auto& update : record.Updates) {
      if (update.Kind != QPMFile::kKindRemoved) {
        EXPECT_TRUE(manager_.GetFolderAttributes(update.Generation, record.Path(), attributes));
      }
    }
  }
  EXPECT_NE(manager_.FindGenerationEntry(0, u"c:\\data\\old\\B.TXT"), nullptr);
}

// The manager remembers where each generation's last lookup ended; a wrong
// guess must fall back to the search in any order, across reloads.
TEST_F(ManagerTest, LookupsInAnyOrderAcrossGenerationsFindTheirOwnEntry) {
  BackupSetSpec set;
  set.generations.resize(3);
  for (int i = 0; i < 8; ++i)
    set.generations[0].files.push_back({u"C:\\f" + std::u16string(1, char16_t(u'0' + i)), {uint8_t(i)}});
  set.generations[1] = set.generations[2] = set.generations[0];
  for (int i = 1; i < 8; i += 2) set.generations[1].files[i].data = {uint8_t(100 + i)};
  for (int i = 0; i < 8; i += 3) set.generations[2].files[i].data = {uint8_t(200 + i)};
  Write(set);
  auto expect = [&](long g, int i) {
    std::u16string path = u"C:\\f" + std::u16string(1, char16_t(u'0' + i));
    // Generation 2 changes back what generation 1 changed, so stores those again.
    const bool stored = g == 0 || i % 2 == 1 || (g == 2 && i % 3 == 0);
    QPXFile::IQPXBackupedFile* entry = manager_.FindGenerationEntry(g, i % 2 ? host::FoldCase(path) : path);
    ASSERT_EQ(entry != nullptr, stored) << g << " " << i;
    if (!entry) return;
    std::u16string found;
    ASSERT_TRUE(entry->GetHeader()->GetFullPath(found));
    EXPECT_TRUE(host::EqualsNoCase(found, path)) << g << " " << i;
  };
  for (int reload = 0; reload < 2; ++reload) {
    ASSERT_TRUE(Load());
    for (int i = 0; i < 8; ++i)
      for (long g = 0; g < 3; ++g) expect(g, i);
    for (int i = 7; i >= 0; --i)
      for (long g = 2; g >= 0; --g) expect(g, i);
    for (int i : {5, 0, 6, 6, 1, 7, 3}) expect(i % 3, i);
  }
}

TEST_F(ManagerTest, GapLeavesTheGenerationWithoutTheEntry) {
  BackupSetSpec set = SampleBackupSet();
  set.gaps = {{3, u"C:\\Data\\a.txt"}};
  Write(set);
  ASSERT_TRUE(Load()) << "a gap is no load error";
  EXPECT_EQ(EntryGenerations(u"C:\\Data\\a.txt"), (Gens{0, 1}));
}

TEST_F(ManagerTest, MissingManagementFileRebuildsOneGenerationFromTheOpenedArchive) {
  BackupSetSpec set = SampleBackupSet();
  set.writeManagement = false;
  Write(set);
  ASSERT_TRUE(Load());
  EXPECT_EQ(user_.calls, (std::vector<std::string>{"N247"}));
  EXPECT_EQ(sink_.GetErrorId(), -1);
  EXPECT_TRUE(manager_.IsRebuilt());
  ASSERT_EQ(manager_.GetGenerationCount(), 1);
  EXPECT_EQ(manager_.GetManagement().GetManagementPath(), Engine(files_.management));
  EXPECT_EQ(EntryGenerations(u"C:\\Data\\Old\\b.txt"), (Gens{0}));
  EXPECT_EQ(EntryGenerations(u"C:\\Data\\c.txt"), Gens{});
  EXPECT_THROW(manager_.FindGenerationEntry(1, u"C:\\Data\\c.txt"), std::out_of_range);

  // Without anything to rebuild from, the notice is followed by error 142.
  user_.calls.clear();
  EXPECT_FALSE(manager_.LoadGenerations(Engine(dir_ / "nothing.qpx"), Engine(dir_ / "nothing.qpm")));
  EXPECT_EQ(user_.calls, (std::vector<std::string>{"N247", "E142"}));
  EXPECT_EQ(sink_.GetErrorId(), 142);
  EXPECT_EQ(manager_.GetLastError(), 142);
  EXPECT_EQ(manager_.GetGenerationCount(), 0);
}

TEST_F(ManagerTest, ChecksumMismatchAsksInEveryVersionButTheFirst) {
  for (const char* version : {kManage10, kManage11, kManage20, kManage30}) {
    SCOPED_TRACE(version);
    BackupSetSpec set = SampleBackupSet();
    set.version = version;
    Write(set);
    ManagementSpec plan = files_.managementPlan;
    plan.checksum = 0x12345678;
    Rewrite(plan);
    user_.calls.clear();
    const bool loaded = Load();
    if (std::string(version) == kManage10) {
      EXPECT_TRUE(loaded);
      EXPECT_TRUE(user_.calls.empty());
      EXPECT_EQ(manager_.GetGenerationCount(), 4);
    } else {
      EXPECT_FALSE(loaded);
      EXPECT_EQ(user_.calls, (std::vector<std::string>{"Q139", "E140"}));
      EXPECT_EQ(sink_.GetErrorId(), 140);
      EXPECT_EQ(manager_.GetGenerationCount(), 0);
    }
  }
}

TEST_F(ManagerTest, DamagedFileAnsweredYesIsRebuiltWithOneGeneration) {
  Write(SampleBackupSet());
  ManagementSpec plan = files_.managementPlan;
  plan.compress = 2;  // not a boolean: the file is damaged
  Rewrite(plan);
  RecordingUser yes(true);
  manager_.SetUser(&yes);
  sink_.log = &yes.calls;
  ASSERT_TRUE(Load());
  EXPECT_EQ(yes.calls, (std::vector<std::string>{"Q139"}));
  EXPECT_EQ(sink_.messages, (std::vector<int32_t>{129, 141, 143, 131}));
  EXPECT_TRUE(manager_.IsRebuilt());
  EXPECT_EQ(manager_.GetGenerationCount(), 1);
  EXPECT_EQ(manager_.GetManagement().GetArchiveCount(), 1);

  // Yes, but the opened archive cannot be read either.
  yes.calls.clear();
  fs::remove(files_.archives[0]);
  EXPECT_FALSE(Load());
  EXPECT_EQ(yes.calls, (std::vector<std::string>{"Q139", "E142"}));

  // Nobody to ask counts as No.
  manager_.SetUser(nullptr);
  EXPECT_FALSE(Load());
  EXPECT_EQ(sink_.GetErrorId(), 140);
}

TEST_F(ManagerTest, EmptyArchivesTableIsTreatedAsDamaged) {
  Write(SampleBackupSet());
  ManagementSpec plan;  // nothing listed, nothing recorded
  plan.version = kManage30;
  Rewrite(plan);
  EXPECT_FALSE(Load());
  EXPECT_EQ(user_.calls, (std::vector<std::string>{"Q139", "E140"}));

  RecordingUser yes(true);
  manager_.SetUser(&yes);
  ASSERT_TRUE(Load());
  EXPECT_EQ(manager_.GetGenerationCount(), 1);
  EXPECT_NE(manager_.FindGenerationEntry(0, u"C:\\Data\\keep.txt"), nullptr);
}

TEST_F(ManagerTest, OverwrittenGenerationReports136Only) {
  BackupSetSpec set = SampleBackupSet();
  set.overwrittenArchives = {2};
  Write(set);
  EXPECT_FALSE(Load());
  EXPECT_EQ(user_.calls, (std::vector<std::string>{"E136"}));
  EXPECT_EQ(sink_.GetErrorId(), 136);
  EXPECT_EQ(manager_.GetGenerationCount(), 2) << "the generations before stay open";
}

TEST_F(ManagerTest, MissingOrUnreadableGenerationReports133) {
  BackupSetSpec set = SampleBackupSet();
  set.missingArchives = {1};
  Write(set);
  EXPECT_FALSE(Load());
  EXPECT_EQ(user_.calls, (std::vector<std::string>{"E133"}));
  EXPECT_EQ(sink_.GetErrorId(), 133);
  EXPECT_EQ(manager_.GetGenerationCount(), 1);

  Write(SampleBackupSet());
  std::ofstream(files_.archives[3], std::ios::binary | std::ios::trunc) << "not an archive";
  user_.calls.clear();
  EXPECT_FALSE(Load());
  EXPECT_EQ(user_.calls, (std::vector<std::string>{"E133"}));
  EXPECT_EQ(manager_.GetGenerationCount(), 3);

  // A reload starts afresh: an error of the last attempt does not hide this one.
  Write(SampleBackupSet());
  fs::remove(files_.archives[0]);
  sink_.SetError(136);
  user_.calls.clear();
  EXPECT_FALSE(Load());
  EXPECT_EQ(user_.calls, (std::vector<std::string>{"E133"}));
}

TEST_F(ManagerTest, StoppingEndsTheLoadWithoutAMessage) {
  Write(SampleBackupSet());
  sink_.StopAfter(0);
  EXPECT_FALSE(Load());
  EXPECT_EQ(sink_.messages, (std::vector<int32_t>{129}));
  sink_.StopAfter(3);  // the management file and two generations
  EXPECT_FALSE(Load());
  EXPECT_EQ(manager_.GetGenerationCount(), 2);
  EXPECT_TRUE(user_.calls.empty());
  EXPECT_EQ(sink_.GetErrorId(), -1);
}

TEST_F(ManagerTest, WorksWithoutSinkAndResetCloses) {
  Write(SampleBackupSet());
  manager_.SetProgressInfo(nullptr);
  ASSERT_TRUE(Load());
  EXPECT_TRUE(manager_.GetManagement().HasReader());
  manager_.Reset();
  EXPECT_EQ(manager_.GetGenerationCount(), 0);
  EXPECT_FALSE(manager_.GetManagement().HasReader());
  EXPECT_EQ(manager_.GetManagement().GetArchiveCount(), 4) << "the content stays";
  ASSERT_TRUE(Load()) << "and loads again";
  EXPECT_EQ(manager_.GetGenerationCount(), 4);
}

}  // namespace
