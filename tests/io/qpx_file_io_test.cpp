#include "io/qpx_file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "io/section.h"
#include "io/temp_files.h"

namespace {

using namespace QPXFile;

TEST(QPXFileIOOpen, PathsWithoutAFileNameFailWithError9) {
  iotest::TempDir dir;
  CQPXFileIO io;
  EXPECT_FALSE(io.Open(u"a.qpx", kModeRead));
  EXPECT_EQ(io.GetLastError(), kErrorBadPath);
  EXPECT_FALSE(io.Open(dir.EnginePath("") + u"\\", kModeRead));
  EXPECT_EQ(io.GetLastError(), kErrorBadPath);
  EXPECT_FALSE(io.IsOpen());
  EXPECT_FALSE(io.Open(dir.EnginePath("x"), 0));
  EXPECT_FALSE(io.Open(dir.EnginePath("x"), kModeClosed));
}

TEST(QPXFileIOOpen, OtherDrivesAndMissingFilesFailAsPlatformErrors) {
  iotest::TempDir dir;
  CQPXFileIO io;
  EXPECT_FALSE(io.Open(u"C:\\Windows\\a.qpx", kModeRead));
  EXPECT_EQ(io.GetLastError(), kErrorIo);
  EXPECT_FALSE(io.Open(dir.EnginePath("missing.qpx"), kModeRead));
  EXPECT_EQ(io.GetLastError(), kErrorIo);
  EXPECT_EQ(io.GetSystemError(), ENOENT);
  EXPECT_EQ(io.GetOpenMode(), kModeClosed);
}

TEST(QPXFileIOOpen, SecondOpenFailsAndKeepsTheFirstFile) {
  iotest::TempDir dir;
  dir.Write("a", {1, 2, 3});
  dir.Write("b", {9});
  CQPXFileIO io;
  ASSERT_TRUE(io.Open(dir.EnginePath("a"), kModeRead));
  EXPECT_FALSE(io.Open(dir.EnginePath("b"), kModeReadShared));
  std::u16string path;
  ASSERT_TRUE(io.GetPathName(path));
  EXPECT_EQ(path, dir.EnginePath("a"));
  EXPECT_EQ(io.GetOpenMode(), kModeRead);
  uint8_t byte = 0;
  ASSERT_TRUE(ReadU8(io, byte));
  EXPECT_EQ(byte, 1);
}

TEST(QPXFileIOClose, ClosingAClosedStreamSucceedsWithError2) {
  CQPXFileIO io;
  EXPECT_TRUE(io.Close());
  EXPECT_EQ(io.GetLastError(), kErrorNotOpen);
  EXPECT_FALSE(io.IsEOF());
}

TEST(QPXFileIORead, EndOfFileIsASuccessfulEmptyRead) {
  iotest::TempDir dir;
  dir.Write("a", {1, 2, 3});
  CQPXFileIO io;
  ASSERT_TRUE(io.Open(dir.EnginePath("a"), kModeReadShared));
  uint8_t buffer[8];
  uint32_t got = 99;
  ASSERT_TRUE(io.Read(buffer, 8, &got));
  EXPECT_EQ(got, 3u);
  EXPECT_FALSE(io.IsEOF());
  ASSERT_TRUE(io.Read(buffer, 8, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(io.IsEOF());
  EXPECT_EQ(io.GetLastError(), kErrorEndOfFile);
  // Section readers must see this as a short record, never as a success.
  ASSERT_TRUE(io.SeekTo(1));
  EXPECT_FALSE(io.IsEOF());
  uint32_t value = 0;
  EXPECT_FALSE(ReadU32(io, value));
}

TEST(QPXFileIORead, ModeAndArgumentFaultsHaveTheirCodes) {
  iotest::TempDir dir;
  dir.Write("a", {1, 2, 3});
  uint8_t buffer[4];
  uint32_t got = 7;
  CQPXFileIO closed;
  EXPECT_FALSE(closed.Read(buffer, 4, &got));
  EXPECT_EQ(closed.GetLastError(), kErrorNotOpen);
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(closed.Write(buffer, 4));
  EXPECT_EQ(closed.GetLastError(), kErrorNotOpen);

  CQPXFileIO reader;
  ASSERT_TRUE(reader.Open(dir.EnginePath("a"), kModeRead));
  EXPECT_FALSE(reader.Read(nullptr, 4, &got));
  EXPECT_EQ(reader.GetLastError(), kErrorNullBuffer);
  EXPECT_FALSE(reader.Write(buffer, 1));
  EXPECT_EQ(reader.GetLastError(), kErrorWrongMode);
  EXPECT_FALSE(reader.Seek(0, 4, true));
  EXPECT_EQ(reader.GetLastError(), kErrorBadOrigin);

  CQPXFileIO writer;
  ASSERT_TRUE(writer.Open(dir.EnginePath("b"), kModeCreate));
  EXPECT_FALSE(writer.Read(buffer, 1, &got));
  EXPECT_EQ(writer.GetLastError(), kErrorWrongMode);
  EXPECT_FALSE(writer.Write(nullptr, 1));
  EXPECT_EQ(writer.GetLastError(), kErrorNullBuffer);
}

TEST(QPXFileIOWrite, CreateTruncatesAndReadWriteEditsInPlace) {
  iotest::TempDir dir;
  dir.Write("a", iotest::Pattern(0, 100));
  {
    CQPXFileIO io;
    ASSERT_TRUE(io.Open(dir.EnginePath("a"), kModeCreate));
    ASSERT_TRUE(io.Write("xyz", 3));
    ASSERT_TRUE(io.Close());
  }
  EXPECT_EQ(dir.Read("a"), (std::vector<uint8_t>{'x', 'y', 'z'}));
  CQPXFileIO io;
  EXPECT_FALSE(io.Open(dir.EnginePath("none"), kModeReadWrite));
  ASSERT_TRUE(io.Open(dir.EnginePath("a"), kModeReadWrite));
  ASSERT_TRUE(io.Seek(1, kSeekEnd, false));
  ASSERT_TRUE(io.Write("Z", 1));
  uint8_t first = 0;
  ASSERT_TRUE(io.SeekTo(0));
  ASSERT_TRUE(ReadU8(io, first));
  EXPECT_EQ(first, 'x');
  io.Close();
  EXPECT_EQ(dir.Read("a"), (std::vector<uint8_t>{'x', 'y', 'Z'}));
}

TEST(QPXFileIOSeek, FiveGigabytesForwardOnASparseFile) {
  iotest::TempDir dir;
  const uint64_t kGiB = 1ull << 30;
  {
    int fd = ::open(dir.HostPath("big").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(6 * kGiB)), 0);
    ASSERT_EQ(::pwrite(fd, "M", 1, static_cast<off_t>(5 * kGiB)), 1);
    ::close(fd);
  }
  CQPXFileIO io;
  ASSERT_TRUE(io.Open(dir.EnginePath("big"), kModeRead));
  ASSERT_TRUE(io.Seek(5 * kGiB, kSeekBegin, true));
  uint64_t position = 0, length = 0;
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, 5 * kGiB);
  uint8_t byte = 0;
  ASSERT_TRUE(ReadU8(io, byte));
  EXPECT_EQ(byte, 'M');
  ASSERT_TRUE(io.GetLength(length));
  EXPECT_EQ(length, 6 * kGiB);
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, 5 * kGiB + 1);  // taking the length does not move the stream
  ASSERT_TRUE(io.Seek(5 * kGiB + 1, kSeekCurrent, false));
  ASSERT_TRUE(io.GetPosition(position));
  EXPECT_EQ(position, 0u);
}

TEST(QPXFileIOSeek, HostileDistancesFailWithoutHanging) {
  iotest::TempDir dir;
  dir.Write("a", {1, 2, 3});
  CQPXFileIO io;
  ASSERT_TRUE(io.Open(dir.EnginePath("a"), kModeRead));
  EXPECT_FALSE(io.Seek(1, kSeekBegin, false));
  EXPECT_EQ(io.GetLastError(), kErrorIo);
  EXPECT_FALSE(io.Seek(UINT64_MAX, kSeekBegin, true));
  EXPECT_FALSE(io.Seek(UINT64_MAX, kSeekEnd, false));
  ASSERT_TRUE(io.SeekTo(2));
  uint8_t byte = 0;
  ASSERT_TRUE(ReadU8(io, byte));
  EXPECT_EQ(byte, 3);
}

}  // namespace
