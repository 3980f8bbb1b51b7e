#include "host/file_attributes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "host/host_path.h"

namespace {

namespace fs = std::filesystem;

// A scratch folder on the machine's own file system, as engine and host path.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessera_attrs_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    host::SetExtendedAttributes(nullptr);
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(root_, ec);
  }
  std::string Host(const std::string& name) const { return root_ + "/" + name; }
  std::u16string Engine(const std::string& name) const { return host::ToEnginePath(Host(name)); }
  void Write(const std::string& name, const std::string& text) const { std::ofstream(Host(name)) << text; }
  std::string Read(const std::string& name) const {
    std::ifstream in(Host(name));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  struct stat Lstat(const std::string& name) const {
    struct stat st {};
    EXPECT_EQ(::lstat(Host(name).c_str(), &st), 0) << name;
    return st;
  }

  std::string root_;
};

using Folders = ScratchFolder;

TEST_F(Folders, CreateReportsExistingFoldersApartFromFailure) {
  EXPECT_EQ(host::CreateFolder(Engine("new")), host::CreateFolderResult::kCreated);
  EXPECT_TRUE(fs::is_directory(Host("new")));
  EXPECT_EQ(host::CreateFolder(Engine("new")), host::CreateFolderResult::kExists);

  EXPECT_EQ(host::CreateFolder(Engine("missing/child")), host::CreateFolderResult::kFailed);
  Write("file", "x");
  EXPECT_EQ(host::CreateFolder(Engine("file")), host::CreateFolderResult::kFailed);
  // A link to a folder is not taken for a folder to restore into.
  fs::create_directory_symlink(Host("new"), Host("link"));
  EXPECT_EQ(host::CreateFolder(Engine("link")), host::CreateFolderResult::kFailed);
  EXPECT_EQ(host::CreateFolder(u"C:\\Windows"), host::CreateFolderResult::kFailed);
}

TEST_F(Folders, PathKindLooksAtTheLinkNotItsTarget) {
  Write("file", "x");
  fs::create_directory(Host("dir"));
  fs::create_symlink(Host("nowhere"), Host("dangling"));
  fs::create_symlink(Host("file"), Host("to_file"));

  EXPECT_EQ(host::GetPathKind(Engine("file")), host::PathKind::kFile);
  EXPECT_EQ(host::GetPathKind(Engine("dir")), host::PathKind::kFolder);
  EXPECT_EQ(host::GetPathKind(Engine("dangling")), host::PathKind::kSymbolicLink);
  EXPECT_EQ(host::GetPathKind(Engine("to_file")), host::PathKind::kSymbolicLink);
  EXPECT_EQ(host::GetPathKind(Engine("absent")), host::PathKind::kMissing);
  EXPECT_EQ(host::GetPathKind(Engine("file/below")), host::PathKind::kMissing);
  EXPECT_EQ(host::GetPathKind(u"D:\\x"), host::PathKind::kUnknown);

  EXPECT_TRUE(host::PathExists(Engine("dangling")));
  EXPECT_FALSE(host::PathExists(Engine("absent")));
}

using OutputFiles = ScratchFolder;

TEST_F(OutputFiles, ExistingFileIsTruncated) {
  Write("out", "old contents");
  ASSERT_TRUE(host::CreateFileForWriting(Engine("out")));
  EXPECT_EQ(fs::file_size(Host("out")), 0u);
  ASSERT_TRUE(host::CreateFileForWriting(Engine("fresh")));
  EXPECT_TRUE(fs::is_regular_file(Host("fresh")));
}

TEST_F(OutputFiles, SymbolicLinkIsReplacedAndItsTargetLeftUntouched) {
  Write("precious", "keep me");
  fs::create_symlink(Host("precious"), Host("out"));
  ASSERT_TRUE(host::CreateFileForWriting(Engine("out")));

  EXPECT_FALSE(fs::is_symlink(Host("out")));
  EXPECT_TRUE(fs::is_regular_file(Host("out")));
  EXPECT_EQ(Read("precious"), "keep me");

  // A dangling link must not make its target appear either.
  fs::create_symlink(Host("phantom"), Host("out2"));
  ASSERT_TRUE(host::CreateFileForWriting(Engine("out2")));
  EXPECT_FALSE(fs::exists(Host("phantom")));
}

TEST_F(OutputFiles, FolderInTheWayFails) {
  fs::create_directory(Host("dir"));
  EXPECT_FALSE(host::CreateFileForWriting(Engine("dir")));
  EXPECT_FALSE(host::CreateFileForWriting(Engine("absent/out")));
}

TEST_F(OutputFiles, DeleteRemovesTheLinkNeverItsTargetNorAFolder) {
  Write("precious", "keep me");
  fs::create_symlink(Host("precious"), Host("link"));
  EXPECT_TRUE(host::DeleteFile(Engine("link")));
  EXPECT_FALSE(fs::is_symlink(Host("link")));
  EXPECT_EQ(Read("precious"), "keep me");

  fs::create_directory(Host("dir"));
  EXPECT_FALSE(host::DeleteFile(Engine("dir")));
  EXPECT_TRUE(fs::is_directory(Host("dir")));
  EXPECT_FALSE(host::DeleteFile(Engine("absent")));
}

using Attributes = ScratchFolder;

TEST_F(Attributes, ReadOnlyRoundTripThroughPermissionBits) {
  Write("f", "x");
  ::chmod(Host("f").c_str(), 0664);
  uint32_t applied = 0;
  ASSERT_TRUE(host::SetFileAttributes(Engine("f"), host::kAttributeReadOnly | host::kAttributeArchive, &applied));
  EXPECT_EQ(Lstat("f").st_mode & 0777, 0444u);
  EXPECT_EQ(applied, host::kAttributeReadOnly);  // archive is not kept here
  uint32_t attributes = 0;
  ASSERT_TRUE(host::GetFileAttributes(Engine("f"), attributes));
  EXPECT_EQ(attributes, host::kAttributeReadOnly);

  ASSERT_TRUE(host::SetFileAttributes(Engine("f"), host::kAttributeNormal, &applied));
  EXPECT_NE(Lstat("f").st_mode & S_IWUSR, 0u);
  EXPECT_EQ(Lstat("f").st_mode & 0444, 0444u);  // read bits untouched
  EXPECT_EQ(applied, host::kAttributeNormal);
  ASSERT_TRUE(host::GetFileAttributes(Engine("f"), attributes));
  EXPECT_EQ(attributes, host::kAttributeNormal);
}

TEST_F(Attributes, UnsupportedBitsAreReportedNotKept) {
  Write("f", "x");
  uint32_t requested = host::kAttributeHidden | host::kAttributeSystem | host::kAttributeArchive |
                       host::kAttributeCompressed | host::kAttributeEncrypted;
  uint32_t applied = 0xFFFFFFFF;
  ASSERT_TRUE(host::SetFileAttributes(Engine("f"), requested, &applied));
  EXPECT_EQ(applied, 0u);
}

TEST_F(Attributes, ReadOnlyFolderStaysUsable) {
  fs::create_directory(Host("dir"));
  mode_t before = Lstat("dir").st_mode;
  uint32_t applied = 0;
  ASSERT_TRUE(host::SetFileAttributes(Engine("dir"), host::kAttributeDirectory | host::kAttributeReadOnly, &applied));
  EXPECT_EQ(Lstat("dir").st_mode, before);
  EXPECT_EQ(applied, host::kAttributeDirectory);
}

TEST_F(Attributes, SymbolicLinkAndMissingPathFail) {
  Write("target", "x");
  ::chmod(Host("target").c_str(), 0644);
  fs::create_symlink(Host("target"), Host("link"));
  EXPECT_FALSE(host::SetFileAttributes(Engine("link"), host::kAttributeReadOnly));
  EXPECT_EQ(Lstat("target").st_mode & 0777, 0644u);
  EXPECT_FALSE(host::SetFileAttributes(Engine("absent"), host::kAttributeNormal));
}

// Plays ntfs-3g: every path in `values` is on NTFS.
class FakeNtfs : public host::ExtendedAttributes {
 public:
  bool Get(const std::string& path, const char* name, std::vector<uint8_t>& value) override {
    auto it = values.find({path, name});
    if (it == values.end()) return false;
    value = it->second;
    return true;
  }
  bool Set(const std::string& path, const char* name, const std::vector<uint8_t>& value) override {
    if (!values.count({path, "system.ntfs_attrib_be"})) return false;
    std::vector<uint8_t> stored = value;
    // Like a driver that cannot compress: the bit never sticks.
    if (dropCompression && std::string(name) == "system.ntfs_attrib_be") stored[2] &= ~0x08;
    values[{path, name}] = stored;
    return true;
  }
  void OnNtfs(const std::string& path, uint32_t bits) {
    values[{path, "system.ntfs_attrib_be"}] = {uint8_t(bits >> 24), uint8_t(bits >> 16), uint8_t(bits >> 8),
                                               uint8_t(bits)};
  }
  std::vector<uint8_t> Value(const std::string& path, const char* name) { return values[{path, name}]; }

  std::map<std::pair<std::string, std::string>, std::vector<uint8_t>> values;
  bool dropCompression = false;
};

using NtfsAttributes = ScratchFolder;

TEST_F(NtfsAttributes, ManagedBitsAreReplacedAndOthersSurvive) {
  Write("f", "x");
  FakeNtfs ntfs;
  ntfs.OnNtfs(Host("f"), 0x00000221);  // sparse (0x200), archive, read-only
  host::SetExtendedAttributes(&ntfs);

  uint32_t applied = 0;
  ASSERT_TRUE(host::SetFileAttributes(Engine("f"), host::kAttributeHidden | host::kAttributeSystem, &applied));
  EXPECT_EQ(applied, host::kAttributeHidden | host::kAttributeSystem);
  EXPECT_EQ(ntfs.Value(Host("f"), "system.ntfs_attrib_be"), (std::vector<uint8_t>{0, 0, 0x02, 0x06}));
  EXPECT_NE(Lstat("f").st_mode & S_IWUSR, 0u);

  uint32_t attributes = 0;
  ASSERT_TRUE(host::GetFileAttributes(Engine("f"), attributes));
  EXPECT_EQ(attributes, 0x206u);

  // Clearing the last bit leaves the word Windows uses for a plain file.
  ntfs.OnNtfs(Host("f"), host::kAttributeArchive);
  ASSERT_TRUE(host::SetFileAttributes(Engine("f"), host::kAttributeNormal, &applied));
  EXPECT_EQ(ntfs.Value(Host("f"), "system.ntfs_attrib_be"), (std::vector<uint8_t>{0, 0, 0, 0x80}));
}

TEST_F(NtfsAttributes, CreationTimeIsStoredBigEndian) {
  Write("f", "x");
  FakeNtfs ntfs;
  ntfs.OnNtfs(Host("f"), host::kAttributeArchive);
  host::SetExtendedAttributes(&ntfs);

  bool kept = false;
  ASSERT_TRUE(host::SetFileTimes(Engine("f"), 0x01D2030405060708ull, 0, 0, &kept));
  EXPECT_TRUE(kept);
  EXPECT_EQ(ntfs.Value(Host("f"), "system.ntfs_crtime_be"),
            (std::vector<uint8_t>{0x01, 0xD2, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}));

  // Off NTFS the creation time is reported lost, the rest still succeeds.
  Write("g", "x");
  ASSERT_TRUE(host::SetFileTimes(Engine("g"), 0x01D2030405060708ull, 0, 0, &kept));
  EXPECT_FALSE(kept);
}

TEST_F(NtfsAttributes, CompressionOnlyWhereTheDriverKeepsIt) {
  Write("f", "x");
  EXPECT_EQ(host::SetCompression(Engine("f"), true), host::CompressionResult::kNotSupported);
  EXPECT_EQ(host::SetCompression(Engine("absent"), true), host::CompressionResult::kFailed);

  FakeNtfs ntfs;
  ntfs.OnNtfs(Host("f"), host::kAttributeArchive);
  host::SetExtendedAttributes(&ntfs);
  EXPECT_EQ(host::SetCompression(Engine("f"), true), host::CompressionResult::kDone);
  EXPECT_EQ(ntfs.Value(Host("f"), "system.ntfs_attrib_be"), (std::vector<uint8_t>{0, 0, 0x08, 0x20}));
  // SetFileAttributes does not own the compressed bit and leaves it alone.
  ASSERT_TRUE(host::SetFileAttributes(Engine("f"), host::kAttributeReadOnly | host::kAttributeCompressed));
  EXPECT_EQ(ntfs.Value(Host("f"), "system.ntfs_attrib_be"), (std::vector<uint8_t>{0, 0, 0x08, 0x01}));

  ntfs.OnNtfs(Host("f"), host::kAttributeArchive);
  ntfs.dropCompression = true;
  EXPECT_EQ(host::SetCompression(Engine("f"), true), host::CompressionResult::kNotSupported);
}

TEST(TimeConversion, FileTimeToTimespecAroundTheUnixEpoch) {
  timespec t = host::FileTimeToTimespec(host::kFileTimeUnixEpoch);
  EXPECT_EQ(t.tv_sec, 0);
  EXPECT_EQ(t.tv_nsec, 0);

  t = host::FileTimeToTimespec(host::kFileTimeUnixEpoch + 12345678901ull);  // 1234.5678901 s
  EXPECT_EQ(t.tv_sec, 1234);
  EXPECT_EQ(t.tv_nsec, 567890100);

  // 100 ns before 1970: the seconds go negative, the fraction stays positive.
  t = host::FileTimeToTimespec(host::kFileTimeUnixEpoch - 1);
  EXPECT_EQ(t.tv_sec, -1);
  EXPECT_EQ(t.tv_nsec, 999999900);

  t = host::FileTimeToTimespec(0);
  EXPECT_EQ(t.tv_sec, -11644473600);
  EXPECT_EQ(t.tv_nsec, 0);

  t = host::FileTimeToTimespec(UINT64_MAX);
  EXPECT_EQ(t.tv_sec, static_cast<time_t>(UINT64_MAX / 10000000) - 11644473600);
  EXPECT_EQ(t.tv_nsec, 955161500);
}

TEST(TimeConversion, TimespecToFileTimeRoundsDownAndRefusesTheUnrepresentable) {
  uint64_t ft = 0;
  ASSERT_TRUE(host::TimespecToFileTime({-1, 999999999}, ft));
  EXPECT_EQ(ft, host::kFileTimeUnixEpoch - 1);
  ASSERT_TRUE(host::TimespecToFileTime({-11644473600, 0}, ft));
  EXPECT_EQ(ft, 0u);

  for (uint64_t value : {uint64_t{1}, host::kFileTimeUnixEpoch - 7, uint64_t{0x01D2030405060708}, UINT64_MAX}) {
    ASSERT_TRUE(host::TimespecToFileTime(host::FileTimeToTimespec(value), ft)) << value;
    EXPECT_EQ(ft, value);
  }

  ft = 42;
  EXPECT_FALSE(host::TimespecToFileTime({-11644473601, 999999999}, ft));  // before 1601
  EXPECT_FALSE(host::TimespecToFileTime({0, 1000000000}, ft));
  EXPECT_FALSE(host::TimespecToFileTime({0, -1}, ft));
  EXPECT_FALSE(host::TimespecToFileTime({INT64_MAX, 0}, ft));
  EXPECT_EQ(ft, 42u);
}

using Times = ScratchFolder;

TEST_F(Times, AccessAndWriteTimesReadBackWithFullPrecision) {
  Write("f", "x");
  const uint64_t access = host::kFileTimeUnixEpoch + 16000000000000000ull + 1234567;  // 100-ns units
  const uint64_t write = 0x0190000000000001ull;  // before 1970, odd tick
  ASSERT_TRUE(host::SetFileTimes(Engine("f"), 0, access, write));

  struct stat st = Lstat("f");
  uint64_t got = 0;
  ASSERT_TRUE(host::TimespecToFileTime(st.st_atim, got));
  EXPECT_EQ(got, access);
  EXPECT_EQ(st.st_atim.tv_nsec, 123456700);
  ASSERT_TRUE(host::TimespecToFileTime(st.st_mtim, got));
  EXPECT_EQ(got, write);
  EXPECT_LT(st.st_mtim.tv_sec, 0);
}

TEST_F(Times, ZeroLeavesATimeAsItIs) {
  Write("f", "x");
  const uint64_t write = host::kFileTimeUnixEpoch + 10000000ull * 1000000;
  ASSERT_TRUE(host::SetFileTimes(Engine("f"), 0, 0, write));
  timespec accessBefore = Lstat("f").st_atim;

  const uint64_t access = host::kFileTimeUnixEpoch + 10000000ull * 2000000;
  ASSERT_TRUE(host::SetFileTimes(Engine("f"), 0, access, 0));
  struct stat st = Lstat("f");
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000);
  EXPECT_EQ(st.st_atim.tv_sec, 2000000);
  EXPECT_NE(accessBefore.tv_sec, 2000000);

  ASSERT_TRUE(host::SetFileTimes(Engine("f"), 0, 0, 0));
  EXPECT_EQ(Lstat("f").st_mtim.tv_sec, 1000000);
}

TEST_F(Times, LinkTargetKeepsItsTimes) {
  Write("target", "x");
  fs::create_symlink(Host("target"), Host("link"));
  timespec before = Lstat("target").st_mtim;
  ASSERT_TRUE(host::SetFileTimes(Engine("link"), 0, 0, host::kFileTimeUnixEpoch + 10000000ull));
  EXPECT_EQ(Lstat("target").st_mtim.tv_sec, before.tv_sec);
  EXPECT_EQ(Lstat("link").st_mtim.tv_sec, 1);
  EXPECT_FALSE(host::SetFileTimes(Engine("absent"), 0, 1, 1));
}

using Encryption = ScratchFolder;

TEST_F(Encryption, RawImportIsRefusedWithoutTouchingAnything) {
  bool pulled = false;
  host::RawSource source = [&](uint8_t*, uint32_t& length) {
    pulled = true;
    length = 0;
    return true;
  };
  EXPECT_EQ(host::ImportEncryptedRaw(Engine("secret"), source), host::EncryptionResult::kNotSupportedOnPlatform);
  EXPECT_FALSE(pulled);
  EXPECT_FALSE(fs::exists(Host("secret")));
  fs::create_directory(Host("dir"));
  EXPECT_EQ(host::EncryptFolder(Engine("dir")), host::EncryptionResult::kNotSupportedOnPlatform);
}

}  // namespace
