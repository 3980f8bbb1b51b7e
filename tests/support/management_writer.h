// Writes backup-management files of every version for tests, with options to
// damage them the ways old disks and hostile files do.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

inline constexpr const char* kManage10 = "QPXManageFile1.0    ";
inline constexpr const char* kManage11 = "QPXManageFile1.1    ";
inline constexpr const char* kManage20 = "QPXManageFile2.0    ";
inline constexpr const char* kManage30 = "QPXManageFile3.0    ";

struct ManagementUpdate {
  uint16_t generation = 0;
  uint16_t kind = 1;
};

struct ManagementArchive {
  uint16_t generation = 0;
  std::u16string path;
  uint32_t crc = 0;
  uint64_t creationTime = 0;
};

struct ManagementRecord {
  std::u16string path;
  std::vector<ManagementUpdate> updates;
  std::u16string extraText;  // written only by versions with folder texts
};

struct ManagementCategoryItem {
  std::u16string name, value;
  uint16_t code = 0;
};

struct ManagementSpec {
  std::string version = kManage30;  // 20 bytes; any text, for damaged files
  uint32_t unnamed4 = 0, unnamed28 = 1;
  std::vector<ManagementArchive> archives;
  std::vector<ManagementRecord> folders1, folders2, files1, files2;
  std::string compressName = "DefaultCompressInfo";
  uint8_t compress = 0;
  std::string categoryName = "DefaultCategoryInfo";
  uint8_t categoryEnabled = '1';
  std::vector<ManagementCategoryItem> categoryItems;
  std::vector<uint8_t> trailing;  // bytes after the last block

  // Damage: a fixed checksum field instead of the computed one (0 = not set).
  std::optional<uint32_t> checksum;
  // Damage: table counts written instead of the real ones (archives, folders 1).
  std::optional<uint32_t> archiveCount, folderCount;
};

// The CRC-32 register over image[4..], as the header stores it.
uint32_t ManagementChecksum(const std::vector<uint8_t>& image);

// Texts follow the version's traits (UTF-16LE for 3.0, code page 932
// otherwise; unknown versions are written like 3.0).
std::vector<uint8_t> BuildManagementImage(const ManagementSpec& plan);
void WriteManagement(const ManagementSpec& plan, const std::filesystem::path& path);
void WriteManagementBytes(const std::vector<uint8_t>& image, const std::filesystem::path& path);

}  // namespace testsupport
