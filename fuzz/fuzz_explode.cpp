// Feeds arbitrary bytes to the explode decompressor and compares what it
// writes, and the result, with a plain bit-at-a-time decoder written for this
// check. The first input byte sets how many bytes each read hands out (0 for
// the full 2048), the rest is the stream.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "entry/explode.h"

namespace {

using namespace QPXFile;

// ---------------------------------------------------------------------------
// Reference decoder: reads one bit at a time and finds each code by trying
// every code of the table, so it shares nothing with the fast decoder but the
// format tables. A token other than the end marker is accepted only when 8
// more bits of input follow it.

struct BitReader {
  const uint8_t* data;
  size_t bits;  // bits available
  size_t pos = 0;
  uint32_t Take(unsigned n) {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++pos) {
      if (pos < bits && (data[pos >> 3] >> (pos & 7) & 1)) v |= 1u << i;
    }
    return v;
  }
  uint32_t Peek(unsigned n) {
    const size_t save = pos;
    const uint32_t v = Take(n);
    pos = save;
    return v;
  }
};

template <size_t N, typename Code>
unsigned FindCode(BitReader& in, const uint8_t (&bits)[N], const Code (&codes)[N]) {
  for (unsigned s = 0; s < N; ++s) {
    if (in.Peek(bits[s]) == codes[s]) {
      in.pos += bits[s];
      return s;
    }
  }
  std::abort();  // the codes are complete, so one always matches
}

int Reference(const uint8_t* stream, size_t size, size_t firstRead, std::vector<uint8_t>& out) {
  if (firstRead <= 4) return kDclTooShort;
  const unsigned mode = stream[0];
  const unsigned k = stream[1];
  if (k < 4 || k > 6) return kDclBadDictionary;
  if (mode > 1) return kDclBadLiteralMode;
  BitReader in{stream + 2, (size - 2) * 8};
  std::vector<uint8_t> window(4096, 0);  // zeros before the first byte
  auto finish = [&](int result) {
    out.assign(window.begin() + 4096, window.end());
    return result;
  };
  for (;;) {
    if (in.Take(1) == 0) {
      const unsigned literal = mode == 1 ? FindCode(in, AsciiLiteralBits, AsciiLiteralCodes) : in.Take(8);
      if (in.pos + 8 > in.bits) return finish(kDclBroken);
      window.push_back(static_cast<uint8_t>(literal));
    } else {
      const unsigned s = FindCode(in, LengthCodeBits, LengthCodes);
      const unsigned length = LengthBase[s] + in.Take(LengthExtraBits[s]);
      if (length == 517) return finish(in.pos > in.bits ? kDclBroken : kDclOk);
      const unsigned n = length + 2;
      const unsigned d = FindCode(in, DistanceCodeBits, DistanceCodes);
      const unsigned low = n == 2 ? 2 : k;
      const size_t distance = ((d << low) | in.Take(low)) + 1;
      if (in.pos + 8 > in.bits) return finish(kDclBroken);
      for (unsigned i = 0; i < n; ++i) window.push_back(window[window.size() - distance]);
    }
  }
}

// ---------------------------------------------------------------------------

struct Feed {
  const uint8_t* data;
  size_t left;
  size_t chunk;
  std::vector<uint8_t> output;
  size_t writes = 0;
  bool lastWasShort = false;
};

unsigned FeedRead(char* buffer, unsigned* size, void* param) {
  auto& f = *static_cast<Feed*>(param);
  if (*size != kExplodeInputBytes) std::abort();
  size_t n = f.chunk < f.left ? f.chunk : f.left;
  if (n > *size) n = *size;
  std::memcpy(buffer, f.data, n);
  f.data += n;
  f.left -= n;
  return static_cast<unsigned>(n);
}

void FeedWrite(char* buffer, unsigned* size, void* param) {
  auto& f = *static_cast<Feed*>(param);
  // Only the final write may be shorter than a block.
  if (f.lastWasShort || *size > kExplodeBlockBytes) std::abort();
  f.lastWasShort = *size < kExplodeBlockBytes;
  f.output.insert(f.output.end(), buffer, buffer + *size);
  ++f.writes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = data[0] == 0 ? kExplodeInputBytes : data[0];
  Feed feed{data + 1, size - 1, chunk, {}};
  // Exactly the advertised size, so any overrun of the work area is caught.
  auto work = std::make_unique<char[]>(kExplodeWorkAreaSize);
  const int result = DclExplode(FeedRead, FeedWrite, work.get(), &feed);

  std::vector<uint8_t> expected;
  const size_t firstRead = chunk < size - 1 ? chunk : size - 1;
  const int expectedResult = Reference(data + 1, size - 1, firstRead, expected);
  if (result != expectedResult) std::abort();
  if (result == kDclOk || result == kDclBroken) {
    if (feed.output != expected || !feed.lastWasShort) std::abort();
  } else if (feed.writes != 0) {
    std::abort();
  }
  return 0;
}
