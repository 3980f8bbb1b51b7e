// Runs the explode decompressor over a stream held in memory, recording what
// the callbacks saw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

struct ExplodeRun {
  int result = -1;
  std::vector<uint8_t> output;      // every byte handed to the write callback
  std::vector<unsigned> writes;     // size of each write, in order
  std::vector<unsigned> requests;   // size asked for by each read, in order
};

// `chunk` caps what each read delivers, to imitate a reader that hands out
// less than asked for.
ExplodeRun RunExplode(const std::vector<uint8_t>& stream, size_t chunk = 2048);

}  // namespace testsupport
