// Small pieces the benchmarks share.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace benchutil {

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

}  // namespace benchutil
