#include <gtest/gtest.h>

#include "io/limited_file_io.h"
#include "io/section.h"
#include "io/temp_files.h"

namespace {

using namespace QPXFile;

class LimitedFileIOTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("f", iotest::Pattern(0, 200));
    ASSERT_TRUE(io_.Open(dir_.EnginePath("f"), kModeRead));
  }
  uint64_t Position() {
    uint64_t position = 0;
    EXPECT_TRUE(io_.GetPosition(position));
    return position;
  }

  iotest::TempDir dir_;
  CLimitedFileIO io_;
};

TEST_F(LimitedFileIOTest, ReadIsCutAtTheWindowEnd) {
  ASSERT_FALSE(io_.SetLimits(12, 112));  // the file is longer than the window
  dir_.Write("g", iotest::Pattern(0, 112));
  CLimitedFileIO io;
  ASSERT_TRUE(io.Open(dir_.EnginePath("g"), kModeRead));
  ASSERT_TRUE(io.SetLimits(12, 112));
  EXPECT_FALSE(io.SetLimits(0, 112));  // only once
  uint64_t length = 0, position = 99;
  ASSERT_TRUE(io.GetLength(length));
  EXPECT_EQ(length, 100u);
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, 0u);

  ASSERT_TRUE(io.SeekTo(80));
  uint8_t buffer[50];
  uint32_t got = 0;
  ASSERT_TRUE(io.Read(buffer, 50, &got));
  EXPECT_EQ(got, 20u);
  EXPECT_TRUE(io.IsEndReached());
  EXPECT_EQ(io.GetOverrun(), 30u);
  EXPECT_EQ(buffer[0], iotest::PatternByte(92));

  ASSERT_TRUE(io.Read(buffer, 5, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(io.IsEOF());

  ASSERT_TRUE(io.SeekTo(10));
  ASSERT_TRUE(io.Read(buffer, 5, &got));
  EXPECT_EQ(got, 5u);
  EXPECT_FALSE(io.IsEndReached());
  EXPECT_EQ(io.GetOverrun(), 0u);
  EXPECT_EQ(buffer[0], iotest::PatternByte(22));
}

TEST_F(LimitedFileIOTest, SeeksBeforeTheWindowStopAtItsStart) {
  ASSERT_TRUE(io_.SetLimits(12, 300));
  ASSERT_TRUE(io_.SeekTo(5));
  ASSERT_TRUE(io_.Seek(20, kSeekCurrent, false));  // 17 - 20 in the file
  EXPECT_EQ(Position(), 0u);
  EXPECT_TRUE(io_.IsEndReached());
  EXPECT_EQ(io_.GetOverrun(), 15u);

  ASSERT_TRUE(io_.Seek(190, kSeekEnd, false));  // file offset 10
  EXPECT_EQ(Position(), 0u);
  EXPECT_EQ(io_.GetOverrun(), 2u);

  ASSERT_TRUE(io_.Seek(8, kSeekEnd, false));
  EXPECT_EQ(Position(), 180u);
  EXPECT_FALSE(io_.IsEndReached());

  // Not clamped at the end: the window reads as exhausted there.
  ASSERT_TRUE(io_.SeekTo(400));
  EXPECT_EQ(Position(), 400u);
  uint8_t byte;
  uint32_t got = 9;
  ASSERT_TRUE(io_.Read(&byte, 1, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(io_.IsEndReached());
}

TEST_F(LimitedFileIOTest, HostileWindowValuesNeverWrap) {
  EXPECT_FALSE(io_.SetLimits(50, 10));              // end before start
  EXPECT_FALSE(io_.SetLimits(UINT64_MAX, UINT64_MAX));  // non-empty file shorter than start
  ASSERT_TRUE(io_.SetLimits(12, UINT64_MAX));
  EXPECT_FALSE(io_.Seek(UINT64_MAX, kSeekEnd, true));
  EXPECT_FALSE(io_.Seek(UINT64_MAX, kSeekBegin, true));
  ASSERT_TRUE(io_.SeekTo(178));
  ASSERT_TRUE(io_.Seek(UINT64_MAX, kSeekCurrent, false));
  EXPECT_EQ(Position(), 0u);
  EXPECT_EQ(io_.GetOverrun(), UINT64_MAX - 178);  // the whole shortfall, not wrapped
  uint8_t buffer[16];
  uint32_t got = 0;
  ASSERT_TRUE(io_.Read(buffer, 16, &got));
  EXPECT_EQ(got, 16u);
  EXPECT_FALSE(io_.IsEndReached());
}

TEST(LimitedFileIOWrite, EmptyFileIsPaddedToTheWindowAndWritesStopAtItsEnd) {
  iotest::TempDir dir;
  CLimitedFileIO io;
  ASSERT_TRUE(io.Open(dir.EnginePath("w"), kModeCreate));
  ASSERT_TRUE(io.SetLimits(4, 10));
  ASSERT_TRUE(io.Write("abcdef", 6));
  EXPECT_FALSE(io.IsEndReached());
  ASSERT_TRUE(io.Write("gh", 2));  // exactly at the end: nothing written
  EXPECT_TRUE(io.IsEndReached());
  EXPECT_EQ(io.GetOverrun(), 2u);
  io.Close();
  EXPECT_EQ(dir.Read("w"), (std::vector<uint8_t>{0, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f'}));

  CLimitedFileIO reader;
  dir.Write("empty", {});
  ASSERT_TRUE(reader.Open(dir.EnginePath("empty"), kModeRead));
  EXPECT_FALSE(reader.SetLimits(12, 100));  // a reader cannot pad
  CLimitedFileIO huge;
  ASSERT_TRUE(huge.Open(dir.EnginePath("w2"), kModeCreate));
  EXPECT_FALSE(huge.SetLimits(UINT64_MAX - 1, UINT64_MAX));  // no disk-filling padding
}

}  // namespace
