#include "archive/category_info.h"

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/memory_io.h"
#include "support/section_bytes.h"
#include "support/section_writers.h"

namespace {

using QPXFile::CQPXCategoryInfo;
using QPXFile::CQPXCategoryItemInfo;
using testsupport::ByteWriter;
using testsupport::ListSection;
using testsupport::MemoryIO;

void Item(ByteWriter& w, std::u16string_view name, std::u16string_view value, uint16_t code) {
  w.U16(static_cast<uint16_t>(name.size() * 2)).Utf16(name).U16(static_cast<uint16_t>(value.size() * 2)).Utf16(value);
  w.U16(code);
}

std::vector<uint8_t> Section(uint8_t flag, uint32_t count, const ByteWriter& items,
                             std::string_view tag = "CategoryInfo") {
  ByteWriter body;
  body.U8(flag).U32(count).Raw(items.bytes());
  return ListSection(tag, body.bytes());
}

bool ReadInfo(CQPXCategoryInfo& info, MemoryIO& io) {
  info.AttachIO(&io);
  return info.PlaceAndRead();
}

TEST(CategoryInfoReading, ItemsFlagAndLookupByName) {
  ByteWriter items;
  Item(items, u"Documents", u"書類", 3);
  Item(items, u"", u"", 0);  // a = 0, b = 0: six bytes
  Item(items, u"\U0001F600ДОМ", u"v", 65535);
  MemoryIO io(Section(1, 3, items));
  CQPXCategoryInfo info;
  ASSERT_TRUE(ReadInfo(info, io));
  EXPECT_TRUE(info.GetFlag());
  ASSERT_EQ(info.GetItemCount(), 3);
  std::u16string name, value;
  uint16_t code = 0;
  ASSERT_TRUE(info.GetItem(1, name, value, &code));
  EXPECT_EQ(name, u"");
  EXPECT_EQ(value, u"");
  ASSERT_TRUE(info.GetItemByName(u"DOCUMENTS", value, &code));
  EXPECT_EQ(value, u"書類");
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(info.FindItem(u"\U0001F600дом"), 2);
  EXPECT_EQ(info.ComputeLength() + 4, io.bytes().size());
  uint64_t position = 0, end = 0;
  ASSERT_TRUE(io.GetPosition(position));
  ASSERT_TRUE(info.GetReadEnd(end));
  EXPECT_EQ(position, io.bytes().size());
  EXPECT_EQ(end, position);
}

TEST(CategoryInfoReading, EmptyWithClearFlagIsValidAndOtherFlagBytesAreClear) {
  MemoryIO io(Section(0, 0, ByteWriter()));
  CQPXCategoryInfo info;
  ASSERT_TRUE(ReadInfo(info, io));
  EXPECT_FALSE(info.GetFlag());
  EXPECT_EQ(info.GetItemCount(), 0);
  MemoryIO two(Section(2, 0, ByteWriter()));
  ASSERT_TRUE(ReadInfo(info, two));
  EXPECT_FALSE(info.GetFlag());
}

TEST(CategoryInfoReading, DamageFailsCleanly) {
  ByteWriter items;
  Item(items, u"a", u"b", 1);
  Item(items, u"c", u"d", 2);
  MemoryIO lower(Section(0, 2, items, "categoryinfo"));
  CQPXCategoryInfo info;
  EXPECT_FALSE(ReadInfo(info, lower));

  MemoryIO huge(Section(0, 0xFFFFFFFFu, items));
  EXPECT_FALSE(ReadInfo(info, huge));
  EXPECT_EQ(info.GetItemCount(), 0);

  std::vector<uint8_t> full = Section(1, 2, items);
  for (size_t length = 0; length < full.size(); ++length) {
    MemoryIO io(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<long>(length)));
    EXPECT_FALSE(ReadInfo(info, io)) << length;
  }
  // Items read before the damage stay.
  MemoryIO cut(std::vector<uint8_t>(full.begin(), full.end() - 1));
  EXPECT_FALSE(ReadInfo(info, cut));
  EXPECT_EQ(info.GetItemCount(), 1);
}

TEST(CategoryInfoEditing, AddRemoveAndLength) {
  CQPXCategoryInfo info;
  EXPECT_EQ(info.GetStoredLength(), 21u);  // T + 9
  ASSERT_TRUE(info.AddItem(u"Name", u"Value", 7));
  EXPECT_EQ(info.GetStoredLength(), 21u + 24u);
  ASSERT_TRUE(info.AddItem(u"NAME", u"other", 8));  // present: unchanged
  EXPECT_EQ(info.GetItemCount(), 1);
  std::u16string value;
  ASSERT_TRUE(info.GetItemByName(u"name", value, nullptr));
  EXPECT_EQ(value, u"Value");
  EXPECT_EQ(info.ComputeLength(), info.GetStoredLength());

  std::u16string name = u"keep";
  EXPECT_FALSE(info.GetItem(1, name, value, nullptr));
  EXPECT_EQ(name, u"keep");
  EXPECT_FALSE(info.RemoveItemByName(u"missing"));
  EXPECT_TRUE(info.RemoveItemByName(u"name"));
  EXPECT_EQ(info.GetStoredLength(), 21u);
}

TEST(CategoryInfoWriting, RoundTrip) {
  CQPXCategoryInfo written;
  written.SetFlag(true);
  ASSERT_TRUE(written.AddItem(u"種類", u"\U0001F600", 12));
  ASSERT_TRUE(written.AddItem(u"", u"", 0));
  MemoryIO io;
  ASSERT_TRUE(testsupport::WriteSection(io, written));
  uint64_t size = 0;
  ASSERT_TRUE(written.GetSize(size));
  EXPECT_EQ(size, io.bytes().size());
  ASSERT_TRUE(io.SeekTo(0));
  CQPXCategoryInfo read;
  ASSERT_TRUE(ReadInfo(read, io));
  EXPECT_TRUE(read.GetFlag());
  std::u16string value;
  uint16_t code = 0;
  ASSERT_TRUE(read.GetItemByName(u"種類", value, &code));
  EXPECT_EQ(value, u"\U0001F600");
  EXPECT_EQ(code, 12u);
  CQPXCategoryItemInfo item(u"ab", u"c", 1);
  EXPECT_EQ(item.GetRecordSize(), 12u);
}

}  // namespace
