#include "support/sample_data.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

namespace testsupport {
namespace {

constexpr std::string_view kWords[] = {
    "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be", "by", "on",
    "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had", "they",
    "you", "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if", "more", "when",
    "will", "would", "who", "so", "no", "backup", "archive", "folder", "restore", "generation", "volume",
    "compressed", "attribute", "management", "incremental", "encrypted", "destination", "progress",
    "should", "between", "important", "information", "themselves", "government", "development"};
constexpr std::string_view kCodeLines[] = {
    "    if (result != 0) return false;\r\n", "    for (int i = 0; i < count; ++i) {\r\n",
    "    buffer[offset + i] = value;\r\n", "  }\r\n", "#include <windows.h>\r\n",
    "    DWORD dwSize = GetFileSize(hFile, NULL);\r\n"};

}  // namespace

std::vector<uint8_t> SampleText(size_t size, uint64_t seed) {
  SampleRandom rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 64);
  size_t lineLength = 0;
  while (out.size() < size) {
    if (rng.Below(40) == 0) {
      const auto line = kCodeLines[rng.Below(std::size(kCodeLines))];
      out.insert(out.end(), line.begin(), line.end());
      lineLength = 0;
      continue;
    }
    // Favour the common words: the square of a uniform pick leans low.
    const uint32_t r = rng.Below(1000);
    const auto word = kWords[(r * r / 1000) * std::size(kWords) / 1000];
    out.insert(out.end(), word.begin(), word.end());
    lineLength += word.size();
    const uint32_t p = rng.Below(20);
    if (p == 0) {
      out.push_back('.');
    } else if (p == 1) {
      out.push_back(',');
    }
    if (lineLength > 70) {
      if (rng.Below(2)) out.push_back('\r');
      out.push_back('\n');
      lineLength = 0;
    } else {
      out.push_back(' ');
      ++lineLength;
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> SampleExecutable(size_t size, uint64_t seed) {
  static const std::vector<std::vector<uint8_t>> kInstructions = {
      {0x55}, {0x8B, 0xEC}, {0x83, 0xEC, 0x10}, {0x53}, {0x56}, {0x57}, {0x8B, 0x45, 0x08}, {0x8B, 0x4D, 0x0C},
      {0x89, 0x45, 0xFC}, {0x33, 0xC0}, {0x85, 0xC0}, {0x74}, {0x75}, {0xE8}, {0xFF, 0x15}, {0x5F},
      {0x5E}, {0x5B}, {0xC9}, {0xC3}, {0x6A, 0x00}, {0x50}, {0x8D, 0x45, 0xF8}, {0x3B, 0xC1}, {0xC2, 0x08, 0x00}};
  SampleRandom rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 1024);
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  while (out.size() < size) {
    switch (rng.Below(8)) {
      case 0:
      case 1:
      case 2:
      case 3: {  // code
        const uint32_t n = 20 + rng.Below(200);
        for (uint32_t i = 0; i < n; ++i) {
          const auto& ins = kInstructions[rng.Below(static_cast<uint32_t>(kInstructions.size()))];
          out.insert(out.end(), ins.begin(), ins.end());
          if (ins.size() == 1 && (ins[0] == 0x74 || ins[0] == 0x75)) out.push_back(static_cast<uint8_t>(rng.Below(64)));
          if (ins[0] == 0xE8 || ins[0] == 0xFF) u32(0x00401000 + rng.Below(0x8000));
        }
        break;
      }
      case 4: {  // a table of addresses
        uint32_t base = 0x00402000 + rng.Below(0x1000) * 4;
        const uint32_t n = 8 + rng.Below(64);
        for (uint32_t i = 0; i < n; ++i) u32(base += 4 * (1 + rng.Below(8)));
        break;
      }
      case 5: {  // padding
        out.insert(out.end(), 16 + rng.Below(400), rng.Below(4) == 0 ? 0xCC : 0x00);
        break;
      }
      case 6: {  // strings
        const uint32_t n = 1 + rng.Below(12);
        for (uint32_t i = 0; i < n; ++i) {
          const auto word = kWords[rng.Below(std::size(kWords))];
          out.insert(out.end(), word.begin(), word.end());
          if (rng.Below(3) == 0) out.push_back(0);
        }
        out.push_back(0);
        break;
      }
      default: {  // packed numbers and a little noise
        const uint32_t n = 16 + rng.Below(100);
        for (uint32_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(rng.Below(4) ? rng.Below(16) : rng.Next()));
        break;
      }
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> SampleRepetitive(size_t size, uint64_t seed) {
  SampleRandom rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 8192);
  while (out.size() < size) {
    if (rng.Below(2)) {
      out.insert(out.end(), 100 + rng.Below(4000), static_cast<uint8_t>(rng.Next()));
    } else {
      uint8_t block[64];
      const uint32_t period = 2 + rng.Below(62);
      for (uint32_t i = 0; i < period; ++i) block[i] = static_cast<uint8_t>(rng.Next());
      const uint32_t repeats = 10 + rng.Below(100);
      for (uint32_t r = 0; r < repeats; ++r) out.insert(out.end(), block, block + period);
    }
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> SampleNoise(size_t size, uint64_t seed) {
  SampleRandom rng(seed);
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t v = rng.Next();
    std::memcpy(out.data() + i, &v, std::min<size_t>(8, size - i));
  }
  return out;
}

}  // namespace testsupport
