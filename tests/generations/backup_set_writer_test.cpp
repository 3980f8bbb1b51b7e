// The test backup sets: the updates derived from comparing generations, the
// entries each archive holds, and the damage options.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "archive/qpx_file_factory.h"
#include "generations/qpm_file.h"
#include "host/host_path.h"
#include "support/backup_set_writer.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using Updates = std::vector<std::pair<int, int>>;

Updates UpdatesOf(const std::vector<ManagementRecord>& table, std::u16string_view path) {
  for (const ManagementRecord& record : table) {
    if (record.path != path) continue;
    Updates out;
    for (const ManagementUpdate& u : record.updates) out.emplace_back(u.generation, u.kind);
    return out;
  }
  ADD_FAILURE() << "no record";
  return {};
}

std::vector<std::u16string> EntryNames(const ArchiveSpec& plan) {
  std::vector<std::u16string> out;
  for (const EntrySpec& e : plan.entries) out.push_back(e.folder + u"\\" + e.name);
  return out;
}

class BackupSetWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-set-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(BackupSetWriterTest, UpdatesFollowFromComparingGenerations) {
  const ManagementSpec plan = SetManagement(SampleBackupSet(), dir_);
  EXPECT_EQ(UpdatesOf(plan.folders1, u"C:\\Data"), (Updates{{0, 1}}));
  EXPECT_EQ(UpdatesOf(plan.folders1, u"C:\\Data\\Old"), (Updates{{0, 1}, {2, 3}, {3, 1}}));
  EXPECT_EQ(UpdatesOf(plan.folders1, u"C:\\Data\\New"), (Updates{{2, 1}}));
  EXPECT_EQ(UpdatesOf(plan.files1, u"C:\\Data\\a.txt"), (Updates{{0, 1}, {1, 1}, {3, 1}}));
  EXPECT_EQ(UpdatesOf(plan.files1, u"C:\\Data\\keep.txt"), (Updates{{0, 1}}));
  EXPECT_EQ(UpdatesOf(plan.files1, u"C:\\Data\\Old\\b.txt"), (Updates{{0, 1}, {1, 3}, {3, 1}}));
  EXPECT_EQ(UpdatesOf(plan.files1, u"C:\\Data\\c.txt"), (Updates{{1, 1}, {3, 3}}));
  EXPECT_EQ(UpdatesOf(plan.files1, u"C:\\Data\\New\\d.txt"), (Updates{{2, 1}}));
  EXPECT_TRUE(plan.folders2.empty());
  ASSERT_EQ(plan.archives.size(), 4u);
  EXPECT_EQ(plan.archives[2].creationTime, kSetBaseTime + 2 * kSetDay);
  EXPECT_EQ(plan.archives[1].path, host::ToEnginePath((fs::absolute(dir_) / "set_2.qpi").string()));
}

TEST_F(BackupSetWriterTest, ArchivesHoldOnlyWhatTheirGenerationStored) {
  const BackupSetSpec set = SampleBackupSet();
  EXPECT_EQ(EntryNames(GenerationArchive(set, 0)),
            (std::vector<std::u16string>{u"C:\\Data\\a.txt", u"C:\\Data\\keep.txt", u"C:\\Data\\Old\\b.txt"}));
  EXPECT_EQ(EntryNames(GenerationArchive(set, 1)), (std::vector<std::u16string>{u"C:\\Data\\a.txt", u"C:\\Data\\c.txt"}));
  EXPECT_EQ(EntryNames(GenerationArchive(set, 2)), (std::vector<std::u16string>{u"C:\\Data\\New\\d.txt"}));
  EXPECT_EQ(EntryNames(GenerationArchive(set, 3)),
            (std::vector<std::u16string>{u"C:\\Data\\a.txt", u"C:\\Data\\Old\\b.txt"}));
  // Every folder present is listed, so each folder update has attributes to read.
  EXPECT_EQ(GenerationArchive(set, 2).folders.size(), 2u);
  ASSERT_EQ(GenerationArchive(set, 0).fileList.size(), 1u);
  EXPECT_EQ(GenerationArchive(set, 0).fileList[0].path, u"C:\\Data");
}

TEST_F(BackupSetWriterTest, WrittenSetLoadsInEveryVersionAndPathForm) {
  for (const char* version : {kManage10, kManage11, kManage20, kManage30}) {
    for (ArchivePathForm form : {ArchivePathForm::DriveRooted, ArchivePathForm::Relative, ArchivePathForm::DotRelative}) {
      SCOPED_TRACE(std::string(version) + " form " + std::to_string(static_cast<int>(form)));
      BackupSetSpec set = SampleBackupSet();
      set.version = version;
      set.archivePaths = form;
      set.splitTables = true;
      const BackupSetFiles files = WriteBackupSet(set, dir_);
      QPMFile::CQPMFile management;
      ASSERT_TRUE(management.Open(host::ToEnginePath(files.management.string())));
      ASSERT_TRUE(management.Load());
      ASSERT_EQ(management.GetArchiveCount(), 4);
      EXPECT_EQ(management.GetFolderTable(1).size(), 1u) << "New, first seen in generation 2";
      EXPECT_EQ(management.GetFileTable(1).size(), 2u);
      for (long g = 0; g < 4; ++g) {
        QPXFile::OpenResult opened = QPXFile::OpenArchive(management.GetArchive(g)->Path);
        ASSERT_NE(opened.archive, nullptr) << g;
        EXPECT_EQ(opened.archive->GetHeader()->GetCreationTime(), management.GetArchive(g)->CreationTime);
        EXPECT_EQ(opened.archive->ComputeCRC(), management.GetArchive(g)->Crc32);
      }
    }
  }
}

TEST_F(BackupSetWriterTest, DamageOptions) {
  BackupSetSpec set = SampleBackupSet();
  set.missingArchives = {1};
  set.overwrittenArchives = {2};
  set.gaps = {{3, u"c:\\data\\a.txt"}};
  set.managementCase = PathCase::Upper;
  set.extraUpdates = {{u"C:\\Data\\keep.txt", 0, 3}};
  const BackupSetFiles files = WriteBackupSet(set, dir_);
  EXPECT_FALSE(fs::exists(files.archives[1]));
  QPXFile::OpenResult overwritten = QPXFile::OpenArchive(host::ToEnginePath(files.archives[2].string()));
  ASSERT_NE(overwritten.archive, nullptr);
  EXPECT_NE(overwritten.archive->GetHeader()->GetCreationTime(), files.managementPlan.archives[2].creationTime);
  EXPECT_EQ(EntryNames(GenerationArchive(set, 3)), (std::vector<std::u16string>{u"C:\\Data\\Old\\b.txt"}));
  EXPECT_EQ(UpdatesOf(files.managementPlan.files1, u"C:\\DATA\\A.TXT"), (Updates{{0, 1}, {1, 1}, {3, 1}}))
      << "a gap keeps its update";
  EXPECT_EQ(UpdatesOf(files.managementPlan.files1, u"C:\\DATA\\KEEP.TXT"), (Updates{{0, 1}, {0, 3}}));

  set = SampleBackupSet();
  set.writeManagement = false;
  EXPECT_FALSE(fs::exists(WriteBackupSet(set, dir_).management)) << "a stale file from before is removed";

  set = SampleBackupSet();
  set.generations[0].files.push_back({u"c:\\data\\A.TXT", Bytes("x")});
  EXPECT_THROW(WriteBackupSet(set, dir_), std::invalid_argument);
  set = SampleBackupSet();
  set.generations[1].folders.push_back({u"Data\\x"});
  EXPECT_THROW(WriteBackupSet(set, dir_), std::invalid_argument);
}

}  // namespace
