#include "support/management_writer.h"

#include <fstream>
#include <stdexcept>

#include "entry/crc32.h"
#include "host/text.h"

namespace testsupport {

namespace {

struct Writer {
  std::vector<uint8_t> out;
  bool utf16 = true;

  void U8(uint8_t v) { out.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Raw(const std::string& bytes) {
    U16(static_cast<uint16_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  void Text(const std::u16string& text) {
    std::string bytes;
    if (utf16) {
      for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
      }
    } else if (!host::WideToAnsi(text, bytes)) {
      throw std::runtime_error("text not in code page 932");
    }
    Raw(bytes);
  }
};

}  // namespace

uint32_t ManagementChecksum(const std::vector<uint8_t>& image) {
  if (image.size() <= 4) return image.empty() ? 0 : 0xFFFFFFFFu;
  return QPXFile::Crc32Update(image.data() + 4, image.size() - 4, 0xFFFFFFFFu);
}

std::vector<uint8_t> BuildManagementImage(const ManagementSpec& plan) {
  const bool v1 = plan.version == kManage10 || plan.version == kManage11;
  const bool v2 = plan.version == kManage20;
  const bool wideCounts = !v1, extraText = !v1, category = v2;
  Writer w;
  w.utf16 = !v1 && !v2;
  w.U32(0);
  w.U32(plan.unnamed4);
  std::string version = plan.version;
  version.resize(20, ' ');
  w.out.insert(w.out.end(), version.begin(), version.end());
  w.U32(plan.unnamed28);

  w.U16(static_cast<uint16_t>(plan.archiveCount.value_or(plan.archives.size())));
  for (const auto& a : plan.archives) {
    w.U16(a.generation);
    w.Text(a.path);
    w.U32(a.crc);
    w.U64(a.creationTime);
  }
  auto count = [&](size_t n) {
    if (wideCounts)
      w.U32(static_cast<uint32_t>(n));
    else
      w.U16(static_cast<uint16_t>(n));
  };
  auto records = [&](const std::vector<ManagementRecord>& table, bool folders, std::optional<uint32_t> forced) {
    count(forced.value_or(table.size()));
    for (const auto& r : table) {
      w.Text(r.path);
      if (folders && extraText) w.Text(r.extraText);
      w.U16(static_cast<uint16_t>(r.updates.size()));
      for (const auto& u : r.updates) {
        w.U16(u.generation);
        w.U16(u.kind);
      }
    }
  };
  records(plan.folders1, true, plan.folderCount);
  records(plan.folders2, true, std::nullopt);
  records(plan.files1, false, std::nullopt);
  records(plan.files2, false, std::nullopt);
  w.Raw(plan.compressName);
  w.U8(plan.compress);
  if (category) {
    w.Raw(plan.categoryName);
    w.U8(plan.categoryEnabled);
    w.U16(static_cast<uint16_t>(plan.categoryItems.size()));
    for (const auto& item : plan.categoryItems) {
      w.Text(item.name);
      w.Text(item.value);
      w.U16(item.code);
    }
  }
  w.out.insert(w.out.end(), plan.trailing.begin(), plan.trailing.end());
  const uint32_t sum = plan.checksum.value_or(ManagementChecksum(w.out));
  for (int i = 0; i < 4; ++i) w.out[i] = static_cast<uint8_t>(sum >> (8 * i));
  return w.out;
}

void WriteManagementBytes(const std::vector<uint8_t>& image, const std::filesystem::path& path) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

void WriteManagement(const ManagementSpec& plan, const std::filesystem::path& path) {
  WriteManagementBytes(BuildManagementImage(plan), path);
}

}  // namespace testsupport
