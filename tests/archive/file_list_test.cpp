#include "archive/file_list.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/bytes.h"
#include "support/memory_io.h"
#include "support/section_bytes.h"
#include "support/section_writers.h"

namespace {

using QPXFile::CQPXFileList;
using QPXFile::CQPXUnicodeFileList;
using QPXFile::CQPXUnicodeFileListPathInfo;
using QPXFile::CUQPXFileList;
using testsupport::ByteWriter;
using testsupport::Cp932;
using testsupport::ListSection;
using testsupport::MemoryIO;
using testsupport::WriteSection;

struct AnsiRecord {
  uint8_t flag;
  std::string path;
};

std::vector<uint8_t> AnsiList(const std::vector<AnsiRecord>& records, std::string_view tag = "FileList") {
  ByteWriter body;
  body.U32(static_cast<uint32_t>(records.size()));
  for (const AnsiRecord& r : records) body.U8(r.flag).U16(static_cast<uint16_t>(r.path.size())).Raw(r.path);
  return ListSection(tag, body.bytes());
}

void UnicodeRecord(ByteWriter& w, uint8_t flag, std::u16string_view path, std::u16string_view second) {
  w.U8(flag).U16(static_cast<uint16_t>(path.size() * 2)).Utf16(path);
  w.U16(static_cast<uint16_t>(second.size() * 2)).Utf16(second);
}

bool ReadList(CQPXFileList& list, MemoryIO& io) {
  list.AttachIO(&io);
  return list.PlaceAndRead();
}

TEST(FileListReading, AnsiRecordsAndFlags) {
  MemoryIO io(AnsiList({{1, "C:\\Work"}, {2, Cp932(u"C:\\ソ表能")}, {0, "D:\\x"}}));
  CQPXFileList list;
  ASSERT_TRUE(ReadList(list, io));
  ASSERT_EQ(list.GetFileCount(), 3);
  bool flag = true;
  std::u16string path;
  uint16_t length = 0;
  ASSERT_TRUE(list.GetFile(1, &flag, &path, &length));
  EXPECT_FALSE(flag);  // a flag byte of 2 is clear
  EXPECT_EQ(path, u"C:\\ソ表能");
  EXPECT_EQ(length, 9u);  // bytes as stored
  ASSERT_TRUE(list.GetFileByPath(u"c:\\work", &flag, &length));
  EXPECT_TRUE(flag);
  EXPECT_EQ(list.FindFile(u"D:\\X"), 2);
  EXPECT_EQ(list.FindFile(u"D:\\"), -1);
}

TEST(FileListReading, EveryClassRejectsDamage) {
  std::vector<std::unique_ptr<CQPXFileList>> lists;
  lists.push_back(std::make_unique<CQPXFileList>());
  lists.push_back(std::make_unique<CUQPXFileList>());
  lists.push_back(std::make_unique<CQPXUnicodeFileList>());
  ByteWriter unicodeBody;
  unicodeBody.U32(2);
  UnicodeRecord(unicodeBody, 1, u"C:\\a", u"x");
  UnicodeRecord(unicodeBody, 0, u"C:\\b", u"");
  std::vector<uint8_t> full = ListSection("FileList", unicodeBody.bytes());

  for (auto& list : lists) {
    // Lower-case tag.
    MemoryIO lower(ListSection("filelist", {0, 0, 0, 0}));
    EXPECT_FALSE(ReadList(*list, lower));
    // A count of four thousand million in a short stream.
    MemoryIO huge(ListSection("FileList", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(ReadList(*list, huge));
    EXPECT_EQ(list->GetFileCount(), 0);
    // Empty list.
    MemoryIO empty(ListSection("FileList", {0, 0, 0, 0}));
    EXPECT_TRUE(ReadList(*list, empty));
    EXPECT_EQ(list->GetFileCount(), 0);
    // Truncation anywhere.
    for (size_t length = 0; length < full.size(); ++length) {
      MemoryIO io(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(length)));
      EXPECT_FALSE(ReadList(*list, io)) << length;
    }
  }
}

TEST(FileListReading, AnsiNameWithALoneLeadByteReadsAsWindowsReadsIt) {
  MemoryIO io(AnsiList({{1, "C:\\\x81"}, {1, "C:\\b"}}));
  CQPXFileList list;
  ASSERT_TRUE(ReadList(list, io));
  std::u16string path;
  ASSERT_TRUE(list.GetFile(0, nullptr, &path, nullptr));
  EXPECT_EQ(path, u"C:\\\u30FB");
  EXPECT_EQ(list.FindFile(u"c:\\B"), 1);
}

TEST(FileListReading, StreamEndsAfterTheLastRecord) {
  std::vector<uint8_t> bytes = AnsiList({{1, "C:\\a"}, {0, "C:\\bb"}});
  size_t sectionSize = bytes.size();
  bytes[0] = 0xFF;  // L claims far more
  bytes[1] = 0xFF;
  bytes.insert(bytes.end(), 20, 0xEE);
  MemoryIO io(bytes);
  CQPXFileList list;
  ASSERT_TRUE(ReadList(list, io));
  uint64_t position = 0, end = 0;
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, sectionSize);
  ASSERT_TRUE(list.GetReadEnd(end));
  EXPECT_EQ(end, sectionSize);
}

TEST(UnicodeFileListReading, RecordsCarryASecondString) {
  ByteWriter body;
  body.U32(3);
  UnicodeRecord(body, 1, u"C:\\ab", u"");  // a = 10, b = 0: 15 bytes
  UnicodeRecord(body, 2, u"C:\\\U0001F600", u"second");
  body.U8(1).U16(3).Raw(std::string_view("a\0b", 3)).U16(1).Raw("z");  // odd lengths
  MemoryIO io(ListSection("FileList", body.bytes()));
  CQPXUnicodeFileList list;
  ASSERT_TRUE(ReadList(list, io));
  ASSERT_EQ(list.GetFileCount(), 3);
  const CQPXUnicodeFileListPathInfo* info = nullptr;
  ASSERT_TRUE(list.GetPathInfo(0, info));
  EXPECT_EQ(info->GetPath().size(), 5u);
  EXPECT_EQ(info->GetSecond(), u"");
  EXPECT_EQ(info->GetRecordSize(), 15u);
  ASSERT_TRUE(list.FindPathInfo(u"c:\\\U0001F600", info));
  EXPECT_FALSE(info->GetFlag());
  EXPECT_EQ(info->GetSecond(), u"second");
  ASSERT_TRUE(list.GetPathInfo(2, info));
  EXPECT_EQ(info->GetPath(), u"a");
  EXPECT_EQ(info->GetSecond(), u"");
  EXPECT_EQ(info->GetRecordSize(), 9u);
  EXPECT_FALSE(list.GetPathInfo(3, info));
  EXPECT_TRUE(list.HasTag());
}

TEST(FlaggedAncestor, FirstFlaggedPrefixInOrderWithoutNeedingASeparator) {
  CQPXFileList list;
  ASSERT_TRUE(list.AddFile(u"C:\\WORK\\deep", false));
  ASSERT_TRUE(list.AddFile(u"C:\\WORK", true));
  ASSERT_TRUE(list.AddFile(u"C:\\", true));
  std::u16string found;
  ASSERT_TRUE(list.FindFlaggedAncestor(u"c:\\work\\a.txt", found));
  EXPECT_EQ(found, u"C:\\WORK");
  ASSERT_TRUE(list.FindFlaggedAncestor(u"c:\\workshop", found));
  EXPECT_EQ(found, u"C:\\WORK");
  // The clear record matches textually but is skipped.
  ASSERT_TRUE(list.FindFlaggedAncestor(u"C:\\WORK\\deep\\x", found));
  EXPECT_EQ(found, u"C:\\WORK");
  ASSERT_TRUE(list.FindFlaggedAncestor(u"C:\\other", found));
  EXPECT_EQ(found, u"C:\\");
  found = u"unchanged";
  EXPECT_FALSE(list.FindFlaggedAncestor(u"D:\\WORK", found));
  EXPECT_EQ(found, u"unchanged");
}

TEST(FlaggedAncestor, OrderOfTheListDecidesNotLength) {
  CQPXUnicodeFileList list;
  ASSERT_TRUE(list.AddFile(u"C:\\Ａ\\ДОМ\\sub", true));
  ASSERT_TRUE(list.AddFile(u"C:\\Ａ", true));
  std::u16string found;
  ASSERT_TRUE(list.FindFlaggedAncestor(u"c:\\ａ\\дом\\sub\\f", found));
  EXPECT_EQ(found, u"C:\\Ａ\\ДОМ\\sub");
  ASSERT_TRUE(list.RemoveFile(0));
  ASSERT_TRUE(list.FindFlaggedAncestor(u"c:\\ａ\\дом\\sub\\f", found));
  EXPECT_EQ(found, u"C:\\Ａ");
}

TEST(FileListEditing, AddFileIgnoresCaseDuplicatesAndKeepsLength) {
  CQPXFileList list;
  EXPECT_EQ(list.GetStoredLength(), 16u);  // T + 8
  ASSERT_TRUE(list.AddFile(u"C:\\Docs\\a.txt", true));
  uint32_t length = list.GetStoredLength();
  EXPECT_EQ(length, 16u + 16u);
  EXPECT_EQ(list.ComputeLength(), length);
  ASSERT_TRUE(list.AddFile(u"c:\\DOCS\\A.TXT", false));
  EXPECT_EQ(list.GetFileCount(), 1);
  EXPECT_EQ(list.GetStoredLength(), length);
  bool flag = false;
  ASSERT_TRUE(list.GetFile(0, &flag, nullptr, nullptr));
  EXPECT_TRUE(flag);

  EXPECT_FALSE(list.RemoveFileByPath(u"C:\\nothing"));
  EXPECT_TRUE(list.RemoveFileByPath(u"C:\\docs\\a.TXT"));
  EXPECT_EQ(list.GetFileCount(), 0);
  EXPECT_EQ(list.GetStoredLength(), 16u);
  EXPECT_FALSE(list.GetFile(0, &flag, nullptr, nullptr));
  EXPECT_FALSE(list.AddFile(u"C:\\\U0001F600", true));  // not in the code page
}

TEST(FileListWriting, RoundTripsInEveryEncoding) {
  CQPXFileList ansi;
  ASSERT_TRUE(ansi.AddFile(u"C:\\ソ表能", true));
  ASSERT_TRUE(ansi.AddFile(u"C:\\b", false));
  MemoryIO ansiIo;
  ASSERT_TRUE(WriteSection(ansiIo, ansi));
  uint64_t size = 0;
  ASSERT_TRUE(ansi.GetSize(size));
  EXPECT_EQ(size, ansiIo.bytes().size());
  ASSERT_TRUE(ansiIo.SeekTo(0));
  CQPXFileList ansiBack;
  ASSERT_TRUE(ReadList(ansiBack, ansiIo));
  EXPECT_EQ(ansiBack.FindFile(u"C:\\ソ表能"), 0);

  CUQPXFileList wide;
  ASSERT_TRUE(wide.AddFile(u"C:\\\U0001F600", true));
  MemoryIO wideIo;
  ASSERT_TRUE(WriteSection(wideIo, wide));
  ASSERT_TRUE(wideIo.SeekTo(0));
  CUQPXFileList wideBack;
  ASSERT_TRUE(ReadList(wideBack, wideIo));
  uint16_t length = 0;
  bool flag = false;
  ASSERT_TRUE(wideBack.GetFileByPath(u"c:\\\U0001F600", &flag, &length));
  EXPECT_TRUE(flag);
  EXPECT_EQ(length, 10u);

  CQPXUnicodeFileList unicode;
  ASSERT_TRUE(unicode.AddFileEx(u"C:\\x", true, u"extra"));
  ASSERT_TRUE(unicode.AddFile(u"C:\\y", false));
  MemoryIO unicodeIo;
  ASSERT_TRUE(WriteSection(unicodeIo, unicode));
  EXPECT_EQ(unicodeIo.bytes().size(), 4 + unicode.ComputeLength());
  ASSERT_TRUE(unicodeIo.SeekTo(0));
  CQPXUnicodeFileList unicodeBack;
  ASSERT_TRUE(ReadList(unicodeBack, unicodeIo));
  const CQPXUnicodeFileListPathInfo* info = nullptr;
  ASSERT_TRUE(unicodeBack.FindPathInfo(u"c:\\X", info));
  EXPECT_EQ(info->GetSecond(), u"extra");
}

TEST(FileListEditing, CopyFromReplacesContents) {
  CQPXUnicodeFileList source;
  ASSERT_TRUE(source.AddFileEx(u"C:\\a", true, u"s"));
  ASSERT_TRUE(source.AddFile(u"C:\\b", false));
  CQPXUnicodeFileList same;
  ASSERT_TRUE(same.AddFile(u"C:\\old", true));
  ASSERT_TRUE(same.CopyFrom(source));
  EXPECT_EQ(same.GetFileCount(), 2);
  EXPECT_EQ(same.FindFile(u"C:\\old"), -1);
  const CQPXUnicodeFileListPathInfo* info = nullptr;
  ASSERT_TRUE(same.FindPathInfo(u"C:\\A", info));
  EXPECT_EQ(info->GetSecond(), u"s");
  EXPECT_EQ(same.GetStoredLength(), source.GetStoredLength());
  EXPECT_TRUE(same.CopyFrom(same));
  EXPECT_EQ(same.GetFileCount(), 2);

  CQPXFileList ansi;
  ASSERT_TRUE(ansi.CopyFrom(source));
  EXPECT_EQ(ansi.GetFileCount(), 2);
  EXPECT_EQ(ansi.GetStoredLength(), ansi.ComputeLength());
  std::u16string found;
  ASSERT_TRUE(ansi.FindFlaggedAncestor(u"C:\\a\\z", found));
  EXPECT_EQ(found, u"C:\\a");
}

}  // namespace
