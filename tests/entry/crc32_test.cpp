#include "entry/crc32.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "support/sample_data.h"

namespace {

using QPXFile::Crc32Update;

uint32_t Bitwise(const uint8_t* p, size_t n, uint32_t reg) {
  for (size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int b = 0; b < 8; ++b) reg = (reg >> 1) ^ ((reg & 1) ? 0xEDB88320u : 0);
  }
  return reg;
}

uint32_t OfText(std::string_view s, uint32_t reg = 0xFFFFFFFFu) { return Crc32Update(s.data(), s.size(), reg); }

TEST(Crc32, KnownRegisters) {
  EXPECT_EQ(OfText("abc"), 0xCADBBE3Du);
  EXPECT_EQ(~OfText("123456789"), 0xCBF43926u);
  EXPECT_EQ(OfText(""), 0xFFFFFFFFu) << "nothing applied to an empty buffer";
  EXPECT_EQ(Crc32Update(nullptr, 0, 0x12345678u), 0x12345678u);
  EXPECT_EQ(QPXFile::Crc32Table()[1], 0x77073096u);
  EXPECT_EQ(QPXFile::Crc32Table()[255], 0x2D02EF8Du);
}

TEST(Crc32, MatchesTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  const auto data = testsupport::SampleNoise(70000, 21);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n = 0; n < 1100; n += (n < 300 ? 1 : 37)) {
      const uint32_t reg = static_cast<uint32_t>(offset * 0x9E3779B9u + n);
      ASSERT_EQ(Crc32Update(data.data() + offset, n, reg), Bitwise(data.data() + offset, n, reg))
          << "offset " << offset << " length " << n;
    }
  }
  for (size_t n : {4096u, 10240u, 65536u + 13u, 69000u}) {
    EXPECT_EQ(Crc32Update(data.data() + 1, n, 0xFFFFFFFFu), Bitwise(data.data() + 1, n, 0xFFFFFFFFu)) << n;
  }
}

TEST(Crc32, ChunkedUpdatesEqualOneUpdate) {
  const auto data = testsupport::SampleText(50000, 22);
  const uint32_t whole = Crc32Update(data.data(), data.size(), 0xFFFFFFFFu);
  for (size_t chunk : {1u, 7u, 64u, 255u, 256u, 10240u}) {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t pos = 0; pos < data.size(); pos += chunk) {
      reg = Crc32Update(data.data() + pos, std::min(chunk, data.size() - pos), reg);
    }
    EXPECT_EQ(reg, whole) << chunk;
  }
}

// Pieces summed apart from 0 and joined with the shift give the register of
// the whole, for pieces of any length, empty and odd ones included.
TEST(Crc32, PiecesSummedApartJoinToTheWhole) {
  const auto data = testsupport::SampleNoise(300000, 23);
  const uint32_t start = 0xFFFFFFFFu;
  const uint32_t whole = Crc32Update(data.data(), data.size(), start);
  for (size_t piece : {1u, 3u, 4096u, 65537u, 131072u, 300000u}) {
    const QPXFile::Crc32Shifter full(piece);
    uint32_t reg = start;
    for (size_t pos = 0; pos < data.size(); pos += piece) {
      const size_t n = std::min(piece, data.size() - pos);
      const uint32_t alone = Crc32Update(data.data() + pos, n, 0);
      reg = (n == piece ? full(reg) : QPXFile::Crc32Shifter(n)(reg)) ^ alone;
    }
    EXPECT_EQ(reg, whole) << piece;
  }
  EXPECT_EQ(QPXFile::Crc32Shifter(0)(0x12345678u), 0x12345678u);
  const std::vector<uint8_t> zeros(1 << 20, 0);
  EXPECT_EQ(QPXFile::Crc32Shifter(zeros.size())(0xDEADBEEFu), Crc32Update(zeros.data(), zeros.size(), 0xDEADBEEFu));
}

}  // namespace
