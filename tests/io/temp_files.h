// Temporary folders and files for the stream tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_path.h"

namespace iotest {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessera-io-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string HostPath(const std::string& name) const { return path_ + "/" + name; }
  std::u16string EnginePath(const std::string& name) const { return host::ToEnginePath(HostPath(name)); }

  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(HostPath(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<uint8_t> Read(const std::string& name) const {
    std::ifstream in(HostPath(name), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};

// Bytes 0, 1, 2, ... wrapping at a prime, so that a byte tells its offset
// within any window that is not a multiple of 251.
inline uint8_t PatternByte(uint64_t position) { return static_cast<uint8_t>(position % 251); }

inline std::vector<uint8_t> Pattern(uint64_t from, size_t count) {
  std::vector<uint8_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = PatternByte(from + i);
  return out;
}

}  // namespace iotest
