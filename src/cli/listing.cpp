#include "cli/listing.h"

#include <cinttypes>
#include <cstdio>

#include "cli/format.h"

namespace cli {

using QPXFile::CQPXBackupedFileHeader;

const char* MethodName(const CQPXBackupedFileHeader& h) {
  if (h.IsEncrypted()) return "encrypted";
  return h.IsCompressed() ? "imploded" : "stored";
}

nlohmann::json EntryJson(JsonNames& names, const std::u16string& path, const CQPXBackupedFileHeader& h) {
  return {{"path", names(path)},         {"size", h.GetFileSize()},
          {"stored", h.GetDataSize()},  {"method", MethodName(h)},
          {"crc32", h.GetCrc32()},      {"attributes", h.GetAttributes()},
          {"created", h.GetCreationTime()}, {"accessed", h.GetLastAccessTime()},
          {"modified", h.GetLastWriteTime()}};
}

nlohmann::json FolderJson(JsonNames& names, const std::u16string& path, uint32_t attributes, uint64_t created,
                          uint64_t accessed, uint64_t modified) {
  return {{"path", names(path)}, {"attributes", attributes}, {"created", created},
          {"accessed", accessed}, {"modified", modified}};
}

std::string EntryLineHead(const CQPXBackupedFileHeader& h) {
  char line[128];
  std::snprintf(line, sizeof line, "%14" PRIu64 " %14" PRIu64 "  %-9s  %-19s  ", h.GetFileSize(), h.GetDataSize(),
                MethodName(h), FormatFileTime(h.GetLastWriteTime()).c_str());
  return line;
}

}  // namespace cli
