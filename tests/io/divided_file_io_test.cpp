#include "io/divided_file_io.h"

#include <gtest/gtest.h>

#include <functional>

#include "host/file.h"
#include "io/section.h"
#include "io/temp_files.h"
#include "support/bytes.h"

namespace {

using namespace QPXFile;

constexpr uint32_t kTimeLow = 0x89ABCDEF;
constexpr uint32_t kTimeHigh = 0x01D2A3B4;

QPXVolumeHead Template() { return QPXVolumeHead{1, kTimeLow, kTimeHigh, true}; }

std::vector<uint8_t> Head(uint8_t continued, uint32_t timeLow = kTimeLow) {
  return testsupport::ByteWriter().U8(continued).U8(0).U8(0).U8(0).U32(timeLow).U32(kTimeHigh).take();
}

// Writes an archive of `total` pattern bytes split with volume size S; the
// volume files are "a.qpx", "a.qpx.1", ...
size_t WriteSplitArchive(const iotest::TempDir& dir, uint64_t S, uint64_t total) {
  dir.Write("a.qpx", iotest::Pattern(0, static_cast<size_t>(std::min(S, total))));
  size_t k = 0;
  for (uint64_t at = S; at < total; at += S - 12) {
    ++k;
    uint64_t count = std::min(S - 12, total - at);
    std::vector<uint8_t> bytes = Head(at + count < total ? 1 : 0);
    std::vector<uint8_t> data = iotest::Pattern(at, static_cast<size_t>(count));
    bytes.insert(bytes.end(), data.begin(), data.end());
    dir.Write("a.qpx." + std::to_string(k), bytes);
  }
  return k + 1;
}

class DividedReadTest : public ::testing::Test {
 protected:
  bool OpenSplit(uint64_t S) {
    return io_.Open(dir_.EnginePath("a.qpx"), kModeRead) && io_.SetupDivision(Template(), S);
  }
  uint64_t Position() {
    uint64_t position = 0;
    EXPECT_TRUE(io_.GetPosition(position));
    return position;
  }
  std::vector<uint8_t> ReadSome(uint32_t length) {
    std::vector<uint8_t> out(length);
    uint32_t got = 0;
    EXPECT_TRUE(io_.Read(out.data(), length, &got));
    out.resize(got);
    return out;
  }

  iotest::TempDir dir_;
  CDividedFileIO io_;
};

TEST_F(DividedReadTest, PositionsMapToVolumesAndWindowOffsets) {
  ASSERT_EQ(WriteSplitArchive(dir_, 1000, 2500), 3u);
  ASSERT_TRUE(OpenSplit(1000));
  EXPECT_TRUE(io_.IsSplit());
  EXPECT_EQ(io_.GetVolumeCount(), 3u);
  uint64_t length = 0;
  ASSERT_TRUE(io_.GetLength(length));
  EXPECT_EQ(length, 2500u);  // the data held, not the last volume's window

  // 1000 is the end of the first volume; a read there continues in the next.
  ASSERT_TRUE(io_.SeekTo(1000));
  EXPECT_EQ(Position(), 1000u);
  EXPECT_EQ(ReadSome(1), iotest::Pattern(1000, 1));
  for (uint64_t p : {1001u, 1987u, 1988u, 2499u}) {
    ASSERT_TRUE(io_.SeekTo(p)) << p;
    EXPECT_EQ(Position(), p);
    EXPECT_EQ(ReadSome(1), iotest::Pattern(p, 1)) << p;
  }
  // 1001 is byte 1 of volume 1's window, at file offset 13 after the head.
  std::vector<uint8_t> second = dir_.Read("a.qpx.1");
  EXPECT_EQ(second[13], iotest::PatternByte(1001));
}

TEST_F(DividedReadTest, ReadsSpanVolumesAndStopAtTheLastOne) {
  WriteSplitArchive(dir_, 1000, 2500);
  ASSERT_TRUE(OpenSplit(1000));
  ASSERT_TRUE(io_.SeekTo(1988 - 30));
  EXPECT_EQ(ReadSome(100), iotest::Pattern(1958, 100));  // 30 from volume 1, 70 from volume 2
  EXPECT_EQ(Position(), 2058u);
  ASSERT_TRUE(io_.SeekTo(900));
  EXPECT_EQ(ReadSome(1200), iotest::Pattern(900, 1200));  // through a whole middle volume
  ASSERT_TRUE(io_.Seek(10, kSeekEnd, false));
  EXPECT_EQ(ReadSome(100), iotest::Pattern(2490, 10));
  EXPECT_TRUE(ReadSome(1).empty());
  EXPECT_TRUE(io_.IsEOF());
  EXPECT_FALSE(io_.SeekTo(2500 + 2000));  // beyond the last volume
  ASSERT_TRUE(io_.SeekTo(0));
  EXPECT_FALSE(io_.IsEOF());
  ASSERT_TRUE(io_.Seek(2500, kSeekCurrent, true));
  EXPECT_EQ(Position(), 2500u);
}

TEST_F(DividedReadTest, TheEndOfAnExactlyFullLastVolumeIsReachable) {
  WriteSplitArchive(dir_, 1000, 1988);
  ASSERT_TRUE(OpenSplit(1000));
  ASSERT_EQ(io_.GetVolumeCount(), 2u);
  uint64_t length = 0, remaining = 7;
  ASSERT_TRUE(io_.GetLength(length));
  EXPECT_EQ(length, 1988u);
  ASSERT_TRUE(io_.SeekTo(1988));
  EXPECT_EQ(Position(), 1988u);
  ASSERT_TRUE(RemainingBytes(io_, remaining));
  EXPECT_EQ(remaining, 0u);
  EXPECT_TRUE(ReadSome(4).empty());
}

TEST_F(DividedReadTest, UnsplitStreamReadsTheFirstFileAlone) {
  WriteSplitArchive(dir_, 1000, 2500);
  ASSERT_TRUE(io_.Open(dir_.EnginePath("a.qpx"), kModeRead));
  EXPECT_FALSE(io_.Open(dir_.EnginePath("a.qpx"), kModeRead));
  uint64_t length = 0;
  ASSERT_TRUE(io_.GetLength(length));
  EXPECT_EQ(length, 1000u);
  ASSERT_TRUE(io_.SeekTo(990));
  EXPECT_EQ(ReadSome(50), iotest::Pattern(990, 10));
  EXPECT_TRUE(ReadSome(1).empty());
  EXPECT_TRUE(io_.IsEOF());
  std::u16string path;
  ASSERT_TRUE(io_.GetPathName(path));
  EXPECT_EQ(path, dir_.EnginePath("a.qpx"));
  EXPECT_TRUE(io_.Close());
  EXPECT_FALSE(io_.IsOpen());
  EXPECT_EQ(io_.GetLastError(), kErrorNone);
}

TEST_F(DividedReadTest, ChainEndsAtTheFirstLastVolumeEvenWithMoreFiles) {
  WriteSplitArchive(dir_, 100, 250);  // volumes 0, 1, 2
  dir_.Write("a.qpx.3", Head(1));
  ASSERT_TRUE(OpenSplit(100));
  EXPECT_EQ(io_.GetVolumeCount(), 3u);
}

TEST_F(DividedReadTest, FailuresCloseTheStreamAndNameTheVolume) {
  struct Case {
    const char* what;
    std::function<void(const iotest::TempDir&)> damage;
    DivisionError error;
    const char* volume;
  };
  std::vector<Case> cases = {
      {"missing", [](const iotest::TempDir& d) { std::filesystem::remove(d.HostPath("a.qpx.2")); },
       DivisionError::kVolumeMissing, "a.qpx.2"},
      {"foreign",
       [](const iotest::TempDir& d) {
         std::vector<uint8_t> bytes = d.Read("a.qpx.1");
         bytes[4] ^= 1;  // time low differs
         d.Write("a.qpx.1", bytes);
       },
       DivisionError::kVolumeForeign, "a.qpx.1"},
      {"longer than S",
       [](const iotest::TempDir& d) {
         std::vector<uint8_t> bytes = d.Read("a.qpx.1");
         bytes.resize(101);
         d.Write("a.qpx.1", bytes);
       },
       DivisionError::kVolumeTooLong, "a.qpx.1"},
      {"first longer than S", [](const iotest::TempDir& d) { d.Write("a.qpx", iotest::Pattern(0, 101)); },
       DivisionError::kVolumeTooLong, "a.qpx"},
      {"short head", [](const iotest::TempDir& d) { d.Write("a.qpx.2", {1, 0, 0}); },
       DivisionError::kVolumeHeadUnreadable, "a.qpx.2"},
      {"empty volume", [](const iotest::TempDir& d) { d.Write("a.qpx.1", {}); },
       DivisionError::kVolumeHeadUnreadable, "a.qpx.1"},
      {"folder instead of file",
       [](const iotest::TempDir& d) {
         std::filesystem::remove(d.HostPath("a.qpx.1"));
         std::filesystem::create_directory(d.HostPath("a.qpx.1"));
       },
       DivisionError::kVolumeUnreadable, "a.qpx.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    iotest::TempDir dir;
    WriteSplitArchive(dir, 100, 250);
    c.damage(dir);
    CDividedFileIO io;
    ASSERT_TRUE(io.Open(dir.EnginePath("a.qpx"), kModeRead));
    EXPECT_FALSE(io.SetupDivision(Template(), 100));
    EXPECT_FALSE(io.IsOpen());
    EXPECT_FALSE(io.IsSplit());
    EXPECT_EQ(io.GetDivisionError(), c.error);
    EXPECT_EQ(io.GetDivisionErrorPath(), dir.EnginePath(c.volume));
    uint8_t byte;
    EXPECT_FALSE(io.Read(&byte, 1, nullptr));
  }
}

TEST_F(DividedReadTest, HostileVolumeSizesFailCleanly) {
  WriteSplitArchive(dir_, 100, 250);
  for (uint64_t S : {uint64_t{0}, uint64_t{1}, uint64_t{12}}) {
    CDividedFileIO io;
    ASSERT_TRUE(io.Open(dir_.EnginePath("a.qpx"), kModeRead));
    EXPECT_FALSE(io.SetupDivision(Template(), S)) << S;
    EXPECT_EQ(io.GetDivisionError(), DivisionError::kBadVolumeSize);
    EXPECT_FALSE(io.IsOpen());
  }
  // A huge S makes the first volume's window cover everything; the second
  // volume's base then leaves no room and the chain is refused.
  CDividedFileIO huge;
  ASSERT_TRUE(huge.Open(dir_.EnginePath("a.qpx"), kModeRead));
  EXPECT_FALSE(huge.SetupDivision(Template(), UINT64_MAX));
  EXPECT_FALSE(huge.IsOpen());

  // S = 13 leaves one byte per following volume; a volume chain of many
  // files is followed until a file is missing.
  iotest::TempDir tiny;
  tiny.Write("a.qpx", iotest::Pattern(0, 13));
  for (int k = 1; k <= 300; ++k) {
    std::vector<uint8_t> bytes = Head(1);
    bytes.push_back(iotest::PatternByte(12 + k));
    tiny.Write("a.qpx." + std::to_string(k), bytes);
  }
  CDividedFileIO chain;
  ASSERT_TRUE(chain.Open(tiny.EnginePath("a.qpx"), kModeRead));
  EXPECT_FALSE(chain.SetupDivision(Template(), 13));
  EXPECT_EQ(chain.GetDivisionError(), DivisionError::kVolumeMissing);
  EXPECT_EQ(chain.GetDivisionErrorVolume(), 301);
}

TEST_F(DividedReadTest, SetupNeedsAnOpenUnsplitStreamAndAValidTemplate) {
  WriteSplitArchive(dir_, 1000, 2500);
  EXPECT_FALSE(io_.SetupDivision(Template(), 1000));
  EXPECT_EQ(io_.GetDivisionError(), DivisionError::kNotOpen);
  ASSERT_TRUE(io_.Open(dir_.EnginePath("a.qpx"), kModeRead));
  QPXVolumeHead invalid = Template();
  invalid.valid = false;
  EXPECT_FALSE(io_.SetupDivision(invalid, 1000));
  EXPECT_EQ(io_.GetDivisionError(), DivisionError::kInvalidTemplate);
  ASSERT_TRUE(io_.SetupDivision(Template(), 1000));
  EXPECT_FALSE(io_.SetupDivision(Template(), 1000));
  EXPECT_EQ(io_.GetDivisionError(), DivisionError::kAlreadySplit);
  EXPECT_TRUE(io_.IsOpen());  // a repeated call leaves the split stream alone
}

TEST(DividedOpen, MissingFirstFileIsReported) {
  iotest::TempDir dir;
  CDividedFileIO io;
  host::SetThreadError(0);
  EXPECT_FALSE(io.Open(dir.EnginePath("none.qpx"), kModeRead));
  EXPECT_EQ(host::GetThreadError(), kErrorIo);
  EXPECT_EQ(io.GetDivisionError(), DivisionError::kVolumeMissing);
  EXPECT_EQ(io.GetOpenMode(), kModeClosed);
  EXPECT_EQ(CDividedFileIO::VolumePath(u"Z:\\b\\backup.qpx", 12), u"Z:\\b\\backup.qpx.12");
}

TEST(DividedWrite, WrittenVolumesReadBackAsOneStream) {
  iotest::TempDir dir;
  const std::vector<uint8_t> data = iotest::Pattern(0, 350);
  {
    CDividedFileIO writer;
    ASSERT_TRUE(writer.Open(dir.EnginePath("a.qpx"), kModeCreate));
    ASSERT_TRUE(writer.Write(data.data(), 40));
    ASSERT_TRUE(writer.SetupDivision(Template(), 100));
    ASSERT_TRUE(writer.Write(data.data() + 40, 200));
    ASSERT_TRUE(writer.Write(data.data() + 240, 110));
    EXPECT_EQ(writer.GetVolumeCount(), 4u);  // 100 + 88 + 88 + 74
    uint64_t length = 0;
    ASSERT_TRUE(writer.GetLength(length));
    EXPECT_EQ(length, 350u);
    writer.Close();
  }
  EXPECT_EQ(dir.Read("a.qpx").size(), 100u);
  EXPECT_EQ(dir.Read("a.qpx.1"), [] {
    std::vector<uint8_t> v = Head(1);
    std::vector<uint8_t> d = iotest::Pattern(100, 88);
    v.insert(v.end(), d.begin(), d.end());
    return v;
  }());
  EXPECT_EQ(dir.Read("a.qpx.3")[0], 0);  // the last volume says so

  CDividedFileIO reader;
  ASSERT_TRUE(reader.Open(dir.EnginePath("a.qpx"), kModeRead));
  ASSERT_TRUE(reader.SetupDivision(Template(), 100));
  std::vector<uint8_t> back(350);
  ASSERT_TRUE(ReadExact(reader, back.data(), 350));
  EXPECT_EQ(back, data);
}

}  // namespace
