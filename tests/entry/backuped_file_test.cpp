// Entry records and data sections read from memory.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "entry/backuped_file.h"
#include "host/host_path.h"
#include "io/qpx_file_io.h"
#include "support/archive_writer.h"
#include "support/bytes.h"
#include "support/memory_io.h"
#include "support/section_writers.h"

using namespace QPXFile;
using testsupport::ByteWriter;
using testsupport::MemoryIO;

namespace {

// An entry record with the given raw name fields.
std::vector<uint8_t> Record(const std::string& name, const std::string& folder, uint64_t size, uint64_t dataSize,
                            uint8_t compressed, uint32_t crc, uint32_t attributes = 0x20) {
  ByteWriter w;
  w.U32(static_cast<uint32_t>(57 + name.size() + folder.size())).U32(0).U64(size).U64(dataSize).U8(compressed).U32(crc);
  w.U16(static_cast<uint16_t>(name.size())).Raw(name).U16(static_cast<uint16_t>(folder.size())).Raw(folder);
  w.U64(111).U64(222).U64(333).U32(attributes);
  return w.take();
}

bool ReadRecord(CQPXBackupedFileHeader& header, MemoryIO& io) {
  header.AttachIO(&io);
  return header.PlaceAndRead();
}

TEST(EntryRecord, ReadsEveryFieldAndJoinsThePath) {
  MemoryIO io(Record(testsupport::Cp932(u"表.txt"), testsupport::Cp932(u"C:\\ソフト"), 10, 7, 1, 0xABCDEF01, 0x4021));
  CQPXBackupedFileHeader h;
  ASSERT_TRUE(ReadRecord(h, io));
  std::u16string path;
  ASSERT_TRUE(h.GetFullPath(path));
  EXPECT_EQ(path, u"C:\\ソフト\\表.txt");
  EXPECT_EQ(h.GetFileSize(), 10u);
  EXPECT_EQ(h.GetDataSize(), 7u);
  EXPECT_TRUE(h.IsCompressed());
  EXPECT_EQ(h.GetCrc32(), 0xABCDEF01u);
  EXPECT_EQ(h.GetCreationTime(), 111u);
  EXPECT_EQ(h.GetLastAccessTime(), 222u);
  EXPECT_EQ(h.GetLastWriteTime(), 333u);
  EXPECT_TRUE(h.IsEncrypted());
  uint64_t size = 0;
  ASSERT_TRUE(h.GetSize(size));
  EXPECT_EQ(size, io.bytes().size());
  uint64_t position = 0;
  io.GetPosition(position);
  EXPECT_EQ(position, io.bytes().size());  // the data starts right after the record
}

TEST(EntryRecord, EmptyNamesParse) {
  MemoryIO io(Record("", "", 0, 0, 0, 0));
  CQPXBackupedFileHeader h;
  ASSERT_TRUE(ReadRecord(h, io));
  std::u16string name = u"x";
  ASSERT_TRUE(h.GetFileName(name));
  EXPECT_TRUE(name.empty());
}

TEST(EntryRecord, CutShortAnywhereLeavesThePreviousRecord) {
  const std::vector<uint8_t> good = Record("first.txt", "C:\\A", 1, 1, 0, 5);
  const std::vector<uint8_t> other = Record("second-name.bin", "C:\\Folder", 9, 9, 1, 6);
  for (size_t cut = 0; cut < other.size(); ++cut) {
    std::vector<uint8_t> bytes = good;
    bytes.insert(bytes.end(), other.begin(), other.begin() + static_cast<long>(cut));
    MemoryIO io(bytes);
    CQPXBackupedFileHeader h;
    ASSERT_TRUE(ReadRecord(h, io));
    ASSERT_TRUE(io.Seek(good.size(), kSeekBegin, true));
    ASSERT_TRUE(h.ReadBody(io) == false) << cut;
    std::u16string path;
    ASSERT_TRUE(h.GetFullPath(path));
    EXPECT_EQ(path, u"C:\\A\\first.txt") << cut;
    EXPECT_EQ(h.GetCrc32(), 5u);
  }
}

TEST(EntryRecord, UnicodeNamesWithOddLengthKeepWholeUnits) {
  std::string name = QPXFile::WideToUtf16Le(u"\U0001F600ab");
  name.push_back('\x01');  // a stray odd byte
  MemoryIO io(Record(name, QPXFile::WideToUtf16Le(u"C:"), 0, 0, 0, 0));
  CUQPXBackupedFileHeader h;
  ASSERT_TRUE(ReadRecord(h, io));
  std::u16string path;
  ASSERT_TRUE(h.GetFullPath(path));
  EXPECT_EQ(path, u"C:\\\U0001F600ab");

  // The stored bytes, stray one included, are what the record writes back.
  MemoryIO out;
  ASSERT_TRUE(testsupport::WriteSection(out, h));
  EXPECT_EQ(out.bytes(), io.bytes());
  CQPXBackupedFileHeader unread;
  EXPECT_FALSE(testsupport::WriteSection(out, unread));
}

TEST(EntryRecord, AnsiNamesDecodeAsWindowsDecodesThemWithoutFailing) {
  // A lead byte at the end, a pair without a character, and the bytes Windows
  // gives code points of its own: the names are read, never "?".
  MemoryIO io(Record("bad\xA0\xFD\x83", "C:\\\x81\xAD\xF0\x40\x80", 0, 0, 0, 0));
  CQPXBackupedFileHeader h;
  ASSERT_TRUE(ReadRecord(h, io));
  std::u16string path;
  ASSERT_TRUE(h.GetFullPath(path));
  EXPECT_EQ(path, u"C:\\\u30FB\uE000\u0080\\bad\uF8F0\uF8F1\u30FB");
}

TEST(EntryData, SizeIsSetOnce) {
  CQPXBackupedFileData data;
  EXPECT_TRUE(data.SetSize(10));
  EXPECT_FALSE(data.SetSize(11));
  uint64_t size = 0;
  ASSERT_TRUE(data.GetSize(size));
  EXPECT_EQ(size, 10u);
}

TEST(EntryData, EmptyEntriesExtractToNothingWithCrcZero) {
  MemoryIO archive(std::vector<uint8_t>{});
  for (int kind = 0; kind < 2; ++kind) {
    std::unique_ptr<CQPXBackupedFileData> data(kind == 0 ? new CQPXBackupedFileData()
                                                         : new CQPXBackupedNoCompressedFileData());
    data->AttachIO(&archive);
    ASSERT_TRUE(data->SetSize(0));
    ASSERT_TRUE(data->MarkStart());
    MemoryIO out({}, kModeCreate);
    uint32_t crc = 123;
    ASSERT_TRUE(data->Extract(out, crc, {}));
    EXPECT_EQ(crc, 0u);
    EXPECT_TRUE(out.bytes().empty());
  }
}

TEST(EntryData, ImplodedDataDecodesThroughTheSharedBuffers) {
  std::vector<uint8_t> text;
  for (int i = 0; i < 30000; ++i) text.push_back(static_cast<uint8_t>("backup archive "[i % 15]));
  const std::vector<uint8_t> stream = testsupport::Implode(text.data(), text.size(), testsupport::LiteralMode::Ascii, 2048);
  std::vector<uint8_t> bytes(5, 0xEE);  // something before the section
  bytes.insert(bytes.end(), stream.begin(), stream.end());
  bytes.push_back(0xEE);  // and after it
  MemoryIO archive(bytes);
  CQPXBackupedFileData data;
  data.AttachIO(&archive);
  ASSERT_TRUE(archive.Seek(5, kSeekBegin, true));
  ASSERT_TRUE(data.MarkStart());
  ASSERT_TRUE(data.SetSize(stream.size()));
  MemoryIO out({}, kModeCreate);
  uint32_t crc = 0;
  ASSERT_TRUE(data.Extract(out, crc, {}));
  EXPECT_EQ(out.bytes(), text);
  EXPECT_EQ(crc, testsupport::EntryCrc(text.data(), text.size()));
}

// Output larger than one extraction buffer is written while the next part
// is decoded: the bytes must still arrive whole and in order, and a
// destination that fails in the middle must be reported, not waited on.
TEST(EntryData, OutputOfManyBuffersArrivesInOrderAndFailuresAreReported) {
  std::vector<uint8_t> text(23u << 20);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>("generation "[i % 11] + (i >> 20));
  const std::vector<uint8_t> stream = testsupport::Implode(text.data(), text.size(), testsupport::LiteralMode::Ascii, 4096);
  MemoryIO archive(stream);
  CQPXBackupedFileData data;
  data.AttachIO(&archive);
  ASSERT_TRUE(data.MarkStart());
  ASSERT_TRUE(data.SetSize(stream.size()));

  MemoryIO out({}, kModeCreate);
  uint32_t crc = 0;
  ASSERT_TRUE(data.Extract(out, crc, {}));
  EXPECT_TRUE(out.bytes() == text);
  EXPECT_EQ(crc, testsupport::EntryCrc(text.data(), text.size()));

  for (uint64_t limit : {uint64_t{5} << 20, uint64_t{15} << 20, uint64_t{22} << 20}) {
    MemoryIO full({}, kModeCreate);
    full.SetWriteLimit(limit);
    EXPECT_FALSE(data.Extract(full, crc, {})) << limit;
    EXPECT_EQ(data.GetLastFailure(), ExtractFailure::kDestination) << limit;
  }
  // The shared buffers are free again after a failure.
  MemoryIO again({}, kModeCreate);
  ASSERT_TRUE(data.Extract(again, crc, {}));
  EXPECT_EQ(again.bytes().size(), text.size());
}

// A destination that takes only `limits` bytes fails the extraction as the
// destination's fault, and a progress callback that says stop cancels it.
void ExpectWritesFailAndCancelsStop(CQPXBackupedFileData& data, std::initializer_list<uint64_t> limits) {
  uint32_t crc = 0;
  for (uint64_t limit : limits) {
    MemoryIO full({}, kModeCreate);
    full.SetWriteLimit(limit);
    EXPECT_FALSE(data.Extract(full, crc, {})) << limit;
    EXPECT_EQ(data.GetLastFailure(), ExtractFailure::kDestination) << limit;
  }
  int calls = 0;
  MemoryIO cancelled({}, kModeCreate);
  EXPECT_FALSE(data.Extract(cancelled, crc, [&calls](uint64_t) { return ++calls < 2; }));
  EXPECT_EQ(data.GetLastFailure(), ExtractFailure::kCancelled);
}

// Stored data of several blocks between streams in memory, read and written
// block by block: the bytes arrive whole and in order, and every way of
// failing midway is told apart.
TEST(EntryData, StoredDataOfManyBlocksArrivesInOrderAndFailuresAreToldApart) {
  std::vector<uint8_t> file((7u << 20) + 12345);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  std::vector<uint8_t> bytes(3, 0xEE);  // something before the section
  bytes.insert(bytes.end(), file.begin(), file.end());
  MemoryIO archive(bytes);
  CQPXBackupedNoCompressedFileData data;
  data.AttachIO(&archive);
  ASSERT_TRUE(archive.Seek(3, kSeekBegin, true));
  ASSERT_TRUE(data.MarkStart());
  ASSERT_TRUE(data.SetSize(file.size()));

  MemoryIO out({}, kModeCreate);
  uint32_t crc = 0;
  uint64_t reported = 0;
  ASSERT_TRUE(data.Extract(out, crc, [&reported](uint64_t n) {
    reported += n;
    return true;
  }));
  EXPECT_TRUE(out.bytes() == file);
  EXPECT_EQ(crc, testsupport::EntryCrc(file.data(), file.size()));
  EXPECT_EQ(reported, file.size());

  ExpectWritesFailAndCancelsStop(data, {uint64_t{1} << 20, uint64_t{5} << 20, file.size() - 1});

  // The archive ends 100 bytes before the section does.
  MemoryIO shortArchive(std::vector<uint8_t>(bytes.begin(), bytes.end() - 100));
  CQPXBackupedNoCompressedFileData cut;
  cut.AttachIO(&shortArchive);
  ASSERT_TRUE(shortArchive.Seek(3, kSeekBegin, true));
  ASSERT_TRUE(cut.MarkStart());
  ASSERT_TRUE(cut.SetSize(file.size()));
  MemoryIO partial({}, kModeCreate);
  EXPECT_FALSE(cut.Extract(partial, crc, {}));
  EXPECT_EQ(cut.GetLastFailure(), ExtractFailure::kCutShort);

}

// Between two files on disk: the bytes arrive whole, the CRC covers them, and
// both positions end where the section does.
TEST(EntryData, StoredDataBetweenFilesIsCopiedWholeWithItsCrc) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tessera-stored-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::vector<uint8_t> file((9u << 20) + 777);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>((i * 2654435761u) >> 11);
  std::vector<uint8_t> bytes(5, 0xEE);
  bytes.insert(bytes.end(), file.begin(), file.end());
  bytes.insert(bytes.end(), 9, 0xDD);  // the next entry
  {
    std::ofstream out(dir / "a.qpx", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  CQPXFileIO archive, destination;
  ASSERT_TRUE(archive.Open(host::ToEnginePath((dir / "a.qpx").string()), kModeRead));
  ASSERT_TRUE(destination.Open(host::ToEnginePath((dir / "out.bin").string()), kModeCreate));
  CQPXBackupedNoCompressedFileData data;
  data.AttachIO(&archive);
  ASSERT_TRUE(archive.Seek(5, kSeekBegin, true));
  ASSERT_TRUE(data.MarkStart());
  ASSERT_TRUE(data.SetSize(file.size()));
  uint32_t crc = 0;
  uint64_t reported = 0;
  ASSERT_TRUE(data.Extract(destination, crc, [&reported](uint64_t n) {
    reported += n;
    return true;
  }));
  EXPECT_EQ(crc, testsupport::EntryCrc(file.data(), file.size()));
  EXPECT_EQ(reported, file.size());
  uint64_t position = 0;
  ASSERT_TRUE(destination.GetPosition(position));
  EXPECT_EQ(position, file.size());
  ASSERT_TRUE(archive.GetPosition(position));
  EXPECT_EQ(position, 5 + file.size());
  ASSERT_TRUE(destination.Close());
  std::ifstream in(dir / "out.bin", std::ios::binary);
  const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(written == file);

  // The pieces are copied by two threads taking turns: a destination that
  // fails in a piece of either, or a cancel, ends the copy with that reason,
  // and the next copy is whole again.
  ExpectWritesFailAndCancelsStop(data, {(uint64_t{1} << 20) + 5, (uint64_t{2} << 20) + 5, file.size() - 1});
  MemoryIO whole({}, kModeCreate);
  ASSERT_TRUE(data.Extract(whole, crc, {}));
  EXPECT_TRUE(whole.bytes() == file);
  EXPECT_EQ(crc, testsupport::EntryCrc(file.data(), file.size()));

  // An archive file that ends inside the section.
  std::filesystem::resize_file(dir / "a.qpx", 5 + (6u << 20));
  CQPXFileIO shortArchive, again;
  ASSERT_TRUE(shortArchive.Open(host::ToEnginePath((dir / "a.qpx").string()), kModeRead));
  ASSERT_TRUE(again.Open(host::ToEnginePath((dir / "out.bin").string()), kModeCreate));
  CQPXBackupedNoCompressedFileData cut;
  cut.AttachIO(&shortArchive);
  ASSERT_TRUE(shortArchive.Seek(5, kSeekBegin, true));
  ASSERT_TRUE(cut.MarkStart());
  ASSERT_TRUE(cut.SetSize(file.size()));
  EXPECT_FALSE(cut.Extract(again, crc, {}));
  EXPECT_EQ(cut.GetLastFailure(), ExtractFailure::kCutShort);
  again.Close();
  std::filesystem::remove_all(dir);
}

TEST(StoredFile, AttachTakesBothOrNothing) {
  CQPXBackupedFile entry;
  auto* header = new CQPXBackupedFileHeader();
  EXPECT_FALSE(entry.Attach(header, nullptr));
  EXPECT_FALSE(entry.IsValid());
  EXPECT_TRUE(entry.Attach(header, new CQPXBackupedNoCompressedFileData()));
  EXPECT_TRUE(entry.IsValid());
  entry.Release();
  EXPECT_FALSE(entry.IsValid());
}

}  // namespace
