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

}  // namespace QPXFile
