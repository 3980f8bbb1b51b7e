#include "reference_explode.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "entry/implode_tables.h"

namespace benchref {
namespace {

using namespace QPXFile;

constexpr unsigned kWindowBytes = 8192 + 516;
constexpr unsigned kEndToken = 773;     // 256 + 517
constexpr unsigned kBrokenToken = 774;  // a drop ran out of input

struct State {
  unsigned literalMode;
  unsigned dictBits;
  unsigned dictMask;
  unsigned bitBuffer;  // next bit in bit 0; 8 + extraBits bits are valid
  unsigned extraBits;
  unsigned inPos;
  unsigned inBytes;
  DclReadFn read;
  DclWriteFn write;
  void* param;
  unsigned outPos;
  uint8_t window[kWindowBytes];
  uint8_t input[2048];
  uint8_t distanceLookup[256];
  uint8_t lengthLookup[256];
  uint8_t asciiT1[256];
  uint8_t asciiT2[256];
  uint8_t asciiT3[128];
  uint8_t asciiT4[256];
  uint8_t asciiRemaining[256];
};

static_assert(sizeof(State) + alignof(State) <= kReferenceWorkAreaSize);

// Fills every index below `limit` whose low `bits` bits equal `code`.
void Spread(uint8_t* table, unsigned limit, unsigned code, unsigned bits, uint8_t value) {
  for (unsigned i = code; i < limit; i += 1u << bits) table[i] = value;
}

void BuildTables(State& st) {
  for (int s = 15; s >= 0; --s) Spread(st.lengthLookup, 256, LengthCodes[s], LengthCodeBits[s], uint8_t(s));
  for (int d = 63; d >= 0; --d) Spread(st.distanceLookup, 256, DistanceCodes[d], DistanceCodeBits[d], uint8_t(d));
  if (st.literalMode != 1) return;
  std::memset(st.asciiT1, 0, sizeof st.asciiT1);
  std::memset(st.asciiT2, 0, sizeof st.asciiT2);
  std::memset(st.asciiT3, 0, sizeof st.asciiT3);
  std::memset(st.asciiT4, 0, sizeof st.asciiT4);
  for (int v = 255; v >= 0; --v) {
    const unsigned n = AsciiLiteralBits[v];
    const unsigned c = AsciiLiteralCodes[v];
    if (n <= 8) {
      Spread(st.asciiT1, 256, c, n, uint8_t(v));
      st.asciiRemaining[v] = uint8_t(n);
    } else if ((c & 0xFF) != 0) {
      st.asciiT1[c & 0xFF] = 0xFF;
      if ((c & 0x3F) != 0) {
        st.asciiRemaining[v] = uint8_t(n - 4);
        Spread(st.asciiT2, 256, c >> 4, n - 4, uint8_t(v));
      } else {
        st.asciiRemaining[v] = uint8_t(n - 6);
        Spread(st.asciiT3, 128, c >> 6, n - 6, uint8_t(v));
      }
    } else {
      st.asciiRemaining[v] = uint8_t(n - 8);
      Spread(st.asciiT4, 256, c >> 8, n - 8, uint8_t(v));
    }
  }
}

// Drops n (at most 8) bits, taking the next input byte when they run past
// the extra bits. False when the input has ended.
inline bool DropBits(State& st, unsigned n) {
  if (n <= st.extraBits) {
    st.bitBuffer >>= n;
    st.extraBits -= n;
    return true;
  }
  st.bitBuffer >>= st.extraBits;
  if (st.inPos == st.inBytes) {
    unsigned size = sizeof st.input;
    st.inBytes = st.read(reinterpret_cast<char*>(st.input), &size, st.param);
    if (st.inBytes == 0) return false;
    st.inPos = 0;
  }
  st.bitBuffer |= unsigned(st.input[st.inPos++]) << 8;
  st.bitBuffer >>= n - st.extraBits;
  st.extraBits = st.extraBits - n + 8;
  return true;
}

// The next token: a literal byte (0..255), 256 + a length value (773 ends
// the stream), or kBrokenToken.
unsigned DecodeToken(State& st) {
  if (st.bitBuffer & 1) {
    if (!DropBits(st, 1)) return kBrokenToken;
    const unsigned s = st.lengthLookup[st.bitBuffer & 0xFF];
    if (!DropBits(st, LengthCodeBits[s])) return kBrokenToken;
    unsigned length = s;
    if (const unsigned extra = LengthExtraBits[s]; extra != 0) {
      const unsigned e = st.bitBuffer & ((1u << extra) - 1);
      if (!DropBits(st, extra) && s + e != 270) return kBrokenToken;
      length = LengthBase[s] + e;
    }
    return 256 + length;
  }
  if (!DropBits(st, 1)) return kBrokenToken;
  if (st.literalMode == 0) {
    const unsigned byte = st.bitBuffer & 0xFF;
    return DropBits(st, 8) ? byte : kBrokenToken;
  }
  unsigned v;
  if ((st.bitBuffer & 0xFF) != 0) {
    v = st.asciiT1[st.bitBuffer & 0xFF];
    if (v == 0xFF) {
      if ((st.bitBuffer & 0x3F) != 0) {
        if (!DropBits(st, 4)) return kBrokenToken;
        v = st.asciiT2[st.bitBuffer & 0xFF];
      } else {
        if (!DropBits(st, 6)) return kBrokenToken;
        v = st.asciiT3[st.bitBuffer & 0x7F];
      }
    }
  } else {
    if (!DropBits(st, 8)) return kBrokenToken;
    v = st.asciiT4[st.bitBuffer & 0xFF];
  }
  return DropBits(st, st.asciiRemaining[v]) ? v : kBrokenToken;
}

// The distance of a repetition of n bytes; 0 when the input ended.
unsigned DecodeDistance(State& st, unsigned n) {
  const unsigned d = st.distanceLookup[st.bitBuffer & 0xFF];
  if (!DropBits(st, DistanceCodeBits[d])) return 0;
  unsigned distance;
  if (n == 2) {
    distance = (d << 2) | (st.bitBuffer & 3);
    if (!DropBits(st, 2)) return 0;
  } else {
    distance = (d << st.dictBits) | (st.bitBuffer & st.dictMask);
    if (!DropBits(st, st.dictBits)) return 0;
  }
  return distance + 1;
}

int Expand(State& st) {
  st.outPos = 4096;
  unsigned token;
  while ((token = DecodeToken(st)) < kEndToken) {
    if (token < 256) {
      st.window[st.outPos++] = uint8_t(token);
    } else {
      const unsigned n = token - 254;
      const unsigned distance = DecodeDistance(st, n);
      if (distance == 0) {
        token = kBrokenToken;
        break;
      }
      uint8_t* target = st.window + st.outPos;
      const uint8_t* source = target - distance;
      for (unsigned i = 0; i < n; ++i) target[i] = source[i];
      st.outPos += n;
    }
    if (st.outPos >= 8192) {
      unsigned size = 4096;
      st.write(reinterpret_cast<char*>(st.window + 4096), &size, st.param);
      std::memmove(st.window, st.window + 4096, st.outPos - 4096);
      st.outPos -= 4096;
    }
  }
  unsigned rest = st.outPos - 4096;
  st.write(reinterpret_cast<char*>(st.window + 4096), &rest, st.param);
  return token == kEndToken ? kDclOk : kDclBroken;
}

}  // namespace

int ReferenceExplode(DclReadFn read, DclWriteFn write, void* workArea, void* param) {
  void* place = workArea;
  size_t space = kReferenceWorkAreaSize;
  place = std::align(alignof(State), sizeof(State), place, space);
  State& st = *new (place) State;
  st.read = read;
  st.write = write;
  st.param = param;
  unsigned size = sizeof st.input;
  st.inBytes = read(reinterpret_cast<char*>(st.input), &size, param);
  if (st.inBytes <= 4) return kDclTooShort;
  st.literalMode = st.input[0];
  st.dictBits = st.input[1];
  st.bitBuffer = st.input[2];
  st.extraBits = 0;
  st.inPos = 3;
  if (st.dictBits < 4 || st.dictBits > 6) return kDclBadDictionary;
  st.dictMask = 0xFFFFu >> (16 - st.dictBits);
  if (st.literalMode > 1) return kDclBadLiteralMode;
  BuildTables(st);
  std::memset(st.window, 0, 4096);
  return Expand(st);
}

}  // namespace benchref
