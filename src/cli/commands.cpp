#include "cli/commands.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "archive/qpx_file_extend.h"
#include "cli/format.h"
#include "cli/listing.h"
#include "cli/open.h"
#include "io/null_file_io.h"

namespace cli {
namespace {

using QPXFile::CQPXBackupedFileHeader;
using QPXFile::CQPXFile;
using QPXFile::CQPXFileExtend;
using QPXFile::CUQPXFileExtend;

// The sections an archive of this kind and level holds, in file order.
std::vector<std::string> SectionsPresent(const CQPXFile& archive) {
  std::vector<std::string> sections{"Header"};
  // The base kind and the header-only kinds read no list sections.
  if (dynamic_cast<const CQPXFileExtend*>(&archive) == nullptr ||
      dynamic_cast<const QPXFile::CFakedQPXFile*>(&archive) != nullptr ||
      dynamic_cast<const QPXFile::CFakedUQPXFile*>(&archive) != nullptr)
    return sections;
  const uint32_t level = archive.GetHeader()->GetSectionLevel();
  if (level != 0) sections.push_back("FileList");
  if (level != 1) sections.push_back("FolderList");
  if (level != 2) sections.push_back("Division_Info");
  if (dynamic_cast<const CUQPXFileExtend*>(&archive) != nullptr) sections.push_back("CategoryInfo");
  return sections;
}

// The description field is blank-padded to its width; JSON keeps it exact,
// a person reading the summary does not need the padding.
std::u16string TrimBlanks(std::u16string text) {
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return text;
}

std::string FieldText(bool ok, const std::u16string& text) { return ok ? Utf8(text) : std::string("?"); }

struct SplitFacts {
  bool split = false;
  uint64_t volumeSize = 0;
  uint64_t volumes = 1;
};

SplitFacts SplitOf(const CQPXFile& archive) {
  SplitFacts facts;
  const auto* extend = dynamic_cast<const CQPXFileExtend*>(&archive);
  if (extend != nullptr && extend->GetDivisionInfo() != nullptr && archive.IsLoaded()) {
    facts.split = extend->GetDivisionInfo()->IsSplit();
    facts.volumeSize = extend->GetDivisionInfo()->GetVolumeSize();
  }
  if (archive.GetIO() != nullptr && archive.GetIO()->IsSplit()) facts.volumes = archive.GetIO()->GetVolumeCount();
  return facts;
}

}  // namespace

const char* MethodName(const CQPXBackupedFileHeader& h) {
  if (h.IsEncrypted()) return "encrypted";
  return h.IsCompressed() ? "imploded" : "stored";
}

nlohmann::json EntryJson(const std::u16string& path, const CQPXBackupedFileHeader& h) {
  return {{"path", Utf8(path)},         {"size", h.GetFileSize()},
          {"stored", h.GetDataSize()},  {"method", MethodName(h)},
          {"crc32", h.GetCrc32()},      {"attributes", h.GetAttributes()},
          {"created", h.GetCreationTime()}, {"accessed", h.GetLastAccessTime()},
          {"modified", h.GetLastWriteTime()}};
}

nlohmann::json FolderJson(const std::u16string& path, uint32_t attributes, uint64_t created, uint64_t accessed,
                          uint64_t modified) {
  return {{"path", Utf8(path)}, {"attributes", attributes}, {"created", created},
          {"accessed", accessed}, {"modified", modified}};
}

std::string EntryLineHead(const CQPXBackupedFileHeader& h) {
  char line[128];
  std::snprintf(line, sizeof line, "%14" PRIu64 " %14" PRIu64 "  %-9s  %-19s  ", h.GetFileSize(), h.GetDataSize(),
                MethodName(h), FormatFileTime(h.GetLastWriteTime()).c_str());
  return line;
}

std::string CheckEntry(CQPXBackupedFileHeader& h, QPXFile::CQPXBackupedFileData& data) {
  QPXFile::CNullFileIO sink;
  const QPXFile::ExtractProgress noProgress;
  uint32_t crc = 0;
  if (h.IsEncrypted()) {
    // The raw export is kept as is and carries no checked CRC: reading it
    // whole is the test.
    QPXFile::ExtractFailure failure = QPXFile::ExtractFailure::kNone;
    if (data.SeekToStart() && QPXFile::CopySectionBytes(data, h.GetDataSize(), sink, crc, noProgress, failure))
      return {};
    return failure == QPXFile::ExtractFailure::kCutShort ? "data cut short" : "data cannot be read";
  }
  if (!data.Extract(sink, crc, noProgress)) {
    switch (data.GetLastFailure()) {
      case QPXFile::ExtractFailure::kCutShort:
        return "data cut short";
      case QPXFile::ExtractFailure::kBrokenStream:
        return "compressed data damaged";
      case QPXFile::ExtractFailure::kOutOfMemory:
        return "not enough memory";
      default:
        return "data cannot be read";
    }
  }
  if (sink.WrittenLength() != h.GetFileSize())
    return "size differs: the record says " + std::to_string(h.GetFileSize()) + " bytes, the data holds " +
           std::to_string(sink.WrittenLength());
  if (crc != h.GetCrc32()) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "CRC differs: the record says %08X, the data gives %08X", h.GetCrc32(), crc);
    return buf;
  }
  return {};
}

int RunInfo(const std::string& path, bool json) {
  std::unique_ptr<CQPXFile> archive = OpenForCommand(path);
  if (!archive) return kExitFailed;
  QPXFile::CQPXFileHeader& header = *archive->GetHeader();
  std::u16string formatId, version, compression, description;
  const bool haveId = header.GetFormatId(formatId);
  const bool haveVersion = header.GetVersionText(version);
  const bool haveCompression = header.GetCompressionText(compression);
  const bool haveDescription = header.GetDescription(description);
  const SplitFacts split = SplitOf(*archive);
  const std::vector<std::string> sections = SectionsPresent(*archive);

  if (json) {
    nlohmann::json out = {
        {"format_id", FieldText(haveId, formatId)},
        {"version", FieldText(haveVersion, version)},
        {"compression", FieldText(haveCompression, compression)},
        {"section_level", header.GetSectionLevel()},
        {"creation_time", header.GetCreationTime()},
        {"entry_count", header.GetEntryCount()},
        {"description", FieldText(haveDescription, description)},
        {"sections", sections},
        {"split", split.split},
        {"volume_size", split.volumeSize},
        {"volumes", split.volumes},
    };
    std::cout << out.dump(2) << "\n";
    return kExitOk;
  }
  std::string sectionText;
  for (const std::string& s : sections) sectionText += (sectionText.empty() ? "" : ", ") + s;
  std::cout << "Archive:       " << path << "\n"
            << "Format:        \"" << FieldText(haveId, formatId) << "\"\n"
            << "Version:       \"" << FieldText(haveVersion, version) << "\"\n"
            << "Compression:   \"" << FieldText(haveCompression, compression) << "\"\n"
            << "Section level: " << header.GetSectionLevel() << "\n"
            << "Created:       " << FormatFileTime(header.GetCreationTime()) << "\n"
            << "Entries:       " << header.GetEntryCount() << "\n"
            << "Description:   " << FieldText(haveDescription, TrimBlanks(description)) << "\n"
            << "Sections:      " << sectionText << "\n"
            << "Split:         " << (split.split ? "yes" : "no") << "\n";
  if (split.split) {
    std::cout << "Volume size:   " << split.volumeSize << " bytes\n"
              << "Volumes:       " << split.volumes << "\n";
  }
  return kExitOk;
}

int RunList(const std::string& path, bool json) {
  std::unique_ptr<CQPXFile> archive = OpenForCommand(path);
  if (!archive) return kExitFailed;
  const long count = archive->GetEntryCount();
  const auto* extend = dynamic_cast<const CQPXFileExtend*>(archive.get());
  const QPXFile::CQPXFolderList* folders = extend ? extend->GetFolderList() : nullptr;
  const int folderCount = folders ? folders->GetFolderCount() : 0;
  std::u16string fullPath;

  if (json) {
    // Written piece by piece: a listing of a large archive must not build the
    // whole document in memory.
    std::string out = "{\"entries\":[";
    for (long i = 0; i < count; ++i) {
      const CQPXBackupedFileHeader* h = archive->GetEntryHeader(i);
      if (h == nullptr || !h->GetFullPath(fullPath)) fullPath.clear();
      nlohmann::json e = EntryJson(fullPath, *h);
      if (i > 0) out += ',';
      out += e.dump();
      if (out.size() > (1u << 20)) {
        std::cout << out;
        out.clear();
      }
    }
    out += "],\"folders\":[";
    for (int i = 0; i < folderCount; ++i) {
      std::u16string folderPath;
      uint32_t attributes = 0;
      uint64_t created = 0, accessed = 0, modified = 0;
      folders->GetFolder(i, &folderPath, &created, &attributes, &accessed, &modified);
      nlohmann::json f = FolderJson(folderPath, attributes, created, accessed, modified);
      if (i > 0) out += ',';
      out += f.dump();
      if (out.size() > (1u << 20)) {
        std::cout << out;
        out.clear();
      }
    }
    out += "]}\n";
    std::cout << out;
    return kExitOk;
  }

  std::string out;
  char line[128];
  std::snprintf(line, sizeof line, "%14s %14s  %-9s  %-19s  %s\n", "Size", "Stored", "Method", "Modified", "Path");
  out += line;
  uint64_t totalSize = 0, totalStored = 0;
  for (long i = 0; i < count; ++i) {
    const CQPXBackupedFileHeader* h = archive->GetEntryHeader(i);
    if (h == nullptr || !h->GetFullPath(fullPath)) fullPath = u"?";
    out += EntryLineHead(*h);
    out += Utf8(fullPath);
    out += '\n';
    totalSize += h->GetFileSize();
    totalStored += h->GetDataSize();
    if (out.size() > (1u << 20)) {
      std::cout << out;
      out.clear();
    }
  }
  std::snprintf(line, sizeof line, "%14" PRIu64 " %14" PRIu64 "  %ld file%s\n", totalSize, totalStored, count,
                count == 1 ? "" : "s");
  out += line;
  if (folderCount > 0) {
    out += "\nFolders:\n";
    for (int i = 0; i < folderCount; ++i) {
      std::u16string folderPath;
      uint64_t modified = 0;
      folders->GetFolder(i, &folderPath, nullptr, nullptr, nullptr, &modified);
      out += "  " + FormatFileTime(modified) + "  " + Utf8(folderPath) + "\n";
    }
  }
  std::snprintf(line, sizeof line, "%d folder%s\n", folderCount, folderCount == 1 ? "" : "s");
  out += line;
  std::cout << out;
  return kExitOk;
}

int RunTest(const std::string& path) {
  std::unique_ptr<CQPXFile> archive = OpenForCommand(path);
  if (!archive) return kExitFailed;
  const long count = archive->GetEntryCount();
  long damaged = 0;
  std::u16string fullPath;
  for (long i = 0; i < count; ++i) {
    CQPXBackupedFileHeader* h = archive->GetEntryHeader(i);
    QPXFile::CQPXBackupedFileData* data = archive->GetEntryData(i);
    if (h == nullptr || !h->GetFullPath(fullPath)) fullPath = u"entry " + std::u16string(1, u'?');
    const std::string problem = CheckEntry(*h, *data);
    if (!problem.empty()) {
      ++damaged;
      std::cout << "DAMAGED  " << Utf8(fullPath) << ": " << problem << "\n";
    }
  }
  std::cout << count << " entr" << (count == 1 ? "y" : "ies") << " tested, " << damaged << " damaged\n";
  return damaged == 0 ? kExitOk : kExitDamaged;
}

}  // namespace cli
