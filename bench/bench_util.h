// Small pieces the benchmarks share.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace benchutil {

// Text-like content, so an imploded stream decodes at the speed of typical files.
inline std::vector<uint8_t> TextBlock(size_t size) {
  static const char* words[] = {"backup ", "archive ", "restore ", "generation ", "folder ", "file ",
                                "the ", "of ", "and ", "データ ", "\r\n", "size=", "1024 ", "2048 "};
  std::vector<uint8_t> out;
  uint32_t x = 12345;
  while (out.size() < size) {
    x = x * 1103515245 + 12345;
    const char* w = words[(x >> 16) % (sizeof words / sizeof *words)];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(size);
  return out;
}

// Decimal digits as UTF-16, for generated names.
inline std::u16string Num(size_t v) {
  std::u16string n;
  do {
    n.insert(n.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v > 0);
  return n;
}

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The main of a benchmark program whose data lives in `dataDir`: runs the
// benchmarks, then removes the folder unless the environment variable `keep`
// is set, in which case the next run reuses it.
inline int RunThenRemove(int argc, char** argv, const std::filesystem::path& dataDir, const char* keep) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  if (std::getenv(keep) == nullptr) std::filesystem::remove_all(dataDir, ec);
  return 0;
}

}  // namespace benchutil
