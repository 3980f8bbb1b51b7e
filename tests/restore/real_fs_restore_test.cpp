// The restore driver writing onto real volumes: an NTFS image through
// ntfs-3g, a FAT32 image through fusefat and small tmpfs mounts. What each
// file system keeps is checked as far as it keeps it, and the events the
// driver owes there: the 4 GiB limit and encrypted entries off NTFS,
// compression it cannot give, and a volume that runs out of space before or
// during a write. Each test skips, saying why, where its volume cannot be
// made.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "archive/qpx_file.h"
#include "archive/qpx_file_factory.h"
#include "host/file_attributes.h"
#include "host/host_path.h"
#include "restore/restore_driver.h"
#include "restore/event_recorder.h"
#include "support/archive_writer.h"
#include "support/mounted_volume.h"

namespace {

namespace fs = std::filesystem;
using namespace QPXFile;
using testsupport::ArchiveSpec;
using testsupport::EntrySpec;
using testsupport::Method;
using testsupport::MountedVolume;
using testsupport::VolumeKind;

#define REQUIRE_MOUNTED(volume) \
  if (!(volume).IsMounted()) GTEST_SKIP() << (volume).SkipReason()

constexpr uint64_t kSecond = 10000000;
// Odd seconds and sub-second digits, so a file system's rounding shows.
constexpr uint64_t kCreated = 132000000031234567ull;
constexpr uint64_t kAccessed = 132000100051234567ull;
constexpr uint64_t kModified = 132000200071234567ull;
constexpr uint64_t kFolderTime = 132000300091234567ull;

std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>("real volumes "[i % 13] + seed + (i / 3000));
  return out;
}

std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Times {
  uint64_t access = 0, write = 0;
};
Times TimesOf(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
  Times t;
  EXPECT_TRUE(host::TimespecToFileTime(st.st_atim, t.access));
  EXPECT_TRUE(host::TimespecToFileTime(st.st_mtim, t.write));
  return t;
}

uint64_t NtfsCreationTime(const fs::path& p) {
  uint8_t raw[8] = {};
  EXPECT_EQ(::lgetxattr(p.c_str(), "system.ntfs_crtime_be", raw, sizeof raw), 8) << p;
  uint64_t t = 0;
  for (uint8_t b : raw) t = (t << 8) | b;
  return t;
}

uint32_t AttributesOf(const fs::path& p) {
  uint32_t a = 0;
  EXPECT_TRUE(host::GetFileAttributes(host::ToEnginePath(p.string()), a)) << p;
  return a;
}

// The write time as the volume keeps it: FAT in two-second steps, rounded
// down; the others to 100 ns.
void ExpectWriteTime(VolumeKind kind, const fs::path& p, uint64_t expected) {
  uint64_t write = TimesOf(p).write;
  if (kind == VolumeKind::kFat32) {
    EXPECT_LE(write, expected) << p;
    EXPECT_GT(write + 2 * kSecond, expected) << p;
  } else {
    EXPECT_EQ(write, expected) << p;
  }
}

class RealFsRestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessera-realfs-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    archiveDir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(archiveDir_, ec);
  }

  std::unique_ptr<CQPXFile> Open(const ArchiveSpec& plan) {
    const fs::path path = archiveDir_ / "set.qpx";
    testsupport::WriteArchive(plan, path);
    OpenResult opened = OpenArchive(host::ToEnginePath(path.string()));
    EXPECT_EQ(opened.failure, OpenFailure::kNone);
    return std::move(opened.archive);
  }

  // Restores everything below C:\Data into `out` on the volume.
  bool Restore(CQPXFile& archive, const MountedVolume& volume, const ExtractProgress& progress = {}) {
    seen_.clear();
    RestoreTarget target{true, volume.EnginePath("out"), u"C:\\Data"};
    return QPXFile::RestoreArchive(archive, events_.Callback(), progress, target);
  }

  std::vector<int> Codes() const { return events_.Codes(); }
  bool Reported(int code, const fs::path& p) const { return events_.Reported(code, p); }

  fs::path archiveDir_;  // on the machine's own disk, never on the volume under test
  restoretest::EventRecorder events_;
  std::vector<restoretest::SeenEvent>& seen_ = events_.seen;
  std::map<int, bool>& answers_ = events_.answers;
};

// ---- A whole archive onto each kind of volume

ArchiveSpec NestedSet() {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data", 0x10, kFolderTime, kFolderTime, kFolderTime});
  plan.folders.push_back({u"C:\\Data\\Sub", 0x12, kFolderTime, kFolderTime, kFolderTime});
  plan.folders.push_back({u"C:\\Data\\Sub\\Deep", 0x10, kFolderTime, kFolderTime, kFolderTime});
  plan.folders.push_back({u"C:\\Data\\Empty", 0x10, kFolderTime, kFolderTime, kFolderTime});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"readme.txt", .data = Text("stored as it is\r\n"),
                          .attributes = 0x20, .created = kCreated, .accessed = kAccessed, .modified = kModified});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"packed.bin", .data = Pattern(120000, 1),
                          .method = Method::Imploded, .attributes = 0x21, .created = kCreated,
                          .accessed = kAccessed, .modified = kModified + 3 * kSecond});
  plan.entries.push_back({.folder = u"C:\\Data\\Sub", .name = u"system.dat", .data = Pattern(5000, 2),
                          .attributes = 0x27, .created = kCreated, .accessed = kAccessed,
                          .modified = kModified + 5 * kSecond});
  plan.entries.push_back({.folder = u"C:\\Data\\Sub\\Deep", .name = u"nothing.txt", .data = {},
                          .attributes = 0x20, .created = kCreated, .accessed = kAccessed, .modified = kModified});
  return plan;
}

class WholeArchive : public RealFsRestoreTest, public ::testing::WithParamInterface<VolumeKind> {};

TEST_P(WholeArchive, RestoresContentsTimesAndAttributesAsFarAsTheVolumeKeepsThem) {
  const VolumeKind kind = GetParam();
  MountedVolume volume(kind, kind == VolumeKind::kTmpfs ? 400 : 0);
  REQUIRE_MOUNTED(volume);
  ArchiveSpec plan = NestedSet();
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 2, 3, 2, 3, 4}));

  const fs::path out = volume.HostPath("out");
  const fs::path files[] = {out / "readme.txt", out / "packed.bin", out / "Sub" / "system.dat",
                            out / "Sub" / "Deep" / "nothing.txt"};
  // Times first: reading a file may move its access time.
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    SCOPED_TRACE(files[i].string());
    ExpectWriteTime(kind, files[i], plan.entries[i].modified);
    // fusefat shows the write time for the access time too.
    if (kind != VolumeKind::kFat32) {
      EXPECT_EQ(TimesOf(files[i]).access, kAccessed);
    }
    if (kind == VolumeKind::kNtfs) {
      EXPECT_EQ(NtfsCreationTime(files[i]), kCreated);
    }
  }
  for (const fs::path& folder : {out / "Sub", out / "Sub" / "Deep", out / "Empty"}) {
    SCOPED_TRACE(folder.string());
    ASSERT_TRUE(fs::is_directory(folder));
    ExpectWriteTime(kind, folder, kFolderTime);
  }

  for (size_t i = 0; i < plan.entries.size(); ++i) {
    SCOPED_TRACE(files[i].string());
    std::vector<uint8_t> restored = ReadFile(files[i]);
    EXPECT_EQ(restored, plan.entries[i].data);
    EXPECT_EQ(testsupport::EntryCrc(restored.data(), restored.size()),
              testsupport::EntryCrc(plan.entries[i].data.data(), plan.entries[i].data.size()));
  }

  // What the volume has no place for is told, file by file and folder by
  // folder, beside the events; NTFS keeps everything.
  const std::map<std::string, uint32_t>& notKept = events_.notKept;
  auto lost = [&](const fs::path& p) {
    auto it = notKept.find(p.string());
    return it == notKept.end() ? 0u : it->second;
  };
  switch (kind) {
    case VolumeKind::kNtfs:
      EXPECT_TRUE(notKept.empty());
      break;
    case VolumeKind::kTmpfs:
      EXPECT_EQ(lost(files[0]), 0x20u);
      EXPECT_EQ(lost(files[1]), 0x20u);
      EXPECT_EQ(lost(files[2]), 0x26u);
      EXPECT_EQ(lost(out / "Sub"), 0x02u);
      EXPECT_EQ(lost(out / "Empty"), 0u);
      break;
    case VolumeKind::kFat32:
      EXPECT_EQ(lost(files[1]), 0x21u) << "fusefat keeps no read-only either";
      EXPECT_EQ(lost(files[2]), 0x27u);
      EXPECT_EQ(lost(out / "Sub"), 0x02u);
      break;
  }

  switch (kind) {
    case VolumeKind::kNtfs:
      EXPECT_EQ(AttributesOf(files[0]), 0x20u);
      EXPECT_EQ(AttributesOf(files[1]), 0x21u);
      EXPECT_EQ(AttributesOf(files[2]), 0x27u);
      EXPECT_EQ(AttributesOf(out / "Sub"), 0x12u);
      break;
    case VolumeKind::kTmpfs:
      EXPECT_EQ(AttributesOf(files[0]), host::kAttributeNormal);
      EXPECT_EQ(AttributesOf(files[1]), host::kAttributeReadOnly);
      EXPECT_EQ(AttributesOf(files[2]), host::kAttributeReadOnly);
      EXPECT_EQ(AttributesOf(out / "Sub"), host::kAttributeDirectory);
      break;
    case VolumeKind::kFat32:
      // fusefat has no attribute interface at all.
      for (const fs::path& f : files) EXPECT_EQ(AttributesOf(f), host::kAttributeNormal) << f;
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(RealVolumes, WholeArchive,
                         ::testing::Values(VolumeKind::kNtfs, VolumeKind::kFat32, VolumeKind::kTmpfs),
                         [](const ::testing::TestParamInfo<VolumeKind>& info) {
                           return std::string(testsupport::VolumeKindName(info.param));
                         });

// ---- Names and obstacles as each volume takes them

// A Japanese name of 94 characters: 282 bytes of UTF-8, more than ext4 and
// tmpfs hold in a name, well within the 255 UTF-16 units of NTFS.
std::u16string LongName(char16_t tail) { return std::u16string(92, u'\u30D5') + tail + u'\u30EB'; }

TEST_P(WholeArchive, LongNamesAreKeptWhereTheyFitAndShortenedWhereNot) {
  const VolumeKind kind = GetParam();
  MountedVolume volume(kind, kind == VolumeKind::kTmpfs ? 400 : 0);
  REQUIRE_MOUNTED(volume);
  const std::u16string folder = LongName(u'D'), one = LongName(u'1') + u".txt", two = LongName(u'2') + u".txt";
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data", 0x10, kFolderTime, kFolderTime, kFolderTime});
  plan.folders.push_back({u"C:\\Data\\" + folder, 0x10, kFolderTime, kFolderTime, kFolderTime});
  plan.entries.push_back({.folder = u"C:\\Data\\" + folder, .name = one, .data = Text("one"), .modified = kModified});
  plan.entries.push_back({.folder = u"C:\\Data\\" + folder, .name = two, .data = Text("two"), .modified = kModified});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  if (kind == VolumeKind::kFat32) {
    // fusefat takes no name beyond ASCII at all: the folder is named, with
    // the driver's own reason, rather than blamed on its length.
    EXPECT_FALSE(Restore(*archive, volume));
    EXPECT_EQ(Codes(), (std::vector<int>{1, 258}));
    EXPECT_EQ(events_.First(258)->text, (fs::path(volume.HostPath("out")) / host::WideToUtf8(folder)).string());
    EXPECT_EQ(events_.First(258)->systemError, EPERM);
    return;
  }
  ASSERT_TRUE(Restore(*archive, volume));
  const bool shortened = kind == VolumeKind::kTmpfs;
  const auto name = [&](const std::u16string& n) {
    return host::WideToUtf8(shortened ? QPXFile::ShortenName(n) : n);
  };
  const fs::path out = fs::path(volume.HostPath("out")) / name(folder);
  if (shortened)
    EXPECT_EQ(Codes(), (std::vector<int>{1, 279, 279, 2, 3, 279, 2, 3, 4}));
  else
    EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 4}));
  EXPECT_EQ(ReadFile(out / name(one)), Text("one"));
  EXPECT_EQ(ReadFile(out / name(two)), Text("two"));
  ExpectWriteTime(kind, out, kFolderTime);
  ExpectWriteTime(kind, out / name(one), kModified);
}

TEST_P(WholeArchive, AnObstacleWhereAFolderGoesKeepsTheEntriesBelowItOffTheVolume) {
  const VolumeKind kind = GetParam();
  MountedVolume volume(kind, kind == VolumeKind::kTmpfs ? 400 : 0);
  REQUIRE_MOUNTED(volume);
  auto archive = Open(NestedSet());
  ASSERT_TRUE(archive);
  const fs::path out = volume.HostPath("out");
  fs::create_directories(out);
  const fs::path elsewhere = fs::path(volume.HostPath("elsewhere"));
  fs::create_directories(elsewhere);
  // A link where the restore goes into Sub; FAT holds no links, so a file
  // stands in the way there.
  std::error_code linkError;
  fs::create_directory_symlink(elsewhere, out / "Sub", linkError);
  const bool link = !linkError;
  if (!link) std::ofstream(out / "Sub") << "in the way";
  answers_[265] = true;
  if (link) {
    ASSERT_TRUE(Restore(*archive, volume));
    EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 277, 277, 4}));
    EXPECT_EQ(events_.First(277)->obstacle, RestoreObstacle::kLink);
    EXPECT_TRUE(fs::is_directory(out / "Empty"));
  } else {
    // The file in Sub cannot be created; the folder below Sub cannot be made.
    EXPECT_FALSE(Restore(*archive, volume));
    EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 3, 2, 3, 2, 259, 258}));
    EXPECT_EQ(ReadFile(out / "Sub"), Text("in the way"));
  }
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

// ---- Files of 4 GiB or more

ArchiveSpec HugeEntrySet() {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  EntrySpec huge{.folder = u"C:\\Data", .name = u"huge.bin", .data = Text("the check comes first")};
  huge.fileSize = 1ull << 32;
  plan.entries.push_back(huge);
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"after.txt", .data = Text("after")});
  return plan;
}

TEST_F(RealFsRestoreTest, FatRefusesAFileOf4GiB) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  auto archive = Open(HugeEntrySet());
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 274, 2, 3, 4}));
  EXPECT_TRUE(Reported(274, volume.HostPath("out/huge.bin")));
  EXPECT_FALSE(fs::exists(volume.HostPath("out/huge.bin")));
  EXPECT_EQ(ReadFile(volume.HostPath("out/after.txt")), Text("after"));

  answers_[274] = false;
  EXPECT_FALSE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 274}));
}

// A sparse image large enough that free space is no obstacle: NTFS takes the
// file, whose short data then fails the extraction instead.
TEST_F(RealFsRestoreTest, NtfsTakesAFileOf4GiB) {
  MountedVolume volume(VolumeKind::kNtfs, 5ull * 1024 * 1024);
  REQUIRE_MOUNTED(volume);
  auto archive = Open(HugeEntrySet());
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 273, 282, 2, 3, 4}));
  EXPECT_EQ(ReadFile(volume.HostPath("out/after.txt")), Text("after"));
}

// ---- Encrypted entries

ArchiveSpec EncryptedSet() {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"secret.bin", .data = Text("raw encrypted stream"),
                          .method = Method::Encrypted});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"plain.txt", .data = Text("plain")});
  return plan;
}

TEST_F(RealFsRestoreTest, EncryptedEntryOffNtfsIsRemovedAndReported) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  auto archive = Open(EncryptedSet());
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 267, 2, 3, 4}));
  EXPECT_TRUE(Reported(267, volume.HostPath("out/secret.bin")));
  EXPECT_FALSE(fs::exists(volume.HostPath("out/secret.bin")));
  EXPECT_EQ(ReadFile(volume.HostPath("out/plain.txt")), Text("plain"));
}

TEST_F(RealFsRestoreTest, EncryptedEntryOnNtfsCannotBeImportedAndLeavesNoEmptyFile) {
  MountedVolume volume(VolumeKind::kNtfs);
  REQUIRE_MOUNTED(volume);
  auto archive = Open(EncryptedSet());
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 271, 2, 3, 4}));
  EXPECT_TRUE(Reported(271, volume.HostPath("out/secret.bin")));
  EXPECT_FALSE(fs::exists(volume.HostPath("out/secret.bin")));
  EXPECT_EQ(ReadFile(volume.HostPath("out/plain.txt")), Text("plain"));
}

// ---- Compressed entries and folders

ArchiveSpec CompressedSet() {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data", 0x10});
  plan.folders.push_back({u"C:\\Data\\Packed", 0x812, kFolderTime, kFolderTime, kFolderTime});
  plan.entries.push_back({.folder = u"C:\\Data\\Packed", .name = u"squeezed.txt", .data = Pattern(30000, 3),
                          .method = Method::Imploded, .attributes = 0x823, .created = kCreated,
                          .accessed = kAccessed, .modified = kModified});
  return plan;
}

TEST_F(RealFsRestoreTest, FatGoesOnWithoutCompressionWhenTheUserAgrees) {
  MountedVolume volume(VolumeKind::kFat32);
  REQUIRE_MOUNTED(volume);
  ArchiveSpec plan = CompressedSet();
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 268, 3, 270, 4}));
  const fs::path file = volume.HostPath("out/Packed/squeezed.txt");
  EXPECT_TRUE(Reported(268, file));
  EXPECT_TRUE(Reported(270, volume.HostPath("out/Packed")));
  // Everything else of the file and its folder is restored all the same.
  ExpectWriteTime(VolumeKind::kFat32, file, kModified);
  ExpectWriteTime(VolumeKind::kFat32, volume.HostPath("out/Packed"), kFolderTime);
  EXPECT_EQ(ReadFile(file), plan.entries[0].data);

  // Refusing fails the attribute step of the file and the folder.
  answers_[265] = true;
  answers_[268] = false;
  answers_[270] = false;
  ASSERT_TRUE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 265, 268, 261, 3, 270, 275, 4}));
}

TEST_F(RealFsRestoreTest, NtfsKeepsWhatCompressionTheDriverAllows) {
  MountedVolume volume(VolumeKind::kNtfs);
  REQUIRE_MOUNTED(volume);
  ArchiveSpec plan = CompressedSet();
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));
  const fs::path folder = volume.HostPath("out/Packed");
  const fs::path file = folder / "squeezed.txt";
  // ntfs-3g takes the compressed bit on folders; on a file the host layer
  // says whether it did, and the user is asked only when it did not.
  EXPECT_FALSE(Reported(270, folder.string()));
  EXPECT_EQ(AttributesOf(folder), 0x812u);
  const uint32_t fileBits = AttributesOf(file);
  EXPECT_EQ(Reported(268, file), (fileBits & host::kAttributeCompressed) == 0);
  EXPECT_EQ(fileBits & ~host::kAttributeCompressed, 0x23u);
  EXPECT_EQ(Codes().back(), 4);
  EXPECT_TRUE(Reported(3, file));
  EXPECT_EQ(TimesOf(file).write, kModified);
  EXPECT_EQ(NtfsCreationTime(file), kCreated);
  EXPECT_EQ(ReadFile(file), plan.entries[0].data);
}

// ---- Running out of space

TEST_F(RealFsRestoreTest, TmpfsTooSmallForAFileSkipsItAndRestoresTheRest) {
  MountedVolume volume(VolumeKind::kTmpfs, 256);
  REQUIRE_MOUNTED(volume);
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"too-big.bin", .data = Pattern(300 * 1024, 4)});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"small.txt", .data = Text("fits")});
  // The record understates the size, so the check lets it through and the
  // data runs into the end of the volume while it is written.
  EntrySpec liar{.folder = u"C:\\Data", .name = u"liar.bin", .data = Pattern(300 * 1024, 5)};
  liar.fileSize = 1000;
  plan.entries.push_back(liar);
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"last.txt", .data = Text("still restored")});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);
  ASSERT_TRUE(Restore(*archive, volume));

  const fs::path out = volume.HostPath("out");
  const std::vector<int> codes = Codes();
  ASSERT_EQ(codes.size(), 10u) << ::testing::PrintToString(codes);
  EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + 6), (std::vector<int>{1, 2, 276, 2, 3, 2}));
  EXPECT_TRUE(codes[6] == 276 || codes[6] == 259) << codes[6];
  EXPECT_TRUE(Reported(codes[6], out / "liar.bin"));
  EXPECT_EQ(std::vector<int>(codes.begin() + 7, codes.end()), (std::vector<int>{2, 3, 4}));
  EXPECT_TRUE(Reported(276, out / "too-big.bin"));
  EXPECT_FALSE(fs::exists(out / "too-big.bin"));
  EXPECT_FALSE(Reported(3, out / "liar.bin"));
  EXPECT_FALSE(fs::exists(out / "liar.bin"));  // a cut-off file is not left behind
  EXPECT_EQ(ReadFile(out / "small.txt"), Text("fits"));
  EXPECT_EQ(ReadFile(out / "last.txt"), Text("still restored"));

  // Stopping at the first full-volume question ends the run there.
  answers_[276] = false;
  answers_[265] = true;
  EXPECT_FALSE(Restore(*archive, volume));
  EXPECT_EQ(Codes(), (std::vector<int>{1, 2, 276}));
}

// Another program fills the volume while a file is being written.
TEST_F(RealFsRestoreTest, TmpfsFilledDuringAWriteIsReportedNotLeftShort) {
  MountedVolume volume(VolumeKind::kTmpfs, 320);
  REQUIRE_MOUNTED(volume);
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  plan.entries.push_back({.folder = u"C:\\Data", .name = u"victim.bin", .data = Pattern(100 * 1024, 6),
                          .method = Method::Imploded});
  auto archive = Open(plan);
  ASSERT_TRUE(archive);

  bool filled = false;
  const std::string filler = volume.HostPath("filler");
  ExtractProgress fillOnce = [&](uint64_t) {
    if (!filled) {
      filled = true;
      int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      EXPECT_GE(fd, 0);
      std::vector<char> block(4096, 'f');
      while (::write(fd, block.data(), block.size()) > 0) {
      }
      ::close(fd);
    }
    return true;
  };
  ASSERT_TRUE(Restore(*archive, volume, fillOnce));
  ASSERT_TRUE(filled);
  const fs::path victim = volume.HostPath("out/victim.bin");
  const std::vector<int> codes = Codes();
  ASSERT_EQ(codes.size(), 4u) << ::testing::PrintToString(codes);
  EXPECT_TRUE(codes[2] == 276 || codes[2] == 259) << codes[2];
  EXPECT_TRUE(Reported(codes[2], victim));
  EXPECT_FALSE(Reported(3, victim));
  EXPECT_FALSE(fs::exists(victim));
}

}  // namespace
