#include "support/corrupt.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {
namespace {

std::vector<uint8_t> LittleEndian(uint64_t value, int width) {
  std::vector<uint8_t> bytes(static_cast<size_t>(width));
  for (int i = 0; i < width; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

void CheckRange(uint64_t offset, uint64_t count, uint64_t size) {
  if (offset > size || count > size - offset)
    throw std::out_of_range("corrupt: bytes " + std::to_string(offset) + "+" + std::to_string(count) +
                            " lie past the end (" + std::to_string(size) + ")");
}

[[noreturn]] void Failure(const std::filesystem::path& path, const char* what) {
  throw std::runtime_error(std::string("corrupt: cannot ") + what + " " + path.string());
}

}  // namespace

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Failure(path, "open");
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) Failure(path, "read");
  return bytes;
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Failure(path, "create");
  // An empty vector may hand out a null pointer, which fwrite must not see.
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !ok) Failure(path, "write");
}

void TruncateFile(const std::filesystem::path& path, uint64_t size) {
  std::error_code error;
  const uint64_t length = std::filesystem::file_size(path, error);
  if (error) Failure(path, "measure");
  CheckRange(size, 0, length);
  std::filesystem::resize_file(path, size, error);
  if (error) Failure(path, "truncate");
}

void OverwriteBytes(const std::filesystem::path& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
  std::error_code error;
  const uint64_t length = std::filesystem::file_size(path, error);
  if (error) Failure(path, "measure");
  CheckRange(offset, bytes.size(), length);
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) Failure(path, "open");
  const bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
                  std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !ok) Failure(path, "overwrite");
}

void OverwriteBytes(const std::filesystem::path& path, uint64_t offset, std::string_view bytes) {
  OverwriteBytes(path, offset, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void FlipBits(const std::filesystem::path& path, uint64_t offset, uint8_t mask) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Failure(path, "open");
  int byte = EOF;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0) byte = std::fgetc(file);
  std::fclose(file);
  if (byte == EOF) CheckRange(offset, 1, offset);
  OverwriteBytes(path, offset, std::vector<uint8_t>{static_cast<uint8_t>(byte ^ mask)});
}

void PatchU16(const std::filesystem::path& path, uint64_t offset, uint16_t value) {
  OverwriteBytes(path, offset, LittleEndian(value, 2));
}
void PatchU32(const std::filesystem::path& path, uint64_t offset, uint32_t value) {
  OverwriteBytes(path, offset, LittleEndian(value, 4));
}
void PatchU64(const std::filesystem::path& path, uint64_t offset, uint64_t value) {
  OverwriteBytes(path, offset, LittleEndian(value, 8));
}

void OverwriteBytes(std::vector<uint8_t>& image, uint64_t offset, const std::vector<uint8_t>& bytes) {
  CheckRange(offset, bytes.size(), image.size());
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}
void OverwriteBytes(std::vector<uint8_t>& image, uint64_t offset, std::string_view bytes) {
  OverwriteBytes(image, offset, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}
void FlipBits(std::vector<uint8_t>& image, uint64_t offset, uint8_t mask) {
  CheckRange(offset, 1, image.size());
  image[static_cast<size_t>(offset)] ^= mask;
}
void PatchU16(std::vector<uint8_t>& image, uint64_t offset, uint16_t value) {
  OverwriteBytes(image, offset, LittleEndian(value, 2));
}
void PatchU32(std::vector<uint8_t>& image, uint64_t offset, uint32_t value) {
  OverwriteBytes(image, offset, LittleEndian(value, 4));
}
void PatchU64(std::vector<uint8_t>& image, uint64_t offset, uint64_t value) {
  OverwriteBytes(image, offset, LittleEndian(value, 8));
}
void Truncate(std::vector<uint8_t>& image, uint64_t size) {
  CheckRange(size, 0, image.size());
  image.resize(static_cast<size_t>(size));
}

}  // namespace testsupport
