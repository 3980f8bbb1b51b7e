#include "archive/file_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/bytes.h"
#include "support/memory_io.h"
#include "support/section_writers.h"

namespace {

using QPXFile::CQPXFileHeader;
using QPXFile::CUQPXFileHeader;
using testsupport::ByteWriter;
using testsupport::HeaderRecord;
using testsupport::MemoryIO;
using testsupport::WriteSection;

std::vector<uint8_t> HeaderBytes(std::string_view id, std::string_view description = "") {
  ByteWriter w;
  std::string text(id);
  text.resize(8, ' ');
  w.Raw(text).U32(3).U64(0x01D2345678ABCDEFull).U32(42).Raw("QPX2.0  ").Raw("PKWARE  ");
  std::string desc(description);
  desc.resize(128, ' ');
  w.Raw(desc);
  return w.take();
}

bool ReadHeader(CQPXFileHeader& header, MemoryIO& io) {
  header.AttachIO(&io);
  return header.PlaceAndRead();
}

TEST(FileHeader, ReadsEveryFieldOfTheRecord) {
  MemoryIO io(HeaderBytes("QPX2.0", "backup of C:\\"));
  CQPXFileHeader header;
  ASSERT_TRUE(ReadHeader(header, io));
  std::u16string text;
  ASSERT_TRUE(header.GetFormatId(text));
  EXPECT_EQ(text, u"QPX2.0  ");
  EXPECT_EQ(header.GetSectionLevel(), 3u);
  EXPECT_EQ(header.GetCreationTime(), 0x01D2345678ABCDEFull);
  EXPECT_EQ(header.GetEntryCount(), 42u);
  ASSERT_TRUE(header.GetVersionText(text));
  EXPECT_EQ(text, u"QPX2.0  ");
  ASSERT_TRUE(header.GetCompressionText(text));
  EXPECT_EQ(text, u"PKWARE  ");
  ASSERT_TRUE(header.GetDescription(text));
  EXPECT_EQ(text.substr(0, 13), u"backup of C:\\");
  EXPECT_EQ(text.size(), 128u);  // trailing blanks stay part of the text
  uint64_t position = 0;
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, 168u);
}

TEST(FileHeader, IdentifierPaddedWithNulsDoesNotEqualTheBlankPaddedConstant) {
  ByteWriter w;
  w.Raw(std::string_view("QPX2.0\0\0", 8));
  std::vector<uint8_t> bytes = HeaderBytes("x");
  std::memcpy(bytes.data(), w.bytes().data(), 8);
  MemoryIO io(bytes);
  CQPXFileHeader header;
  ASSERT_TRUE(ReadHeader(header, io));
  std::u16string id;
  ASSERT_TRUE(header.GetFormatId(id));
  EXPECT_EQ(id, u"QPX2.0");
  EXPECT_NE(id, u"QPX2.0  ");
}

TEST(FileHeader, FileShorterThanTheHeaderFailsAndLeavesTheRecord) {
  std::vector<uint8_t> bytes = HeaderBytes("QPX2.0");
  bytes.resize(167);
  MemoryIO io(bytes);
  CQPXFileHeader header;
  MemoryIO earlier(HeaderBytes("QPX3.0  "));
  ASSERT_TRUE(ReadHeader(header, earlier));
  EXPECT_FALSE(ReadHeader(header, io));
  std::u16string id;
  ASSERT_TRUE(header.GetFormatId(id));
  EXPECT_EQ(id, u"QPX3.0  ");
}

TEST(FileHeader, TextFieldsAreBlankPaddedAndLongTextFails) {
  HeaderRecord record;
  ASSERT_TRUE(record.SetFormatId(u"QPX1.0"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.bytes().data()), 8), "QPX1.0  ");
  EXPECT_FALSE(record.SetVersionText(u"QPX1.0   "));
  EXPECT_FALSE(record.SetCompressionText(u"\U0001F600"));  // not in the code page
  MemoryIO io(record.Image());
  CQPXFileHeader header;
  ASSERT_TRUE(ReadHeader(header, io));
  std::u16string id;
  ASSERT_TRUE(header.GetFormatId(id));
  EXPECT_EQ(id, u"QPX1.0  ");
}

TEST(FileHeader, AnsiDescriptionFitsExactly128Bytes) {
  HeaderRecord record;
  // 64 double-byte characters make 128 bytes.
  std::u16string full(64, u'表');
  ASSERT_TRUE(record.SetDescription(full));
  EXPECT_FALSE(record.SetDescription(full + u"a"));  // leaves the field as it was
  MemoryIO io(record.Image());
  CQPXFileHeader header;
  ASSERT_TRUE(ReadHeader(header, io));
  std::u16string back;
  ASSERT_TRUE(header.GetDescription(back));
  EXPECT_EQ(back, full);
}

TEST(FileHeader, RoundTripThroughAStream) {
  HeaderRecord fields;
  ASSERT_TRUE(fields.SetFormatId(u"QPX2.0  "));
  ASSERT_TRUE(fields.SetVersionText(u"QPX2.0  "));
  ASSERT_TRUE(fields.SetCompressionText(u"NA"));
  fields.SetSectionLevel(4);
  fields.SetCreationTime(0x0123456789ABCDEFull);
  fields.SetEntryCount(7);
  ASSERT_TRUE(fields.SetDescription(u"ソ表能"));
  MemoryIO source(fields.Image());
  CQPXFileHeader written;
  ASSERT_TRUE(ReadHeader(written, source));
  MemoryIO io;
  ASSERT_TRUE(WriteSection(io, written));
  ASSERT_EQ(io.bytes(), fields.Image());

  ASSERT_TRUE(io.SeekTo(0));
  CQPXFileHeader read;
  ASSERT_TRUE(ReadHeader(read, io));
  EXPECT_EQ(std::memcmp(read.GetRecord(), written.GetRecord(), 168), 0);
  EXPECT_EQ(read.GetSectionLevel(), 4u);
  EXPECT_EQ(read.GetCreationTime(), 0x0123456789ABCDEFull);
  EXPECT_EQ(read.GetEntryCount(), 7u);
  std::u16string text;
  ASSERT_TRUE(read.GetCompressionText(text));
  EXPECT_EQ(text, u"NA      ");
}

TEST(FileHeader, SectionPlacing) {
  MemoryIO io(HeaderBytes("QPX2.0"));
  CQPXFileHeader header;
  header.AttachIO(&io);
  ASSERT_TRUE(header.MarkStart());
  ASSERT_TRUE(header.SeekToEnd());
  uint64_t position = 0;
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, 168u);

  ASSERT_TRUE(io.Close());
  CQPXFileHeader closed;
  closed.AttachIO(&io);
  EXPECT_FALSE(closed.MarkStart());
  EXPECT_FALSE(closed.IsPositioned());
  EXPECT_FALSE(closed.PlaceAndRead());
}

TEST(UnicodeFileHeader, DescriptionOf64UnitsIsWrittenWithoutBlanks) {
  std::u16string full(63, u'あ');
  full += u"\U0001F600";  // a surrogate pair makes 65 units
  HeaderRecord record;
  EXPECT_FALSE(record.SetUnicodeDescription(full));

  full.resize(62);
  full += u"\U0001F600";  // exactly 64 units
  ASSERT_TRUE(record.SetUnicodeDescription(full));
  MemoryIO source(record.Image());
  CUQPXFileHeader header;
  ASSERT_TRUE(ReadHeader(header, source));
  MemoryIO io;
  ASSERT_TRUE(WriteSection(io, header));
  ASSERT_EQ(io.bytes().size(), 168u);
  EXPECT_NE(io.bytes()[167], 0x00);  // no room was left for padding

  ASSERT_TRUE(io.SeekTo(0));
  CUQPXFileHeader read;
  ASSERT_TRUE(ReadHeader(read, io));
  std::u16string back;
  ASSERT_TRUE(read.GetDescription(back));
  EXPECT_EQ(back, full);
}

TEST(UnicodeFileHeader, ShortDescriptionIsPaddedAndCutAtNul) {
  HeaderRecord record;
  ASSERT_TRUE(record.SetUnicodeDescription(u"日記"));
  std::vector<uint8_t> bytes = record.Image();
  bytes[40 + 2 * 2] = 0;  // NUL after two units
  bytes[40 + 2 * 2 + 1] = 0;
  MemoryIO cut(bytes);
  CUQPXFileHeader header;
  ASSERT_TRUE(ReadHeader(header, cut));
  std::u16string back;
  ASSERT_TRUE(header.GetDescription(back));
  EXPECT_EQ(back, u"日記");

  MemoryIO io;
  ASSERT_TRUE(WriteSection(io, header));
  ASSERT_TRUE(io.SeekTo(0));
  CUQPXFileHeader read;
  ASSERT_TRUE(ReadHeader(read, io));
  ASSERT_TRUE(read.GetDescription(back));
  EXPECT_EQ(back, u"日記" + std::u16string(62, u' '));
}

}  // namespace
