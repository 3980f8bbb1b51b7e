// explode: decompresses an implode stream (the compressed form of entry data).
//
// Written from the description of the stream format and its fixed code
// tables (entry/implode_tables.h). The design aims at speed while keeping the
// observable behaviour of the classic decoder: 2048-byte read requests,
// 4096-byte writes followed by one write of the remainder, and the same result
// codes, including which streams count as ended early.
//
// How it differs inside from the classic decoder:
// - Bits are kept in a 64-bit buffer refilled eight bytes at a time; one
//   refill serves two tokens, and no code is read bit by bit.
// - Codes are decoded by constant lookup tables rather than tables rebuilt
//   in the work area on every call: one gives the bits a whole token takes
//   (literal or short repetition), the only lookup the next token waits
//   for; one a short repetition's length and distance, ready-made; one
//   ASCII literals.
// - Every token is decoded both as a literal and as a repetition and the
//   flag bit picks the outcome, so mixing the two costs no mispredicted
//   branches. Six binary literals in a row are taken at once, and in data
//   that hardly compresses runs of literals go through a loop of their own.
// - Output goes to a window of 15 blocks after the history, so the history
//   is moved down once every 15 blocks instead of after every block, and
//   repetitions are copied 8 or 16 bytes at a time where the distance allows.

#include "entry/explode.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace QPXFile {
namespace {

constexpr unsigned kEndMarkerLength = 517;  // length value that ends the stream
constexpr unsigned kMaxRepetition = 518;    // longest repetition, in bytes
constexpr size_t kWindowLimit = kExplodeHistoryBytes + kExplodeWindowBlocks * kExplodeBlockBytes;

// The whole state of one decompression; lives in the caller's work area.
struct ExplodeState {
  DclReadFn read;         // caller's input callback
  DclWriteFn write;       // caller's output callback
  void* param;            // caller's value, handed to both callbacks
  uint64_t bitBuffer;     // unread bits, next bit in bit 0; bits above bitCount are zero
  int bitCount;           // valid bits in bitBuffer; below zero only after the input ran dry
  bool inputEnded;        // the read callback has delivered 0 bytes
  size_t delivered;       // bytes the read callback has delivered in all
  size_t inPos;           // next unread byte in input
  size_t inEnd;           // end of the delivered bytes in input
  size_t outPos;          // window index where the next output byte goes
  size_t flushed;         // window index of the first byte not yet handed to write
  uint8_t input[kExplodeInputSlack + kExplodeInputBytes];  // unread bytes carried over + one read block
  uint8_t window[kExplodeWindowBytes];                     // history, new output, room for one repetition
};

static_assert(sizeof(ExplodeState) + alignof(ExplodeState) - 1 <= kExplodeWorkAreaSize,
              "the work area must hold the state at any alignment");
// A window whose limit is reached at 4095 bytes past a block start still has
// room for a whole repetition plus the overrun of a wide copy.
static_assert(kWindowLimit + kMaxRepetition + 32 <= kExplodeWindowBytes);

// ---------------------------------------------------------------------------
// Decoding tables, built at compile time from the fixed code tables.
//
// Format notes: the codes are prefix codes whose first bit is bit 0 of the
// buffer, so indexing a table with the low `maxbits` bits of the buffer finds
// the one code that starts there: a code c of n bits fills every index whose
// low n bits are c.

// Length symbols, indexed by the 8 bits after the flag bit. Each entry packs
// the base length (bits 0..9), the bits taken by flag and code (bits 10..13)
// and the number of extra bits (bits 14..17).
constexpr std::array<uint32_t, 256> MakeLengthTable() {
  std::array<uint32_t, 256> table{};
  for (unsigned s = 0; s < 16; ++s) {
    for (unsigned i = LengthCodes[s]; i < 256; i += 1u << LengthCodeBits[s]) {
      table[i] = LengthBase[s] | (static_cast<uint32_t>(1 + LengthCodeBits[s]) << 10) |
                 (static_cast<uint32_t>(LengthExtraBits[s]) << 14);
    }
  }
  return table;
}

// Distance symbols, indexed by the low 8 bits: symbol (bits 0..5) and code
// length (bits 8..11).
constexpr std::array<uint16_t, 256> MakeDistanceTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned d = 0; d < 64; ++d) {
    for (unsigned i = DistanceCodes[d]; i < 256; i += 1u << DistanceCodeBits[d]) {
      table[i] = static_cast<uint16_t>(d | (DistanceCodeBits[d] << 8));
    }
  }
  return table;
}

// ASCII literals, indexed by the 13 bits after the flag bit: byte value
// (bits 0..7) and code length (bits 8..11). The code is complete, so every
// entry is filled.
constexpr std::array<uint16_t, 8192> MakeAsciiTable() {
  std::array<uint16_t, 8192> table{};
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned i = AsciiLiteralCodes[v]; i < 8192; i += 1u << AsciiLiteralBits[v]) {
      table[i] = static_cast<uint16_t>(v | (AsciiLiteralBits[v] << 8));
    }
  }
  return table;
}

// Short repetitions whole, indexed by the 13 bits after the flag bit, one
// table per dictionary size code k: a length code of two to fifteen bytes
// with its extra bits (at most 7 bits) and the distance code after it (at
// most 8 bits), where the two fit in 13 bits (always up to nine bytes), so
// one lookup gives everything but the distance's low bits.
// Each entry packs what the token needs ready-made, so that decoding it
// takes few instructions: the distance less its low bits, plus 1 (bits
// 0..11), the byte count (12..15), where the low bits start counting the
// flag bit (16..20), the bits the whole token takes with its flag bit
// (21..25) and the mask of the low bits (26..31). Entries of longer
// repetitions stay 0.
constexpr int kShortIndexBits = 13;
constexpr unsigned kShortMaxBytes = 15;  // whole length codes that one 16-byte copy covers, in a 4-bit field

constexpr std::array<uint32_t, 1u << kShortIndexBits> MakeShortRepetitionTable(unsigned dictBits) {
  std::array<uint32_t, 1u << kShortIndexBits> table{};
  for (unsigned s = 0; s < 16 && LengthBase[s] + (1u << LengthExtraBits[s]) + 1 <= kShortMaxBytes; ++s) {
    for (unsigned e = 0; e < (1u << LengthExtraBits[s]); ++e) {
      const unsigned lengthBits = LengthCodeBits[s] + LengthExtraBits[s];
      const unsigned n = LengthBase[s] + e + 2;
      for (unsigned d = 0; d < 64; ++d) {
        const unsigned codeBits = lengthBits + DistanceCodeBits[d];
        if (codeBits > kShortIndexBits) continue;
        const unsigned code = LengthCodes[s] | (e << LengthCodeBits[s]) |
                              (static_cast<unsigned>(DistanceCodes[d]) << lengthBits);
        const unsigned lowBits = n == 2 ? 2 : dictBits;
        const uint32_t entry = ((d << lowBits) + 1) | (n << 12) | ((1 + codeBits) << 16) |
                               ((1 + codeBits + lowBits) << 21) | (((1u << lowBits) - 1) << 26);
        for (unsigned i = code; i < table.size(); i += 1u << codeBits) table[i] = entry;
      }
    }
  }
  return table;
}

constexpr std::array<uint32_t, 256> kLengthTable = MakeLengthTable();
constexpr std::array<uint32_t, 1u << kShortIndexBits> kShortRepetitionTables[3] = {
    MakeShortRepetitionTable(4), MakeShortRepetitionTable(5), MakeShortRepetitionTable(6)};
constexpr std::array<uint16_t, 256> kDistanceTable = MakeDistanceTable();
constexpr std::array<uint16_t, 8192> kAsciiTable = MakeAsciiTable();

// The bits a whole token takes with its flag bit, indexed by the flag bit and
// the 13 bits after it: a literal's, or a short repetition's; 0 for a longer
// repetition or the end marker (a literal never takes 0). The next token's
// bits wait only for this one lookup, which is what bounds the time per
// token; the rest of the token is decoded beside it.
constexpr int kTokenIndexBits = 1 + kShortIndexBits;

constexpr std::array<uint8_t, 1u << kTokenIndexBits> MakeTokenBitsTable(bool ascii, unsigned dictBits) {
  std::array<uint8_t, 1u << kTokenIndexBits> table{};
  const auto shortTable = MakeShortRepetitionTable(dictBits);
  for (unsigned i = 0; i < table.size(); ++i) {
    const unsigned rest = i >> 1;
    if ((i & 1) != 0) {
      table[i] = static_cast<uint8_t>((shortTable[rest] >> 21) & 0x1F);
    } else {
      table[i] = static_cast<uint8_t>(ascii ? 1 + (kAsciiTable[rest] >> 8) : 9);
    }
  }
  return table;
}

// One variable each keeps every table within a compiler's budget for
// evaluating a constant.
constexpr auto kBinaryTokenBits4 = MakeTokenBitsTable(false, 4);
constexpr auto kBinaryTokenBits5 = MakeTokenBitsTable(false, 5);
constexpr auto kBinaryTokenBits6 = MakeTokenBitsTable(false, 6);
constexpr auto kAsciiTokenBits4 = MakeTokenBitsTable(true, 4);
constexpr auto kAsciiTokenBits5 = MakeTokenBitsTable(true, 5);
constexpr auto kAsciiTokenBits6 = MakeTokenBitsTable(true, 6);
constexpr const uint8_t* kTokenBitsTables[2][3] = {
    {kBinaryTokenBits4.data(), kBinaryTokenBits5.data(), kBinaryTokenBits6.data()},
    {kAsciiTokenBits4.data(), kAsciiTokenBits5.data(), kAsciiTokenBits6.data()}};

// ---------------------------------------------------------------------------
// Input.
//
// Format notes: after the two header bytes the stream is a plain bit stream,
// least significant bit of each byte first, bytes in order. A code of n bits
// is the low n bits of the buffer; extra bits follow their code the same way.

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;  // the bit order matches a little-endian load
}

// Asks the caller for the next block, keeping the fewer than
// kExplodeInputSlack unread bytes just in front of it so that eight-byte
// loads run on across the block boundary.
void ReadBlock(ExplodeState& st) {
  const size_t left = st.inEnd - st.inPos;
  std::memmove(st.input + kExplodeInputSlack - left, st.input + st.inPos, left);
  unsigned request = kExplodeInputBytes;
  unsigned got = st.read(reinterpret_cast<char*>(st.input + kExplodeInputSlack), &request, st.param);
  if (got > kExplodeInputBytes) got = kExplodeInputBytes;  // a callback cannot overfill the block
  st.inPos = kExplodeInputSlack - left;
  st.inEnd = kExplodeInputSlack + got;
  st.delivered += got;
  if (got == 0) st.inputEnded = true;
}

// Tops the bit buffer up to at least 56 bits from `in`, which has at least
// 8 bytes left, and moves `in` past the whole bytes taken.
inline void RefillFrom(const uint8_t*& in, uint64_t& bits, int& count) {
  bits |= Load64(in) << count;
  in += static_cast<size_t>(63 - count) >> 3;
  count |= 56;
}

// Tops the bit buffer up to at least 56 bits, or to all that is left once
// the input has ended. One token takes at most 30 bits, so a token decoded
// after a refill never runs past the buffer.
inline void Refill(ExplodeState& st, uint64_t& bits, int& count) {
  for (;;) {
    if (st.inEnd - st.inPos >= 8) {
      const uint8_t* in = st.input + st.inPos;
      RefillFrom(in, bits, count);
      st.inPos = static_cast<size_t>(in - st.input);
      return;
    }
    while (count <= 56 && st.inPos < st.inEnd) {
      bits |= static_cast<uint64_t>(st.input[st.inPos++]) << count;
      count += 8;
    }
    if (count > 56 || st.inputEnded) return;
    ReadBlock(st);
  }
}

// ---------------------------------------------------------------------------
// Output.

// Hands out a full block once one is complete and, every kExplodeWindowBlocks
// blocks, moves the last 4096 bytes down to serve as history again.
inline void EmitFullBlock(ExplodeState& st, uint8_t*& out) {
  unsigned size = kExplodeBlockBytes;
  st.write(reinterpret_cast<char*>(st.window + st.flushed), &size, st.param);
  st.flushed += kExplodeBlockBytes;
  if (st.flushed == kWindowLimit) {
    const size_t keepFrom = st.flushed - kExplodeHistoryBytes;
    std::memmove(st.window, st.window + keepFrom, static_cast<size_t>(out - st.window) - keepFrom);
    out -= keepFrom;
    st.flushed = kExplodeHistoryBytes;
  }
}

// Format notes: a repetition copies n bytes from `distance` bytes back, one
// at a time in effect, so a source that overlaps the bytes being produced
// repeats them (distance 1 repeats the last byte n times). Wide copies may
// write up to 15 bytes past the end; the window has room for that, and the
// bytes beyond the end are overwritten by later output before anyone reads
// them.
inline void CopyRepetition(uint8_t* dst, size_t distance, size_t n) {
  const uint8_t* src = dst - distance;
  if (distance >= 16) {
    for (size_t i = 0; i < n; i += 16) std::memcpy(dst + i, src + i, 16);
  } else if (distance >= 8) {
    for (size_t i = 0; i < n; i += 8) std::memcpy(dst + i, src + i, 8);
  } else if (distance == 1) {
    std::memset(dst, *src, n);
  } else {
    // A short period: the first 8 bytes one at a time, then 8 at a time from
    // a multiple of the period that is at least 8 bytes back.
    const size_t head = n < 8 ? n : 8;
    for (size_t i = 0; i < head; ++i) dst[i] = src[i];
    const size_t period = distance * ((8 + distance - 1) / distance);
    for (size_t i = 8; i < n; i += 8) std::memcpy(dst + i, dst + i - period, 8);
  }
}

// ---------------------------------------------------------------------------
// Tokens.
//
// Format notes: each token starts with one flag bit.
// - Flag 0, a literal: in binary mode the next 8 bits are the byte; in ASCII
//   mode a code of 4 to 13 bits gives it.
// - Flag 1, a repetition: a length code, then its extra bits, giving a length
//   value L of 0..517. L = 517 (the last code with all eight extra bits set)
//   ends the stream. Otherwise n = L + 2 bytes are repeated from a distance
//   given by a distance code (the high part of distance - 1), followed by the
//   low part: 2 bits when n = 2, else k bits (k from the header).
//
// A stream counts as ended early exactly where the classic decoder, which
// always holds the next 8 bits after a token, stops: a token other than the
// end marker needs 8 more bits of input after it, the end marker needs none.
// With a refilled buffer only the end of input can leave fewer than that.

// Decodes a repetition the long way (a length code with extra bits, or the
// end marker); the flag bit is at the bottom of `bits`. Returns the byte
// count, 0 for the end marker, or -1 when the input ended too early.
inline int DecodeLongRepetition(uint64_t& bits, int& count, unsigned dictBits, size_t& distance) {
  const uint32_t entry = kLengthTable[(bits >> 1) & 0xFF];
  const int codeUsed = static_cast<int>((entry >> 10) & 0xF);
  const unsigned extraBits = entry >> 14;
  const unsigned length = (entry & 0x3FF) + (static_cast<unsigned>(bits >> codeUsed) & ((1u << extraBits) - 1));
  bits >>= codeUsed + static_cast<int>(extraBits);
  count -= codeUsed + static_cast<int>(extraBits);
  if (length == kEndMarkerLength) return count < 0 ? -1 : 0;
  const unsigned distEntry = kDistanceTable[bits & 0xFF];
  const int distUsed = static_cast<int>(distEntry >> 8);
  bits >>= distUsed;
  const unsigned lowBits = length == 0 ? 2u : dictBits;
  distance = ((static_cast<size_t>(distEntry & 0x3F) << lowBits) | (bits & ((uint64_t{1} << lowBits) - 1))) + 1;
  bits >>= lowBits;
  count -= distUsed + static_cast<int>(lowBits);
  return count < 8 ? -1 : static_cast<int>(length + 2);
}

// The literal whose flag bit is at the bottom of `bits`, and the bits it
// takes with its flag.
template <bool kAscii>
inline void LiteralAt(uint64_t bits, unsigned& literal, int& used) {
  if constexpr (kAscii) {
    literal = kAsciiTable[(bits >> 1) & 0x1FFF] & 0xFF;
    // From the flag bit on, as the next literal's bits wait for it: one
    // step shorter than through the entry above. Literals take the same
    // bits whatever the dictionary size.
    used = kAsciiTokenBits4[bits & ((1u << kTokenIndexBits) - 1)];
  } else {
    literal = static_cast<unsigned>(bits >> 1) & 0xFF;
    used = 9;
  }
}

template <bool kAscii>
int DecodeTokens(ExplodeState& st, unsigned dictBits) {
  // A literal's longest code with its flag bit, plus the 8 bits that must
  // follow any token but the end marker.
  constexpr int kLiteralReserve = (kAscii ? 14 : 9) + 8;
  // The same for a literal or a short repetition (flag, codes of at most 13
  // bits, at most 6 low bits).
  constexpr int kShortTokenReserve = 1 + kShortIndexBits + 6 + 8;
  const uint32_t* const shortTable = kShortRepetitionTables[dictBits - 4].data();
  const uint8_t* const tokenBits = kTokenBitsTables[kAscii][dictBits - 4];
  uint64_t bits = st.bitBuffer;
  int count = st.bitCount;
  uint8_t* out = st.window + st.outPos;
  int result = kDclOk;

  // Time per token is bounded by the chain from one token's bits to the
  // next's, and by the instructions per token. On the chain lies one lookup
  // (the bits the token takes); the rest of the token is decoded beside it,
  // both ways from the same bits, the flag bit selecting the outcome through
  // a mask: whether a token is a literal follows no pattern a branch
  // predictor could learn. A literal is then written as a repetition of one
  // byte whose first byte is replaced. Longer repetitions, the end marker
  // and repetitions that overlap themselves take branches of their own.
  // The input position and the flushed mark live in locals: the output is
  // written through byte pointers, which could alias the state, so fields
  // read in the loop would be loaded again after every token.
  const uint8_t* in = st.input + st.inPos;
  const uint8_t* inEnd = st.input + st.inEnd;
  const uint8_t* blockEnd = st.window + st.flushed + kExplodeBlockBytes;

  // Decodes and writes a literal or a short repetition that takes `used`
  // bits with its flag bit; false when the input ended too early.
  auto shortToken = [&bits, &count, &out, shortTable](int used) {
    const uint64_t pick = uint64_t{0} - (bits & 1);  // all ones for a repetition
    const uint32_t entry = shortTable[(bits >> 1) & ((1u << kShortIndexBits) - 1)];
    unsigned literalByte;
    int literalUsed;
    LiteralAt<kAscii>(bits, literalByte, literalUsed);
    const uint64_t literal = literalByte;
    // For a literal the entry is that of whatever repetition the bits
    // would start, and the count and distance are unused.
    const size_t matchDistance = (entry & 0xFFF) + ((bits >> ((entry >> 16) & 0x1F)) & (entry >> 26));
    const size_t matchLength = (entry >> 12) & 0xF;
    // A literal reads (and ignores) 16 bytes far enough back that their
    // stores have left the processor's store buffer.
    constexpr size_t kLiteralSource = 1000;
    const size_t n = 1 ^ ((1 ^ matchLength) & pick);
    const size_t distance = kLiteralSource ^ ((kLiteralSource ^ matchDistance) & pick);
    bits >>= used;
    count -= used;
    if (count < 8) [[unlikely]] return false;
    if (distance >= n) [[likely]] {
      // The 16 bytes are all read before any is written, so a source that
      // overlaps the target past n still gives the right first n bytes;
      // the bytes past n are overwritten by later output. The second 8
      // bytes matter only past n = 8.
      uint64_t head, tail;
      std::memcpy(&head, out - distance, 8);
      std::memcpy(&tail, out - distance + 8, 8);
      head = literal ^ ((literal ^ head) & pick);
      std::memcpy(out, &head, 8);
      std::memcpy(out + 8, &tail, 8);
    } else {
      CopyRepetition(out, distance, n);
    }
    out += n;
    return true;
  };
  // Whether the last block took more than three quarters of its size in
  // input: data that hardly compresses, nearly all literals.
  bool literalData = false;
  size_t takenAtBlock = st.delivered - (st.inEnd - st.inPos);
  for (;;) {
    if (out >= blockEnd) [[unlikely]] {
      EmitFullBlock(st, out);
      blockEnd = st.window + st.flushed + kExplodeBlockBytes;
      const size_t taken = st.delivered - static_cast<size_t>(inEnd - in);
      literalData = taken - takenAtBlock > kExplodeBlockBytes / 4 * 3;
      takenAtBlock = taken;
    }
    if (inEnd - in >= 8) [[likely]] {
      RefillFrom(in, bits, count);
      if constexpr (!kAscii) {
        // Six binary literals in a row, as in data that does not compress,
        // take 54 of the 56 or more bits just loaded and are written with one
        // store. At least one input byte is left unread after this refill, so
        // the 8 bits that must follow them are there.
        constexpr uint64_t kSixFlags = 1 | 1 << 9 | 1 << 18 | 1 << 27 | uint64_t{1} << 36 | uint64_t{1} << 45;
        auto six = [&bits, &count, &out] {
          // Literal i is in bits 9i..9i+7 after the first flag bit and
          // moves down by i bits, in three steps of 1, 2 and 4.
          constexpr uint64_t kOdd = uint64_t{0xFF} << 9 | uint64_t{0xFF} << 27 | uint64_t{0xFF} << 45;
          constexpr uint64_t kEven = uint64_t{0xFF} | uint64_t{0xFF} << 18 | uint64_t{0xFF} << 36;
          constexpr uint64_t kTwoThree = uint64_t{0xFFFF} << 18;
          constexpr uint64_t kFourFive = uint64_t{0xFFFF} << 36;
          const uint64_t b = bits >> 1;
          const uint64_t b1 = (b & kEven) | ((b & kOdd) >> 1);
          const uint64_t b2 = (b1 & ~kTwoThree) | ((b1 & kTwoThree) >> 2);
          const uint64_t bytes = (b2 & ~kFourFive) | ((b2 & kFourFive) >> 4);
          std::memcpy(out, &bytes, 8);
          out += 6;
          bits >>= 54;
          count -= 54;
        };
        if ((bits & kSixFlags) == 0) {
          six();
          // Six more at once where they follow, before the checks at the
          // top; the window's slack takes the 12 bytes.
          if (inEnd - in >= 8) {
            RefillFrom(in, bits, count);
            if ((bits & kSixFlags) == 0) six();
          }
          continue;
        }
      }
    } else {
      st.inPos = static_cast<size_t>(in - st.input);
      Refill(st, bits, count);
      in = st.input + st.inPos;
      inEnd = st.input + st.inEnd;
    }
    if (literalData) [[unlikely]] {
      // In data that hardly compresses two literals in a row start a run,
      // taken by a plain loop whose branch such data makes predictable: the
      // path below does more work per token than a literal needs. Elsewhere
      // the same test would be a branch no predictor could learn.
      unsigned literal;
      int literalUsed;
      LiteralAt<kAscii>(bits, literal, literalUsed);
      // In binary mode the second flag bit is always bit 9: the test need
      // not wait for anything.
      const bool run = kAscii ? ((bits & 1) | ((bits >> literalUsed) & 1)) == 0
                              : (bits & ((uint64_t{1} << 9) | 1)) == 0;
      if (run) {
        do {
          *out = static_cast<uint8_t>(literal);
          bits >>= literalUsed;
          count -= literalUsed;
          if (count < 8) [[unlikely]] {
            result = kDclBroken;
            goto done;
          }
          ++out;
          if ((bits & 1) != 0 || count < kLiteralReserve) break;
          LiteralAt<kAscii>(bits, literal, literalUsed);
        } while (true);
        continue;
      }
    }
    int used = tokenBits[bits & ((1u << kTokenIndexBits) - 1)];
    if (used == 0) [[unlikely]] {
      size_t distance = 0;
      const int n = DecodeLongRepetition(bits, count, dictBits, distance);
      if (n <= 0) {
        if (n < 0) result = kDclBroken;
        break;
      }
      // out never falls below the 4096 history bytes and a distance is at
      // most 4096, so the source lies inside the window.
      CopyRepetition(out, distance, static_cast<size_t>(n));
      out += n;
      continue;
    }
    if (!shortToken(used)) {
      result = kDclBroken;
      break;
    }
    // A second literal or short repetition from the same refill, where the
    // buffer still holds all its bits and the 8 after it (always, unless
    // the input is about to end): one refill and one pass through the checks
    // above serve two tokens. Anything longer waits for the next refill.
    if (count < kShortTokenReserve) continue;
    used = tokenBits[bits & ((1u << kTokenIndexBits) - 1)];
    if (used == 0) continue;
    if (!shortToken(used)) {
      result = kDclBroken;
      break;
    }
  }
done:
  st.inPos = static_cast<size_t>(in - st.input);
  // A token that breaks or ends the stream writes nothing; a block the
  // tokens before it completed goes out now, so the final write holds only
  // the remainder.
  if (out >= blockEnd) EmitFullBlock(st, out);

  st.bitBuffer = bits;
  st.bitCount = count;
  st.outPos = static_cast<size_t>(out - st.window);
  return result;
}

}  // namespace

// Format notes: the stream opens with two bytes, the literal mode (0 binary,
// 1 ASCII) and the dictionary size code k (4, 5 or 6 for 1024, 2048 or 4096
// bytes); the bit stream of tokens follows.
int DclExplode(DclReadFn read, DclWriteFn write, void* workArea, void* param) {
  void* place = workArea;
  size_t space = kExplodeWorkAreaSize;
  place = std::align(alignof(ExplodeState), sizeof(ExplodeState), place, space);
  ExplodeState& st = *new (place) ExplodeState;

  st.read = read;
  st.write = write;
  st.param = param;
  st.bitBuffer = 0;
  st.bitCount = 0;
  st.inputEnded = false;
  st.delivered = 0;
  st.inPos = kExplodeInputSlack;
  st.inEnd = kExplodeInputSlack;
  ReadBlock(st);
  if (st.inEnd - st.inPos <= 4) return kDclTooShort;

  const unsigned literalMode = st.input[st.inPos];
  const unsigned dictBits = st.input[st.inPos + 1];
  st.inPos += 2;
  if (dictBits < 4 || dictBits > 6) return kDclBadDictionary;
  if (literalMode > 1) return kDclBadLiteralMode;

  // A valid stream never reaches before its first byte; zeros make any
  // stream that does so decode to something defined.
  std::memset(st.window, 0, kExplodeHistoryBytes);
  st.outPos = kExplodeHistoryBytes;
  st.flushed = kExplodeHistoryBytes;

  const int result = literalMode == 1 ? DecodeTokens<true>(st, dictBits) : DecodeTokens<false>(st, dictBits);

  unsigned rest = static_cast<unsigned>(st.outPos - st.flushed);
  st.write(reinterpret_cast<char*>(st.window + st.flushed), &rest, st.param);
  return result;
}

}  // namespace QPXFile
