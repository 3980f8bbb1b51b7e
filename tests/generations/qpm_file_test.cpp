// Reading management files of every version, rebuilding one from an archive,
// and refusing damaged and hostile files.
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "generations/qpm_file.h"
#include "host/host_path.h"
#include "host/text.h"
#include "support/archive_writer.h"
#include "support/management_writer.h"

namespace fs = std::filesystem;
using namespace QPMFile;
using namespace testsupport;

namespace {

class QPMFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-qpm-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::u16string Engine(const std::string& name) const { return host::ToEnginePath((dir_ / name).string()); }

  // Writes the image and loads it into `file_`; the result of Load.
  bool LoadImage(const std::vector<uint8_t>& image) {
    WriteManagementBytes(image, dir_ / "set.qpm");
    file_.Reset();
    if (!file_.Open(Engine("set.qpm"))) return false;
    return file_.Load();
  }
  bool LoadPlan(const ManagementSpec& plan) { return LoadImage(BuildManagementImage(plan)); }

  // Two generations, a folder removed and re-added, a file stored twice.
  static ManagementSpec Sample(const std::string& version) {
    ManagementSpec plan;
    plan.version = version;
    plan.archives = {{0, u"C:\\Backup\\set.qpx", 0x1234, 111}, {1, u"C:\\Backup\\set1.qpi", 0x5678, 222}};
    plan.folders1 = {{u"C:\\Data", {{0, 1}}, u"x"}, {u"C:\\Data\\Old", {{0, 1}, {1, 3}}, u""}};
    plan.folders2 = {{u"C:\\Data\\New", {{1, 1}}, u""}};
    plan.files1 = {{u"C:\\Data\\a.txt", {{0, 1}, {1, 1}}}, {u"C:\\Data\\Old\\b.txt", {{0, 1}, {1, 3}}}};
    plan.files2 = {{u"C:\\Data\\New\\c.txt", {{1, 1}}}};
    plan.compress = 1;
    plan.categoryItems = {{u"Mail", u"Inbox", 7}};
    return plan;
  }

  fs::path dir_;
  CQPMFile file_;
};

TEST_F(QPMFileTest, EveryVersionRoundTrips) {
  for (const char* version : {kManage10, kManage11, kManage20, kManage30}) {
    SCOPED_TRACE(version);
    ManagementSpec plan = Sample(version);
    ASSERT_TRUE(LoadPlan(plan));
    const bool v1 = plan.version == kManage10 || plan.version == kManage11;
    EXPECT_EQ(file_.GetTraits().WideCounts, !v1);
    EXPECT_EQ(file_.GetTraits().Utf16Strings, plan.version == kManage30);
    EXPECT_EQ(file_.GetHeader().Unnamed28, 1u);
    ASSERT_EQ(file_.GetArchiveCount(), 2);
    EXPECT_EQ(file_.GetArchive(1)->Path, u"C:\\Backup\\set1.qpi");
    EXPECT_EQ(file_.GetArchive(1)->Crc32, 0x5678u);
    EXPECT_EQ(file_.GetArchive(1)->CreationTime, 222u);
    EXPECT_EQ(file_.GetArchive(2), nullptr);
    ASSERT_EQ(file_.GetFolderTable(0).size(), 2u);
    ASSERT_EQ(file_.GetFolderTable(1).size(), 1u);
    EXPECT_EQ(file_.GetFolderTable(0)[0].ExtraText, v1 ? u"" : u"x");
    const auto old = file_.GetFolderTable(0)[1];
    ASSERT_EQ(old.Updates.size(), 2u);
    EXPECT_EQ(old.Updates[1].Generation, 1);
    EXPECT_EQ(old.Updates[1].Kind, kKindRemoved);
    ASSERT_EQ(file_.GetFileTable(0).size(), 2u);
    EXPECT_EQ(file_.GetFileTable(1)[0].Path(), u"C:\\Data\\New\\c.txt");
    EXPECT_TRUE(file_.GetCompressInfo().Compress);
    if (plan.version == kManage20) {
      EXPECT_TRUE(file_.GetCategoryInfo().Enabled);
      ASSERT_EQ(file_.GetCategoryInfo().Items.size(), 1u);
      EXPECT_EQ(file_.GetCategoryInfo().Items[0]->Value, u"Inbox");
      EXPECT_EQ(file_.GetCategoryInfo().Items[0]->Code, 7);
    } else {
      EXPECT_TRUE(file_.GetCategoryInfo().Items.empty());
    }
  }
}

TEST_F(QPMFileTest, AnsiAndUtf16TextsCarryJapaneseNames) {
  for (const char* version : {kManage11, kManage30}) {
    ManagementSpec plan = Sample(version);
    // 0x5C as the trail byte of "表" must not split the path in ANSI files.
    plan.files1[0].path = u"C:\\Data\\表示.txt";
    ASSERT_TRUE(LoadPlan(plan)) << version;
    EXPECT_EQ(file_.GetFileTable(0)[0].Path(), u"C:\\Data\\表示.txt");
  }
}

TEST_F(QPMFileTest, ChecksumRuleDependsOnVersion) {
  for (const char* version : {kManage10, kManage11, kManage20, kManage30}) {
    ManagementSpec plan = Sample(version);
    std::vector<uint8_t> image = BuildManagementImage(plan);
    image[40] ^= 0x01;  // a byte of the archives table, after the checksum was taken
    const bool first = plan.version == kManage10;
    EXPECT_EQ(LoadImage(image), first) << version;
    if (!first) {
      EXPECT_EQ(file_.GetLastFailure(), QPMFailure::kChecksum);
    }
    plan.checksum = 0;
    image = BuildManagementImage(plan);
    image[40] ^= 0x01;
    EXPECT_TRUE(LoadImage(image)) << version << ": an unset checksum is not checked";
  }
}

TEST_F(QPMFileTest, TrailingBytesCountInTheChecksum) {
  ManagementSpec plan = Sample(kManage30);
  plan.trailing = {1, 2, 3};
  std::vector<uint8_t> image = BuildManagementImage(plan);
  ASSERT_TRUE(LoadImage(image));
  image.back() ^= 0xFF;
  EXPECT_FALSE(LoadImage(image));
}

TEST_F(QPMFileTest, BlocksAreChecked) {
  ManagementSpec plan = Sample(kManage20);
  plan.compress = 2;
  EXPECT_FALSE(LoadPlan(plan));
  EXPECT_EQ(file_.GetLastFailure(), QPMFailure::kBlock);
  EXPECT_EQ(file_.GetArchiveCount(), 0) << "a failed load keeps no half-read content";

  plan = Sample(kManage20);
  plan.compressName = "DefaultCompressInfX";
  EXPECT_FALSE(LoadPlan(plan));
  plan = Sample(kManage20);
  plan.categoryName = "DefaultCategory";
  EXPECT_FALSE(LoadPlan(plan));

  plan = Sample(kManage20);
  plan.categoryEnabled = 0x00;
  ASSERT_TRUE(LoadPlan(plan));
  EXPECT_TRUE(file_.GetCategoryInfo().Enabled);
  plan.categoryEnabled = '0';
  ASSERT_TRUE(LoadPlan(plan));
  EXPECT_FALSE(file_.GetCategoryInfo().Enabled);

  // Version 3.0 ends at the compress block: a bad category name after it is never read.
  plan = Sample(kManage30);
  plan.trailing = {0xFF, 0xFF, 0xFF};
  EXPECT_TRUE(LoadPlan(plan));
}

TEST_F(QPMFileTest, UnknownVersionsAreRefused) {
  for (const std::string& version : {std::string("QPXManageFile3.0\0\0\0\0", 20), std::string("QPXManageFile4.0    "),
                                     std::string("qpxmanagefile3.0    ")}) {
    ManagementSpec plan = Sample(kManage30);
    plan.version = version;
    EXPECT_FALSE(LoadPlan(plan)) << version;
    EXPECT_EQ(file_.GetLastFailure(), QPMFailure::kVersion);
  }
}

TEST_F(QPMFileTest, RelativeArchivePathsResolveBesideTheFile) {
  ManagementSpec plan = Sample(kManage30);
  plan.archives[0].path = u"set.qpx";
  plan.archives[1].path = u".\\sub\\set1.qpi";
  ASSERT_TRUE(LoadPlan(plan));
  EXPECT_EQ(file_.GetArchive(0)->Path, Engine("set.qpx"));
  EXPECT_EQ(file_.GetArchive(1)->Path, Engine("sub/set1.qpi"));

  for (const char16_t* escape : {u"..\\other.qpx", u"a\\\\b.qpx", u""}) {
    plan.archives[1].path = escape;
    EXPECT_FALSE(LoadPlan(plan));
    EXPECT_EQ(file_.GetLastFailure(), QPMFailure::kPath);
  }
}

TEST_F(QPMFileTest, OpenAndLoadPreconditions) {
  EXPECT_FALSE(file_.Load());
  EXPECT_EQ(file_.GetLastFailure(), QPMFailure::kNotOpen);
  EXPECT_FALSE(file_.Open(Engine("missing.qpm")));
  EXPECT_FALSE(file_.HasReader());
  EXPECT_EQ(file_.GetVersionText(), u"QPXManageFile3.0    ");
  ASSERT_TRUE(LoadPlan(Sample(kManage30)));
  EXPECT_FALSE(file_.Open(Engine("set.qpm"))) << "a reader is open already";
  EXPECT_EQ(file_.GetManagementPath(), Engine("set.qpm"));
  ASSERT_TRUE(file_.Load()) << "loads again from the start";
  EXPECT_EQ(file_.GetFileTable(0).size(), 2u);
}

TEST_F(QPMFileTest, FindRecordUsesAndMovesTheCachedPosition) {
  ManagementSpec plan = Sample(kManage30);
  plan.files1.clear();
  for (int i = 0; i < 5; ++i) plan.files1.push_back({u"C:\\F" + std::u16string(1, u'0' + i), {{0, 1}}});
  ASSERT_TRUE(LoadPlan(plan));

  RecordCursor lookups;  // scan hits leave the position alone
  EXPECT_EQ(file_.FindFileRecord(0, u"c:\\f0", lookups), 0);
  EXPECT_EQ(file_.FindFileRecord(0, u"C:\\F1", lookups), 1);
  EXPECT_EQ(lookups.position, 1) << "the record after the cached one moves it forward";
  EXPECT_EQ(file_.FindFileRecord(0, u"C:\\F4", lookups), 4);
  EXPECT_EQ(lookups.position, 1);
  EXPECT_EQ(file_.FindFileRecord(0, u"C:\\F9", lookups), -1);

  RecordCursor rebuild{0, true};
  EXPECT_EQ(file_.FindFileRecord(0, u"C:\\F3", rebuild), 3);
  EXPECT_EQ(rebuild.position, 3);
  EXPECT_EQ(file_.FindFileRecord(0, u"C:\\F4", rebuild), 4);
  EXPECT_EQ(file_.FindFileRecord(0, u"C:\\F4", rebuild), 4) << "no record after the last";
  RecordCursor stale{99, false};
  EXPECT_EQ(file_.FindFileRecord(0, u"C:\\F2", stale), 2);
  EXPECT_EQ(file_.FindFolderRecord(1, u"C:\\DATA\\NEW", stale), 0);
}

// Records are kept as their folder (once for all records in it) and last
// component; what comes back must be the paths and updates as written,
// whatever the shape of the path, also after later generations are cut.
TEST_F(QPMFileTest, RecordsGiveBackTheirPathsAndUpdatesAsWritten) {
  ManagementSpec plan = Sample(kManage30);
  plan.folders1.insert(plan.folders1.begin(), {u"C:", {{0, 1}}, u"d"});
  plan.files1 = {{u"C:\\Data\\a.txt", {{0, 1}, {1, 1}}},
                 {u"C:\\Data\\\U0001F600\\b.txt", {{0, 1}, {1, 3}}},
                 {u"C:\\Data\\c.txt", {{1, 1}}},
                 {u"C:\\Data\\", {{0, 1}}}};
  ASSERT_TRUE(LoadPlan(plan));
  const CQPMFileTable& files = file_.GetFileTable(0);
  ASSERT_EQ(files.size(), 4u);
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].Path(), plan.files1[i].path);
    EXPECT_TRUE(files[i].PathEqualsNoCase(host::FoldCase(plan.files1[i].path))) << i;
    ASSERT_EQ(files[i].Updates.size(), plan.files1[i].updates.size());
  }
  EXPECT_EQ(files[0].Folder.data(), files[2].Folder.data()) << "one text for the folder";
  EXPECT_EQ(files[3].Name, u"");
  EXPECT_FALSE(files[0].PathEqualsNoCase(u"C:\\Data\\a.tx"));
  EXPECT_FALSE(files[0].PathEqualsNoCase(u"C:\\Dat\\aa.txt"));
  const CQPMFolderInfo drive = file_.GetFolderTable(0)[0];
  EXPECT_FALSE(drive.Nested);
  EXPECT_EQ(drive.Path(), u"C:");
  EXPECT_EQ(drive.ExtraText, u"d");

  file_.KeepGenerations(1);
  ASSERT_EQ(files.size(), 3u) << "c.txt was only in generation 1";
  EXPECT_EQ(files[1].Path(), plan.files1[1].path);
  ASSERT_EQ(files[1].Updates.size(), 1u);
  EXPECT_EQ(files[1].Updates[0].Kind, kKindStored);
  EXPECT_EQ(files[2].Path(), u"C:\\Data\\");
  EXPECT_EQ(file_.GetFolderTable(0)[1].ExtraText, u"x") << "the texts stay with their records";
}

TEST_F(QPMFileTest, RebuildTakesOneGenerationFromTheArchive) {
  ArchiveSpec archive;
  archive.folders = {{u"C:\\Data"}, {u"C:\\Data\\Sub"}, {u"c:\\data"}};
  archive.fileList = {{u"C:\\Data", 1}};
  archive.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = {'h', 'i'}});
  archive.entries.push_back({.folder = u"C:\\Data\\Sub", .name = u"b.txt", .data = {'x'}});
  archive.entries.push_back({.folder = u"C:\\DATA", .name = u"A.TXT", .data = {'y'}});
  WriteArchive(archive, dir_ / "set.qpx");

  ASSERT_TRUE(file_.RebuildFromArchive(Engine("set.qpx")));
  EXPECT_EQ(file_.GetVersionText(), u"QPXManageFile2.0    ");
  EXPECT_EQ(file_.GetHeader().Unnamed28, 1u);
  EXPECT_EQ(file_.GetManagementPath(), Engine("set.qpm"));
  ASSERT_EQ(file_.GetArchiveCount(), 1);
  EXPECT_EQ(file_.GetArchive(0)->Path, Engine("set.qpx"));
  EXPECT_NE(file_.GetArchive(0)->Crc32, 0u);
  EXPECT_EQ(file_.GetArchive(0)->CreationTime, archive.creationTime);
  ASSERT_EQ(file_.GetFolderTable(0).size(), 2u) << "case-insensitive duplicates are dropped";
  ASSERT_EQ(file_.GetFileTable(0).size(), 2u);
  EXPECT_EQ(file_.GetFileTable(0)[1].Path(), u"C:\\Data\\Sub\\b.txt");
  EXPECT_EQ(file_.GetFileTable(0)[1].Updates.size(), 1u);
  EXPECT_EQ(file_.GetFileTable(0)[1].Updates[0].Kind, kKindStored);
  EXPECT_TRUE(file_.GetFolderTable(1).empty());
  EXPECT_TRUE(file_.GetFileTable(1).empty());

  archive.entries.clear();
  WriteArchive(archive, dir_ / "empty.qpx");
  ASSERT_TRUE(file_.RebuildFromArchive(Engine("empty.qpx")));
  EXPECT_EQ(file_.GetArchiveCount(), 1);
  EXPECT_EQ(file_.GetFolderTable(0).size(), 2u);
  EXPECT_TRUE(file_.GetFileTable(0).empty());

  EXPECT_FALSE(file_.RebuildFromArchive(Engine("missing.qpx")));
  EXPECT_EQ(file_.GetArchiveCount(), 0);
  ArchiveSpec old;
  old.formatId = "F_QPX1.0";
  WriteArchive(old, dir_ / "old.qpx");
  EXPECT_FALSE(file_.RebuildFromArchive(Engine("old.qpx"))) << "no folder list";
  archive.sectionLevel = 1;
  WriteArchive(archive, dir_ / "nofolders.qpx");
  EXPECT_FALSE(file_.RebuildFromArchive(Engine("nofolders.qpx"))) << "section level without a folder list";
}

// The rebuild as its algorithm reads: each path compared with every record
// kept before it, ignoring case.
std::vector<std::u16string> KeptOnce(const std::vector<std::u16string>& paths) {
  std::vector<std::u16string> kept;
  for (const std::u16string& p : paths) {
    bool known = false;
    for (const std::u16string& k : kept) known = known || host::EqualsNoCase(k, p);
    if (!known) kept.push_back(p);
  }
  return kept;
}

TEST(FoldedPathHash, PathsEqualIgnoringCaseHashAlike) {
  const std::u16string same[][2] = {
      {u"C:\\Data\\a.TXT", u"c:\\dATA\\A.txt"},
      {u"C:\\Ｄｏｃｓ", u"C:\\ｄｏｃｓ"},                 // full-width Latin
      {u"C:\\Ωμέγα", u"C:\\ΩΜΈΓΑ"},                       // Greek
      {u"C:\\\U00010400x", u"C:\\\U00010428X"},          // a letter outside the BMP
      {u"C:\\\xD800", u"C:\\\xD800"},                     // an unpaired surrogate
  };
  for (const auto& pair : same) {
    ASSERT_TRUE(host::EqualsNoCase(pair[0], pair[1])) << host::WideToUtf8(pair[0]);
    EXPECT_EQ(FoldedPathHash(pair[0]), FoldedPathHash(pair[1])) << host::WideToUtf8(pair[0]);
  }
  EXPECT_NE(FoldedPathHash(u"C:\\a"), FoldedPathHash(u"C:\\b"));
  EXPECT_NE(FoldedPathHash(u"C:\\ab"), FoldedPathHash(u"C:\\ba"));
}

TEST_F(QPMFileTest, RebuildKeepsTheFirstOfEveryPathLikeTheRecordByRecordComparison) {
  // Repeats in every form: exact, other letter case (ASCII and full-width
  // Latin), next to each other, far apart, and folders listed twice.
  ArchiveSpec archive;
  const std::u16string caseForms[] = {u"Docs", u"DOCS", u"docs", u"Ｄｏｃｓ", u"ｄｏｃｓ"};
  for (int i = 0; i < 40; ++i) {
    const std::u16string folder = u"C:\\" + caseForms[i % 5] + u"\\" + std::u16string(1, char16_t(u'a' + i % 7));
    archive.folders.push_back({folder});
    archive.entries.push_back({.folder = folder, .name = u"f" + std::u16string(1, char16_t(u'0' + i % 10)) + u".txt"});
    archive.entries.push_back({.folder = folder, .name = u"F" + std::u16string(1, char16_t(u'0' + i % 4)) + u".TXT"});
  }
  archive.folders.push_back({u"D:\\Only"});
  archive.entries.push_back({.folder = u"D:\\Only", .name = u"x"});
  archive.entries.push_back({.folder = u"D:\\ONLY", .name = u"X"});
  WriteArchive(archive, dir_ / "dups.qpx");

  std::vector<std::u16string> folderPaths, entryPaths;
  for (const FolderSpec& f : archive.folders) folderPaths.push_back(f.path);
  for (const EntrySpec& e : archive.entries) entryPaths.push_back(e.folder + u"\\" + e.name);

  ASSERT_TRUE(file_.RebuildFromArchive(Engine("dups.qpx")));
  std::vector<std::u16string> folders, files;
  for (const auto& r : file_.GetFolderTable(0)) folders.push_back(r.Path());
  for (const auto& r : file_.GetFileTable(0)) files.push_back(r.Path());
  const auto expectedFolders = KeptOnce(folderPaths);
  const auto expectedFiles = KeptOnce(entryPaths);
  EXPECT_EQ(folders, expectedFolders);
  EXPECT_EQ(files, expectedFiles);
  EXPECT_LT(expectedFiles.size(), entryPaths.size()) << "the sample must repeat paths";
  EXPECT_EQ(folders.front(), u"C:\\Docs\\a") << "the first spelling is kept";
  for (const auto& r : file_.GetFileTable(0)) EXPECT_EQ(r.Updates.size(), 1u) << "one update per kept path";
}

TEST_F(QPMFileTest, HostileFilesFailCleanly) {
  struct Case {
    const char* what;
    void (*damage)(ManagementSpec&);
    QPMFailure failure;
  };
  const Case cases[] = {
      {"archive count beyond the file", [](ManagementSpec& p) { p.archiveCount = 0xFFFF; }, QPMFailure::kCount},
      {"folder count beyond the file", [](ManagementSpec& p) { p.folderCount = 0xFFFFFFFF; }, QPMFailure::kCount},
      {"generation beyond the archives",
       [](ManagementSpec& p) { p.files1[0].updates = {{0, 1}, {2, 1}}; }, QPMFailure::kUpdates},
      {"removal first", [](ManagementSpec& p) { p.folders1[0].updates = {{0, 3}}; }, QPMFailure::kUpdates},
      {"updates out of order", [](ManagementSpec& p) { p.files1[0].updates = {{1, 1}, {0, 1}}; },
       QPMFailure::kUpdates},
      {"record path not drive-rooted", [](ManagementSpec& p) { p.files2[0].path = u"Data\\c.txt"; },
       QPMFailure::kPath},
      {"empty record path", [](ManagementSpec& p) { p.files1[0].path.clear(); }, QPMFailure::kPath},
  };
  for (const Case& c : cases) {
    ManagementSpec plan = Sample(kManage30);
    c.damage(plan);
    EXPECT_FALSE(LoadPlan(plan)) << c.what;
    EXPECT_EQ(file_.GetLastFailure(), c.failure) << c.what;
    EXPECT_EQ(file_.GetArchiveCount(), 0) << c.what;
  }

  // Two updates in one generation are allowed.
  ManagementSpec plan = Sample(kManage30);
  plan.files1[0].updates = {{0, 1}, {1, 1}, {1, 3}};
  EXPECT_TRUE(LoadPlan(plan));

  // Odd byte length in a UTF-16 text: patch the first archive path's length.
  plan = Sample(kManage30);
  plan.checksum = 0;
  std::vector<uint8_t> image = BuildManagementImage(plan);
  image[36] |= 1;
  EXPECT_FALSE(LoadImage(image));
  EXPECT_EQ(file_.GetLastFailure(), QPMFailure::kText);

  // Every truncation fails without reading past the end.
  image = BuildManagementImage(Sample(kManage20));
  for (size_t cut = 0; cut < image.size(); ++cut) {
    std::vector<uint8_t> part(image.begin(), image.begin() + cut);
    if (part.size() >= 4) part[0] = part[1] = part[2] = part[3] = 0;
    EXPECT_FALSE(LoadImage(part)) << "cut at " << cut;
  }
}

}  // namespace
