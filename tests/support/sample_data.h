// Deterministic inputs for compression tests and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// Small fast generator (xorshift64*), so inputs are the same on every run.
class SampleRandom {
 public:
  explicit SampleRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>((Next() >> 32) % bound); }

 private:
  uint64_t state_;
};

// English-like prose with some code-like lines and CRLF line ends.
std::vector<uint8_t> SampleText(size_t size, uint64_t seed);
// Executable-like bytes: instruction-like sequences, little-endian tables,
// zero padding and embedded strings.
std::vector<uint8_t> SampleExecutable(size_t size, uint64_t seed);
// Long runs of one byte and repeated short blocks.
std::vector<uint8_t> SampleRepetitive(size_t size, uint64_t seed);
// Uniformly random bytes (incompressible).
std::vector<uint8_t> SampleNoise(size_t size, uint64_t seed);

}  // namespace testsupport
