#include "host/private_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PrivateFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tessera-private-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fd_ = host::UniqueFd(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY));
  }
  void TearDown() override {
    // Whatever another user left in the test's folder goes too.
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Put(const std::string& name, const std::string& content) const { std::ofstream(Path(name), std::ios::binary) << content; }

  // Runs `work` in a child process as the user "nobody"; its result is the
  // child's. Only root can do this.
  static bool AsNobody(const std::function<bool()>& work) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) return false;
    const pid_t child = ::fork();
    if (child == 0) {
      const bool ok = ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0 && work();
      ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::string dir_;
  host::UniqueFd fd_;
};

TEST_F(PrivateFolderTest, OnlyAPrivateFolderIsTakenWhatElseIsThereIsRefused) {
  host::UniqueFd made = host::MakePrivateFolder(fd_.Get(), "new");
  ASSERT_TRUE(made.Valid());
  EXPECT_EQ(ModeOf(Path("new")), 0700u);
  EXPECT_TRUE(host::MakePrivateFolder(fd_.Get(), "new").Valid());  // ours, made before: taken over

  ASSERT_EQ(::mkdir(Path("open").c_str(), 0700), 0);
  ASSERT_EQ(::chmod(Path("open").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(Path("new").c_str(), Path("link").c_str()), 0);
  Put("file", "x");
  for (const char* name : {"open", "link", "file", "..", "a/b"}) {
    EXPECT_FALSE(host::MakePrivateFolder(fd_.Get(), name).Valid()) << name;
  }
  EXPECT_EQ(ModeOf(Path("open")), 0755u);  // refused, not mended

  // A fresh folder is always a new one, never one that was there.
  std::string first, second;
  ASSERT_TRUE(host::MakeFreshPrivateFolder(fd_.Get(), "T-", first).Valid());
  ASSERT_TRUE(host::MakeFreshPrivateFolder(fd_.Get(), "T-", second).Valid());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind("T-", 0), 0u);
  EXPECT_EQ(ModeOf(Path(first)), 0700u);
}

TEST_F(PrivateFolderTest, RemovalNeverFollowsALinkNorChangesAMode) {
  // Outside: files the removal must not touch, one of them read-only.
  ASSERT_EQ(::mkdir(Path("outside").c_str(), 0755), 0);
  Put("outside/keep.txt", "keep");
  ASSERT_EQ(::chmod(Path("outside/keep.txt").c_str(), 0444), 0);
  ASSERT_TRUE(host::MakePrivatePath(fd_.Get(), {"work", "3", "C", "Data"}).Valid());
  Put("work/3/C/Data/a.txt", "a");
  ASSERT_EQ(::chmod(Path("work/3/C/Data/a.txt").c_str(), 0400), 0);
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("work/3/C/swapped").c_str()), 0);
  ASSERT_EQ(::symlink(Path("outside/keep.txt").c_str(), Path("work/3/file-link").c_str()), 0);

  EXPECT_TRUE(host::RemoveTreeAt(fd_.Get(), "work"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(Path("work"))));
  EXPECT_EQ(Read(Path("outside/keep.txt")), "keep");
  EXPECT_EQ(ModeOf(Path("outside/keep.txt")), 0444u);
  EXPECT_EQ(ModeOf(Path("outside")), 0755u);
  EXPECT_TRUE(host::RemoveTreeAt(fd_.Get(), "work"));  // gone already: no failure

  // A link in the folder's own place goes as a link.
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("work").c_str()), 0);
  EXPECT_TRUE(host::RemoveTreeAt(fd_.Get(), "work"));
  EXPECT_EQ(Read(Path("outside/keep.txt")), "keep");

  // Narrowing walks the same way: the link's target keeps its mode.
  ASSERT_TRUE(host::MakePrivatePath(fd_.Get(), {"copy"}).Valid());
  Put("copy/wide.txt", "w");
  ASSERT_EQ(::chmod(Path("copy/wide.txt").c_str(), 0666), 0);
  ASSERT_EQ(::chmod(Path("outside/keep.txt").c_str(), 0644), 0);
  ASSERT_EQ(::symlink(Path("outside/keep.txt").c_str(), Path("copy/link").c_str()), 0);
  host::NarrowModesAt(fd_.Get(), "copy", 0400, 0500);
  EXPECT_EQ(ModeOf(Path("copy/wide.txt")), 0400u);
  EXPECT_EQ(ModeOf(Path("copy")), 0500u);
  EXPECT_EQ(ModeOf(Path("outside/keep.txt")), 0644u);
}

TEST_F(PrivateFolderTest, SmallFilesAreReadBoundedAndReplacedWhole) {
  std::string bytes;
  Put("Tessera.ini", "[config]\n");
  ASSERT_EQ(::chmod(Path("Tessera.ini").c_str(), 0640), 0);
  EXPECT_EQ(host::ReadSmallFile(Path("Tessera.ini"), 100, bytes), host::SmallFileRead::kRead);
  EXPECT_EQ(bytes, "[config]\n");
  EXPECT_EQ(host::ReadSmallFile(Path("Tessera.ini"), 4, bytes), host::SmallFileRead::kRefused);
  EXPECT_EQ(host::ReadSmallFile(Path("missing"), 100, bytes), host::SmallFileRead::kMissing);
  // Neither blocks nor reads without end.
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(host::ReadSmallFile(Path("fifo"), 100, bytes), host::SmallFileRead::kRefused);
  ASSERT_EQ(::symlink("/dev/zero", Path("zero").c_str()), 0);
  EXPECT_EQ(host::ReadSmallFile(Path("zero"), 100, bytes), host::SmallFileRead::kRefused);

  ASSERT_TRUE(host::ReplaceSmallFile(Path("Tessera.ini"), "[config]\nTempPath=/t\n"));
  EXPECT_EQ(Read(Path("Tessera.ini")), "[config]\nTempPath=/t\n");
  EXPECT_EQ(ModeOf(Path("Tessera.ini")), 0640u);
  ASSERT_TRUE(host::ReplaceSmallFile(Path("new.ini"), "n"));
  EXPECT_EQ(ModeOf(Path("new.ini")), 0600u);
  // A link in the file's place is replaced, not written through.
  Put("target", "target");
  ASSERT_EQ(::symlink(Path("target").c_str(), Path("linked.ini").c_str()), 0);
  ASSERT_TRUE(host::ReplaceSmallFile(Path("linked.ini"), "x"));
  EXPECT_EQ(Read(Path("target")), "target");
  EXPECT_FALSE(fs::is_symlink(Path("linked.ini")));
  EXPECT_FALSE(host::ReplaceSmallFile(Path("no/such/folder.ini"), "x"));
  // Nothing is left behind by the writes.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 6);
}

TEST_F(PrivateFolderTest, APrivatePlaceIsFoundForTheUserOnly) {
  const std::string saved = std::getenv("XDG_RUNTIME_DIR") != nullptr ? std::getenv("XDG_RUNTIME_DIR") : "";
  const std::string savedCache = std::getenv("XDG_CACHE_HOME") != nullptr ? std::getenv("XDG_CACHE_HOME") : "";
  ASSERT_EQ(::mkdir(Path("runtime").c_str(), 0700), 0);
  ::setenv("XDG_RUNTIME_DIR", Path("runtime").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", Path("cache").c_str(), 1);
  EXPECT_EQ(host::UserPrivateFolder(), Path("runtime"));
  // A runtime folder others may write to is not the user's: the cache's is taken.
  ASSERT_EQ(::chmod(Path("runtime").c_str(), 01777), 0);
  EXPECT_EQ(host::UserPrivateFolder(), Path("cache/tessera"));
  EXPECT_EQ(ModeOf(Path("cache/tessera")), 0700u);
  ::setenv("XDG_CACHE_HOME", "relative", 1);  // not absolute: ignored, as the rules say
  ::setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(host::UserCacheFolder(), Path(".cache"));
  if (saved.empty()) ::unsetenv("XDG_RUNTIME_DIR");
  else ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  if (savedCache.empty()) ::unsetenv("XDG_CACHE_HOME");
  else ::setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
}

// Another local user prepares a shared folder: a "TesseraRestore" of
// theirs holding a link to the victim's files, and a private-looking
// folder of theirs. None of it is used, and nothing of the victim's is
// removed or changed.
TEST_F(PrivateFolderTest, WhatAnotherUserPreparesInASharedFolderIsNeverUsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(Path("shared").c_str(), 01777), 0);
  ASSERT_EQ(::chmod(Path("shared").c_str(), 01777), 0);
  ASSERT_EQ(::mkdir(Path("victim").c_str(), 0700), 0);
  Put("victim/own.txt", "own");
  const std::string shared = Path("shared");
  const std::string victim = Path("victim");
  ASSERT_TRUE(AsNobody([&] {
    const std::string planted = shared + "/TesseraRestore";
    return ::mkdir(planted.c_str(), 0700) == 0 && ::chmod(planted.c_str(), 0777) == 0 &&
           ::symlink(victim.c_str(), (planted + "/C").c_str()) == 0 && ::mkdir((shared + "/mine").c_str(), 0700) == 0;
  }));

  auto folder = host::RunFolder::Make(shared, "TesseraRestore");
  ASSERT_NE(folder, nullptr);
  EXPECT_NE(folder->Path(), shared + "/TesseraRestore");
  EXPECT_EQ(ModeOf(folder->Path()), 0700u);
  EXPECT_TRUE(host::RunFolder::PathIfKnown(shared, "TesseraRestore").empty());
  host::UniqueFd sharedFd(::open(shared.c_str(), O_RDONLY | O_DIRECTORY));
  EXPECT_FALSE(host::MakePrivateFolder(sharedFd.Get(), "mine").Valid());  // theirs, though 0700

  // The other user can neither add to the folder made nor swap what is in it.
  ASSERT_TRUE(host::MakePrivatePath(folder->Fd(), {"1", "C"}).Valid());
  const std::string made = folder->Path();
  EXPECT_TRUE(AsNobody([&] {
    return ::symlink(victim.c_str(), (made + "/1/C/x").c_str()) != 0 && ::rename((made + "/1").c_str(), (shared + "/y").c_str()) != 0;
  }));

  EXPECT_TRUE(folder->Remove());
  EXPECT_FALSE(fs::exists(made));
  EXPECT_TRUE(fs::is_symlink(shared + "/TesseraRestore/C"));
  EXPECT_TRUE(fs::exists(shared + "/mine"));
  EXPECT_EQ(Read(victim + "/own.txt"), "own");
  EXPECT_EQ(ModeOf(victim), 0700u);
}

}  // namespace
