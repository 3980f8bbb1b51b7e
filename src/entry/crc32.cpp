// CRC-32 register update (reflected, polynomial 0xEDB88320).
//
// Every restored byte of every file passes through here, so the update must
// keep well ahead of the decompressor. Two ways are used, both giving the
// register that the byte-wise table gives:
// - slicing by 16: sixteen tables let one step take 16 bytes with
//   independent lookups instead of a chain of 16 dependent ones;
// - on x86-64 processors with carry-less multiplication, folding: the data
//   is reduced 64 bytes at a time by multiplying with constants x^n mod P,
//   and the last 16 bytes are finished by the sliced tables.

#include "entry/crc32.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSERA_CRC_FOLDING 1
#include <immintrin.h>
#endif

namespace QPXFile {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

using SliceTables = std::array<std::array<uint32_t, 256>, 16>;

// Table k advances the register over one byte followed by k zero bytes.
constexpr SliceTables MakeSliceTables() {
  SliceTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int step = 0; step < 8; ++step) r = (r >> 1) ^ ((r & 1) ? kPolynomial : 0);
    t[0][i] = r;
  }
  for (size_t k = 1; k < 16; ++k) {
    for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr SliceTables kSlices = MakeSliceTables();

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

uint32_t UpdateBytewise(const uint8_t* p, size_t n, uint32_t reg) {
  while (n--) reg = (reg >> 8) ^ kSlices[0][(reg ^ *p++) & 0xFF];
  return reg;
}

uint32_t UpdateSliced(const uint8_t* p, size_t n, uint32_t reg) {
  while (n >= 16) {
    const uint32_t a = Load32(p) ^ reg;
    const uint32_t b = Load32(p + 4);
    const uint32_t c = Load32(p + 8);
    const uint32_t d = Load32(p + 12);
    reg = kSlices[15][a & 0xFF] ^ kSlices[14][(a >> 8) & 0xFF] ^ kSlices[13][(a >> 16) & 0xFF] ^
          kSlices[12][a >> 24] ^ kSlices[11][b & 0xFF] ^ kSlices[10][(b >> 8) & 0xFF] ^
          kSlices[9][(b >> 16) & 0xFF] ^ kSlices[8][b >> 24] ^ kSlices[7][c & 0xFF] ^
          kSlices[6][(c >> 8) & 0xFF] ^ kSlices[5][(c >> 16) & 0xFF] ^ kSlices[4][c >> 24] ^
          kSlices[3][d & 0xFF] ^ kSlices[2][(d >> 8) & 0xFF] ^ kSlices[1][(d >> 16) & 0xFF] ^
          kSlices[0][d >> 24];
    p += 16;
    n -= 16;
  }
  return UpdateBytewise(p, n, reg);
}

#ifdef TESSERA_CRC_FOLDING

// Folding constants for the bit-reflected domain. With P the degree-32
// polynomial, a 128-bit lane A at distance n bits ahead of lane B is folded
// into B as clmul(A.low, x^(n+32) mod P) ^ clmul(A.high, x^(n-32) mod P),
// each constant bit-reflected over 33 bits. They are computed at compile
// time so that nothing here rests on copied magic numbers.
constexpr uint64_t XPowModP(unsigned n) {
  // x^n mod P in normal (unreflected) bit order; P = 0x104C11DB7.
  uint64_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (uint64_t{1} << 32)) r ^= 0x104C11DB7ull;
  }
  return r;
}

constexpr uint64_t Reflect33(uint64_t v) {
  uint64_t r = 0;
  for (int i = 0; i < 33; ++i) {
    if (v & (uint64_t{1} << i)) r |= uint64_t{1} << (32 - i);
  }
  return r;
}

constexpr uint64_t FoldConstant(unsigned n) { return Reflect33(XPowModP(n)); }

// Folding four lanes 512 bits ahead, and one lane 128 bits ahead.
constexpr uint64_t kFold512Low = FoldConstant(512 + 32);
constexpr uint64_t kFold512High = FoldConstant(512 - 32);
constexpr uint64_t kFold128Low = FoldConstant(128 + 32);
constexpr uint64_t kFold128High = FoldConstant(128 - 32);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i lane, __m128i constants, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Needs n >= 64. Folds everything but the last (n mod 16) bytes into one
// 128-bit lane, then lets the tables take the lane's 16 bytes (with the
// register already folded in, so it restarts from 0) and the tail.
__attribute__((target("pclmul,sse4.1"))) uint32_t UpdateFolding(const uint8_t* p, size_t n, uint32_t reg) {
  const __m128i* v = reinterpret_cast<const __m128i*>(p);
  __m128i x0 = _mm_loadu_si128(v + 0);
  __m128i x1 = _mm_loadu_si128(v + 1);
  __m128i x2 = _mm_loadu_si128(v + 2);
  __m128i x3 = _mm_loadu_si128(v + 3);
  x0 = _mm_xor_si128(x0, _mm_cvtsi32_si128(static_cast<int>(reg)));
  p += 64;
  n -= 64;

  const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
  while (n >= 64) {
    v = reinterpret_cast<const __m128i*>(p);
    x0 = Fold(x0, k512, _mm_loadu_si128(v + 0));
    x1 = Fold(x1, k512, _mm_loadu_si128(v + 1));
    x2 = Fold(x2, k512, _mm_loadu_si128(v + 2));
    x3 = Fold(x3, k512, _mm_loadu_si128(v + 3));
    p += 64;
    n -= 64;
  }

  const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
  __m128i x = Fold(x0, k128, x1);
  x = Fold(x, k128, x2);
  x = Fold(x, k128, x3);
  while (n >= 16) {
    x = Fold(x, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    p += 16;
    n -= 16;
  }

  alignas(16) uint8_t lane[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lane), x);
  return UpdateSliced(p, n, UpdateSliced(lane, 16, 0));
}

bool HasFolding() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif

// The register as a vector over GF(2) and the zero-byte steps as 32x32
// matrices, one column a bit.
using Gf2Matrix = std::array<uint32_t, 32>;

uint32_t Apply(const Gf2Matrix& m, uint32_t v) {
  uint32_t sum = 0;
  for (int i = 0; v != 0; ++i, v >>= 1)
    if (v & 1) sum ^= m[i];
  return sum;
}

Gf2Matrix Compose(const Gf2Matrix& a, const Gf2Matrix& b) {  // a after b
  Gf2Matrix r{};
  for (int i = 0; i < 32; ++i) r[i] = Apply(a, b[i]);
  return r;
}

}  // namespace

Crc32Shifter::Crc32Shifter(uint64_t zeroBytes) {
  // One zero bit: shift right, folding in the polynomial for the bit that
  // falls out.
  Gf2Matrix step{};
  step[0] = kPolynomial;
  for (int i = 1; i < 32; ++i) step[i] = uint32_t{1} << (i - 1);
  for (int i = 0; i < 3; ++i) step = Compose(step, step);  // one zero byte
  Gf2Matrix total{};
  for (int i = 0; i < 32; ++i) total[i] = uint32_t{1} << i;
  for (; zeroBytes != 0; zeroBytes >>= 1) {
    if (zeroBytes & 1) total = Compose(step, total);
    if (zeroBytes > 1) step = Compose(step, step);
  }
  std::memcpy(columns_, total.data(), sizeof columns_);
}

uint32_t Crc32Shifter::operator()(uint32_t reg) const {
  uint32_t sum = 0;
  for (int i = 0; reg != 0; ++i, reg >>= 1)
    if (reg & 1) sum ^= columns_[i];
  return sum;
}

const uint32_t* Crc32Table() { return kSlices[0].data(); }

uint32_t Crc32Update(const void* buffer, size_t count, uint32_t reg) {
  const auto* p = static_cast<const uint8_t*>(buffer);
#ifdef TESSERA_CRC_FOLDING
  if (count >= 256 && HasFolding()) return UpdateFolding(p, count, reg);
#endif
  return UpdateSliced(p, count, reg);
}

}  // namespace QPXFile
