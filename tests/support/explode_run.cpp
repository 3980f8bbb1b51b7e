#include "support/explode_run.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "entry/explode.h"

namespace testsupport {
namespace {

struct Source {
  const std::vector<uint8_t>* stream;
  size_t position;
  size_t chunk;
  ExplodeRun* run;
};

unsigned Read(char* buffer, unsigned* size, void* param) {
  auto& src = *static_cast<Source*>(param);
  src.run->requests.push_back(*size);
  const size_t n = std::min({static_cast<size_t>(*size), src.chunk, src.stream->size() - src.position});
  if (n > 0) std::memcpy(buffer, src.stream->data() + src.position, n);
  src.position += n;
  return static_cast<unsigned>(n);
}

void Write(char* buffer, unsigned* size, void* param) {
  auto& src = *static_cast<Source*>(param);
  src.run->writes.push_back(*size);
  src.run->output.insert(src.run->output.end(), buffer, buffer + *size);
}

}  // namespace

ExplodeRun RunExplode(const std::vector<uint8_t>& stream, size_t chunk) {
  ExplodeRun run;
  Source src{&stream, 0, chunk, &run};
  // A heap block of exactly the advertised size, so an overrun of the work
  // area shows under the address sanitizer.
  auto work = std::make_unique<char[]>(QPXFile::kExplodeWorkAreaSize);
  run.result = QPXFile::DclExplode(Read, Write, work.get(), &src);
  return run;
}

}  // namespace testsupport
