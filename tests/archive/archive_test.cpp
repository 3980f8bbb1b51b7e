// Opening archives of every kind through the factory and reading their entries.
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"
#include "entry/crc32.h"
#include "host/host_path.h"
#include "io/qpx_file_io.h"
#include "io/volume_source.h"
#include "support/archive_writer.h"
#include "support/corrupt.h"
#include "support/memory_io.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace QPXFile;
using namespace testsupport;

namespace {

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessera-archive-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const ArchiveSpec& plan, const std::string& name = "a.qpx") {
    fs::path p = dir_ / name;
    WriteArchive(plan, p, &layout_);
    return p;
  }
  static std::u16string Engine(const fs::path& p) { return host::ToEnginePath(p.string()); }

  static OpenResult OpenPath(const fs::path& p) { return OpenArchive(Engine(p)); }

  // Every entry's data, extracted, with its CRC checked against the record.
  static std::vector<std::vector<uint8_t>> ExtractAll(CQPXFile& archive) {
    std::vector<std::vector<uint8_t>> out;
    for (long i = 0; i < archive.GetEntryCount(); ++i) {
      MemoryIO sink({}, kModeCreate);
      uint32_t crc = 0;
      EXPECT_TRUE(archive.GetEntryData(i)->Extract(sink, crc, {})) << "entry " << i;
      EXPECT_EQ(crc, archive.GetEntryHeader(i)->GetCrc32()) << "entry " << i;
      out.push_back(sink.bytes());
    }
    return out;
  }

  static ArchiveSpec Simple(const std::string& formatId) {
    ArchiveSpec plan;
    plan.formatId = formatId;
    plan.folders = {{u"C:\\Data"}, {u"C:\\Data\\Sub"}};
    plan.fileList = {{u"C:\\Data", 1}};
    plan.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = Bytes("hello")});
    plan.entries.push_back(
        {.folder = u"C:\\Data\\Sub", .name = u"b.bin", .data = NoiseBytes(5000, 3), .method = Method::Imploded});
    plan.entries.push_back({.folder = u"C:", .name = u"root.txt", .data = {}});
    return plan;
  }

  fs::path dir_;
  ArchiveLayout layout_;
};

TEST_F(ArchiveTest, FactoryPicksTheClassFromTheIdentifier) {
  struct Case {
    const char* id;
    bool extend, unicode, faked;
  } cases[] = {{"QPX1.0  ", true, false, false},
               {"QPX2.0  ", true, false, false},
               {"QPX3.0  ", true, true, false},
               {"F_QPX1.0", true, false, true},
               {"F_QPX2.0", true, true, true}};
  CQPXFileFactory factory;
  for (const Case& c : cases) {
    ArchiveSpec plan = Simple(c.id);
    const fs::path p = Write(plan);
    std::unique_ptr<CQPXFile> archive(factory.CreateFromFile(Engine(p)));
    ASSERT_NE(archive, nullptr) << c.id;
    EXPECT_FALSE(archive->IsOpen());
    EXPECT_EQ(dynamic_cast<CUQPXFileExtend*>(archive.get()) != nullptr, c.unicode) << c.id;
    EXPECT_EQ(dynamic_cast<CFakedQPXFile*>(archive.get()) != nullptr ||
                  dynamic_cast<CFakedUQPXFile*>(archive.get()) != nullptr,
              c.faked)
        << c.id;
  }
}

// Each test runs in a process of its own, so these threads are the first to
// read the identifier table: under the thread sanitizer a table filled
// without a guard is reported here.
TEST_F(ArchiveTest, ThreadsOpeningTheFirstArchivesTogetherAllSucceed) {
  const fs::path p = Write(Simple("QPX3.0  "));
  std::atomic<int> opened{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      if (OpenArchive(Engine(p)).archive) ++opened;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(opened, 4);
}

TEST_F(ArchiveTest, IdentifiersAreComparedExactly) {
  CQPXFileFactory factory;
  for (const char* id : {"QPX2.0 ", "qpx2.0  ", "QPX2.0\0\0", "QPX4.0  "}) {
    ArchiveSpec plan = Simple("QPX2.0  ");
    plan.formatId = std::string(id, 8);
    plan.layout = Layout::Ansi;
    const fs::path p = Write(plan);
    EXPECT_EQ(factory.CreateFromFile(Engine(p)), nullptr) << id;
  }
  EXPECT_EQ(factory.CreateFromFile(Engine(dir_ / "missing.qpx")), nullptr);
  const fs::path tiny = dir_ / "tiny.qpx";
  WriteFileBytes(tiny, Bytes("QPX2.0  "));
  EXPECT_EQ(factory.CreateFromFile(Engine(tiny)), nullptr);
}

TEST_F(ArchiveTest, EveryKindLoadsItsEntriesAndFolders) {
  for (const char* id : {"QPX1.0  ", "QPX2.0  ", "QPX3.0  "}) {
    ArchiveSpec plan = Simple(id);
    OpenResult r = OpenPath(Write(plan));
    ASSERT_EQ(r.failure, OpenFailure::kNone) << id;
    CQPXFile& archive = *r.archive;
    EXPECT_TRUE(archive.IsLoaded());
    ASSERT_EQ(archive.GetEntryCount(), 3);
    std::u16string path;
    ASSERT_TRUE(archive.GetEntryPath(path, 1));
    EXPECT_EQ(path, u"C:\\Data\\Sub\\b.bin");
    ASSERT_TRUE(archive.GetEntryPath(path, 2));
    EXPECT_EQ(path, u"C:\\root.txt");  // a root file's folder is the bare drive
    auto* extend = dynamic_cast<CQPXFileExtend*>(&archive);
    ASSERT_NE(extend, nullptr);
    EXPECT_EQ(extend->GetFolderList()->GetFolderCount(), 2);
    // "QPX1.0  " has section level 0: no file list is read.
    EXPECT_EQ(extend->GetFileList()->GetFileCount(), std::string(id) == "QPX1.0  " ? 0 : 1) << id;
    auto data = ExtractAll(archive);
    EXPECT_EQ(data[0], Bytes("hello"));
    EXPECT_EQ(data[1], NoiseBytes(5000, 3));
    EXPECT_TRUE(data[2].empty());
    uint64_t total = 0;
    ASSERT_TRUE(archive.GetTotalFileSize(total));
    EXPECT_EQ(total, 5005u);
  }
}

TEST_F(ArchiveTest, SectionLevelsSkipTheirSection) {
  for (uint32_t level : {1u, 2u}) {
    ArchiveSpec plan = Simple("QPX3.0  ");
    plan.sectionLevel = level;
    OpenResult r = OpenPath(Write(plan));
    ASSERT_EQ(r.failure, OpenFailure::kNone) << level;
    auto* extend = dynamic_cast<CUQPXFileExtend*>(r.archive.get());
    EXPECT_EQ(extend->GetFolderList()->GetFolderCount(), level == 1 ? 0 : 2);
    EXPECT_EQ(extend->GetFileList()->GetFileCount(), 1);
    EXPECT_EQ(ExtractAll(*r.archive)[0], Bytes("hello"));
  }
}

TEST_F(ArchiveTest, HeaderOnlyArchivesLoadWithoutEntries) {
  for (const char* id : {"F_QPX1.0", "F_QPX2.0"}) {
    OpenResult r = OpenPath(Write(Simple(id)));
    ASSERT_EQ(r.failure, OpenFailure::kNone) << id;
    CQPXFile& archive = *r.archive;
    EXPECT_FALSE(archive.IsLoaded());
    EXPECT_TRUE(archive.Load());  // reads the header again, still not "loaded"
    EXPECT_EQ(archive.GetEntryCount(), 0);
    EXPECT_EQ(archive.FindEntry(u"C:\\Data\\a.txt"), -1);
    EXPECT_EQ(archive.GetEntry(0), nullptr);
    std::u16string path = u"x";
    EXPECT_FALSE(archive.GetEntryPath(path, 0));
    EXPECT_TRUE(path.empty());
  }
}

TEST_F(ArchiveTest, OpeningTwiceFailsAndKeepsTheFirst) {
  const fs::path p = Write(Simple("QPX3.0  "));
  OpenResult r = OpenPath(p);
  ASSERT_EQ(r.failure, OpenFailure::kNone);
  EXPECT_FALSE(r.archive->Open(Engine(p), kModeRead));
  EXPECT_EQ(r.archive->GetEntryCount(), 3);
  EXPECT_EQ(ExtractAll(*r.archive)[0], Bytes("hello"));
  EXPECT_TRUE(r.archive->Close());
  EXPECT_FALSE(r.archive->IsOpen());
  EXPECT_EQ(r.archive->GetEntryCount(), 0);
}

TEST_F(ArchiveTest, FindEntryIgnoresCaseIncludingWideLetters) {
  ArchiveSpec plan = Simple("QPX3.0  ");
  plan.entries.push_back({.folder = u"C:\\Ｄａｔａ", .name = u"Ä.txt", .data = Bytes("x")});
  OpenResult r = OpenPath(Write(plan));
  ASSERT_EQ(r.failure, OpenFailure::kNone);
  EXPECT_EQ(r.archive->FindEntry(u"c:\\data\\SUB\\B.BIN"), 1);
  EXPECT_EQ(r.archive->FindEntry(u"c:\\ｄＡＴＡ\\ä.TXT"), 3);
  EXPECT_EQ(r.archive->FindEntry(u"C:\\Data\\a.txt"), 0);
  EXPECT_EQ(r.archive->FindEntry(u"C:\\Data\\a.txt2"), -1);
}

TEST_F(ArchiveTest, SplitArchiveReadsAcrossVolumes) {
  ArchiveSpec plan = Simple("QPX3.0  ");
  plan.entries.push_back(
      {.folder = u"C:\\Data", .name = u"big.bin", .data = NoiseBytes(20000, 9), .method = Method::Stored});
  plan.volumeSize = 1000;
  const fs::path p = Write(plan);
  ASSERT_TRUE(fs::exists(VolumePath(p, 20)));
  OpenResult r = OpenPath(p);
  ASSERT_EQ(r.failure, OpenFailure::kNone) << static_cast<int>(r.load.failure);
  EXPECT_TRUE(r.archive->GetIO()->IsSplit());
  auto data = ExtractAll(*r.archive);
  EXPECT_EQ(data[3], NoiseBytes(20000, 9));
  EXPECT_EQ(data[1], NoiseBytes(5000, 3));
  // The archive CRC covers the whole archive, not the volume files.
  std::vector<uint8_t> image = BuildArchiveImage(plan);
  EXPECT_EQ(r.archive->ComputeCRC(), Crc32Update(image.data(), image.size(), 0xFFFFFFFF));
}

TEST_F(ArchiveTest, SplitArchiveOpensFromMemoryVolumes) {
  ArchiveSpec plan = Simple("QPX3.0  ");
  plan.entries.push_back(
      {.folder = u"C:\\Data", .name = u"big.bin", .data = NoiseBytes(20000, 9), .method = Method::Stored});
  plan.volumeSize = 1000;
  const fs::path p = Write(plan);
  // The volumes are served under a folder that does not exist on the host,
  // and the files on disk are gone before the archive is opened.
  const std::u16string base = u"Z:\\nowhere\\in memory\\a.qpx";
  CMemoryVolumes volumes;
  volumes.Add(base, ReadFileBytes(p));
  for (int k = 1; fs::exists(VolumePath(p, k)); ++k)
  {
    const std::string digits = std::to_string(k);
    volumes.Add(base + u"." + std::u16string(digits.begin(), digits.end()), ReadFileBytes(VolumePath(p, k)));
  }
  fs::remove_all(dir_);

  std::vector<std::vector<uint8_t>> data;
  {
    CScopedVolumeSource source(volumes);
    OpenResult r = OpenArchive(base);
    ASSERT_EQ(r.failure, OpenFailure::kNone) << static_cast<int>(r.load.failure);
    EXPECT_TRUE(r.archive->GetIO()->IsSplit());
    data = ExtractAll(*r.archive);
    // A source serves reading only, and only the files it holds.
    CQPXFileIO writer;
    EXPECT_FALSE(writer.Open(base, kModeCreate));
    EXPECT_FALSE(writer.Open(u"Z:\\nowhere\\in memory\\other.qpx", kModeRead));
    EXPECT_EQ(writer.GetSystemError(), ENOENT);
  }
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[3], NoiseBytes(20000, 9));
  EXPECT_EQ(data[1], NoiseBytes(5000, 3));
  // Without the source the same path names nothing.
  EXPECT_EQ(OpenArchive(base).failure, OpenFailure::kCannotOpen);
}

TEST_F(ArchiveTest, BrokenVolumeChainsFailTheLoad) {
  ArchiveSpec plan = Simple("QPX3.0  ");
  plan.entries[1].data = NoiseBytes(9000, 4);
  plan.volumeSize = 2000;
  plan.missingVolumes = {3};
  OpenResult r = OpenPath(Write(plan, "missing.qpx"));
  ASSERT_EQ(r.failure, OpenFailure::kLoad);
  EXPECT_EQ(r.load.failure, LoadFailure::kVolume);
  EXPECT_EQ(r.load.division, DivisionError::kVolumeMissing);
  EXPECT_EQ(r.load.volumePath, Engine(VolumePath(dir_ / "missing.qpx", 3)));

  plan.missingVolumes.clear();
  plan.volumeHeadPatches = {{.volume = 2, .time = 1}};
  r = OpenPath(Write(plan, "foreign.qpx"));
  ASSERT_EQ(r.failure, OpenFailure::kLoad);
  EXPECT_EQ(r.load.division, DivisionError::kVolumeForeign);
}

TEST_F(ArchiveTest, DamagedSectionsAreReportedWithTheirPlace) {
  ArchiveSpec plan = Simple("QPX3.0  ");
  plan.tags.categoryInfo = "Categoryinfo";
  OpenResult r = OpenPath(Write(plan));
  ASSERT_EQ(r.failure, OpenFailure::kLoad);
  EXPECT_EQ(r.load.failure, LoadFailure::kSection);
  EXPECT_EQ(r.load.section, u"CategoryInfo");
  EXPECT_EQ(r.load.offset, *layout_.categoryInfo);
}

TEST_F(ArchiveTest, EntryCountsBeyondTheFileFailAtOnce) {
  ArchiveSpec plan = Simple("QPX2.0  ");
  plan.entryCount = 4000000000u;
  OpenResult r = OpenPath(Write(plan));
  ASSERT_EQ(r.failure, OpenFailure::kLoad);
  EXPECT_EQ(r.load.failure, LoadFailure::kEntryCount);

  plan.entryCount = 5;  // two more than present: the walk fails at the fourth
  r = OpenPath(Write(plan));
  ASSERT_EQ(r.failure, OpenFailure::kLoad);
  EXPECT_EQ(r.load.failure, LoadFailure::kEntry);
  EXPECT_EQ(r.load.entryIndex, 3u);
}

TEST_F(ArchiveTest, TruncationAnywhereFailsCleanly) {
  ArchiveSpec plan = Simple("QPX3.0  ");
  plan.categoryItems = {{u"kind", u"mail", 2}};
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout_);
  const uint64_t lastData = layout_.entries[1].data;
  const fs::path p = dir_ / "cut.qpx";
  for (size_t size = 0; size < image.size(); ++size) {
    WriteFileBytes(p, std::vector<uint8_t>(image.begin(), image.begin() + static_cast<long>(size)));
    OpenResult r = OpenPath(p);
    if (r.failure == OpenFailure::kNone) {
      // Only a cut inside the last data sections leaves every record readable;
      // extraction then finds the data missing.
      EXPECT_GT(size, lastData) << size;
      bool anyFailed = false;
      for (long i = 0; i < r.archive->GetEntryCount(); ++i) {
        MemoryIO sink({}, kModeCreate);
        uint32_t crc = 0;
        if (!r.archive->GetEntryData(i)->Extract(sink, crc, {})) anyFailed = true;
      }
      EXPECT_TRUE(anyFailed) << size;
    }
  }
}

TEST_F(ArchiveTest, ExtractReportsWhyItFailed) {
  ArchiveSpec plan = Simple("QPX3.0  ");
  // The last record claims fewer bytes than its implode stream needs.
  plan.entries[2].dataSize = 3;
  plan.entries[2].method = Method::Imploded;
  plan.entries[2].data = std::vector<uint8_t>(3000, 'a');
  OpenResult r = OpenPath(Write(plan));
  ASSERT_EQ(r.failure, OpenFailure::kNone);
  MemoryIO sink({}, kModeCreate);
  uint32_t crc = 0;
  EXPECT_FALSE(r.archive->GetEntryData(2)->Extract(sink, crc, {}));
  EXPECT_EQ(r.archive->GetEntryData(2)->GetLastFailure(), ExtractFailure::kBrokenStream);

  // A full destination stops the copy.
  MemoryIO small({}, kModeCreate);
  small.SetWriteLimit(100);
  EXPECT_FALSE(r.archive->GetEntryData(1)->Extract(small, crc, {}));
  EXPECT_EQ(r.archive->GetEntryData(1)->GetLastFailure(), ExtractFailure::kDestination);

  // The progress callback can stop it.
  MemoryIO again({}, kModeCreate);
  EXPECT_FALSE(r.archive->GetEntryData(1)->Extract(again, crc, [](uint64_t) { return false; }));
  EXPECT_EQ(r.archive->GetEntryData(1)->GetLastFailure(), ExtractFailure::kCancelled);

  // A destination opened for reading is refused.
  MemoryIO readOnly({}, kModeRead);
  EXPECT_FALSE(r.archive->GetEntryData(1)->Extract(readOnly, crc, {}));
}

TEST_F(ArchiveTest, StoredEntryCutShortEndsInsteadOfLooping) {
  ArchiveSpec plan = Simple("QPX2.0  ");
  plan.entries[2].data = NoiseBytes(3 * 1024 * 1024 + 17, 5);  // more than one 1 MiB block
  const fs::path p = Write(plan);
  TruncateFile(p, layout_.entries[2].data + 2 * 1024 * 1024);
  OpenResult r = OpenPath(p);
  ASSERT_EQ(r.failure, OpenFailure::kNone);
  MemoryIO sink({}, kModeCreate);
  uint32_t crc = 0;
  uint64_t progressed = 0;
  EXPECT_FALSE(r.archive->GetEntryData(2)->Extract(sink, crc, [&](uint64_t n) {
    progressed += n;
    return true;
  }));
  EXPECT_EQ(r.archive->GetEntryData(2)->GetLastFailure(), ExtractFailure::kCutShort);
  EXPECT_EQ(progressed, 2u * 1024 * 1024);
}

TEST_F(ArchiveTest, AnsiNamesDecodeAsWindowsDecodesThem) {
  // Bytes 0x80, 0xA0, 0xFD-0xFF, the user-defined area and pairs without a
  // character, in every place an ANSI archive keeps text. The pairs without
  // a character are patched in afterwards over placeholders of the same
  // length (U+E0BC U+E0BD are F1 40 F1 41).
  const std::u16string odd = u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3\uE000\uE757\uE0BC\uE0BD";
  const std::u16string read = u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3\uE000\uE757\u30FB\u30FB";
  ArchiveSpec plan;
  plan.formatId = "QPX2.0  ";
  plan.description = u"note " + odd;
  plan.folders = {{u"C:\\" + odd}, {u"C:\\" + odd + u"\\表"}};
  plan.fileList = {{u"C:\\" + odd, 1}};
  plan.entries.push_back({.folder = u"C:\\" + odd, .name = odd + u".txt", .data = Bytes("one")});
  plan.entries.push_back({.folder = u"C:\\" + odd + u"\\表", .name = u"ソ" + odd, .data = Bytes("two")});
  plan.entries.push_back({.folder = u"C:\\plain", .name = u"later.txt", .data = Bytes("three")});
  const fs::path p = Write(plan);
  std::vector<uint8_t> image = ReadFileBytes(p);
  int patched = 0;
  for (size_t i = 0; i + 4 <= image.size(); ++i) {
    if (image[i] == 0xF1 && image[i + 1] == 0x40 && image[i + 2] == 0xF1 && image[i + 3] == 0x41) {
      OverwriteBytes(image, i, std::vector<uint8_t>{0x81, 0xAD, 0x85, 0x40});
      ++patched;
    }
  }
  ASSERT_EQ(patched, 8) << "description, two folders, the file list, two folders and two names of entries";
  WriteFileBytes(p, image);

  OpenResult r = OpenPath(p);
  ASSERT_EQ(r.failure, OpenFailure::kNone);
  CQPXFile& archive = *r.archive;
  ASSERT_EQ(archive.GetEntryCount(), 3);
  std::u16string text;
  ASSERT_TRUE(archive.GetHeader()->GetDescription(text));
  EXPECT_EQ(text.substr(0, 5 + read.size()), u"note " + read);
  ASSERT_TRUE(archive.GetEntryPath(text, 0));
  EXPECT_EQ(text, u"C:\\" + read + u"\\" + read + u".txt");
  ASSERT_TRUE(archive.GetEntryPath(text, 1));
  EXPECT_EQ(text, u"C:\\" + read + u"\\表\\ソ" + read);
  // Every entry is found by its name, the ones after the odd names too.
  EXPECT_EQ(archive.FindEntry(u"C:\\" + read + u"\\表\\ソ" + read), 1);
  EXPECT_EQ(archive.FindEntry(u"c:\\PLAIN\\later.txt"), 2);
  auto& extend = dynamic_cast<CQPXFileExtend&>(archive);
  ASSERT_TRUE(extend.GetFolderList()->GetFolder(1, &text, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(text, u"C:\\" + read + u"\\表");
  ASSERT_TRUE(extend.GetFileList()->GetFile(0, nullptr, &text, nullptr));
  EXPECT_EQ(text, u"C:\\" + read);
  EXPECT_EQ(ExtractAll(archive)[2], Bytes("three"));
}

}  // namespace
