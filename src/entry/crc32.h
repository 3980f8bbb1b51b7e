// CRC-32 of entry contents: the reflected CRC of polynomial 0xEDB88320.
#pragma once

#include <cstddef>
#include <cstdint>

namespace QPXFile {

// The byte-wise table: entry i is i run through eight steps of "shift right
// by one, then XOR 0xEDB88320 if the bit shifted out was 1".
const uint32_t* Crc32Table();  // 256 entries

// Runs the register over `count` bytes: for each byte b,
// reg = (reg >> 8) ^ Crc32Table()[(reg ^ b) & 0xFF]. No initial value and no
// final inversion are applied; entries start at 0xFFFFFFFF and store the
// register as it ends.
uint32_t Crc32Update(const void* buffer, size_t count, uint32_t reg);

// The register is linear in its start and in the bytes, so pieces may be
// summed apart, each from 0, and joined afterwards:
//   Crc32Update(a then b, reg) == Shift(Crc32Update(a, reg)) ^ Crc32Update(b, 0)
// where Shift runs the register over |b| zero bytes. A shifter is made once
// for a count of zero bytes (in time logarithmic in the count) and then
// shifts a register in a few dozen steps.
class Crc32Shifter {
 public:
  explicit Crc32Shifter(uint64_t zeroBytes);
  uint32_t operator()(uint32_t reg) const;

 private:
  uint32_t columns_[32];  // the image of each register bit
};

}  // namespace QPXFile
