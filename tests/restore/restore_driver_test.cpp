#include "restore/restore_driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"
#include "host/file_attributes.h"
#include "host/host_path.h"
#include "restore/event_recorder.h"
#include "support/archive_writer.h"
#include "support/bytes.h"

namespace {

namespace fs = std::filesystem;
using namespace QPXFile;
using testsupport::ArchiveSpec;
using testsupport::EntrySpec;
using testsupport::Method;

constexpr uint64_t kTime1 = 132000000000000000ull;  // 2019-04-14
constexpr uint64_t kTime2 = 132100000000000000ull;
constexpr uint64_t kTime3 = 132200000000000000ull;

std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Repeating(size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>("restore driver "[i % 15] + (i / 4096));
  return out;
}

class RestoreDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessera_restore_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directory(root_ / "src");
    fs::create_directory(root_ / "out");
  }
  void TearDown() override {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator(); ++it)
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ec);
    fs::remove_all(root_, ec);
  }

  static std::u16string Engine(const fs::path& p) { return host::ToEnginePath(p.string()); }

  std::unique_ptr<CQPXFile> Open(const ArchiveSpec& plan) {
    testsupport::WriteArchive(plan, root_ / "src" / "set.qpx");
    OpenResult opened = OpenArchive(Engine(root_ / "src" / "set.qpx"));
    EXPECT_EQ(opened.failure, OpenFailure::kNone);
    return std::move(opened.archive);
  }

  // Restores the whole archive into out/ as a selection made in `shown`.
  bool RestoreInto(CQPXFile& archive, const std::u16string& shown, const fs::path& destination) {
    RestoreTarget target{true, Engine(destination), shown};
    return QPXFile::RestoreArchive(archive, events_.Callback(), {}, target);
  }
  bool RestoreInto(CQPXFile& archive, const std::u16string& shown) {
    return RestoreInto(archive, shown, root_ / "out");
  }

  std::vector<int> Codes() const { return events_.Codes(); }
  const restoretest::SeenEvent* First(int code) const { return events_.First(code); }
  static std::vector<uint8_t> ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  static timespec ModifiedTime(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mtim;
  }
  static bool SameTime(const timespec& a, uint64_t fileTime) {
    timespec b = host::FileTimeToTimespec(fileTime);
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  }

  fs::path root_;
  restoretest::EventRecorder events_;
  std::vector<restoretest::SeenEvent>& seen_ = events_.seen;
  std::map<int, bool>& answers_ = events_.answers;
};

ArchiveSpec DataSet() {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data", 0x10, kTime1, kTime1, kTime1});
  plan.folders.push_back({u"C:\\Data\\Sub", 0x10, kTime2, kTime2, kTime2});
  plan.folders.push_back({u"C:\\Data\\Empty", 0x10, kTime3, kTime3, kTime3});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = Text("hello"), .modified = kTime1});
  plan.entries.push_back({.folder = u"C:\\Data",
                          .name = u"b.bin",
                          .data = Repeating(100000),
                          .method = Method::Imploded,
                          .modified = kTime2});
  plan.entries.push_back({.folder = u"C:\\Data\\Sub",
                          .name = u"c.txt",
                          .data = Text("read only"),
                          .attributes = 0x21,
                          .accessed = kTime2,
                          .modified = kTime3});
  return plan;
}

TEST_F(RestoreDriverTest, RestoresFilesFoldersTimesAndAttributesBelowTheDestination) {
  ArchiveSpec plan = DataSet();
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  const timespec outBefore = ModifiedTime(root_ / "out");
  ASSERT_TRUE(RestoreInto(*archive, u"c:\\data"));  // the shown folder may differ in case

  const fs::path out = root_ / "out";
  EXPECT_EQ(ReadFile(out / "a.txt"), Text("hello"));
  EXPECT_EQ(ReadFile(out / "b.bin"), Repeating(100000));
  EXPECT_EQ(ReadFile(out / "Sub" / "c.txt"), Text("read only"));
  EXPECT_TRUE(fs::is_directory(out / "Empty"));  // a folder without files is made too

  EXPECT_TRUE(SameTime(ModifiedTime(out / "a.txt"), kTime1));
  EXPECT_TRUE(SameTime(ModifiedTime(out / "Sub" / "c.txt"), kTime3));
  EXPECT_EQ(fs::status(out / "Sub" / "c.txt").permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(out / "a.txt").permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(SameTime(ModifiedTime(out / "Sub"), kTime2));
  EXPECT_TRUE(SameTime(ModifiedTime(out / "Empty"), kTime3));
  // The folder the user chose keeps its own times.
  const timespec outAfter = ModifiedTime(out);
  EXPECT_FALSE(SameTime(outAfter, kTime1));
  (void)outBefore;

  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 2, 3, 4}));
  EXPECT_EQ(seen_[0].lastIndex, 2);
  EXPECT_EQ(seen_[0].position, -1);
  EXPECT_FALSE(seen_[0].hadEntry);
  EXPECT_EQ(seen_[5].position, 2);
  EXPECT_TRUE(seen_[5].hadEntry);
  EXPECT_EQ(seen_[5].text, (out / "Sub" / "c.txt").string());
}

TEST_F(RestoreDriverTest, RestoresToTheOriginalPlaceWithoutADestination) {
  const fs::path home = root_ / "home";
  const std::u16string folder = Engine(home / "docs");
  ArchiveSpec plan;
  plan.folders.push_back({Engine(home), 0x10, kTime1, kTime1, kTime1});
  plan.folders.push_back({folder, 0x10, kTime2, kTime2, kTime2});
  plan.folders.push_back({folder + u"\\empty", 0x10, kTime3, kTime3, kTime3});
  plan.entries.push_back({.folder = folder, .name = u"x.txt", .data = Text("x"), .modified = kTime3});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(QPXFile::RestoreArchive(*archive, events_.Callback(), {}, RestoreTarget{}));
  EXPECT_EQ(ReadFile(home / "docs" / "x.txt"), Text("x"));
  EXPECT_TRUE(fs::is_directory(home / "docs" / "empty"));
  // Folders made for the entry and by the folder pass get their times.
  EXPECT_TRUE(SameTime(ModifiedTime(home / "docs"), kTime2));
  EXPECT_TRUE(SameTime(ModifiedTime(home), kTime1));
  EXPECT_TRUE(SameTime(ModifiedTime(home / "docs" / "empty"), kTime3));
}

TEST_F(RestoreDriverTest, AMissingDriveStopsTheRun) {
  ArchiveSpec plan = DataSet();
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  EXPECT_FALSE(QPXFile::RestoreArchive(*archive, events_.Callback(), {}, RestoreTarget{}));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 266}));
}

TEST(RestoreDestinationRule, ReplacesTheShownFolderOnlyAsALeadingComponentPrefix) {
  RestoreTarget t{true, u"Z:\\out", u"C:\\Data"};
  EXPECT_EQ(MapToDestination(t, u"C:\\Data"), u"Z:\\out");
  EXPECT_EQ(MapToDestination(t, u"c:\\DATA\\Sub\\x"), u"Z:\\out\\Sub\\x");
  EXPECT_EQ(MapToDestination(t, u"C:\\Data\\"), u"Z:\\out");
  EXPECT_EQ(MapToDestination(t, u"C:\\Database"), u"");
  EXPECT_EQ(MapToDestination(t, u"D:\\x\\C:\\Data"), u"");
  EXPECT_EQ(MapToDestination(t, u"C:\\Other"), u"");
  // Every occurrence is not replaced, only the leading one.
  EXPECT_EQ(MapToDestination(t, u"C:\\Data\\C:\\Data"), u"Z:\\out\\C:\\Data");

  RestoreTarget drive{true, u"Z:\\out\\", u"C:\\"};
  EXPECT_EQ(MapToDestination(drive, u"C:"), u"Z:\\out");
  EXPECT_EQ(MapToDestination(drive, u"C:\\Users"), u"Z:\\out\\Users");
  RestoreTarget toRoot{true, u"Z:\\", u"C:\\Data"};
  EXPECT_EQ(MapToDestination(toRoot, u"C:\\Data"), u"Z:\\");

  RestoreTarget original;
  EXPECT_EQ(MapToDestination(original, u"C:\\Data"), u"C:\\Data");
}

TEST(RestoreNames, RefusesNamesThatCouldLeaveTheDestination) {
  EXPECT_TRUE(IsSafeName(u"report.doc"));
  EXPECT_TRUE(IsSafeName(u"..."));
  EXPECT_TRUE(IsSafeName(u"\u8868"));
  for (std::u16string bad : {u"", u".", u"..", u"a\\b", u"a/b", u"c:", u"a*", u"a?", u"a\"", u"a<", u"a>", u"a|"})
    EXPECT_FALSE(IsSafeName(bad)) << std::string(bad.begin(), bad.end());
  EXPECT_FALSE(IsSafeName(std::u16string(u"a\0b", 3)));
  EXPECT_FALSE(IsSafeName(u"a\tb"));

  EXPECT_TRUE(IsSafeRelativeFolder(u""));
  EXPECT_TRUE(IsSafeRelativeFolder(u"\\a\\b"));
  EXPECT_FALSE(IsSafeRelativeFolder(u"\\a\\..\\b"));
  EXPECT_FALSE(IsSafeRelativeFolder(u"\\a\\\\b"));

  EXPECT_TRUE(IsSafeStoredFolder(u"C:"));
  EXPECT_TRUE(IsSafeStoredFolder(u"C:\\"));
  EXPECT_TRUE(IsSafeStoredFolder(u"C:\\Users\\me\\"));
  EXPECT_FALSE(IsSafeStoredFolder(u"C:\\Users\\..\\..\\etc"));
  EXPECT_FALSE(IsSafeStoredFolder(u"\\\\server\\share"));
  EXPECT_FALSE(IsSafeStoredFolder(u"Cx\\a"));
  EXPECT_FALSE(IsSafeStoredFolder(u"C:a"));
}

TEST_F(RestoreDriverTest, UnsafeNamesAreReportedAndNeverWritten) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data\\..\\..", .name = u"escape.txt", .data = Text("no")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"..", .data = Text("no")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"a/b", .data = Text("no")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"ok.txt", .data = Text("yes")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  fs::create_directories(root_ / "out" / "deep");
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data", root_ / "out" / "deep"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 257, 257, 257, 2, 3, 4}));
  EXPECT_EQ(First(257)->position, 0);
  EXPECT_EQ(ReadFile(root_ / "out" / "deep" / "ok.txt"), Text("yes"));
  EXPECT_FALSE(fs::exists(root_ / "escape.txt"));
  EXPECT_FALSE(fs::exists(root_ / "out" / "escape.txt"));
  EXPECT_FALSE(fs::exists(root_ / "out" / "deep" / "a"));

  // Answered false, the first unsafe entry stops the run: no folder pass, no end.
  seen_.clear();
  answers_[257] = false;
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Data", root_ / "out" / "deep"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 257}));
}

TEST_F(RestoreDriverTest, ExistingFilesAndLinksAreReplacedOnlyWhenTheUserAgrees) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = Text("new")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"link.txt", .data = Text("new link")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  const fs::path out = root_ / "out";
  std::ofstream(out / "a.txt") << "old";
  std::ofstream(root_ / "elsewhere.txt") << "keep me";
  fs::create_symlink(root_ / "elsewhere.txt", out / "link.txt");

  answers_[265] = false;
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 265, 2, 265, 4}));
  EXPECT_EQ(ReadFile(out / "a.txt"), Text("old"));
  EXPECT_TRUE(fs::is_symlink(out / "link.txt"));

  seen_.clear();
  answers_[265] = true;
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 265, 3, 2, 265, 3, 4}));
  EXPECT_EQ(ReadFile(out / "a.txt"), Text("new"));
  EXPECT_FALSE(fs::is_symlink(out / "link.txt"));
  EXPECT_EQ(ReadFile(out / "link.txt"), Text("new link"));
  EXPECT_EQ(ReadFile(root_ / "elsewhere.txt"), Text("keep me"));
}

TEST_F(RestoreDriverTest, PathLengthLimits) {
  // The destination below is padded so that the folder or the file path has
  // exactly the length the test needs, counted in the engine form.
  auto padded = [this](size_t length) {
    std::u16string base = Engine(root_ / "out") + u"\\";
    EXPECT_LT(base.size() + 2, length);
    std::u16string folder = base + std::u16string(length - base.size(), u'd');
    return folder;
  };
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"f", .data = Text("1")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);

  for (size_t length : {255u, 256u}) {
    seen_.clear();
    std::u16string folder = padded(length);
    std::string host;
    ASSERT_TRUE(host::ToHostPath(folder, host));
    bool ran = RestoreInto(*archive, u"C:\\Data", host);
    if (length == 255) {
      EXPECT_TRUE(ran);
      EXPECT_EQ(Codes(), (std::vector<int>{1, 263, 4})) << "a 255-character folder, a 257-character file";
    } else {
      EXPECT_FALSE(ran);
      EXPECT_EQ(Codes(), (std::vector<int>{1, 262}));
      EXPECT_EQ(First(262)->text, host) << "the folder that is too long is named";
    }
  }
  // A file path of 255 characters is written; 256 is refused and skipped.
  for (size_t length : {255u, 256u}) {
    seen_.clear();
    std::u16string folder = padded(length - 2);
    std::string host;
    ASSERT_TRUE(host::ToHostPath(folder, host));
    fs::remove_all(host);
    ArchiveSpec named = plan;
    named.entries[0].name = length == 255 ? u"f" : u"ff";
    auto second = Open(named);
    ASSERT_TRUE(second);
    EXPECT_TRUE(RestoreInto(*second, u"C:\\Data", host));
    if (length == 255) {
      EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 4}));
      EXPECT_TRUE(fs::exists(fs::path(host) / "f"));
    } else {
      EXPECT_EQ(Codes(), (std::vector<int>{1, 263, 4}));
      EXPECT_FALSE(fs::exists(fs::path(host) / "ff"));
    }
  }
}

TEST_F(RestoreDriverTest, ExcludedEntriesAndFoldersAreLeftOutSilently) {
  ArchiveSpec plan = DataSet();
  plan.folders.push_back({u"C:\\Data\\Sub\\Deeper"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"z.txt", .data = Text("z")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  auto* extend = dynamic_cast<CQPXFileExtend*>(archive.get());
  ASSERT_NE(extend, nullptr);
  extend->GetPathInformation().Add(u"c:\\data\\A.TXT", paths::CPathInformation::kFile);
  extend->GetPathInformation().Add(u"C:\\Data\\Sub", paths::CPathInformation::kFolder);
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));

  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 4}));
  EXPECT_EQ(seen_[0].lastIndex, 1);
  EXPECT_EQ(seen_[1].position, 0);  // b.bin, the entry after the left-out a.txt
  EXPECT_EQ(seen_[3].position, 1);  // z.txt, after the left-out c.txt
  EXPECT_FALSE(fs::exists(root_ / "out" / "a.txt"));
  EXPECT_FALSE(fs::exists(root_ / "out" / "Sub"));
  EXPECT_TRUE(fs::exists(root_ / "out" / "Empty"));
}

TEST_F(RestoreDriverTest, DamagedContentsAreReportedWithTheirAnswers) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  EntrySpec wrongCrc{.folder = u"C:\\Data", .name = u"crc.txt", .data = Text("data"), .modified = kTime1};
  wrongCrc.crc = 0x12345678;
  EntrySpec broken{.folder = u"C:\\Data", .name = u"broken.bin", .data = Repeating(5000), .method = Method::Imploded};
  // The stream ends before the size the record claims, a size for which
  // space is set aside: the file kept must still hold just what was written.
  broken.fileSize = 2 << 20;
  plan.entries.push_back(wrongCrc);
  plan.entries.push_back(broken);
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"good.txt", .data = Text("good")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  // A file the user keeps after a failed check or damaged data stands under
  // its name as written, without its times, and that is told (282).
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 260, 282, 2, 273, 282, 2, 3, 4}));
  EXPECT_EQ(First(282)->systemError, 0);
  EXPECT_EQ(ReadFile(root_ / "out" / "crc.txt"), Text("data"));
  EXPECT_FALSE(SameTime(ModifiedTime(root_ / "out" / "crc.txt"), kTime1));
  EXPECT_EQ(ReadFile(root_ / "out" / "broken.bin"), Repeating(5000));
  EXPECT_EQ(ReadFile(root_ / "out" / "good.txt"), Text("good"));

  // Stopped there instead, the file written is dropped and the old one stays.
  std::ofstream(root_ / "out" / "crc.txt") << "old";
  seen_.clear();
  answers_[260] = false;
  answers_[265] = true;
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 265, 260}));
  EXPECT_EQ(ReadFile(root_ / "out" / "crc.txt"), Text("old"));
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "out"), fs::directory_iterator()), 3);
}

TEST_F(RestoreDriverTest, StoppingSkipsTheFolderPassAndTheEnd) {
  ArchiveSpec plan = DataSet();
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  answers_[2] = false;
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2}));
  EXPECT_FALSE(fs::exists(root_ / "out" / "Empty"));

  seen_.clear();
  answers_.clear();
  answers_[1] = false;
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1}));

  // Without a listener nothing is agreed to, so nothing is written.
  EXPECT_FALSE(QPXFile::RestoreArchive(*archive, nullptr, {}, RestoreTarget{true, Engine(root_ / "out"), u"C:\\Data"}));
  EXPECT_FALSE(fs::exists(root_ / "out" / "a.txt"));
}

TEST_F(RestoreDriverTest, EntriesOutsideTheShownFolderHaveNoDestination) {
  ArchiveSpec plan = DataSet();
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Dat"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 258}));
}

TEST_F(RestoreDriverTest, FileSystemRulesOnTheMachinesOwnDisk) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  EntrySpec big{.folder = u"C:\\Data", .name = u"big.bin", .data = Text("short")};
  big.fileSize = 1ull << 32;  // claims 4 GiB; only FAT refuses that
  EntrySpec encrypted{.folder = u"C:\\Data", .name = u"secret.bin", .data = Text("raw"),
                      .method = Method::Encrypted};
  EntrySpec compressed{.folder = u"C:\\Data", .name = u"packed.txt", .data = Text("packed"),
                       .attributes = 0x820, .modified = kTime2};
  plan.entries.push_back(big);
  plan.entries.push_back(encrypted);
  plan.entries.push_back(compressed);
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  // The 4 GiB entry is written until its data runs out; the encrypted one
  // cannot live off NTFS and its file is removed; compression is asked about.
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 273, 282, 2, 267, 2, 268, 3, 4}));
  EXPECT_FALSE(fs::exists(root_ / "out" / "secret.bin"));
  EXPECT_EQ(ReadFile(root_ / "out" / "packed.txt"), Text("packed"));
  EXPECT_TRUE(SameTime(ModifiedTime(root_ / "out" / "packed.txt"), kTime2));

  // Refusing to go on without compression fails the attribute step.
  seen_.clear();
  answers_[265] = true;
  answers_[268] = false;
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 265, 273, 282, 2, 267, 2, 265, 268, 261, 3, 4}));
}

TEST_F(RestoreDriverTest, AFolderInTheWayOfAFileIsReportedWithoutClaimingAnOverwrite) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"taken", .data = Text("x")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"next", .data = Text("y")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  fs::create_directory(root_ / "out" / "taken");
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  // No "overwrite?" (265) for what cannot be overwritten; the reason comes along.
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 259, 2, 3, 4}));
  EXPECT_EQ(First(259)->systemError, EISDIR);
  EXPECT_TRUE(fs::is_directory(root_ / "out" / "taken"));
  EXPECT_EQ(ReadFile(root_ / "out" / "next"), Text("y"));
}

TEST_F(RestoreDriverTest, AFileWhereAFolderMustGoIsTheFileOrTheFolderThatCannotBeMade) {
  ArchiveSpec plan = DataSet();
  plan.folders.push_back({u"C:\\Data\\Sub\\Deep"});
  plan.entries.push_back({.folder = u"C:\\Data\\Sub\\Deep", .name = u"d.txt", .data = Text("deep")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  std::ofstream(root_ / "out" / "Sub") << "in the way";
  // Where the entry's own folder is a file, the entry's file cannot be
  // created (259, the run may go on); a file higher up means the folder
  // cannot be made (258), which stops the run.
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 2, 259, 258}));
  const restoretest::SeenEvent* file = First(259);
  EXPECT_EQ(file->text, (root_ / "out" / "Sub" / "c.txt").string());
  EXPECT_EQ(file->systemError, ENOTDIR);
  EXPECT_EQ(First(258)->text, (root_ / "out" / "Sub").string());
  EXPECT_EQ(ReadFile(root_ / "out" / "Sub"), Text("in the way"));

  // A file where a folder without files goes stops the folder pass likewise.
  fs::remove(root_ / "out" / "Sub");
  std::ofstream(root_ / "out" / "Empty") << "in the way";
  seen_.clear();
  answers_[265] = true;
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes().back(), 258);
  EXPECT_EQ(ReadFile(root_ / "out" / "Sub" / "Deep" / "d.txt"), Text("deep"));
}

TEST_F(RestoreDriverTest, AFileIsWrittenPrivatelyUnderAHiddenNameAndCutShortNeverTakesItsName) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back(
      {.folder = u"C:\\Data", .name = u"big.bin", .data = Repeating(300000), .method = Method::Imploded});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  const fs::path out = root_ / "out";
  std::ofstream(out / "big.bin") << "old";
  answers_[265] = true;
  // While the data flows, the file being written is the only other one in
  // the folder: hidden, private, and not under its name.
  std::vector<std::pair<fs::path, fs::perms>> writing;
  bool cancel = false;
  auto progress = [&](uint64_t) {
    for (const auto& e : fs::directory_iterator(out))
      if (e.path().filename() != "big.bin") writing.emplace_back(e.path(), fs::status(e.path()).permissions());
    return !cancel;
  };
  RestoreTarget target{true, Engine(out), u"C:\\Data"};
  ASSERT_TRUE(QPXFile::RestoreArchive(*archive, events_.Callback(), progress, target));
  ASSERT_FALSE(writing.empty());
  EXPECT_EQ(writing.front().first.filename().string().front(), '.');
  EXPECT_EQ(writing.front().second, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(out / "big.bin"), Repeating(300000));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat((out / "big.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  // Cancelled halfway, nothing new stands anywhere and the old file is whole.
  std::ofstream(out / "big.bin") << "old";
  cancel = true;
  seen_.clear();
  answers_[273] = false;
  EXPECT_FALSE(QPXFile::RestoreArchive(*archive, events_.Callback(), progress, target));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 265, 273}));
  EXPECT_EQ(ReadFile(out / "big.bin"), Text("old"));
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
}

}  // namespace

namespace {

// ---- Links, protected files, names the target cannot hold

ArchiveSpec DocsSet() {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.folders.push_back({u"C:\\Data\\Docs"});
  plan.folders.push_back({u"C:\\Data\\Docs\\Sub"});
  plan.folders.push_back({u"C:\\Data\\Docs\\Empty"});
  plan.entries.push_back({.folder = u"C:\\Data\\Docs", .name = u"a.txt", .data = Text("new a")});
  plan.entries.push_back({.folder = u"C:\\Data\\Docs\\Sub", .name = u"b.txt", .data = Text("new b")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"c.txt", .data = Text("new c")});
  return plan;
}

TEST_F(RestoreDriverTest, ALinkWhereAFolderGoesIsNeverFollowed) {
  auto archive = Open(DocsSet());
  ASSERT_TRUE(archive);
  const fs::path elsewhere = root_ / "elsewhere";
  fs::create_directories(elsewhere / "Sub");
  std::ofstream(elsewhere / "a.txt") << "keep";
  fs::create_directory_symlink(elsewhere, root_ / "out" / "Docs");
  answers_[265] = true;  // --overwrite
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 277, 277, 2, 3, 277, 4}));
  for (const restoretest::SeenEvent& e : seen_) {
    if (e.code != 277) continue;
    EXPECT_EQ(e.detail, (root_ / "out" / "Docs").string());
    EXPECT_EQ(e.obstacle, RestoreObstacle::kLink);
  }
  EXPECT_TRUE(seen_[1].hadEntry);
  EXPECT_FALSE(seen_[5].hadEntry) << "the empty folder of the folder pass";
  EXPECT_EQ(ReadFile(elsewhere / "a.txt"), Text("keep"));
  EXPECT_FALSE(fs::exists(elsewhere / "Sub" / "b.txt"));
  EXPECT_FALSE(fs::exists(elsewhere / "Empty"));
  EXPECT_TRUE(fs::is_symlink(root_ / "out" / "Docs"));
  EXPECT_EQ(ReadFile(root_ / "out" / "c.txt"), Text("new c"));
}

TEST_F(RestoreDriverTest, TheConfinementMayLieAboveTheDestinationAndBeReachedThroughLinks) {
  auto archive = Open(DocsSet());
  ASSERT_TRUE(archive);
  // DEST is a link, and so is a folder above it: the user's own path.
  const fs::path real = root_ / "real";
  fs::create_directories(real / "dest");
  fs::create_directory_symlink(real, root_ / "home");
  fs::create_directory_symlink(root_ / "home" / "dest", root_ / "dest-link");
  RestoreTarget target{true, Engine(root_ / "dest-link" / "C"), u"C:\\Data"};
  target.confinedBelow = Engine(root_ / "dest-link");
  ASSERT_TRUE(QPXFile::RestoreArchive(*archive, events_.Callback(), {}, target));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 2, 3, 4}));
  EXPECT_EQ(ReadFile(real / "dest" / "C" / "Docs" / "Sub" / "b.txt"), Text("new b"));

  // The destination root itself lies below the confinement: a link there is
  // an obstacle like any other.
  fs::remove_all(real / "dest" / "C");
  fs::create_directory_symlink(root_ / "out", real / "dest" / "C");
  seen_.clear();
  ASSERT_TRUE(QPXFile::RestoreArchive(*archive, events_.Callback(), {}, target));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 277, 277, 277, 277, 4}));
  EXPECT_TRUE(fs::is_empty(root_ / "out"));
}

TEST_F(RestoreDriverTest, TheWriteGuardRefusesALinkPutInPlaceAfterTheFoldersWereChecked) {
  fs::create_directories(root_ / "out" / "Docs");
  fs::create_directories(root_ / "elsewhere");
  host::WriteGuard guard((root_ / "out").string(), {});
  fs::remove(root_ / "out" / "Docs");
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "out" / "Docs");
  host::PlatformFile file;
  EXPECT_FALSE(file.Open((root_ / "out" / "Docs" / "a.txt").string(), host::FileMode::kCreateWrite));
  EXPECT_EQ(file.LastSystemError(), ELOOP);
  EXPECT_FALSE(fs::exists(root_ / "elsewhere" / "a.txt"));
  // Reading is not confined, and neither is anything outside the root.
  EXPECT_TRUE(file.Open((root_ / "src" / "x").string(), host::FileMode::kCreateWrite));
}

TEST_F(RestoreDriverTest, TheArchiveItsVolumesAndOtherProtectedFilesAreNeverReplaced) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"set.qpx", .data = Text("not the archive")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"set.qpx.1", .data = Text("not a volume")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"hard.qpx", .data = Text("not the archive")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"run.log", .data = Text("not the log")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"other.txt", .data = Text("other")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  const fs::path src = root_ / "src";
  const std::vector<uint8_t> before = ReadFile(src / "set.qpx");
  std::ofstream(src / "set.qpx.1") << "volume";
  std::ofstream(src / "run.log") << "log";
  fs::create_hard_link(src / "set.qpx", src / "hard.qpx");
  RestoreTarget target{true, Engine(src), u"C:\\Data"};
  target.protectedFiles = ProtectedFiles({(src / "set.qpx").string()}, {(src / "run.log").string()});
  EXPECT_EQ(target.protectedFiles.size(), 3u);
  answers_[265] = true;
  ASSERT_TRUE(QPXFile::RestoreArchive(*archive, events_.Callback(), {}, target));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 278, 2, 278, 2, 278, 2, 278, 2, 3, 4}));
  EXPECT_EQ(First(278)->text, (src / "set.qpx").string());
  EXPECT_EQ(ReadFile(src / "set.qpx"), before);
  EXPECT_EQ(ReadFile(src / "set.qpx.1"), Text("volume"));
  EXPECT_EQ(ReadFile(src / "run.log"), Text("log"));
  EXPECT_EQ(ReadFile(src / "other.txt"), Text("other"));
}

TEST(ShortenedNames, FitTheLimitKeepTheExtensionAndStayApart) {
  const std::u16string stem(100, u'\u65E5');  // 300 bytes of UTF-8
  const std::u16string a = ShortenName(stem + u"A.txt"), b = ShortenName(stem + u"B.txt");
  EXPECT_LE(host::WideToUtf8(a).size(), 255u);
  EXPECT_GT(host::WideToUtf8(a).size(), 240u) << "as much of the name as fits";
  EXPECT_EQ(a.substr(a.size() - 4), u".txt");
  EXPECT_NE(a, b);
  EXPECT_EQ(a, ShortenName(stem + u"A.txt")) << "the same name shortens the same way on every run";
  // A surrogate pair is never cut in half, and a long tail is no extension.
  std::u16string emoji;
  for (int i = 0; i < 100; ++i) emoji += u"\U0001F600";
  const std::u16string cut = ShortenName(emoji + u"." + std::u16string(60, u'x'), 30);
  EXPECT_LE(host::WideToUtf8(cut).size(), 30u);
  for (size_t i = 0; i + 9 < cut.size(); i += 2) EXPECT_TRUE(cut[i] == 0xD83D && cut[i + 1] >= 0xDC00) << i;
}

TEST_F(RestoreDriverTest, NamesLongerThanTheFileSystemAllowsAreShortenedAndTold) {
  const std::u16string longFolder = std::u16string(90, u'\u30D5') + u"フォルダ";
  const std::u16string longName = std::u16string(90, u'\u30D5') + u"1.txt";
  const std::u16string longName2 = std::u16string(90, u'\u30D5') + u"2.txt";
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.folders.push_back({u"C:\\Data\\" + longFolder, 0x10, kTime1, kTime1, kTime1});
  plan.entries.push_back({.folder = u"C:\\Data\\" + longFolder, .name = longName, .data = Text("one")});
  plan.entries.push_back({.folder = u"C:\\Data\\" + longFolder, .name = longName2, .data = Text("two")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"short.txt", .data = Text("three")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  // The folder once, then each file; nothing stops, nothing is lost.
  EXPECT_EQ(Codes(), (std::vector<int>{1, 279, 279, 2, 3, 279, 2, 3, 2, 3, 4}));
  const fs::path folder = host::WideToUtf8(ShortenName(longFolder));
  EXPECT_EQ(seen_[1].text, (root_ / "out" / folder).string());
  EXPECT_FALSE(seen_[1].hadEntry);
  EXPECT_EQ(seen_[2].detail, "C:\\Data\\" + host::WideToUtf8(longFolder) + "\\" + host::WideToUtf8(longName));
  const fs::path one = root_ / "out" / folder / host::WideToUtf8(ShortenName(longName));
  EXPECT_EQ(seen_[2].text, one.string());
  EXPECT_EQ(ReadFile(one), Text("one"));
  EXPECT_EQ(ReadFile(root_ / "out" / folder / host::WideToUtf8(ShortenName(longName2))), Text("two"));
  EXPECT_TRUE(SameTime(ModifiedTime(root_ / "out" / folder), kTime1)) << "the shortened folder keeps its times";

  // A name that makes the path too long for the engine, but not once it is
  // shortened, is restored under the shortened name rather than refused.
  const std::u16string longest = std::u16string(230, u'\u30D5') + u".txt";
  ArchiveSpec far;
  far.folders.push_back({u"C:\\Data"});
  far.entries.push_back({.folder = u"C:\\Data", .name = longest, .data = Text("far")});
  auto farArchive = Open(far);
  ASSERT_TRUE(farArchive);
  seen_.clear();
  ASSERT_TRUE(RestoreInto(*farArchive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 279, 2, 3, 4}));
  EXPECT_EQ(ReadFile(root_ / "out" / host::WideToUtf8(ShortenName(longest))), Text("far"));
  archive = Open(plan);
  ASSERT_TRUE(archive);

  // Restored again, the same shortened names are found and asked about.
  seen_.clear();
  answers_[265] = false;
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 279, 279, 2, 265, 279, 2, 265, 2, 265, 4}));
}

TEST_F(RestoreDriverTest, NamesTheHostCannotHoldAreReportedForWhatTheyAreAndTheRunGoesOn) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"line\nfeed.txt", .data = Text("no")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = std::u16string(u"half") + u'\xDC80' + u".txt",
                          .data = Text("no")});
  plan.entries.push_back({.folder = u"C:\\Data\\tab\tbed", .name = u"x.txt", .data = Text("no")});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"ok.txt", .data = Text("yes")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  answers_[280] = true;
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 280, 280, 280, 2, 3, 4}));
  EXPECT_EQ(seen_[1].obstacle, RestoreObstacle::kControlCharacter);
  EXPECT_EQ(seen_[2].obstacle, RestoreObstacle::kUnpairedSurrogate);
  EXPECT_EQ(seen_[3].obstacle, RestoreObstacle::kControlCharacter);
  EXPECT_TRUE(seen_[1].hadEntry);
  EXPECT_EQ(ReadFile(root_ / "out" / "ok.txt"), Text("yes"));
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "out"), fs::directory_iterator()), 1);
}

TEST_F(RestoreDriverTest, ASizeNoFileCanHaveIsADamagedRecordNotAFullDisk) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"huge", .data = Text("x"), .fileSize = ~0ull});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(RestoreInto(*archive, u"C:\\Data"));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 273, 4}));
}

TEST_F(RestoreDriverTest, AFolderThatCannotBeMadeIsNamedWithTheSystemsReason) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data\\Sub", .name = u"a.txt", .data = Text("a")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  // A name too long for the disk, in the destination the user typed, where
  // no name is shortened: the confinement root itself cannot be made.
  const fs::path missing = root_ / "out" / host::WideToUtf8(std::u16string(90, u'\u65E5')) / "dest";
  EXPECT_FALSE(RestoreInto(*archive, u"C:\\Data", missing));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 258}));
  EXPECT_EQ(First(258)->systemError, ENAMETOOLONG);
  EXPECT_EQ(First(258)->text, missing.string());
}

}  // namespace
