#include "entry/stream_crc.h"

#include <vector>

#include "entry/crc32.h"

namespace QPXFile {

uint32_t Crc32OverStream(CFileIO& stream, uint64_t start) {
  constexpr uint32_t kChunk = 10240;
  uint64_t length = 0, saved = 0;
  if (!stream.GetLength(length) || length == 0 || !stream.GetPosition(saved)) return 0;
  uint32_t reg = 0xFFFFFFFFu;
  if (start < length) {
    if (!stream.SeekTo(start)) return 0;
    std::vector<uint8_t> chunk(kChunk);
    uint64_t left = length - start;
    while (left > 0) {
      const uint32_t want = left < kChunk ? static_cast<uint32_t>(left) : kChunk;
      uint32_t got = 0;
      if (!stream.Read(chunk.data(), want, &got) || got == 0) {
        stream.SeekTo(saved);
        return 0;
      }
      reg = Crc32Update(chunk.data(), got, reg);
      left -= got;
    }
  }
  stream.SeekTo(saved);
  return reg;
}

}  // namespace QPXFile
