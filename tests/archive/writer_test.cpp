// The test archive writer is what every reader test stands on, so its bytes
// are checked against the record layouts here, independently of the readers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "entry/explode.h"
#include "host/text.h"
#include "io/section.h"
#include "support/archive_writer.h"
#include "support/bytes.h"
#include "support/corrupt.h"
#include "support/samples.h"

namespace testsupport {
namespace {

using QPXFile::LoadU16;
using QPXFile::LoadU32;
using QPXFile::LoadU64;

std::string Text(const std::vector<uint8_t>& image, uint64_t at, size_t size) {
  return std::string(reinterpret_cast<const char*>(image.data() + at), size);
}

class TempFolder {
 public:
  TempFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("tessera-writer-" + std::string(info->test_suite_name()) + "-" + info->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Decodes one implode stream held in memory.
struct ExplodeRun {
  const std::vector<uint8_t>* input;
  size_t at = 0;
  std::vector<uint8_t> output;
};

std::vector<uint8_t> Explode(const std::vector<uint8_t>& stream, int* result) {
  ExplodeRun run{&stream, 0, {}};
  std::vector<uint8_t> work(QPXFile::kExplodeWorkAreaSize);
  auto read = [](char* buffer, unsigned* size, void* param) -> unsigned {
    auto* r = static_cast<ExplodeRun*>(param);
    const size_t n = std::min<size_t>(*size, r->input->size() - r->at);
    std::memcpy(buffer, r->input->data() + r->at, n);
    r->at += n;
    return static_cast<unsigned>(n);
  };
  auto write = [](char* buffer, unsigned* size, void* param) {
    auto* r = static_cast<ExplodeRun*>(param);
    r->output.insert(r->output.end(), buffer, buffer + *size);
  };
  *result = QPXFile::DclExplode(read, write, work.data(), &run);
  return run.output;
}

EntrySpec Entry(std::u16string folder, std::u16string name, std::vector<uint8_t> data,
                Method method = Method::Stored) {
  EntrySpec entry;
  entry.folder = std::move(folder);
  entry.name = std::move(name);
  entry.data = std::move(data);
  entry.method = method;
  return entry;
}

TEST(ArchiveWriterHeader, FieldsLieAtTheirOffsets) {
  ArchiveSpec plan;
  plan.creationTime = 0x0123456789ABCDEFull;
  plan.description = u"説明";
  plan.entries = {Entry(u"C:", u"a", Bytes("x")), Entry(u"C:", u"b", Bytes("y"))};
  const std::vector<uint8_t> image = BuildArchiveImage(plan);

  EXPECT_EQ(Text(image, 0, 8), "QPX3.0  ");
  EXPECT_EQ(LoadU32(&image[8]), 4u);
  EXPECT_EQ(LoadU32(&image[12]), 0x89ABCDEFu);  // low word first
  EXPECT_EQ(LoadU32(&image[16]), 0x01234567u);
  EXPECT_EQ(LoadU32(&image[20]), 2u);
  EXPECT_EQ(Text(image, 24, 8), "QPX3.0  ");
  EXPECT_EQ(Text(image, 32, 8), "PKWARE  ");
  EXPECT_EQ(QPXFile::Utf16LeToWide(&image[40], 4), u"説明");
  EXPECT_EQ(QPXFile::Utf16LeToWide(&image[40], 128), u"説明" + std::u16string(62, u' '));
  EXPECT_EQ(Text(image, 176, 8), "FileList");  // the file list follows the header directly
}

TEST(ArchiveWriterHeader, EachIdentifierGetsItsOwnConstants) {
  struct Case {
    const char* id;
    uint32_t level;
    const char* version;
    const char* compression;
  } cases[] = {
      {"QPX1.0  ", 0, "QPX1.0  ", "PKWARE  "}, {"QPX2.0  ", 3, "QPX2.0  ", "PKWARE  "},
      {"F_QPX1.0", 0, "QPX2.0  ", "PKWARE  "}, {"F_QPX2.0", 0, "QPX3.0  ", "NA      "},
  };
  for (const Case& c : cases) {
    ArchiveSpec plan;
    plan.formatId = c.id;
    const std::vector<uint8_t> image = BuildArchiveImage(plan);
    SCOPED_TRACE(c.id);
    EXPECT_EQ(LoadU32(&image[8]), c.level);
    EXPECT_EQ(Text(image, 24, 8), c.version);
    EXPECT_EQ(Text(image, 32, 8), c.compression);
  }
  ArchiveSpec headerOnly;
  headerOnly.formatId = "F_QPX2.0";
  EXPECT_EQ(BuildArchiveImage(headerOnly).size(), 168u);
}

TEST(ArchiveWriterHeader, AnsiDescriptionIsCodePageBytesPaddedWithBlanks) {
  ArchiveSpec plan;
  plan.formatId = "QPX2.0  ";
  plan.description = u"ソフト";
  const std::vector<uint8_t> image = BuildArchiveImage(plan);
  const std::string expected = Cp932(u"ソフト");
  EXPECT_EQ(Text(image, 40, expected.size()), expected);
  EXPECT_EQ(Text(image, 40 + expected.size(), 128 - expected.size()), std::string(128 - expected.size(), ' '));

  plan.description = std::u16string(65, u'あ');  // 130 bytes
  EXPECT_THROW(BuildArchiveImage(plan), std::invalid_argument);
}

TEST(ArchiveWriterHeader, ShortIdentifierIsNulPaddedSoItStaysDistinct) {
  ArchiveSpec plan;
  plan.formatId = "QPX2.0 ";
  const std::vector<uint8_t> image = BuildArchiveImage(plan);
  EXPECT_EQ(Text(image, 0, 8), std::string("QPX2.0 \0", 8));
  plan.formatId = "QPX2.0   ";
  EXPECT_THROW(BuildArchiveImage(plan), std::invalid_argument);
}

// Every list section: L counts exactly the bytes after it, and the next
// section starts where L says this one ends.
TEST(ArchiveWriterSections, LengthsCountTheBytesThatFollow) {
  ArchiveSpec plan = SampleArchive();
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);
  ASSERT_TRUE(layout.fileList && layout.folderList && layout.divisionInfo && layout.categoryInfo);

  EXPECT_EQ(*layout.fileList, 168u);
  const struct {
    uint64_t at;
    uint64_t next;
    const char* tag;
  } sections[] = {{*layout.fileList, *layout.folderList, "FileList"},
                  {*layout.folderList, *layout.divisionInfo, "FolderList"},
                  {*layout.divisionInfo, *layout.categoryInfo, "Division_Info"},
                  {*layout.categoryInfo, layout.entriesStart, "CategoryInfo"}};
  for (const auto& s : sections) {
    SCOPED_TRACE(s.tag);
    EXPECT_EQ(LoadU32(&image[s.at]) + 4u, s.next - s.at);
    EXPECT_EQ(LoadU32(&image[s.at + 4]), std::strlen(s.tag));
    EXPECT_EQ(Text(image, s.at + 8, std::strlen(s.tag)), s.tag);
  }
  EXPECT_EQ(LoadU32(&image[*layout.divisionInfo]), 33u);
  EXPECT_EQ(LoadU32(&image[*layout.folderList + 18]), plan.folders.size());
}

TEST(ArchiveWriterSections, UnicodeRecordsFollowTheTables) {
  ArchiveSpec plan;
  plan.fileList = {{u"C:\\Work", 1, u"ab"}};
  plan.folders = {{u"C:\\表", 0x11, 1, 2, 3}};
  plan.categoryFlag = true;
  plan.categoryItems = {{u"名前", u"値", 7}};
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);

  const uint8_t* file = &image[*layout.fileList + 20];  // after L, T, tag, N
  EXPECT_EQ(file[0], 1);
  EXPECT_EQ(LoadU16(file + 1), 14u);  // a: 7 units
  EXPECT_EQ(QPXFile::Utf16LeToWide(file + 3, 14), u"C:\\Work");
  EXPECT_EQ(LoadU16(file + 17), 4u);  // b
  EXPECT_EQ(LoadU32(&image[*layout.fileList]), 4u + 8 + 4 + (14 + 4 + 5));

  const uint8_t* folder = &image[*layout.folderList + 22];
  EXPECT_EQ(LoadU16(folder), 8u);
  EXPECT_EQ(LoadU32(folder + 10), 0x11u);
  EXPECT_EQ(LoadU64(folder + 14), 1u);
  EXPECT_EQ(LoadU64(folder + 22), 2u);
  EXPECT_EQ(LoadU64(folder + 30), 3u);

  const uint8_t* category = &image[*layout.categoryInfo + 20];  // L, T, tag
  EXPECT_EQ(category[0], 1);
  EXPECT_EQ(LoadU32(category + 1), 1u);
  EXPECT_EQ(LoadU16(category + 5), 4u);
  EXPECT_EQ(LoadU16(category + 11), 2u);
  EXPECT_EQ(LoadU16(category + 15), 7u);
  EXPECT_EQ(layout.entriesStart, *layout.categoryInfo + 20 + 5 + 12);
}

TEST(ArchiveWriterSections, AnsiPathsCountCodePageBytes) {
  ArchiveSpec plan;
  plan.formatId = "QPX2.0  ";
  plan.fileList = {{u"C:\\ソフト", 1, u"ignored"}};
  plan.folders = {{u"C:\\ソフト"}};
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);
  const std::string path = Cp932(u"C:\\ソフト");
  ASSERT_EQ(path.size(), 9u);  // three double-byte characters, one with a 0x5C trail byte
  EXPECT_EQ(LoadU16(&image[*layout.fileList + 21]), 9u);
  EXPECT_EQ(Text(image, *layout.fileList + 23, 9), path);
  EXPECT_EQ(LoadU32(&image[*layout.fileList]), 4u + 8 + 4 + 12);  // no second string
  EXPECT_EQ(LoadU16(&image[*layout.folderList + 22]), 9u);
  EXPECT_FALSE(layout.categoryInfo);
}

TEST(ArchiveWriterSections, SectionLevelChoosesTheLists) {
  for (uint32_t level : {0u, 1u, 2u, 3u}) {
    ArchiveSpec plan;
    plan.formatId = "QPX2.0  ";
    plan.sectionLevel = level;
    ArchiveLayout layout;
    BuildArchiveImage(plan, &layout);
    SCOPED_TRACE(level);
    EXPECT_EQ(layout.fileList.has_value(), level != 0);
    EXPECT_EQ(layout.folderList.has_value(), level != 1);
    EXPECT_EQ(layout.divisionInfo.has_value(), level != 2);
  }
  ArchiveSpec first;
  first.formatId = "QPX1.0  ";
  ArchiveLayout layout;
  BuildArchiveImage(first, &layout);
  EXPECT_FALSE(layout.fileList);
  EXPECT_EQ(layout.folderList, 168u);
  EXPECT_TRUE(layout.divisionInfo);
}

TEST(ArchiveWriterEntries, RecordFieldsAndCrc) {
  ArchiveSpec plan;
  EntrySpec abc = Entry(u"C:\\Dir", u"abc.txt", Bytes("abc"));
  abc.attributes = 0x21;
  abc.created = 10;
  abc.accessed = 20;
  abc.modified = 30;
  plan.entries = {abc, Entry(u"C:", u"empty", {})};
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);
  ASSERT_EQ(layout.entries.size(), 2u);

  const uint8_t* record = &image[layout.entries[0].record];
  const uint32_t n1 = 14, n2 = 12;
  EXPECT_EQ(LoadU32(record), 57 + n1 + n2);
  EXPECT_EQ(LoadU32(record + 4), 0u);
  EXPECT_EQ(LoadU64(record + 8), 3u);
  EXPECT_EQ(LoadU64(record + 16), 3u);
  EXPECT_EQ(record[24], 0);
  EXPECT_EQ(LoadU32(record + 25), 0xCADBBE3Du);
  EXPECT_EQ(LoadU16(record + 29), n1);
  EXPECT_EQ(QPXFile::Utf16LeToWide(record + 31, n1), u"abc.txt");
  EXPECT_EQ(LoadU16(record + 31 + n1), n2);
  EXPECT_EQ(QPXFile::Utf16LeToWide(record + 33 + n1, n2), u"C:\\Dir");
  EXPECT_EQ(LoadU64(record + 33 + n1 + n2), 10u);
  EXPECT_EQ(LoadU64(record + 41 + n1 + n2), 20u);
  EXPECT_EQ(LoadU64(record + 49 + n1 + n2), 30u);
  EXPECT_EQ(LoadU32(record + 57 + n1 + n2), 0x21u);
  EXPECT_EQ(layout.entries[0].data, layout.entries[0].record + 61 + n1 + n2);
  EXPECT_EQ(Text(image, layout.entries[0].data, 3), "abc");
  EXPECT_EQ(layout.entries[1].record, layout.entries[0].data + 3);

  const uint8_t* empty = &image[layout.entries[1].record];
  EXPECT_EQ(LoadU64(empty + 16), 0u);
  EXPECT_EQ(LoadU32(empty + 25), 0u);  // not 0xFFFFFFFF
  EXPECT_EQ(layout.size, image.size());
}

TEST(ArchiveWriterEntries, EncryptedDataIsKeptAsIs) {
  ArchiveSpec plan;
  plan.formatId = "QPX2.0  ";
  plan.entries = {Entry(u"C:", u"secret", Bytes("\x01\x02raw"), Method::Encrypted)};
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);
  const uint8_t* record = &image[layout.entries[0].record];
  EXPECT_EQ(LoadU32(record + 57 + 6 + 2), 0x4020u);
  EXPECT_EQ(record[24], 1);  // repeats the archive's compression option
  EXPECT_EQ(Text(image, layout.entries[0].data, 5), "\x01\x02raw");
}

TEST(ArchiveWriterEntries, OverridesChangeOnlyTheRecord) {
  ArchiveSpec plan;
  EntrySpec entry = Entry(u"C:", u"f", Bytes("hello"));
  entry.dataSize = 1000;
  entry.crc = 0x12345678;
  entry.fileSize = 7;
  plan.entries = {entry};
  plan.entryCount = 5;
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);
  EXPECT_EQ(LoadU32(&image[20]), 5u);
  const uint8_t* record = &image[layout.entries[0].record];
  EXPECT_EQ(LoadU64(record + 8), 7u);
  EXPECT_EQ(LoadU64(record + 16), 1000u);
  EXPECT_EQ(LoadU32(record + 25), 0x12345678u);
  EXPECT_EQ(image.size(), layout.entries[0].data + 5);
}

TEST(ArchiveWriterEntries, ImplodedSampleEntriesDecodeToTheirFiles) {
  const ArchiveSpec plan = SampleArchive();
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);
  int imploded = 0;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const EntrySpec& entry = plan.entries[i];
    const auto& place = layout.entries[i];
    const uint8_t* record = &image[place.record];
    SCOPED_TRACE(host::WideToUtf8(entry.name));
    EXPECT_EQ(LoadU64(record + 8), entry.data.size());
    EXPECT_EQ(LoadU32(record + 25), EntryCrc(entry.data.data(), entry.data.size()));
    if (entry.method != Method::Imploded || entry.data.empty()) continue;
    ++imploded;
    EXPECT_EQ(record[24], 1);
    const std::vector<uint8_t> stream(image.begin() + static_cast<long>(place.data),
                                      image.begin() + static_cast<long>(place.data + place.dataSize));
    int result = -1;
    EXPECT_EQ(Explode(stream, &result), entry.data);
    EXPECT_EQ(result, QPXFile::kDclOk);
  }
  EXPECT_GE(imploded, 3);
}

TEST(ArchiveWriterEntries, StreamedAndSharedDataMatchInlineData) {
  const std::vector<uint8_t> contents = NoiseBytes(5000, 3);
  ArchiveSpec inline_;
  inline_.entries = {Entry(u"C:\\A", u"big.bin", contents), Entry(u"C:\\A", u"small", Bytes("abc"))};

  ArchiveSpec streamed = inline_;
  size_t served = 0;
  streamed.entries[0].data.clear();
  streamed.entries[0].source = [&](std::vector<uint8_t>& chunk) {
    if (served == contents.size()) return false;
    const size_t n = std::min<size_t>(1024, contents.size() - served);
    chunk.assign(contents.begin() + static_cast<long>(served), contents.begin() + static_cast<long>(served + n));
    served += n;
    return true;
  };
  ArchiveSpec shared = inline_;
  shared.entries[1].data.clear();
  shared.entries[1].payload = PreparePayload(Bytes("abc"), Method::Stored);

  const std::vector<uint8_t> expected = BuildArchiveImage(inline_);
  EXPECT_EQ(BuildArchiveImage(streamed), expected);
  EXPECT_EQ(BuildArchiveImage(shared), expected);

  // The patched sizes and CRC may lie in an earlier volume than the data.
  TempFolder folder;
  served = 0;
  streamed.volumeSize = inline_.volumeSize = 700;
  WriteArchive(streamed, folder.path() / "s.qpx");
  WriteArchive(inline_, folder.path() / "i.qpx");
  for (unsigned k = 0; std::filesystem::exists(VolumePath(folder.path() / "i.qpx", k)); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(ReadFileBytes(VolumePath(folder.path() / "s.qpx", k)),
              ReadFileBytes(VolumePath(folder.path() / "i.qpx", k)));
  }
}

TEST(ArchiveWriterVolumes, SplitSetHoldsTheImageBehindHeads) {
  ArchiveSpec plan = SampleSplitArchive();
  const uint64_t s = plan.volumeSize;
  ArchiveLayout layout;
  const std::vector<uint8_t> image = BuildArchiveImage(plan, &layout);
  EXPECT_EQ(LoadU16(&image[*layout.divisionInfo + 21]), 1u);
  EXPECT_EQ(LoadU64(&image[*layout.divisionInfo + 29]), s);

  TempFolder folder;
  const std::filesystem::path first = folder.path() / "set.qpx";
  WriteArchive(plan, first);
  std::vector<uint8_t> joined = ReadFileBytes(first);
  EXPECT_EQ(joined.size(), s);
  unsigned k = 1;
  for (; std::filesystem::exists(VolumePath(first, k)); ++k) {
    const std::vector<uint8_t> volume = ReadFileBytes(VolumePath(first, k));
    ASSERT_GT(volume.size(), 12u);
    EXPECT_LE(volume.size(), s);
    const bool last = !std::filesystem::exists(VolumePath(first, k + 1));
    if (!last) {
      EXPECT_EQ(volume.size(), s);
    }
    EXPECT_EQ(volume[0], last ? 0 : 1) << "volume " << k;
    EXPECT_EQ(volume[1] | volume[2] | volume[3], 0);
    EXPECT_EQ(LoadU64(&volume[4]), plan.creationTime);
    joined.insert(joined.end(), volume.begin() + 12, volume.end());
  }
  EXPECT_GE(k, 4u);
  EXPECT_EQ(joined, image);

  const auto volumes = SplitImage(image, s, plan.creationTime);
  ASSERT_EQ(volumes.size(), k);
  for (unsigned i = 0; i < k; ++i) EXPECT_EQ(volumes[i], ReadFileBytes(VolumePath(first, i)));
}

TEST(ArchiveWriterVolumes, SmallSplitArchiveStillHasAFollowingVolume) {
  ArchiveSpec plan;
  plan.volumeSize = 1 << 20;
  TempFolder folder;
  WriteArchive(plan, folder.path() / "one.qpx");
  const std::vector<uint8_t> second = ReadFileBytes(folder.path() / "one.qpx.1");
  ASSERT_EQ(second.size(), 12u);
  EXPECT_EQ(second[0], 0);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "one.qpx.2"));
}

TEST(ArchiveWriterVolumes, DamagedSets) {
  ArchiveSpec plan = SampleSplitArchive();
  plan.volumeHeadPatches = {{1, std::nullopt, 42u}, {2, 0, std::nullopt}};
  plan.missingVolumes = {3};
  TempFolder folder;
  const std::filesystem::path first = folder.path() / "bad.qpx";
  WriteArchive(plan, first);
  const std::vector<uint8_t> v1 = ReadFileBytes(VolumePath(first, 1));
  EXPECT_EQ(v1[0], 1);
  EXPECT_EQ(LoadU64(&v1[4]), 42u);
  const std::vector<uint8_t> v2 = ReadFileBytes(VolumePath(first, 2));
  EXPECT_EQ(v2[0], 0);
  EXPECT_EQ(LoadU64(&v2[4]), plan.creationTime);
  EXPECT_FALSE(std::filesystem::exists(VolumePath(first, 3)));
  EXPECT_TRUE(std::filesystem::exists(VolumePath(first, 4)));

  plan.volumeHeadPatches = {{40, 0, std::nullopt}};
  EXPECT_THROW(WriteArchive(plan, first), std::invalid_argument);
}

TEST(ArchiveWriterVolumes, SectionsMustFitTheFirstVolume) {
  ArchiveSpec plan = SampleArchive();
  plan.volumeSize = 300;
  EXPECT_THROW(BuildArchiveImage(plan), std::invalid_argument);
  plan.volumeSize = 12;
  EXPECT_THROW(BuildArchiveImage(plan), std::invalid_argument);
}

TEST(CorruptHelpers, EditFilesInPlaceAndRefuseOffsetsPastTheEnd) {
  TempFolder folder;
  const std::filesystem::path path = folder.path() / "f";
  WriteFileBytes(path, Bytes("0123456789"));
  PatchU32(path, 2, 0x44434241);
  FlipBits(path, 0, 0x01);
  OverwriteBytes(path, 8, "xy");
  EXPECT_EQ(ReadFileBytes(path), Bytes("11ABCD67xy"));
  TruncateFile(path, 4);
  EXPECT_EQ(ReadFileBytes(path), Bytes("11AB"));
  EXPECT_THROW(PatchU32(path, 1, 0), std::out_of_range);
  EXPECT_THROW(FlipBits(path, 4), std::out_of_range);
  EXPECT_THROW(TruncateFile(path, 5), std::out_of_range);

  std::vector<uint8_t> image = Bytes("abcdef");
  PatchU16(image, 4, 0x3031);
  EXPECT_EQ(image, Bytes("abcd10"));
  EXPECT_THROW(PatchU64(image, 0, 0), std::out_of_range);
}

}  // namespace
}  // namespace testsupport
