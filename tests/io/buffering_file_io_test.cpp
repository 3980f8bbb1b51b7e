#include "io/buffering_file_io.h"

#include <gtest/gtest.h>

#include "io/section.h"
#include "io/temp_files.h"

namespace {

using namespace QPXFile;

class BufferingReadTest : public ::testing::Test {
 protected:
  void OpenWithBuffer(uint32_t bufferSize, size_t fileSize) {
    dir_.Write("f", iotest::Pattern(0, fileSize));
    io_.SetBufferSize(bufferSize);
    ASSERT_TRUE(io_.Open(dir_.EnginePath("f"), kModeRead));
  }
  std::vector<uint8_t> ReadSome(uint32_t length) {
    std::vector<uint8_t> out(length);
    uint32_t got = 0;
    EXPECT_TRUE(io_.Read(out.data(), length, &got));
    out.resize(got);
    return out;
  }
  uint64_t Position() {
    uint64_t position = 0;
    EXPECT_TRUE(io_.GetPosition(position));
    return position;
  }

  iotest::TempDir dir_;
  CBufferingFileIO io_;
};

TEST_F(BufferingReadTest, ReadsAcrossTheBufferBoundary) {
  OpenWithBuffer(16, 100);
  EXPECT_EQ(ReadSome(12), iotest::Pattern(0, 12));
  EXPECT_EQ(ReadSome(10), iotest::Pattern(12, 10));  // 4 held + 6 of the refill
  EXPECT_EQ(Position(), 22u);
  // More than the buffer: the held bytes plus one chunk, then the caller asks again.
  EXPECT_EQ(ReadSome(50), iotest::Pattern(22, 10 + 16));
  EXPECT_EQ(Position(), 48u);
  uint8_t record[52];
  ASSERT_TRUE(ReadExact(io_, record, 52));
  EXPECT_EQ(std::vector<uint8_t>(record, record + 52), iotest::Pattern(48, 52));
  EXPECT_FALSE(io_.IsEOF());
  EXPECT_TRUE(ReadSome(1).empty());
  EXPECT_TRUE(io_.IsEOF());
  EXPECT_EQ(io_.GetLastError(), kErrorEndOfFile);
}

TEST_F(BufferingReadTest, PositionCountsOnlyDeliveredBytes) {
  OpenWithBuffer(CBufferingFileIO::kDefaultBufferSize, 2 << 20);
  EXPECT_EQ(ReadSome(3), iotest::Pattern(0, 3));
  EXPECT_EQ(Position(), 3u);
  uint64_t length = 0;
  ASSERT_TRUE(io_.GetLength(length));
  EXPECT_EQ(length, 2u << 20);
}

TEST_F(BufferingReadTest, SeekDiscardsTheBuffer) {
  OpenWithBuffer(16, 100);
  ReadSome(5);
  ASSERT_TRUE(io_.SeekTo(90));
  EXPECT_EQ(Position(), 90u);
  EXPECT_EQ(ReadSome(20), iotest::Pattern(90, 10));
  ASSERT_TRUE(io_.Seek(95, kSeekCurrent, false));
  EXPECT_EQ(ReadSome(3), iotest::Pattern(5, 3));
  EXPECT_EQ(Position(), 8u);
  ASSERT_TRUE(io_.Seek(4, kSeekEnd, false));
  EXPECT_EQ(ReadSome(16), iotest::Pattern(96, 4));
}

TEST(BufferingOpen, RefusesReadWriteAndReportsAClosedStream) {
  iotest::TempDir dir;
  dir.Write("f", {1, 2, 3});
  CBufferingFileIO io;
  EXPECT_FALSE(io.Open(dir.EnginePath("f"), kModeReadWrite));
  EXPECT_FALSE(io.Open(dir.EnginePath("missing"), kModeRead));
  EXPECT_FALSE(io.IsOpen());
  EXPECT_EQ(io.GetLastError(), kErrorNotOpen);
  EXPECT_EQ(io.GetOpenMode(), kModeClosed);
  uint8_t byte;
  EXPECT_FALSE(io.Read(&byte, 1, nullptr));
  io.SetBufferSize(0);
  EXPECT_FALSE(io.Open(dir.EnginePath("f"), kModeRead));
  io.SetBufferSize(8);
  ASSERT_TRUE(io.Open(dir.EnginePath("f"), kModeReadShared));
  EXPECT_FALSE(io.Write(&byte, 1));
  EXPECT_EQ(io.GetLastError(), kErrorWrongMode);
  // A new Open replaces the open file.
  dir.Write("g", {7});
  ASSERT_TRUE(io.Open(dir.EnginePath("g"), kModeRead));
  ASSERT_TRUE(ReadU8(io, byte));
  EXPECT_EQ(byte, 7);
}

TEST(BufferingWrite, HeldBytesReachTheFileInOrder) {
  iotest::TempDir dir;
  CBufferingFileIO io;
  io.SetBufferSize(8);
  ASSERT_TRUE(io.Open(dir.EnginePath("w"), kModeCreate));
  ASSERT_TRUE(io.Write("abc", 3));
  EXPECT_TRUE(dir.Read("w").empty());  // still held
  uint64_t length = 0;
  ASSERT_TRUE(io.GetLength(length));
  EXPECT_EQ(length, 3u);
  ASSERT_TRUE(io.Write("defgh", 5));
  ASSERT_TRUE(io.Write("0123456789AB", 12));  // larger than the buffer: straight through after the held bytes
  ASSERT_TRUE(io.Write("xy", 2));
  uint64_t position = 0;
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, 22u);
  ASSERT_TRUE(io.Write("z", 1));
  uint8_t byte;
  EXPECT_FALSE(io.Read(&byte, 1, nullptr));
  EXPECT_EQ(io.GetLastError(), kErrorWrongMode);
  ASSERT_TRUE(io.Close());
  std::vector<uint8_t> bytes = dir.Read("w");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdefgh0123456789ABxyz");
}

}  // namespace
