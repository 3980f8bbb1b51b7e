#include "archive/folder_list.h"

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/memory_io.h"
#include "support/section_bytes.h"
#include "support/section_writers.h"

namespace {

using QPXFile::CQPXFolderList;
using QPXFile::CQPXFolderTable;
using QPXFile::CUQPXFolderList;
using testsupport::ByteWriter;
using testsupport::Cp932;
using testsupport::ListSection;
using testsupport::MemoryIO;
using testsupport::WriteSection;

void AnsiFolder(ByteWriter& w, std::string_view path, uint32_t attributes, uint64_t time) {
  w.U16(static_cast<uint16_t>(path.size())).Raw(path).U32(attributes).U64(time).U64(time + 1).U64(time + 2);
}

void WideFolder(ByteWriter& w, std::u16string_view path, uint32_t attributes, uint64_t time) {
  w.U16(static_cast<uint16_t>(path.size() * 2)).Utf16(path).U32(attributes).U64(time).U64(time + 1).U64(time + 2);
}

std::vector<uint8_t> AnsiList(const std::vector<std::string>& paths, std::string_view tag = "FolderList") {
  ByteWriter body;
  body.U32(static_cast<uint32_t>(paths.size()));
  for (size_t i = 0; i < paths.size(); ++i) AnsiFolder(body, paths[i], 0x10, 1000 * (i + 1));
  return ListSection(tag, body.bytes());
}

bool ReadList(CQPXFolderList& list, MemoryIO& io) {
  list.AttachIO(&io);
  return list.PlaceAndRead();
}

TEST(FolderListReading, AnsiRecordsWithDoubleByteNamesStayWhole) {
  // ソ 表 能 each end in the byte 0x5C.
  MemoryIO io(AnsiList({"C:\\Docs", Cp932(u"C:\\ソ表能\\データ")}));
  CQPXFolderList list;
  ASSERT_TRUE(ReadList(list, io));
  ASSERT_EQ(list.GetFolderCount(), 2);
  std::u16string path;
  uint64_t creation = 0, access = 0, write = 0;
  uint32_t attributes = 0;
  ASSERT_TRUE(list.GetFolder(1, &path, &creation, &attributes, &access, &write));
  EXPECT_EQ(path, u"C:\\ソ表能\\データ");
  EXPECT_EQ(attributes, 0x10u);
  EXPECT_EQ(creation, 2000u);
  EXPECT_EQ(access, 2001u);
  EXPECT_EQ(write, 2002u);
  EXPECT_EQ(list.FindFolder(u"c:\\ソ表能\\データ"), 1);
}

TEST(FolderListReading, EmptyListIsValid) {
  MemoryIO io(AnsiList({}));
  CQPXFolderList list;
  ASSERT_TRUE(ReadList(list, io));
  EXPECT_EQ(list.GetFolderCount(), 0);
  uint64_t size = 0;
  ASSERT_TRUE(list.GetSize(size));
  EXPECT_EQ(size, io.bytes().size());
}

TEST(FolderListReading, TagMustMatchExactly) {
  for (std::string_view tag : {"folderlist", "FolderLis", "FolderList ", "FileList", ""}) {
    MemoryIO io(AnsiList({"C:\\Docs"}, tag));
    CQPXFolderList list;
    EXPECT_FALSE(ReadList(list, io)) << tag;
    uint64_t size = 0;
    EXPECT_FALSE(list.GetSize(size));
  }
}

TEST(FolderListReading, NameWithALoneLeadByteReadsAsWindowsReadsIt) {
  MemoryIO io(AnsiList({"C:\\ok", "C:\\bad\x83", "C:\\later"}));
  CQPXFolderList list;
  ASSERT_TRUE(ReadList(list, io));
  std::u16string path;
  ASSERT_TRUE(list.GetFolder(1, &path, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(path, u"C:\\bad\u30FB");
  EXPECT_EQ(list.FindFolder(u"C:\\LATER"), 2);
}

TEST(FolderListReading, TruncationAtAnyByteFails) {
  std::vector<uint8_t> full = AnsiList({"C:\\Docs", Cp932(u"C:\\表"), "C:\\x"});
  for (size_t length = 0; length < full.size(); ++length) {
    MemoryIO io(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(length)));
    CQPXFolderList list;
    EXPECT_FALSE(ReadList(list, io)) << length;
  }
}

TEST(FolderListReading, ImplausibleCountsAndTagLengthsFailAtOnce) {
  ByteWriter body;
  body.U32(0xFFFFFFFFu);
  AnsiFolder(body, "C:\\a", 0, 0);
  MemoryIO huge(ListSection("FolderList", body.bytes()));
  CQPXFolderList list;
  EXPECT_FALSE(ReadList(list, huge));
  EXPECT_EQ(list.GetFolderCount(), 0);

  // Three records claimed, room for two.
  ByteWriter short_body;
  short_body.U32(3);
  AnsiFolder(short_body, "", 0, 0);
  AnsiFolder(short_body, "", 0, 0);
  MemoryIO shortIo(ListSection("FolderList", short_body.bytes()));
  EXPECT_FALSE(ReadList(list, shortIo));

  ByteWriter bigTag;
  bigTag.U32(100).U32(0x7FFFFFFFu).Raw("FolderList");
  MemoryIO tagIo(bigTag.take());
  EXPECT_FALSE(ReadList(list, tagIo));
}

TEST(FolderListReading, StreamEndsAfterTheLastRecordWhateverLSays) {
  std::vector<uint8_t> bytes = AnsiList({"C:\\Docs", "C:\\Docs\\Sub"});
  size_t sectionSize = bytes.size();
  bytes[0] = 3;  // a wrong stored length
  bytes[1] = bytes[2] = bytes[3] = 0;
  bytes.insert(bytes.end(), {'N', 'E', 'X', 'T'});
  MemoryIO io(bytes);
  CQPXFolderList list;
  ASSERT_TRUE(ReadList(list, io));
  uint64_t position = 0, end = 0, size = 0;
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, sectionSize);
  ASSERT_TRUE(list.GetReadEnd(end));
  EXPECT_EQ(end, sectionSize);
  ASSERT_TRUE(list.GetSize(size));
  EXPECT_EQ(size, 7u);  // L + 4, as stored
  EXPECT_EQ(list.GetStoredLength(), 3u);
}

TEST(FolderListReading, ReadingAgainReplacesTheFolders) {
  MemoryIO io(AnsiList({"C:\\a", "C:\\b"}));
  CQPXFolderList list;
  ASSERT_TRUE(ReadList(list, io));
  ASSERT_TRUE(list.ReadSection());
  EXPECT_EQ(list.GetFolderCount(), 2);
}

TEST(UnicodeFolderList, RecordLengthCountsBytes) {
  ByteWriter body;
  body.U32(3);
  WideFolder(body, u"C:\\Docs", 0x11, 5);  // n = 14: seven characters
  WideFolder(body, u"C:\\\U0001F600表", 0x10, 6);
  // An odd length keeps n/2 units and still consumes all n bytes.
  body.U16(5).Utf16(u"ab").U8('!').U32(1).U64(1).U64(2).U64(3);
  MemoryIO io(ListSection("FolderList", body.bytes()));
  CUQPXFolderList list;
  ASSERT_TRUE(ReadList(list, io));
  ASSERT_EQ(list.GetFolderCount(), 3);
  std::u16string path;
  ASSERT_TRUE(list.GetFolder(0, &path, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(path.size(), 7u);
  ASSERT_TRUE(list.GetFolder(1, &path, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(path, u"C:\\\U0001F600表");
  uint32_t attributes = 0;
  ASSERT_TRUE(list.GetFolder(2, &path, nullptr, &attributes, nullptr, nullptr));
  EXPECT_EQ(path, u"ab");
  EXPECT_EQ(attributes, 1u);
}

TEST(FolderListEditing, FindAndGetFolder) {
  CQPXFolderList list;
  ASSERT_TRUE(list.AddFolder(u"C:\\Docs", 0x10, 1, 2, 3));
  ASSERT_TRUE(list.AddFolder(u"C:\\ДОМ", 0x10, 1, 2, 3));
  ASSERT_TRUE(list.AddFolder(u"c:\\docs", 0x10, 1, 2, 3));  // duplicates are allowed
  EXPECT_EQ(list.FindFolder(u"C:\\DOCS"), 0);
  EXPECT_EQ(list.FindFolder(u"c:\\дом"), 1);
  EXPECT_EQ(list.FindFolder(u"C:\\Doc"), -1);

  std::u16string path = u"untouched";
  uint32_t attributes = 77;
  EXPECT_FALSE(list.GetFolder(-1, &path, nullptr, &attributes, nullptr, nullptr));
  EXPECT_FALSE(list.GetFolder(3, &path, nullptr, &attributes, nullptr, nullptr));
  EXPECT_EQ(path, u"untouched");
  EXPECT_EQ(attributes, 77u);

  ASSERT_TRUE(list.RemoveFolder(0));
  EXPECT_EQ(list.FindFolder(u"C:\\DOCS"), 1);
  EXPECT_FALSE(list.RemoveFolder(2));
}

TEST(FolderListEditing, StoredLengthFollowsAddAndRemove) {
  CQPXFolderList list;
  EXPECT_EQ(list.GetStoredLength(), 18u);  // T + 8
  ASSERT_TRUE(list.AddFolder(u"C:\\表", 0, 0, 0, 0));  // 5 bytes in the code page
  EXPECT_EQ(list.GetStoredLength(), 18u + 35u);
  ASSERT_TRUE(list.AddFolder(u"C:\\a", 0, 0, 0, 0));
  ASSERT_TRUE(list.RemoveFolder(0));
  EXPECT_EQ(list.GetStoredLength(), 18u + 34u);
  list.Clear();
  EXPECT_EQ(list.GetStoredLength(), 18u);
  EXPECT_EQ(list.GetFolderCount(), 0);
  // A character the code page cannot hold cannot be written in an ANSI list.
  EXPECT_FALSE(list.AddFolder(u"C:\\\U0001F600", 0, 0, 0, 0));
  EXPECT_EQ(list.GetFolderCount(), 0);
}

TEST(FolderListWriting, AnsiRoundTripKeepsDoubleByteNames) {
  CQPXFolderList written;
  ASSERT_TRUE(written.AddFolder(u"C:\\ソ表能", 0x11, 10, 20, 30));
  ASSERT_TRUE(written.AddFolder(u"C:\\plain", 0x10, 11, 21, 31));
  MemoryIO io;
  ASSERT_TRUE(WriteSection(io, written));
  uint64_t size = 0;
  ASSERT_TRUE(written.GetSize(size));
  EXPECT_EQ(size, io.bytes().size());

  ASSERT_TRUE(io.SeekTo(0));
  CQPXFolderList read;
  ASSERT_TRUE(ReadList(read, io));
  CQPXFolderTable table;
  ASSERT_TRUE(read.CopyFolders(table));
  ASSERT_EQ(table.GetCount(), 2);
  EXPECT_EQ(table.paths[0], u"C:\\ソ表能");
  EXPECT_EQ(table.pathLengths[0], 6u);
  EXPECT_EQ(table.attributes[0], 0x11u);
  EXPECT_EQ(table.creationTimes[1], 11u);
  EXPECT_EQ(table.lastAccessTimes[1], 21u);
  EXPECT_EQ(table.lastWriteTimes[1], 31u);
}

TEST(FolderListWriting, UnicodeRoundTripAndCorrectedLength) {
  CUQPXFolderList written;
  ASSERT_TRUE(written.AddFolder(u"C:\\\U0001F600", 0x10, 1, 2, 3));
  MemoryIO io;
  ASSERT_TRUE(WriteSection(io, written));
  ASSERT_TRUE(io.SeekTo(0));
  CUQPXFolderList read;
  ASSERT_TRUE(ReadList(read, io));
  EXPECT_EQ(read.FindFolder(u"c:\\\U0001F600"), 0);

  // A list read with a wrong L is written with the true one.
  std::vector<uint8_t> bytes = io.bytes();
  bytes[0] = 1;
  MemoryIO damaged(bytes);
  CUQPXFolderList again;
  ASSERT_TRUE(ReadList(again, damaged));
  MemoryIO out;
  ASSERT_TRUE(WriteSection(out, again));
  EXPECT_EQ(out.bytes(), io.bytes());
}

TEST(FolderListWriting, FailedWriteReportsFailure) {
  CQPXFolderList list;
  ASSERT_TRUE(list.AddFolder(u"C:\\Docs", 0, 0, 0, 0));
  MemoryIO io;
  io.SetWriteLimit(30);
  EXPECT_FALSE(WriteSection(io, list));
  MemoryIO readOnly({}, QPXFile::kModeRead);
  CQPXFolderList other;
  EXPECT_FALSE(WriteSection(readOnly, other));
}

}  // namespace
