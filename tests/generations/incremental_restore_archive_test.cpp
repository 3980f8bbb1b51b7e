// The archive a restore from a backup set runs on: what of the checked tree
// enters it, from which generation's archive, and a restore of it through
// the ordinary driver.
#include "generations/incremental_restore_archive.h"

#include <fstream>
#include <iterator>

#include "entry/backuped_file.h"
#include "generation_set.h"
#include "generations/incremental_manager.h"
#include "generations/restore_tree.h"
#include "restore/restore_driver.h"

using namespace IncrementalBackup;
using namespace testsupport;
using gentest::FakeLookup;
namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::u16string>;

// Three generations:
//   C:\Data              attributes change in 2
//   C:\Data\a.txt        stored in 0 only
//   C:\Data\b.txt        stored in 0 and 2
//   C:\Data\gone.txt     stored in 0, removed in 1
//   C:\Data\Sub\s.txt    stored in 0
//   C:\Data\Went         removed in 1 while its kept.txt stays
//   C:\Deep\x\y.txt      stored in 0; no record for its folders
//   C:\Ghost\ghost.txt   recorded in 0 but missing from archive 0
class RestoreArchiveTest : public gentest::GenerationTest {
 protected:
  void SetUp() override {
    GenerationTest::SetUp();
    std::vector<ArchiveSpec> archives(3);
    for (size_t g = 0; g < 3; ++g) archives[g].creationTime += g;
    archives[0].folders = {{u"C:\\Data", 0x10, 1, 2, 3},
                           {u"C:\\Data\\Sub", 0x11, 4, 5, 6},
                           {u"C:\\Data\\Went", 0x10, 7, 8, 9},
                           {u"C:\\Ghost", 0x10}};
    archives[0].entries = {{.folder = u"C:\\Data", .name = u"a.txt", .data = Bytes("from0")},
                           {.folder = u"C:\\Data", .name = u"b.txt", .data = Bytes("b0")},
                           {.folder = u"C:\\Data", .name = u"gone.txt", .data = Bytes("gone")},
                           {.folder = u"C:\\Data\\Sub", .name = u"s.txt", .data = Bytes("sub")},
                           {.folder = u"C:\\Data\\Went", .name = u"kept.txt", .data = Bytes("kept")},
                           {.folder = u"C:\\Deep\\x", .name = u"y.txt", .data = Bytes("deep")}};
    archives[1].folders = {{u"C:\\Data", 0x10, 1, 2, 3}};
    archives[2].folders = {{u"C:\\Data", 0x10, 10, 20, 30}, {u"C:\\Data\\Sub", 0x11, 4, 5, 6}};
    archives[2].entries = {{.folder = u"C:\\Data", .name = u"b.txt", .data = Bytes("b2 newer")}};

    ManagementSpec plan;
    plan.folders1 = {{u"C:\\Data", {{0, 1}, {1, 1}, {2, 1}}},
                     {u"C:\\Data\\Sub", {{0, 1}}},
                     {u"C:\\Data\\Went", {{0, 1}, {1, 3}}},
                     {u"C:\\Ghost", {{0, 1}}}};
    plan.files1 = {{u"C:\\Data\\a.txt", {{0, 1}}},
                   {u"C:\\Data\\b.txt", {{0, 1}, {2, 1}}},
                   {u"C:\\Data\\gone.txt", {{0, 1}, {1, 3}}},
                   {u"C:\\Data\\Sub\\s.txt", {{0, 1}}},
                   {u"C:\\Data\\Went\\kept.txt", {{0, 1}}},
                   {u"C:\\Deep\\x\\y.txt", {{0, 1}}},
                   {u"C:\\Ghost\\ghost.txt", {{0, 1}}}};
    WriteSet(plan, archives, lookup_);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(creator_.Build(lookup_));
  }

  static Paths EntryPaths(const QPXFile::CQPXFile& archive) {
    Paths out;
    for (long i = 0; i < archive.GetEntryCount(); ++i) {
      std::u16string p;
      EXPECT_TRUE(archive.GetEntryPath(p, i));
      out.push_back(p);
    }
    return out;
  }
  static Paths FolderPaths(const QPXFile::CQPXFileExtend& archive) {
    Paths out;
    for (int i = 0; i < archive.GetFolderList()->GetFolderCount(); ++i) {
      std::u16string p;
      EXPECT_TRUE(archive.GetFolderList()->GetFolder(i, &p, nullptr, nullptr, nullptr, nullptr));
      out.push_back(p);
    }
    return out;
  }
  QPXFile::IQPXBackupedFile* StoredIn(long g, std::u16string_view path) {
    return lookup_.FindGenerationEntry(g, path);
  }

  FakeLookup lookup_;
  CIncrementalRestoreQPXFileExtendCreator creator_;
};

TEST_F(RestoreArchiveTest, EachFileComesFromTheArchiveHoldingItsDataInTheSelectedGeneration) {
  // Checked while gone.txt and Went were still there.
  creator_.SetChecked(u"C:\\Data", true);
  ASSERT_TRUE(creator_.SwitchGeneration(2));
  std::unique_ptr<CIncrementalRestoreQPXFileExtend> archive = creator_.CreateRestoreArchive();
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(EntryPaths(*archive),
            (Paths{u"C:\\Data\\a.txt", u"C:\\Data\\b.txt", u"C:\\Data\\Sub\\s.txt", u"C:\\Data\\Went\\kept.txt"}));
  EXPECT_EQ(archive->GetEntry(0), StoredIn(0, u"C:\\Data\\a.txt"));
  EXPECT_EQ(archive->GetEntry(1), StoredIn(2, u"C:\\Data\\b.txt"));
  // Went is gone in this generation; the file it held is not.
  EXPECT_EQ(FolderPaths(*archive), (Paths{u"C:\\Data", u"C:\\Data\\Sub"}));
  uint32_t attributes = 0;
  uint64_t created = 0, accessed = 0, modified = 0;
  ASSERT_TRUE(archive->GetFolderList()->GetFolder(0, nullptr, &created, &attributes, &accessed, &modified));
  EXPECT_EQ(attributes, 0x10u);
  EXPECT_EQ(created, 10u);
  EXPECT_EQ(modified, 30u);
  // A synthetic archive: open, loaded, read mode, never opened for real.
  EXPECT_TRUE(archive->IsOpen());
  EXPECT_TRUE(archive->IsReadMode());
  EXPECT_FALSE(archive->Open(u"C:\\x.qpx", 2));
  auto* first = dynamic_cast<QPXFile::CQPXFileExtend*>(lookup_.GetGenerationArchive(0));
  EXPECT_EQ(archive->GetLentFileList(), first->GetFileList());
  std::u16string name;
  ASSERT_TRUE(archive->GetPathName(name));
  EXPECT_EQ(name, u"backup.qpm(3世代目)");
}

TEST_F(RestoreArchiveTest, NameCountsGenerationsFromOneAndKeepsTheExtension) {
  auto archive = creator_.CreateRestoreArchive();
  ASSERT_NE(archive, nullptr);
  std::u16string name;
  ASSERT_TRUE(archive->GetPathName(name));
  EXPECT_EQ(name, u"backup.qpm(1世代目)");
  EXPECT_EQ(archive->GetEntryCount(), 0);
  EXPECT_EQ(RestoreArchiveName(u"Z:\\sets\\nightly.qpm", 9), u"nightly.qpm(10世代目)");
}

TEST_F(RestoreArchiveTest, UncheckedFoldersStayOutButTheirCheckedFilesGoIn) {
  creator_.SetChecked(u"C:\\Data\\Sub\\s.txt", true);
  creator_.SetChecked(u"C:\\Deep", true);
  creator_.RecalcTotals();
  auto archive = creator_.CreateRestoreArchive();
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(EntryPaths(*archive), (Paths{u"C:\\Data\\Sub\\s.txt", u"C:\\Deep\\x\\y.txt"}));
  // Checking s.txt checked its folders; the folders no record names
  // (C:\Deep, C:\Deep\x) have no attributes of their own to give.
  EXPECT_EQ(FolderPaths(*archive), (Paths{u"C:\\Data", u"C:\\Data\\Sub"}));
}

TEST_F(RestoreArchiveTest, ACheckedFileMissingFromItsArchiveFailsTheArchive) {
  creator_.SetChecked(u"C:\\Ghost\\ghost.txt", true);
  EXPECT_EQ(creator_.CreateRestoreArchive(), nullptr);
  creator_.SetChecked(u"C:\\Ghost\\ghost.txt", false);
  EXPECT_NE(creator_.CreateRestoreArchive(), nullptr);
}

TEST_F(RestoreArchiveTest, NoGenerationArchivesNoRestoreArchive) {
  FakeLookup empty;
  ManagementSpec plan;
  LoadManagement(plan, empty, "empty.qpm");
  CIncrementalRestoreQPXFileExtendCreator creator;
  ASSERT_TRUE(creator.Build(empty));
  EXPECT_EQ(creator.CreateRestoreArchive(), nullptr);
}

std::string Contents(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(RestoreArchiveTest, RestoresThroughTheDriverAsTheSelectedGenerationStood) {
  creator_.SetChecked(u"C:\\Data", true);
  creator_.SetChecked(u"C:\\Deep", true);
  ASSERT_TRUE(creator_.SwitchGeneration(2));
  auto archive = creator_.CreateRestoreArchive();
  ASSERT_NE(archive, nullptr);

  const fs::path dest = dir_ / "out";
  fs::create_directories(dest);
  int done = 0, started = 0;
  const QPXFile::RestoreEventCallback answer = [&](const QPXFile::RestoreEvent& e) {
    if (e.code == QPXFile::kEventEntryDone) ++done;
    if (e.code == QPXFile::kEventRunStarted) ++started;
    return true;
  };
  ASSERT_TRUE(QPXFile::RestoreArchive(*archive, answer, {}, QPXFile::RestoreTarget{true, host::ToEnginePath(dest.string()), u"C:"}));
  EXPECT_EQ(started, 1);
  EXPECT_EQ(done, 5);
  EXPECT_EQ(Contents(dest / "Data" / "a.txt"), "from0");
  EXPECT_EQ(Contents(dest / "Data" / "b.txt"), "b2 newer");
  EXPECT_EQ(Contents(dest / "Data" / "Sub" / "s.txt"), "sub");
  EXPECT_EQ(Contents(dest / "Data" / "Went" / "kept.txt"), "kept");
  EXPECT_EQ(Contents(dest / "Deep" / "x" / "y.txt"), "deep");
  EXPECT_FALSE(fs::exists(dest / "Data" / "gone.txt"));
  EXPECT_FALSE(fs::exists(dest / "Ghost"));
}

// The same set through the generation manager instead of the test lookup.
TEST_F(RestoreArchiveTest, BuildsFromTheGenerationManager) {
  CIncrementalManager manager;
  ASSERT_TRUE(manager.LoadGenerations(Engine("backup.qpx"), Engine("backup.qpm"))) << manager.GetLastError();
  CIncrementalRestoreQPXFileExtendCreator creator;
  ASSERT_TRUE(creator.Build(manager));
  creator.SetChecked(u"C:\\Data", true);
  ASSERT_TRUE(creator.SwitchGeneration(2));
  auto archive = creator.CreateRestoreArchive();
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(EntryPaths(*archive),
            (Paths{u"C:\\Data\\a.txt", u"C:\\Data\\b.txt", u"C:\\Data\\Sub\\s.txt", u"C:\\Data\\Went\\kept.txt"}));
  EXPECT_EQ(archive->GetEntry(1), manager.FindGenerationEntry(2, u"C:\\Data\\b.txt"));
}

// Without a management file the manager makes one generation from the
// archive that was opened; its tree holds that archive's folders and files.
TEST_F(RestoreArchiveTest, BuildsFromAManagementRebuiltFromOneArchive) {
  fs::remove(dir_ / "backup.qpm");
  CIncrementalManager manager;
  ASSERT_TRUE(manager.LoadGenerations(Engine("backup.qpx"), Engine("backup.qpm"))) << manager.GetLastError();
  ASSERT_TRUE(manager.IsRebuilt());
  CIncrementalRestoreQPXFileExtendCreator creator;
  ASSERT_TRUE(creator.Build(manager));
  creator.SetChecked(u"C:", true);
  creator.RecalcTotals();
  EXPECT_EQ(creator.GetCheckedFileCount(), 6);
  auto archive = creator.CreateRestoreArchive();
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(archive->GetEntryCount(), 6);
}

}  // namespace
