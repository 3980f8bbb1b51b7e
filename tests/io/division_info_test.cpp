#include "io/division_info.h"

#include <gtest/gtest.h>

#include "io/qpx_file_io.h"
#include "io/temp_files.h"
#include "support/bytes.h"
#include "support/section_writers.h"

namespace {

using namespace QPXFile;

std::vector<uint8_t> Section(std::string_view tag, uint16_t split, uint64_t S, uint32_t length = 0) {
  testsupport::ByteWriter w;
  w.U32(length != 0 ? length : static_cast<uint32_t>(4 + tag.size() + 16)).U32(static_cast<uint32_t>(tag.size()));
  w.Raw(tag).U16(split).Raw(std::string("\x01\x02\x03\x04\x05\x06", 6)).U64(S);
  return w.take();
}

class DivisionInfoTest : public ::testing::Test {
 protected:
  bool ReadFrom(const std::vector<uint8_t>& bytes, CQPXDivisionInfo& info) {
    dir_.Write("d", bytes);
    io_.Close();
    if (!io_.Open(dir_.EnginePath("d"), kModeRead)) return false;
    info.AttachIO(&io_);
    return info.PlaceAndRead();
  }

  iotest::TempDir dir_;
  CQPXFileIO io_;
};

TEST_F(DivisionInfoTest, ReadsTheSplitFlagAndVolumeSize) {
  CQPXDivisionInfo info;
  ASSERT_TRUE(ReadFrom(Section("Division_Info", 1, 650000000), info));
  EXPECT_TRUE(info.IsSplit());
  EXPECT_EQ(info.GetVolumeSize(), 650000000u);
  uint64_t size = 0;
  ASSERT_TRUE(info.GetSize(size));
  EXPECT_EQ(size, 37u);
  ASSERT_TRUE(info.SeekToEnd());
  uint64_t position = 0;
  ASSERT_TRUE(io_.GetPosition(position));
  EXPECT_EQ(position, 37u);

  CQPXDivisionInfo other;
  ASSERT_TRUE(ReadFrom(Section("Division_Info", 2, 5), other));
  EXPECT_FALSE(other.IsSplit());  // only 1 means split
  EXPECT_EQ(other.GetSplitFlag(), 2);
}

TEST_F(DivisionInfoTest, MalformedSectionsAreRejectedAndLeaveTheFields) {
  CQPXDivisionInfo info;
  ASSERT_TRUE(ReadFrom(Section("Division_Info", 1, 1000), info));
  const std::vector<std::vector<uint8_t>> bad = {
      Section("division_info", 0, 5),               // tag compared with its case
      Section("Division_Inf", 0, 5),                // tag of another length
      Section("Division_Info", 0, 5, 32),           // length too small for the block
      Section("Division_Info", 0, 5, 0xFFFFFFF0),   // runs past the end of the file
      [] {
        std::vector<uint8_t> v = Section("Division_Info", 0, 5);
        v.resize(30);
        return v;
      }(),
      testsupport::ByteWriter().U32(33).U32(0xFFFFFFFF).Raw("Division_Info").take(),  // hostile tag length
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    CQPXDivisionInfo probe;
    EXPECT_FALSE(ReadFrom(bad[i], probe)) << i;
    info.AttachIO(&io_);
    ASSERT_TRUE(io_.SeekTo(0));
    ASSERT_TRUE(info.MarkStart());
    EXPECT_FALSE(info.ReadSection()) << i;
    EXPECT_TRUE(info.IsSplit()) << i;
    EXPECT_EQ(info.GetVolumeSize(), 1000u) << i;
  }
}

TEST_F(DivisionInfoTest, WritesTheStandardLayoutAndReadsItBack) {
  CQPXDivisionInfo fresh;
  uint64_t size = 0;
  ASSERT_TRUE(fresh.GetSize(size));
  EXPECT_EQ(size, 37u);
  EXPECT_FALSE(fresh.IsSplit());
  EXPECT_EQ(fresh.GetVolumeSize(), 0u);

  // Bytes the reader does not interpret survive a read and a write.
  CQPXDivisionInfo info;
  ASSERT_TRUE(ReadFrom(Section("Division_Info", 0, 7), info));
  info.SetSplitFlag(1);
  info.SetVolumeSize(123456789012ull);
  CQPXFileIO out;
  ASSERT_TRUE(out.Open(dir_.EnginePath("w"), kModeCreate));
  ASSERT_TRUE(testsupport::WriteSection(out, info));
  out.Close();
  EXPECT_EQ(dir_.Read("w"), Section("Division_Info", 1, 123456789012ull));
}

}  // namespace
