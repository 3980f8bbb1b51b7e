// The CRC-32 register over what a stream holds, as both the archive's own
// checksum and the management file's are taken.
#pragma once

#include <cstdint>

#include "io/io.h"

namespace QPXFile {

// The register (from 0xFFFFFFFF, no final complement) over the stream's bytes
// from `start` to its end, read in chunks of 10240 bytes; the stream's
// position is put back afterwards. An empty stream, or a failing read or
// seek, yields 0.
uint32_t Crc32OverStream(CFileIO& stream, uint64_t start);

}  // namespace QPXFile
