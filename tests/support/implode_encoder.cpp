#include "support/implode_encoder.h"

#include <algorithm>
#include <cstdlib>

#include "entry/implode_tables.h"

namespace testsupport {
namespace {

using namespace QPXFile;

constexpr unsigned kMaxRepetition = 518;
constexpr unsigned kMaxShortDistance = 256;  // farthest reach of a 2-byte repetition
constexpr unsigned kMaxChain = 48;           // candidates tried per position
constexpr unsigned kHashBits = 15;

unsigned LengthSymbol(unsigned lengthValue) {
  unsigned s = 15;
  while (LengthBase[s] > lengthValue) --s;
  return s;
}

}  // namespace

uint8_t DictionaryCode(unsigned dictionaryBytes) {
  if (dictionaryBytes <= 1024) return 4;
  if (dictionaryBytes <= 2048) return 5;
  return 6;
}

ImplodeBitWriter::ImplodeBitWriter(uint8_t literalModeByte, uint8_t dictionaryCode)
    : ascii_(literalModeByte == 1), dictionaryCode_(dictionaryCode) {
  bytes_.push_back(literalModeByte);
  bytes_.push_back(dictionaryCode);
}

ImplodeBitWriter::ImplodeBitWriter(LiteralMode mode, unsigned dictionaryBytes)
    : ImplodeBitWriter(static_cast<uint8_t>(mode), DictionaryCode(dictionaryBytes)) {}

void ImplodeBitWriter::Bits(uint32_t value, unsigned count) {
  pending_ |= static_cast<uint64_t>(value & ((uint64_t{1} << count) - 1)) << pendingCount_;
  pendingCount_ += count;
  while (pendingCount_ >= 8) {
    bytes_.push_back(static_cast<uint8_t>(pending_));
    pending_ >>= 8;
    pendingCount_ -= 8;
  }
}

void ImplodeBitWriter::Literal(uint8_t byte) {
  Bits(0, 1);
  if (ascii_) {
    Bits(AsciiLiteralCodes[byte], AsciiLiteralBits[byte]);
  } else {
    Bits(byte, 8);
  }
}

void ImplodeBitWriter::Repetition(unsigned length, unsigned distance) {
  if (length < 2 || length > kMaxRepetition || distance == 0 ||
      (length == 2 && distance > kMaxShortDistance) || distance > (64u << dictionaryCode_)) {
    std::abort();  // a test asked for a token the format cannot hold
  }
  const unsigned value = length - 2;
  const unsigned s = LengthSymbol(value);
  Bits(1, 1);
  Bits(LengthCodes[s], LengthCodeBits[s]);
  Bits(value - LengthBase[s], LengthExtraBits[s]);
  const unsigned lowBits = length == 2 ? 2 : dictionaryCode_;
  const unsigned d = (distance - 1) >> lowBits;
  Bits(DistanceCodes[d], DistanceCodeBits[d]);
  Bits(distance - 1, lowBits);
}

void ImplodeBitWriter::EndMarker() {
  Bits(1, 1);
  Bits(LengthCodes[15], LengthCodeBits[15]);
  Bits(255, 8);
}

std::vector<uint8_t> ImplodeBitWriter::Finish() {
  if (pendingCount_ > 0) Bits(0, 8 - pendingCount_);
  return std::move(bytes_);
}

unsigned ImplodeBitWriter::LiteralCost(uint8_t byte) const { return 1 + (ascii_ ? AsciiLiteralBits[byte] : 8); }

unsigned ImplodeBitWriter::RepetitionCost(unsigned length, unsigned distance) const {
  const unsigned s = LengthSymbol(length - 2);
  const unsigned lowBits = length == 2 ? 2 : dictionaryCode_;
  const unsigned d = (distance - 1) >> lowBits;
  return 1 + LengthCodeBits[s] + LengthExtraBits[s] + DistanceCodeBits[d] + lowBits;
}

std::vector<uint8_t> Implode(const uint8_t* data, size_t size, LiteralMode mode, unsigned dictionaryBytes) {
  const uint8_t k = DictionaryCode(dictionaryBytes);
  const size_t dictionary = size_t{64} << k;
  ImplodeBitWriter out(mode, dictionaryBytes);

  // Chains of earlier positions with the same 3-byte hash, newest first;
  // `previous` is a ring as large as the dictionary.
  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> previous(dictionary, -1);
  std::vector<int64_t> lastPair(65536, -1);  // newest position of each 2-byte value

  auto insert = [&](size_t pos) {
    if (pos + 2 < size) {
      const uint32_t h = ((data[pos] << 10) ^ (data[pos + 1] << 5) ^ data[pos + 2]) & ((1u << kHashBits) - 1);
      previous[pos & (dictionary - 1)] = head[h];
      head[h] = static_cast<int64_t>(pos);
    }
    if (pos + 1 < size) lastPair[data[pos] | (data[pos + 1] << 8)] = static_cast<int64_t>(pos);
  };

  size_t pos = 0;
  while (pos < size) {
    const size_t limit = std::min<size_t>(kMaxRepetition, size - pos);
    unsigned bestLength = 0;
    size_t bestDistance = 0;
    if (limit >= 3) {
      const uint32_t h = ((data[pos] << 10) ^ (data[pos + 1] << 5) ^ data[pos + 2]) & ((1u << kHashBits) - 1);
      int64_t candidate = head[h];
      for (unsigned tries = 0; candidate >= 0 && tries < kMaxChain; ++tries) {
        const size_t distance = pos - static_cast<size_t>(candidate);
        if (distance > dictionary) break;
        unsigned length = 0;
        while (length < limit && data[candidate + length] == data[pos + length]) ++length;
        if (length > bestLength) {
          bestLength = length;
          bestDistance = distance;
          if (length == limit) break;
        }
        const int64_t next = previous[static_cast<size_t>(candidate) & (dictionary - 1)];
        if (next >= candidate) break;
        candidate = next;
      }
    }
    if (bestLength < 3) {
      bestLength = 0;
      if (limit >= 2) {
        const int64_t candidate = lastPair[data[pos] | (data[pos + 1] << 8)];
        if (candidate >= 0 && pos - static_cast<size_t>(candidate) <= kMaxShortDistance) {
          bestLength = 2;
          bestDistance = pos - static_cast<size_t>(candidate);
        }
      }
    }

    bool useRepetition = false;
    if (bestLength >= 2) {
      unsigned literalBits = 0;
      for (unsigned i = 0; i < bestLength; ++i) literalBits += out.LiteralCost(data[pos + i]);
      useRepetition = out.RepetitionCost(bestLength, static_cast<unsigned>(bestDistance)) < literalBits;
    }
    if (useRepetition) {
      out.Repetition(bestLength, static_cast<unsigned>(bestDistance));
      for (unsigned i = 0; i < bestLength; ++i) insert(pos + i);
      pos += bestLength;
    } else {
      out.Literal(data[pos]);
      insert(pos);
      ++pos;
    }
  }
  out.EndMarker();
  return out.Finish();
}

}  // namespace testsupport
