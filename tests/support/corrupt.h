// Damage for damaged-input tests: cut a file short, overwrite or flip bytes,
// patch little-endian fields. Offsets are file offsets (for a split set,
// offsets within one volume file). Offsets past the end throw
// std::out_of_range, file failures std::runtime_error, so a mistaken test
// does not quietly test an undamaged file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace testsupport {

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Keeps the first `size` bytes (which must not exceed the file's length).
void TruncateFile(const std::filesystem::path& path, uint64_t size);

// Replaces bytes in place; the file does not grow.
void OverwriteBytes(const std::filesystem::path& path, uint64_t offset, const std::vector<uint8_t>& bytes);
void OverwriteBytes(const std::filesystem::path& path, uint64_t offset, std::string_view bytes);

// XORs the byte at `offset` with `mask`.
void FlipBits(const std::filesystem::path& path, uint64_t offset, uint8_t mask = 0xFF);

void PatchU16(const std::filesystem::path& path, uint64_t offset, uint16_t value);
void PatchU32(const std::filesystem::path& path, uint64_t offset, uint32_t value);
void PatchU64(const std::filesystem::path& path, uint64_t offset, uint64_t value);

// The same edits on an image in memory.
void OverwriteBytes(std::vector<uint8_t>& image, uint64_t offset, const std::vector<uint8_t>& bytes);
void OverwriteBytes(std::vector<uint8_t>& image, uint64_t offset, std::string_view bytes);
void FlipBits(std::vector<uint8_t>& image, uint64_t offset, uint8_t mask = 0xFF);
void PatchU16(std::vector<uint8_t>& image, uint64_t offset, uint16_t value);
void PatchU32(std::vector<uint8_t>& image, uint64_t offset, uint32_t value);
void PatchU64(std::vector<uint8_t>& image, uint64_t offset, uint64_t value);
void Truncate(std::vector<uint8_t>& image, uint64_t size);

}  // namespace testsupport
