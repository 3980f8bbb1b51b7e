// The host layer on real mounted volumes: an NTFS image through ntfs-3g, a
// FAT32 image through fusefat, a tmpfs and the machine's own ext4. Each test
// skips, saying why, where its volume cannot be made (not root, no FUSE, a
// tool missing).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "host/file_attributes.h"
#include "host/host_path.h"
#include "host/volume.h"
#include "support/mounted_volume.h"

namespace {

using host::CompressionResult;
using host::FileSystemKind;
using testsupport::MountedVolume;
using testsupport::VolumeKind;

#define REQUIRE_MOUNTED(volume) \
  if (!(volume).IsMounted()) GTEST_SKIP() << (volume).SkipReason()

constexpr uint32_t kHiddenSystemArchive = host::kAttributeHidden | host::kAttributeSystem | host::kAttributeArchive;

// 2004-11-09 11:33:21.9876543 UTC and friends: odd seconds and sub-second
// digits, so rounding to a coarser step shows.
constexpr uint64_t kWriteTime = 127443692019876543ull;
constexpr uint64_t kAccessTime = 127443000011234567ull;
constexpr uint64_t kCreationTime = 127000000031111111ull;
constexpr uint64_t kTicksPerSecond = 10000000;

void Put(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  ASSERT_TRUE(out.good()) << path;
}

std::string Get(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

uint64_t FileTimeOf(const timespec& t) {
  uint64_t out = 0;
  EXPECT_TRUE(host::TimespecToFileTime(t, out));
  return out;
}

struct StatTimes {
  uint64_t access = 0;
  uint64_t write = 0;
};
StatTimes TimesOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return {FileTimeOf(st.st_atim), FileTimeOf(st.st_mtim)};
}

uint32_t AttributesOf(const std::u16string& path) {
  uint32_t attributes = 0;
  EXPECT_TRUE(host::GetFileAttributes(path, attributes));
  return attributes;
}

host::VolumeFacts FactsOf(const std::u16string& path) {
  host::VolumeFacts facts;
  EXPECT_TRUE(host::GetVolumeFacts(path, facts));
  return facts;
}

void ExpectKind(const std::u16string& path, FileSystemKind kind, bool ntfs) {
  EXPECT_EQ(FactsOf(path).kind, kind);
  bool isNtfs = !ntfs, isNetwork = true;
  ASSERT_TRUE(host::IsNtfsVolume(path, isNtfs));
  EXPECT_EQ(isNtfs, ntfs);
  ASSERT_TRUE(host::IsNetworkDrive(path, isNetwork));
  EXPECT_FALSE(isNetwork);
}

// A folder of ours on the machine's ext4, under /tmp or /var/tmp, whichever
// lies on it.
class Ext4Folder {
 public:
  Ext4Folder() {
    for (const char* base : {"/tmp", "/var/tmp"}) {
      host::VolumeFacts facts;
      if (!host::GetVolumeFacts(host::ToEnginePath(base), facts) || facts.typeName != "ext4") continue;
      std::string pattern = std::string(base) + "/tessera-ext4-XXXXXX";
      if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
        return;
      }
    }
  }
  ~Ext4Folder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  bool Found() const { return !path_.empty(); }
  std::string HostPath(const std::string& relative) const { return path_ + "/" + relative; }
  std::u16string EnginePath(const std::string& relative = "") const {
    return host::ToEnginePath(relative.empty() ? path_ : HostPath(relative));
  }

 private:
  std::string path_;
};

// ---- What kind of volume a path lies on

TEST(RealVolumeKind, NtfsImageIsNtfsAlsoBelowAFolderNotYetMade) {
  MountedVolume volume(VolumeKind::kNtfs);
  REQUIRE_MOUNTED(volume);
  host::VolumeFacts facts = FactsOf(volume.EnginePath());
  EXPECT_EQ(facts.kind, FileSystemKind::kNtfs) << "mounted as " << facts.typeName;
  EXPECT_EQ(facts.mountPoint, volume.HostPath());
  EXPECT_FALSE(facts.remote);
  ExpectKind(volume.EnginePath("to/be/made/a.txt"), FileSystemKind::kNtfs, true);
}

TEST(RealVolumeKind, Fat32ImageIsFat) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  host::VolumeFacts facts = FactsOf(volume.EnginePath());
  EXPECT_EQ(facts.kind, FileSystemKind::kFat) << "mounted as " << facts.typeName;
  EXPECT_EQ(facts.mountPoint, volume.HostPath());
  ASSERT_EQ(::mkdir(volume.HostPath("sub").c_str(), 0777), 0);
  ExpectKind(volume.EnginePath("sub/new"), FileSystemKind::kFat, false);
}

TEST(RealVolumeKind, TmpfsAndExt4AreOrdinary) {
  MountedVolume volume(VolumeKind::kTmpfs, 1024);
  REQUIRE_MOUNTED(volume);
  EXPECT_EQ(FactsOf(volume.EnginePath()).typeName, "tmpfs");
  ExpectKind(volume.EnginePath("x"), FileSystemKind::kOther, false);

  Ext4Folder ext4;
  if (!ext4.Found()) GTEST_SKIP() << "neither /tmp nor /var/tmp lies on ext4";
  ExpectKind(ext4.EnginePath("x"), FileSystemKind::kOther, false);
}

// ---- Space

TEST(RealVolumeSpace, TmpfsReportsItsSizeAndWhatAFileTakes) {
  MountedVolume volume(VolumeKind::kTmpfs, 512);
  REQUIRE_MOUNTED(volume);
  host::DiskSpace before;
  ASSERT_TRUE(host::GetDiskSpace(volume.EnginePath(), before));
  EXPECT_EQ(before.totalBytes, 512u * 1024);
  EXPECT_EQ(before.freeBytes, before.totalBytes);
  EXPECT_EQ(before.usedBytes, 0u);

  Put(volume.HostPath("a"), std::string(100 * 1024, 'x'));
  host::DiskSpace after;
  ASSERT_TRUE(host::GetDiskSpace(volume.EnginePath("a"), after));
  EXPECT_EQ(after.totalBytes, before.totalBytes);
  EXPECT_EQ(after.freeBytes, before.freeBytes - 100 * 1024);
  EXPECT_EQ(after.usedBytes, after.totalBytes - after.freeBytes);
  EXPECT_EQ(FactsOf(volume.EnginePath()).freeBytes, after.freeBytes);
}

TEST(RealVolumeSpace, NtfsImageReportsItsSize) {
  MountedVolume volume(VolumeKind::kNtfs, 32 * 1024);
  REQUIRE_MOUNTED(volume);
  host::DiskSpace before;
  ASSERT_TRUE(host::GetDiskSpace(volume.EnginePath(), before));
  EXPECT_LE(before.totalBytes, 32u << 20);
  EXPECT_GT(before.totalBytes, 30u << 20);
  EXPECT_LT(before.freeBytes, before.totalBytes);  // the metadata files

  Put(volume.HostPath("a"), std::string(1 << 20, 'x'));
  host::DiskSpace after;
  ASSERT_TRUE(host::GetDiskSpace(volume.EnginePath(), after));
  EXPECT_LE(after.freeBytes, before.freeBytes - (1 << 20));
}

// fusefat keeps no block counts; "no space" would turn every file away, so
// the space is unknown there while the volume is still known to be FAT.
TEST(RealVolumeSpace, FatThroughFuseGivesNoSpaceRatherThanNone) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  struct statvfs st {};
  ASSERT_EQ(::statvfs(volume.HostPath().c_str(), &st), 0);
  host::DiskSpace space;
  if (st.f_blocks == 0) {
    EXPECT_FALSE(host::GetDiskSpace(volume.EnginePath(), space));
  } else {
    ASSERT_TRUE(host::GetDiskSpace(volume.EnginePath(), space));
    EXPECT_GT(space.freeBytes, 0u);
  }
  EXPECT_EQ(FactsOf(volume.EnginePath()).kind, FileSystemKind::kFat);
}

// ---- Attributes

TEST(RealVolumeAttributes, NtfsKeepsEveryAttributeOfFilesAndFolders) {
  MountedVolume volume(VolumeKind::kNtfs);
  REQUIRE_MOUNTED(volume);
  Put(volume.HostPath("a.txt"), "data");
  std::u16string file = volume.EnginePath("a.txt");

  uint32_t applied = 0;
  const uint32_t all = host::kAttributeReadOnly | kHiddenSystemArchive;
  ASSERT_TRUE(host::SetFileAttributes(file, all, &applied));
  EXPECT_EQ(applied, all);
  EXPECT_EQ(AttributesOf(file), all);

  // Clearing everything leaves the word Windows gives such a file, and a
  // file this process can write again.
  ASSERT_TRUE(host::SetFileAttributes(file, host::kAttributeNormal, &applied));
  EXPECT_EQ(applied, host::kAttributeNormal);
  EXPECT_EQ(AttributesOf(file), host::kAttributeNormal);
  Put(volume.HostPath("a.txt"), "rewritten");
  EXPECT_EQ(Get(volume.HostPath("a.txt")), "rewritten");

  // A folder keeps read-only only in the word and stays usable.
  ASSERT_EQ(::mkdir(volume.HostPath("d").c_str(), 0777), 0);
  std::u16string folder = volume.EnginePath("d");
  const uint32_t folderBits = host::kAttributeDirectory | host::kAttributeReadOnly | host::kAttributeHidden;
  ASSERT_TRUE(host::SetFileAttributes(folder, folderBits, &applied));
  EXPECT_EQ(applied, folderBits);
  EXPECT_EQ(AttributesOf(folder), folderBits);
  Put(volume.HostPath("d/inside"), "x");
  EXPECT_EQ(Get(volume.HostPath("d/inside")), "x");
}

TEST(RealVolumeAttributes, FatKeepsNoneAndSaysSo) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  Put(volume.HostPath("a.txt"), "data");
  std::u16string file = volume.EnginePath("a.txt");

  // fusefat has no chmod at all: read-only is lost, not an error.
  uint32_t applied = 0xFFFFFFFF;
  ASSERT_TRUE(host::SetFileAttributes(file, host::kAttributeReadOnly | kHiddenSystemArchive, &applied));
  EXPECT_EQ(applied, 0u);
  EXPECT_EQ(AttributesOf(file), host::kAttributeNormal);

  ASSERT_EQ(::mkdir(volume.HostPath("d").c_str(), 0777), 0);
  ASSERT_TRUE(host::SetFileAttributes(volume.EnginePath("d"), host::kAttributeDirectory | host::kAttributeHidden,
                                      &applied));
  EXPECT_EQ(applied, host::kAttributeDirectory);
  EXPECT_EQ(AttributesOf(volume.EnginePath("d")), host::kAttributeDirectory);
}

void ExpectPermissionsOnlyKeepReadOnly(const std::string& hostFile, const std::u16string& file) {
  Put(hostFile, "data");
  uint32_t applied = 0;
  ASSERT_TRUE(host::SetFileAttributes(file, host::kAttributeReadOnly | kHiddenSystemArchive, &applied));
  EXPECT_EQ(applied, host::kAttributeReadOnly);
  EXPECT_EQ(AttributesOf(file), host::kAttributeReadOnly);
  struct stat st {};
  ASSERT_EQ(::stat(hostFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);

  ASSERT_TRUE(host::SetFileAttributes(file, host::kAttributeNormal, &applied));
  EXPECT_EQ(applied, host::kAttributeNormal);
  EXPECT_EQ(AttributesOf(file), host::kAttributeNormal);
  ASSERT_EQ(::stat(hostFile.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST(RealVolumeAttributes, TmpfsAndExt4KeepOnlyReadOnly) {
  MountedVolume volume(VolumeKind::kTmpfs, 256);
  REQUIRE_MOUNTED(volume);
  {
    SCOPED_TRACE("tmpfs");
    ExpectPermissionsOnlyKeepReadOnly(volume.HostPath("a"), volume.EnginePath("a"));
  }
  Ext4Folder ext4;
  if (!ext4.Found()) GTEST_SKIP() << "neither /tmp nor /var/tmp lies on ext4";
  SCOPED_TRACE("ext4");
  ExpectPermissionsOnlyKeepReadOnly(ext4.HostPath("a"), ext4.EnginePath("a"));
}

// ---- Times

TEST(RealVolumeTimes, NtfsKeepsAllThreeTo100Nanoseconds) {
  MountedVolume volume(VolumeKind::kNtfs);
  REQUIRE_MOUNTED(volume);
  Put(volume.HostPath("a"), "data");
  ASSERT_EQ(::mkdir(volume.HostPath("d").c_str(), 0777), 0);
  for (const char* name : {"a", "d"}) {
    SCOPED_TRACE(name);
    bool creationKept = false;
    ASSERT_TRUE(host::SetFileTimes(volume.EnginePath(name), kCreationTime, kAccessTime, kWriteTime, &creationKept));
    EXPECT_TRUE(creationKept);
    StatTimes times = TimesOf(volume.HostPath(name));
    EXPECT_EQ(times.access, kAccessTime);
    EXPECT_EQ(times.write, kWriteTime);
    uint8_t raw[8] = {};
    ASSERT_EQ(::lgetxattr(volume.HostPath(name).c_str(), "system.ntfs_crtime_be", raw, sizeof raw), 8);
    uint64_t creation = 0;
    for (uint8_t b : raw) creation = (creation << 8) | b;
    EXPECT_EQ(creation, kCreationTime);
  }

  // Zero leaves a time alone.
  ASSERT_TRUE(host::SetFileTimes(volume.EnginePath("a"), 0, 0, kWriteTime + kTicksPerSecond));
  EXPECT_EQ(TimesOf(volume.HostPath("a")).access, kAccessTime);
  EXPECT_EQ(TimesOf(volume.HostPath("a")).write, kWriteTime + kTicksPerSecond);
}

TEST(RealVolumeTimes, FatKeepsTheWriteTimeInTwoSecondSteps) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  Put(volume.HostPath("a"), "data");
  bool creationKept = true;
  ASSERT_TRUE(host::SetFileTimes(volume.EnginePath("a"), kCreationTime, kAccessTime, kWriteTime, &creationKept));
  EXPECT_FALSE(creationKept);
  // fusefat shows the stored write time as all three times, so the access
  // date cannot be read back through it.
  uint64_t write = TimesOf(volume.HostPath("a")).write;
  EXPECT_LE(write, kWriteTime);
  EXPECT_GT(write + 2 * kTicksPerSecond, kWriteTime);
  EXPECT_EQ(write % (2 * kTicksPerSecond), 0u);
}

TEST(RealVolumeTimes, TmpfsKeepsAccessAndWriteButNoCreationTime) {
  MountedVolume volume(VolumeKind::kTmpfs, 256);
  REQUIRE_MOUNTED(volume);
  Put(volume.HostPath("a"), "data");
  bool creationKept = true;
  ASSERT_TRUE(host::SetFileTimes(volume.EnginePath("a"), kCreationTime, kAccessTime, kWriteTime, &creationKept));
  EXPECT_FALSE(creationKept);
  StatTimes times = TimesOf(volume.HostPath("a"));
  EXPECT_EQ(times.access, kAccessTime);
  EXPECT_EQ(times.write, kWriteTime);
}

// ---- Compression

TEST(RealVolumeCompression, NtfsReportsWhatTheDriverActuallyKept) {
  MountedVolume volume(VolumeKind::kNtfs);
  REQUIRE_MOUNTED(volume);
  Put(volume.HostPath("a"), std::string(20000, 'a'));
  ASSERT_EQ(::mkdir(volume.HostPath("d").c_str(), 0777), 0);

  for (const char* name : {"a", "d"}) {
    SCOPED_TRACE(name);
    std::u16string path = volume.EnginePath(name);
    CompressionResult on = host::SetCompression(path, true);
    ASSERT_TRUE(on == CompressionResult::kDone || on == CompressionResult::kNotSupported);
    EXPECT_EQ((AttributesOf(path) & host::kAttributeCompressed) != 0, on == CompressionResult::kDone);
    if (on == CompressionResult::kDone) {
      EXPECT_EQ(host::SetCompression(path, false), CompressionResult::kDone);
      EXPECT_EQ(AttributesOf(path) & host::kAttributeCompressed, 0u);
    }
  }
  // ntfs-3g takes the bit on folders (new files in them are compressed).
  EXPECT_EQ(host::SetCompression(volume.EnginePath("d"), true), CompressionResult::kDone);
  // Compressing leaves the other bits alone.
  ASSERT_TRUE(host::SetFileAttributes(volume.EnginePath("a"), host::kAttributeHidden));
  host::SetCompression(volume.EnginePath("a"), true);
  EXPECT_NE(AttributesOf(volume.EnginePath("a")) & host::kAttributeHidden, 0u);
  EXPECT_EQ(host::SetCompression(volume.EnginePath("missing"), true), CompressionResult::kFailed);
}

TEST(RealVolumeCompression, FatAndTmpfsCannotCompress) {
  MountedVolume fat(VolumeKind::kFat32);
  MountedVolume tmpfs(VolumeKind::kTmpfs, 256);
  for (MountedVolume* volume : {&fat, &tmpfs}) {
    if (!volume->IsMounted()) {
      std::cout << "not checked: " << volume->SkipReason() << "\n";
      continue;
    }
    SCOPED_TRACE(testsupport::VolumeKindName(volume->Kind()));
    Put(volume->HostPath("a"), "data");
    ASSERT_EQ(::mkdir(volume->HostPath("d").c_str(), 0777), 0);
    EXPECT_EQ(host::SetCompression(volume->EnginePath("a"), true), CompressionResult::kNotSupported);
    EXPECT_EQ(host::SetCompression(volume->EnginePath("d"), true), CompressionResult::kNotSupported);
  }
  if (!fat.IsMounted() && !tmpfs.IsMounted()) GTEST_SKIP() << fat.SkipReason() << "; " << tmpfs.SkipReason();
}

// ---- Output files

// A link left at a destination is replaced; what it pointed at is untouched.
void ExpectLinkReplaced(const std::string& dir, const std::u16string& engineDir) {
  Put(dir + "/target", "precious");
  ASSERT_EQ(::symlink("target", (dir + "/out").c_str()), 0);
  ASSERT_TRUE(host::CreateFileForWriting(engineDir + u"\\out"));
  struct stat st {};
  ASSERT_EQ(::lstat((dir + "/out").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(Get(dir + "/target"), "precious");
}

TEST(RealVolumeOutput, CreateForWritingReplacesALinkOnNtfsAndTmpfs) {
  MountedVolume ntfs(VolumeKind::kNtfs);
  MountedVolume tmpfs(VolumeKind::kTmpfs, 256);
  for (MountedVolume* volume : {&ntfs, &tmpfs}) {
    if (!volume->IsMounted()) {
      std::cout << "not checked: " << volume->SkipReason() << "\n";
      continue;
    }
    SCOPED_TRACE(testsupport::VolumeKindName(volume->Kind()));
    ExpectLinkReplaced(volume->HostPath(), volume->EnginePath());
  }
  if (!ntfs.IsMounted() && !tmpfs.IsMounted()) GTEST_SKIP() << ntfs.SkipReason() << "; " << tmpfs.SkipReason();
}

// FAT has no links; an existing file there is emptied in place.
TEST(RealVolumeOutput, CreateForWritingTruncatesAnExistingFileOnFat) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  Put(volume.HostPath("out"), std::string(10000, 'x'));
  ASSERT_TRUE(host::CreateFileForWriting(volume.EnginePath("out")));
  EXPECT_EQ(std::filesystem::file_size(volume.HostPath("out")), 0u);
  ASSERT_TRUE(host::CreateFileForWriting(volume.EnginePath("new")));
  EXPECT_EQ(host::GetPathKind(volume.EnginePath("new")), host::PathKind::kFile);
  EXPECT_TRUE(host::DeleteFile(volume.EnginePath("new")));
  EXPECT_FALSE(host::PathExists(volume.EnginePath("new")));
}

// ---- The fixture itself

TEST(MountedVolumeFixture, LeavesNothingBehind) {
  std::string mountPoint;
  {
    MountedVolume volume(VolumeKind::kTmpfs, 64);
    REQUIRE_MOUNTED(volume);
    mountPoint = volume.HostPath();
    Put(volume.HostPath("busy"), "x");
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(mountPoint).parent_path()));
}

TEST(MountedVolumeFixture, FuseVolumesAreUnmountedEvenWithAFileOpen) {
  std::string mountPoint;
  int fd = -1;
  {
    MountedVolume volume(VolumeKind::kNtfs, 16 * 1024);
    REQUIRE_MOUNTED(volume);
    mountPoint = volume.HostPath();
    fd = ::open(volume.HostPath("held").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
  }
  ::close(fd);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(mountPoint).parent_path()));
}

}  // namespace
