// Little-endian byte building for test data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class ByteWriter {
 public:
  ByteWriter& U8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  ByteWriter& U16(uint16_t v) {
    for (int i = 0; i < 2; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  ByteWriter& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  ByteWriter& U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  ByteWriter& Raw(std::string_view s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  ByteWriter& Raw(const std::vector<uint8_t>& v) {
    bytes_.insert(bytes_.end(), v.begin(), v.end());
    return *this;
  }
  // UTF-16LE code units, no terminator.
  ByteWriter& Utf16(std::u16string_view s) {
    for (char16_t c : s) U16(static_cast<uint16_t>(c));
    return *this;
  }
  // Overwrites a little-endian 32-bit value at `offset` (for lengths known later).
  void PatchU32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

// CP932 bytes of wide text (via the host layer); aborts the test on failure.
std::string Cp932(std::u16string_view text);

}  // namespace testsupport
