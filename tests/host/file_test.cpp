#include "host/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/host_path.h"

namespace {

class PlatformFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessera-host-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Path(const char* name) const { return dir_ + "/" + name; }
  void Put(const char* name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }

  std::string dir_;
};

TEST(HostPath, DriveZMapsToTheHostRoot) {
  std::string out;
  ASSERT_TRUE(host::ToHostPath(u"Z:\\home\\me\\a.qpx", out));
  EXPECT_EQ(out, "/home/me/a.qpx");
  ASSERT_TRUE(host::ToHostPath(u"z:\\tmp", out));
  EXPECT_EQ(out, "/tmp");
  ASSERT_TRUE(host::ToHostPath(u"Z:", out));
  EXPECT_EQ(out, "/");
  ASSERT_TRUE(host::ToHostPath(u"Z:\\データ\\表.qpx", out));
  EXPECT_EQ(out, "/データ/表.qpx");
  EXPECT_EQ(host::ToEnginePath("/home/me/a.qpx"), u"Z:\\home\\me\\a.qpx");
  EXPECT_EQ(host::ToEnginePath("/"), u"Z:\\");
  EXPECT_EQ(host::ToEnginePath("/データ/表.qpx"), u"Z:\\データ\\表.qpx");
}

TEST(HostPath, PathsThatNameNothingOnTheHostAreRefused) {
  std::string out = "unchanged";
  EXPECT_FALSE(host::ToHostPath(u"C:\\Windows\\a.qpx", out));
  EXPECT_FALSE(host::ToHostPath(u"a.qpx", out));
  EXPECT_FALSE(host::ToHostPath(u"\\\\server\\share\\a.qpx", out));
  EXPECT_FALSE(host::ToHostPath(u"Z:relative", out));
  EXPECT_FALSE(host::ToHostPath(std::u16string(u"Z:\\a\0b", 6), out));
  EXPECT_FALSE(host::ToHostPath(u"Z:\\a\xD800", out));
  EXPECT_EQ(out, "unchanged");
}

TEST(HostPath, RelativeHostPathsAreResolvedAgainstTheCurrentFolder) {
  std::u16string cwd = host::ToEnginePath(std::filesystem::current_path().string());
  if (cwd.back() != u'\\') cwd += u'\\';  // run from "/", the drive root already ends in one
  EXPECT_EQ(host::ToEnginePath("sub/a.qpx"), cwd + u"sub\\a.qpx");
  std::string back;
  ASSERT_TRUE(host::ToHostPath(host::ToEnginePath("sub/a.qpx"), back));
  EXPECT_EQ(back, (std::filesystem::current_path() / "sub/a.qpx").string());
}

TEST(HostPath, EveryHostPathComesBackFromItsEngineForm) {
  const std::string paths[] = {
      "/tmp/out\\..\\..\\up",        // a backslash is part of the name
      "/tmp/my\\arc.qpx.1",
      "/tmp/\\",
      "/tmp/caf\xE9/\xFF\xFE",          // bytes that are not UTF-8
      "/tmp/\xC0\xAF",                   // an overlong slash is two bytes, no separator
      "/tmp/\xEF\x80\x80\xEF\x81\x9C\xEF\x82\x80\xEF\x83\xBF",  // U+F000 U+F05C U+F080 U+F0FF
      "/tmp/\xEF\x84\x80",              // U+F100 needs no mark
      "/データ/表\\.qpx",
      "/tmp/a:b*?|\"<>",
  };
  for (const std::string& path : paths) {
    const std::u16string engine = host::ToEnginePath(path);
    EXPECT_EQ(engine.find(u'/'), std::u16string::npos) << path;
    EXPECT_EQ(std::count(engine.begin(), engine.end(), u'\\'), std::count(path.begin(), path.end(), '/')) << path;
    std::string back;
    ASSERT_TRUE(host::ToHostPath(engine, back)) << path;
    EXPECT_EQ(back, path);
  }
  EXPECT_EQ(host::ToEnginePath("/a\\b"), u"Z:\\a\uF05Cb");
  EXPECT_EQ(host::ToEnginePath("/a\xE9"), u"Z:\\a\uF0E9");
  EXPECT_EQ(host::ToEnginePath("/\xEF\x81\x9C"), u"Z:\\\uF000\uF05C");
}

TEST(HostPath, PrivateUseCharactersOfStoredNamesReachTheHostAsCharactersOrBytes) {
  std::string out;
  ASSERT_TRUE(host::ToHostPath(u"Z:\\d\\\uF000x\uF000", out));  // the mark before nothing it marks
  EXPECT_EQ(out, "/d/\xEF\x80\x80x\xEF\x80\x80");
  ASSERT_TRUE(host::ToHostPath(u"Z:\\d\\\uF02F\uF05C", out));  // never a separator
  EXPECT_EQ(out, "/d/\xEF\x80\xAF\\");
}

TEST_F(PlatformFileTest, CreateTruncatesAndReadWriteNeedsAnExistingFile) {
  Put("old", "0123456789");
  host::PlatformFile file;
  ASSERT_TRUE(file.Open(Path("old"), host::FileMode::kCreateWrite));
  ASSERT_TRUE(file.Write("ab", 2));
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(std::filesystem::file_size(Path("old")), 2u);

  host::PlatformFile missing;
  EXPECT_FALSE(missing.Open(Path("none"), host::FileMode::kReadWrite));
  EXPECT_EQ(missing.LastSystemError(), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(Path("none")));
}

TEST_F(PlatformFileTest, ReadTellsEndOfFileFromData) {
  Put("f", "abc");
  host::PlatformFile file;
  ASSERT_TRUE(file.Open(Path("f"), host::FileMode::kReadShared));
  char buffer[8];
  uint32_t got = 0;
  EXPECT_EQ(file.Read(buffer, 8, got), host::ReadResult::kData);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(file.Read(buffer, 8, got), host::ReadResult::kEndOfFile);
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(file.Write("x", 1));  // opened for reading only
}

TEST_F(PlatformFileTest, SeekBeforeTheStartFailsAndPastTheEndIsAllowed) {
  Put("f", "abc");
  host::PlatformFile file;
  ASSERT_TRUE(file.Open(Path("f"), host::FileMode::kReadShared));
  EXPECT_FALSE(file.Seek(-1, host::SeekOrigin::kBegin));
  ASSERT_TRUE(file.Seek(10, host::SeekOrigin::kEnd));
  uint64_t position = 0, length = 0;
  ASSERT_TRUE(file.Tell(position));
  ASSERT_TRUE(file.Length(length));
  EXPECT_EQ(position, 13u);
  EXPECT_EQ(length, 3u);
}

TEST_F(PlatformFileTest, ExclusiveModesHoldOffOtherStreams) {
  Put("f", "abc");
  host::PlatformFile writer;
  ASSERT_TRUE(writer.Open(Path("f"), host::FileMode::kReadWrite));
  host::PlatformFile reader;
  EXPECT_FALSE(reader.Open(Path("f"), host::FileMode::kReadDenyWrite));
  host::PlatformFile truncater;
  EXPECT_FALSE(truncater.Open(Path("f"), host::FileMode::kCreateWrite));
  EXPECT_EQ(std::filesystem::file_size(Path("f")), 3u);  // a refused create must not truncate
  host::PlatformFile shared;
  EXPECT_TRUE(shared.Open(Path("f"), host::FileMode::kReadShared));
  writer.Close();
  EXPECT_TRUE(reader.Open(Path("f"), host::FileMode::kReadDenyWrite));
  host::PlatformFile secondReader;
  EXPECT_TRUE(secondReader.Open(Path("f"), host::FileMode::kReadDenyWrite));
}

TEST_F(PlatformFileTest, OnlyRegularFilesOpen) {
  host::PlatformFile folder;
  EXPECT_FALSE(folder.Open(dir_, host::FileMode::kReadShared));
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  host::PlatformFile fifo;
  EXPECT_FALSE(fifo.Open(Path("fifo"), host::FileMode::kReadShared));  // must not block either
}

TEST(ThreadError, IsKeptPerThread) {
  host::SetThreadError(5);
  uint32_t seen = 99;
  std::thread([&] { seen = host::GetThreadError(); }).join();
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(host::GetThreadError(), 5u);
}

// ---- Folders entered one level at a time, and the write guard

TEST_F(PlatformFileTest, FoldersAreEnteredWithoutFollowingLinksAndMadeWhenAsked) {
  namespace fs = std::filesystem;
  fs::create_directory(Path("real"));
  fs::create_directory_symlink(Path("real"), Path("link"));
  Put("file", "x");
  host::FolderHandle root, child;
  int error = 0;
  ASSERT_TRUE(root.Open(dir_, error));
  EXPECT_EQ(root.Enter("real", false, child, error), host::FolderStep::kEntered);
  EXPECT_EQ(root.Enter("link", true, child, error), host::FolderStep::kLink);
  EXPECT_EQ(root.Enter("file", true, child, error), host::FolderStep::kNotFolder);
  EXPECT_EQ(root.Enter("new", false, child, error), host::FolderStep::kMissing);
  EXPECT_FALSE(fs::exists(Path("new")));
  EXPECT_EQ(root.Enter("new", true, child, error), host::FolderStep::kCreated);
  EXPECT_TRUE(fs::is_directory(Path("new")));
  EXPECT_EQ(root.Enter("..", true, child, error), host::FolderStep::kFailed);
  EXPECT_EQ(root.Enter(std::string(300, 'n'), true, child, error), host::FolderStep::kFailed);
  EXPECT_EQ(error, ENAMETOOLONG);
  // The folder the user names may itself be a link.
  host::FolderHandle viaLink;
  EXPECT_TRUE(viaLink.Open(Path("link"), error));
  EXPECT_EQ(viaLink.Enter("inside", true, child, error), host::FolderStep::kCreated);
  EXPECT_TRUE(fs::is_directory(Path("real") + "/inside"));
}

TEST_F(PlatformFileTest, NewFilesAreMadeOnlyWhereNothingIsAndRenamedWithoutLosingATakenName) {
  namespace fs = std::filesystem;
  Put("taken", "mine");
  fs::create_symlink(Path("taken"), Path("planted"));
  host::FolderHandle folder;
  std::string leaf;
  int error = 0;
  ASSERT_TRUE(folder.OpenParent(Path("new"), leaf, error));
  EXPECT_EQ(leaf, "new");
  {
    host::NewFileScope scope(folder);
    host::PlatformFile file;
    // A name someone put there first, a link included, is never written through.
    EXPECT_FALSE(file.Open(Path("planted"), host::FileMode::kCreateWrite));
    EXPECT_EQ(file.LastSystemError(), EEXIST);
    ASSERT_TRUE(file.Open(Path("new"), host::FileMode::kCreateWrite));
    EXPECT_EQ(fs::status(Path("new")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(file.Write("data", 4));
    ASSERT_TRUE(file.Close());
  }
  EXPECT_EQ(static_cast<unsigned>(fs::status(Path("new")).permissions()), 0666u & ~host::ProcessUmask());
  EXPECT_EQ(folder.RenameAt("new", "taken", false), EEXIST);
  std::string kept;
  std::getline(std::ifstream(Path("taken")), kept);
  EXPECT_EQ(kept, "mine");
  EXPECT_EQ(folder.RenameAt("new", "planted", true), 0);  // the link itself is replaced
  EXPECT_FALSE(fs::is_symlink(Path("planted")));
  std::getline(std::ifstream(Path("taken")), kept);
  EXPECT_EQ(kept, "mine");
  EXPECT_EQ(folder.RemoveAt("planted"), 0);
  EXPECT_EQ(folder.RemoveAt("planted"), ENOENT);
  EXPECT_NE(host::TemporaryFileName(), host::TemporaryFileName());
}

TEST_F(PlatformFileTest, MakeFolderPathFollowsTheUsersLinksAndNamesWhatIsInTheWay) {
  namespace fs = std::filesystem;
  fs::create_directory(Path("real"));
  fs::create_directory_symlink(Path("real"), Path("home"));
  int error = 0;
  std::string failedAt;
  EXPECT_TRUE(host::MakeFolderPath(Path("home") + "/a/b", error, failedAt));
  EXPECT_TRUE(fs::is_directory(Path("real") + "/a/b"));
  Put("file", "x");
  EXPECT_FALSE(host::MakeFolderPath(Path("file") + "/c", error, failedAt));
  EXPECT_EQ(error, ENOTDIR);
  EXPECT_EQ(failedAt, Path("file"));
}

TEST_F(PlatformFileTest, TheWriteGuardKeepsProtectedFilesWhole) {
  Put("archive", "precious");
  host::FileIdentity id;
  ASSERT_TRUE(host::GetFileIdentity(Path("archive"), true, id));
  std::filesystem::create_symlink(Path("archive"), Path("alias"));
  host::FileIdentity aliasItself, aliasTarget;
  ASSERT_TRUE(host::GetFileIdentity(Path("alias"), false, aliasItself));
  ASSERT_TRUE(host::GetFileIdentity(Path("alias"), true, aliasTarget));
  EXPECT_NE(aliasItself, id);
  EXPECT_EQ(aliasTarget, id);
  {
    host::WriteGuard guard(dir_, {id});
    host::PlatformFile file;
    EXPECT_FALSE(file.Open(Path("archive"), host::FileMode::kCreateWrite));
    EXPECT_EQ(file.LastSystemError(), EPERM);
    EXPECT_TRUE(file.Open(Path("other"), host::FileMode::kCreateWrite));
  }
  std::ifstream in(Path("archive"));
  std::string content;
  in >> content;
  EXPECT_EQ(content, "precious");
  EXPECT_EQ(host::ProbePath(Path("missing")), ENOENT);
  EXPECT_EQ(host::ProbePath(Path(std::string(300, 'x').c_str())), ENAMETOOLONG);
  EXPECT_EQ(host::ProbePath(Path("archive")), 0);
}

}  // namespace
