#include "host/volume.h"

#include <stdlib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "host/host_path.h"

namespace {

using host::DrivePresence;
using host::FileSystemKind;

TEST(DriveModel, OnlyDriveZExists) {
  EXPECT_EQ(host::GetDriveRoots(), std::vector<std::u16string>{u"z:\\"});

  std::u16string root;
  ASSERT_TRUE(host::GetVolumeRoot(u"Z:\\home\\me", root));
  EXPECT_EQ(root, u"z:\\");
  EXPECT_TRUE(host::GetVolumeRoot(u"z:\\", root));
  root = u"unchanged";
  EXPECT_FALSE(host::GetVolumeRoot(u"C:\\Users", root));
  EXPECT_FALSE(host::GetVolumeRoot(u"Z:", root));  // no root without the backslash
  EXPECT_FALSE(host::GetVolumeRoot(u"\\\\server\\share", root));
  EXPECT_EQ(root, u"unchanged");
}

TEST(DriveModel, DrivePresenceTellsMalformedFromAbsent) {
  EXPECT_EQ(host::IsDrivePresent(u"C"), DrivePresence::kNotADrive);
  EXPECT_EQ(host::IsDrivePresent(u"C:\\x"), DrivePresence::kNotADrive);
  EXPECT_EQ(host::IsDrivePresent(u""), DrivePresence::kNotADrive);
  EXPECT_EQ(host::IsDrivePresent(u"z:/"), DrivePresence::kNotADrive);
  EXPECT_EQ(host::IsDrivePresent(u"1:"), DrivePresence::kNotADrive);
  EXPECT_EQ(host::IsDrivePresent(u"zz"), DrivePresence::kNotADrive);

  EXPECT_EQ(host::IsDrivePresent(u"z:"), DrivePresence::kPresent);
  EXPECT_EQ(host::IsDrivePresent(u"Z:\\"), DrivePresence::kPresent);
  EXPECT_EQ(host::IsDrivePresent(u"c:"), DrivePresence::kAbsent);
  EXPECT_EQ(host::IsDrivePresent(u"C:\\"), DrivePresence::kAbsent);
}

TEST(MountTable, ParsesEachKindOfLine) {
  const std::string table =
      "26 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
      "30 26 0:27 / /tmp rw,nosuid - tmpfs tmpfs rw,size=1024k\n"
      "40 26 8:17 / /mnt/win rw master:3 propagate_from:1 - ntfs3 /dev/sdb1 rw,uid=0\n"
      "41 26 0:50 / /mnt/ntfs-3g rw - fuseblk /dev/sdb2 rw,user_id=0\n"
      "42 26 0:51 / /mnt/my\\040usb\\040stick rw - fuse.fusefat /dev/loop0 rw\n"
      "43 26 8:33 / /media/CARD rw - vfat /dev/sdc1 rw,fmask=0022\n"
      "44 26 0:60 / /net/home rw - nfs4 server:/export/home rw,vers=4.2\n"
      "45 26 0:61 / /net/share rw - cifs //nas/Public\\040Files rw\n";
  std::vector<host::MountEntry> mounts = host::ParseMountInfo(table);
  ASSERT_EQ(mounts.size(), 8u);

  struct Expected {
    const char* mountPoint;
    const char* typeName;
    const char* source;
  };
  const Expected expected[] = {
      {"/", "ext4", "/dev/vda"},
      {"/tmp", "tmpfs", "tmpfs"},
      {"/mnt/win", "ntfs3", "/dev/sdb1"},
      {"/mnt/ntfs-3g", "fuseblk", "/dev/sdb2"},
      {"/mnt/my usb stick", "fuse.fusefat", "/dev/loop0"},
      {"/media/CARD", "vfat", "/dev/sdc1"},
      {"/net/home", "nfs4", "server:/export/home"},
      {"/net/share", "cifs", "//nas/Public Files"},
  };
  for (size_t i = 0; i < mounts.size(); ++i) {
    SCOPED_TRACE(expected[i].mountPoint);
    EXPECT_EQ(mounts[i].mountPoint, expected[i].mountPoint);
    EXPECT_EQ(mounts[i].typeName, expected[i].typeName);
    EXPECT_EQ(mounts[i].source, expected[i].source);
  }
}

TEST(MountTable, SkipsMalformedLinesAndKeepsTheRest) {
  const std::string table =
      "\n"
      "garbage\n"
      "1 0 0:1 / /no-separator rw ext4 /dev/x rw\n"
      "2 0 0:1 / /no-source rw - ext4\n"
      "3 0 0:1 / relative rw - ext4 /dev/x rw\n"
      "4 0 0:1 / /nul\\000inside rw - ext4 /dev/x rw\n"
      "5 0 0:1 / /back\\134slash\\9 rw - ext4 /dev/x rw\n"
      "6 0 0:1 / /last-line-without-newline rw - xfs /dev/y rw";
  std::vector<host::MountEntry> mounts = host::ParseMountInfo(table);
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].mountPoint, "/back\\slash\\9");  // an incomplete escape stays as written
  EXPECT_EQ(mounts[1].mountPoint, "/last-line-without-newline");
  EXPECT_EQ(mounts[1].typeName, "xfs");
}

TEST(MountTable, LongestMountPointAtAComponentBoundaryWins) {
  std::vector<host::MountEntry> mounts = host::ParseMountInfo(
      "1 0 0:1 / / rw - ext4 /dev/a rw\n"
      "2 1 0:2 / /mnt/usb rw - vfat /dev/c rw\n"
      "3 1 0:3 / /mnt rw - ext4 /dev/b rw\n"
      "4 1 0:4 / /mnt/usb rw - ntfs3 /dev/d rw\n");
  auto typeAt = [&](const char* path) {
    const host::MountEntry* m = host::FindMount(mounts, path);
    return m ? m->typeName + " " + m->source : std::string("none");
  };
  EXPECT_EQ(typeAt("/home/me"), "ext4 /dev/a");
  EXPECT_EQ(typeAt("/mnt"), "ext4 /dev/b");
  EXPECT_EQ(typeAt("/mnt/usbstick"), "ext4 /dev/b");
  // Mounted twice on one point: the later mount covers the earlier.
  EXPECT_EQ(typeAt("/mnt/usb"), "ntfs3 /dev/d");
  EXPECT_EQ(typeAt("/mnt/usb/a/b"), "ntfs3 /dev/d");

  std::vector<host::MountEntry> noRoot = host::ParseMountInfo("1 0 0:1 / /data rw - ext4 /dev/a rw\n");
  EXPECT_EQ(host::FindMount(noRoot, "/home"), nullptr);
  EXPECT_EQ(host::FindMount(noRoot, "/database"), nullptr);
  EXPECT_NE(host::FindMount(noRoot, "/data/x"), nullptr);
}

TEST(MountTable, FuseBlockMountIsNtfsOnlyWithItsAttribute) {
  EXPECT_EQ(host::ClassifyFileSystem("ntfs3", false), FileSystemKind::kNtfs);
  EXPECT_EQ(host::ClassifyFileSystem("fuseblk", true), FileSystemKind::kNtfs);
  EXPECT_EQ(host::ClassifyFileSystem("fuseblk", false), FileSystemKind::kOther);
  EXPECT_EQ(host::ClassifyFileSystem("fuse", true), FileSystemKind::kNtfs);  // ntfs-3g on an image file
  EXPECT_EQ(host::ClassifyFileSystem("fuse", false), FileSystemKind::kOther);
  EXPECT_EQ(host::ClassifyFileSystem("fuse.ntfs-3g", false), FileSystemKind::kOther);
  // The attribute does not turn other FUSE file systems into NTFS.
  EXPECT_EQ(host::ClassifyFileSystem("fuse.sshfs", true), FileSystemKind::kNetwork);
  EXPECT_EQ(host::ClassifyFileSystem("fuse.fusefat", true), FileSystemKind::kFat);
  // exFAT has no 4 GiB limit; type names are matched exactly.
  EXPECT_EQ(host::ClassifyFileSystem("exfat", false), FileSystemKind::kOther);
  EXPECT_EQ(host::ClassifyFileSystem("NTFS", false), FileSystemKind::kOther);
}

// A scratch folder and a substitute mount table for the duration of a test.
class VolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessera-volume-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    char* real = ::realpath(pattern.c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    dir_ = real;
    ::free(real);
  }
  void TearDown() override {
    host::SetMountTableReader({});
    std::filesystem::remove_all(dir_);
  }
  void UseMountTable(std::string table) {
    host::SetMountTableReader([table](std::string& text) {
      text = table;
      return true;
    });
  }
  // A mount table of an ext4 root with `type` mounted on `hostMountPoint`.
  void MountOn(const std::string& hostMountPoint, const std::string& type) {
    std::string escaped;
    for (char c : hostMountPoint) escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
    UseMountTable("1 0 0:1 / / rw - ext4 /dev/vda rw\n2 1 0:2 / " + escaped + " rw - " + type + " /dev/x rw\n");
  }
  std::u16string Engine(const std::string& hostPath) const { return host::ToEnginePath(hostPath); }

  std::string dir_;
  bool answer_ = false;
};

TEST_F(VolumeTest, NearestExistingAncestorStandsForPathsNotYetMade) {
  std::string real;
  ASSERT_TRUE(host::NearestExistingPath(dir_, real));
  EXPECT_EQ(real, dir_);
  ASSERT_TRUE(host::NearestExistingPath(dir_ + "/not/yet/there/", real));
  EXPECT_EQ(real, dir_);

  std::filesystem::create_directory(dir_ + "/target");
  std::filesystem::create_directory_symlink(dir_ + "/target", dir_ + "/link");
  ASSERT_TRUE(host::NearestExistingPath(dir_ + "/link/new/file.txt", real));
  EXPECT_EQ(real, dir_ + "/target");

  std::ofstream(dir_ + "/plain") << "x";
  ASSERT_TRUE(host::NearestExistingPath(dir_ + "/plain/below", real));
  EXPECT_EQ(real, dir_ + "/plain");

  EXPECT_FALSE(host::NearestExistingPath("relative/path", real));
  EXPECT_FALSE(host::NearestExistingPath("", real));
}

TEST_F(VolumeTest, DiskSpaceIsTheWholeVolumeFreeSpace) {
  struct statvfs st {};
  ASSERT_EQ(::statvfs(dir_.c_str(), &st), 0);
  uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;

  host::DiskSpace space;
  ASSERT_TRUE(host::GetDiskSpace(Engine(dir_ + "/to/be/made"), space));
  EXPECT_EQ(space.totalBytes, uint64_t(st.f_blocks) * unit);
  EXPECT_EQ(space.usedBytes, space.totalBytes - space.freeBytes);
  // Other programs write meanwhile; the free figure must be the volume's
  // free blocks (f_bfree), which is never below the user's share (f_bavail).
  uint64_t expectedFree = uint64_t(st.f_bfree) * unit;
  uint64_t slack = 64ull << 20;
  EXPECT_LE(space.freeBytes, expectedFree + slack);
  EXPECT_GE(space.freeBytes + slack, expectedFree);

  host::DiskSpace tmp;
  struct statvfs tmpSt {};
  ASSERT_EQ(::statvfs("/tmp", &tmpSt), 0);
  ASSERT_TRUE(host::GetDiskSpace(u"Z:\\tmp", tmp));
  EXPECT_EQ(tmp.totalBytes, uint64_t(tmpSt.f_blocks) * (tmpSt.f_frsize ? tmpSt.f_frsize : tmpSt.f_bsize));

  EXPECT_FALSE(host::GetDiskSpace(u"C:\\", space));
}

TEST_F(VolumeTest, FactsComeFromTheMountHoldingThePath) {
  std::string usb = dir_ + "/my usb";
  std::filesystem::create_directory(usb);
  MountOn(usb, "vfat");

  host::VolumeFacts facts;
  ASSERT_TRUE(host::GetVolumeFacts(Engine(usb + "/not/made/yet"), facts));
  EXPECT_EQ(facts.kind, FileSystemKind::kFat);
  EXPECT_EQ(facts.typeName, "vfat");
  EXPECT_EQ(facts.mountPoint, usb);
  EXPECT_FALSE(facts.remote);
  EXPECT_GT(facts.totalBytes, 0u);

  // A sibling whose name merely begins like the mount point is on the root.
  std::filesystem::create_directory(dir_ + "/my usbx");
  ASSERT_TRUE(host::GetVolumeFacts(Engine(dir_ + "/my usbx"), facts));
  EXPECT_EQ(facts.typeName, "ext4");
  EXPECT_EQ(facts.kind, FileSystemKind::kOther);
  bool ntfs = true;
  ASSERT_TRUE(host::IsNtfsVolume(Engine(dir_ + "/my usbx"), ntfs));
  EXPECT_FALSE(ntfs);
}

TEST_F(VolumeTest, NtfsAndNetworkQueriesAnswerPerMount) {
  bool answer = false;
  MountOn(dir_, "ntfs3");
  ASSERT_TRUE(host::IsNtfsVolume(Engine(dir_ + "/a"), answer));
  EXPECT_TRUE(answer);
  ASSERT_TRUE(host::IsNetworkDrive(Engine(dir_ + "/a"), answer));
  EXPECT_FALSE(answer);

  // The scratch folder carries no NTFS attribute, so a FUSE block mount on it
  // is not taken for NTFS.
  MountOn(dir_, "fuseblk");
  answer = true;
  ASSERT_TRUE(host::IsNtfsVolume(Engine(dir_), answer));
  EXPECT_FALSE(answer);

  MountOn(dir_, "nfs4");
  ASSERT_TRUE(host::IsNetworkDrive(Engine(dir_ + "/sub"), answer));
  EXPECT_TRUE(answer);
  host::VolumeFacts facts;
  ASSERT_TRUE(host::GetVolumeFacts(Engine(dir_), facts));
  EXPECT_TRUE(facts.remote);
  EXPECT_EQ(facts.kind, FileSystemKind::kNetwork);
}

TEST_F(VolumeTest, WithoutTheMountTableTheFileSystemItselfSaysItsType) {
  host::VolumeFacts listed;
  ASSERT_TRUE(host::GetVolumeFacts(Engine(dir_), listed));

  // No /proc (a plain chroot), or a table of the outer tree that does not
  // list the target's mount: both answer as the real table does.
  const std::function<void()> tables[] = {
      [] { host::SetMountTableReader([](std::string&) { return false; }); },
      [this] { UseMountTable("1 0 0:1 / /elsewhere rw - ext4 /dev/a rw\n"); },
  };
  for (const auto& useTable : tables) {
    useTable();
    host::VolumeFacts facts;
    ASSERT_TRUE(host::GetVolumeFacts(Engine(dir_ + "/not/made/yet"), facts));
    EXPECT_EQ(facts.kind, listed.kind);
    EXPECT_FALSE(facts.typeName.empty());
    EXPECT_EQ(facts.typeName.find("0x"), std::string::npos) << facts.typeName;
    EXPECT_EQ(dir_.compare(0, facts.mountPoint.size(), facts.mountPoint), 0) << facts.mountPoint;
    EXPECT_EQ(facts.totalBytes, listed.totalBytes);
    bool answer = true;
    ASSERT_TRUE(host::IsNtfsVolume(Engine(dir_), answer));
    EXPECT_EQ(answer, listed.kind == FileSystemKind::kNtfs);
  }

  // The magic numbers name the kinds whose rules differ.
  EXPECT_EQ(host::ClassifyFileSystem(host::FileSystemTypeFromMagic(0x4D44), false), FileSystemKind::kFat);
  EXPECT_EQ(host::ClassifyFileSystem(host::FileSystemTypeFromMagic(0x7366746E), false), FileSystemKind::kNtfs);
  EXPECT_EQ(host::ClassifyFileSystem(host::FileSystemTypeFromMagic(0x65735546), true), FileSystemKind::kNtfs);
  EXPECT_EQ(host::ClassifyFileSystem(host::FileSystemTypeFromMagic(0xFE534D42), false), FileSystemKind::kNetwork);
  EXPECT_EQ(host::FileSystemTypeFromMagic(0x12345678), "0x12345678");

  // Off drive Z: there is no volume at all.
  host::VolumeFacts facts;
  EXPECT_FALSE(host::GetVolumeFacts(u"C:\\Users", facts));
  EXPECT_FALSE(host::IsNtfsVolume(u"C:\\Users", answer_));
  EXPECT_FALSE(host::IsNetworkDrive(u"D:\\", answer_));
}

TEST_F(VolumeTest, RealMountTableNamesTheScratchFolderVolume) {
  host::VolumeFacts facts;
  ASSERT_TRUE(host::GetVolumeFacts(Engine(dir_ + "/later"), facts));
  EXPECT_FALSE(facts.typeName.empty());
  EXPECT_EQ(dir_.compare(0, facts.mountPoint.size(), facts.mountPoint), 0);
  host::DiskSpace space;
  ASSERT_TRUE(host::GetDiskSpace(Engine(dir_), space));
  EXPECT_EQ(facts.totalBytes, space.totalBytes);
}

}  // namespace
