// Test-only implode compressor: makes valid implode streams (two header
// bytes, the token bit stream, the end marker) for tests, benchmarks and the
// archive builders of other tests. The program itself never compresses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

enum class LiteralMode { Binary = 0, Ascii = 1 };

// Writes tokens one by one, for streams shaped by hand (a repetition at an
// exact position, a stream cut short, a malformed header).
class ImplodeBitWriter {
 public:
  // The header bytes as given, valid or not; `dictionaryCode` is k (4, 5, 6).
  ImplodeBitWriter(uint8_t literalModeByte, uint8_t dictionaryCode);
  ImplodeBitWriter(LiteralMode mode, unsigned dictionaryBytes);

  void Literal(uint8_t byte);
  // length 2..518; distance 1..256 for length 2, else 1..2^k * 64.
  void Repetition(unsigned length, unsigned distance);
  void EndMarker();
  // Raw bits, least significant first.
  void Bits(uint32_t value, unsigned count);
  // Pads the last byte with zero bits and hands out the stream.
  std::vector<uint8_t> Finish();

  // Bits a token would take, for choosing between literals and a repetition.
  unsigned LiteralCost(uint8_t byte) const;
  unsigned RepetitionCost(unsigned length, unsigned distance) const;

 private:
  bool ascii_;
  unsigned dictionaryCode_;
  std::vector<uint8_t> bytes_;
  uint64_t pending_ = 0;   // bits not yet stored, next bit in bit 0
  unsigned pendingCount_ = 0;
};

// Dictionary code k for 1024, 2048 or 4096 bytes (other sizes round up,
// capped at 4096).
uint8_t DictionaryCode(unsigned dictionaryBytes);

// LZ77 with hash chains over the last `dictionaryBytes` bytes: repetitions
// of 3 to 518 bytes up to the dictionary size back, and of 2 bytes up to 256
// back, each taken only where it costs fewer bits than the literals.
std::vector<uint8_t> Implode(const uint8_t* data, size_t size, LiteralMode mode, unsigned dictionaryBytes);

}  // namespace testsupport
