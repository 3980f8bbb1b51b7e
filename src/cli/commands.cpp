#include "cli/commands.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "archive/archive_facts.h"
#include "cli/format.h"
#include "cli/listing.h"
#include "cli/skipped_records.h"
#include "generations/integrity_test.h"

namespace cli {
namespace {

using IncrementalBackup::CBackupSet;
using IncrementalBackup::SetFile;
using IncrementalBackup::SetFolder;
using QPXFile::CQPXBackupedFileHeader;
using QPXFile::CQPXFile;

// The description field is blank-padded to its width; JSON keeps it exact,
// a person reading the summary does not need the padding.
std::u16string TrimBlanks(std::u16string text) {
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return text;
}

std::string FieldText(bool ok, const std::u16string& text) { return ok ? Utf8(text) : std::string("?"); }

const CQPXBackupedFileHeader* HeaderOf(const SetFile& file) {
  return file.entry != nullptr ? file.entry->GetHeader() : nullptr;
}

// A listing of a large archive must not build the whole text in memory.
void Flush(std::string& out, bool always = false) {
  if (always || out.size() > (1u << 20)) {
    std::cout << out;
    out.clear();
  }
}

}  // namespace

int RunInfo(const std::string& path, bool json) {
  std::unique_ptr<CBackupSet> set = OpenForCommand(path, SetOptions{});
  if (!set) return kExitFailed;
  CQPXFile& archive = set->Archive();
  QPXFile::CQPXFileHeader& header = *archive.GetHeader();
  std::u16string formatId, version, compression, description;
  const bool haveId = header.GetFormatId(formatId);
  const bool haveVersion = header.GetVersionText(version);
  const bool haveCompression = header.GetCompressionText(compression);
  const bool haveDescription = header.GetDescription(description);
  const QPXFile::SplitFacts split = QPXFile::SplitOf(archive);
  const std::vector<std::string> sections = QPXFile::SectionsPresent(archive);

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
  std::cout << "Archive:       " << Printable(path) << "\n"
            << "Format:        \"" << Printable(FieldText(haveId, formatId)) << "\"\n"
            << "Version:       \"" << Printable(FieldText(haveVersion, version)) << "\"\n"
            << "Compression:   \"" << Printable(FieldText(haveCompression, compression)) << "\"\n"
            << "Section level: " << header.GetSectionLevel() << "\n"
            << "Created:       " << FormatFileTime(header.GetCreationTime()) << "\n"
            << "Entries:       " << header.GetEntryCount() << "\n"
            << "Description:   " << Printable(FieldText(haveDescription, TrimBlanks(description))) << "\n"
            << "Sections:      " << sectionText << "\n"
            << "Split:         " << (split.split ? "yes" : "no") << "\n";
  if (split.split) {
    std::cout << "Volume size:   " << split.volumeSize << " bytes\n"
              << "Volumes:       " << split.volumes << "\n";
  }
  return kExitOk;
}

int RunList(const std::string& path, bool json, const SetOptions& options) {
  std::unique_ptr<CBackupSet> set = OpenForCommand(path, options);
  if (!set) return kExitFailed;
  const std::vector<std::u16string> unheld =
      set->IsArchiveAlone() ? std::vector<std::u16string>() : UnheldRecords(set->Creator(), {});
  ReportUnheldRecords(path, unheld);
  if (!set->IsArchiveAlone()) ReportLeftOutRecords(path, set->Creator());

  if (json) {
    // A file recorded as stored whose archive lacks it is present without data.
    JsonNames names;
    auto missing = [&names](const std::u16string& filePath) {
      return nlohmann::json{{"path", names(filePath)}, {"size", 0},       {"stored", 0},  {"method", "missing"},
                            {"crc32", 0},             {"attributes", 0}, {"created", 0}, {"accessed", 0},
                            {"modified", 0}};
    };
    // Two passes keep the schema (entries, then folders) without holding
    // either array.
    std::string out = "{\"entries\":[";
    bool first = true;
    set->ForEachFile([&](const SetFile& file) {
      const CQPXBackupedFileHeader* h = HeaderOf(file);
      if (!first) out += ',';
      first = false;
      out += names.Dump(h != nullptr ? EntryJson(names, file.path, *h) : missing(file.path));
      Flush(out);
    });
    out += "],\"folders\":[";
    first = true;
    set->ForEachFolder([&](const SetFolder& f) {
      if (!first) out += ',';
      first = false;
      out += names.Dump(FolderJson(names, f.path, f.attributes, f.created, f.accessed, f.modified));
      Flush(out);
    });
    out += "]}\n";
    Flush(out, true);
    return kExitOk;
  }

  std::string out;
  char line[160];
  std::snprintf(line, sizeof line, "%14s %14s  %-9s  %-19s  %s\n", "Size", "Stored", "Method", "Modified", "Path");
  out += line;
  uint64_t totalSize = 0, totalStored = 0;
  long files = 0;
  set->ForEachFile([&](const SetFile& file) {
    ++files;
    const CQPXBackupedFileHeader* h = HeaderOf(file);
    if (h != nullptr) {
      out += EntryLineHead(*h);
      totalSize += h->GetFileSize();
      totalStored += h->GetDataSize();
    } else {
      std::snprintf(line, sizeof line, "%14s %14s  %-9s  %-19s  ", "-", "-", "missing", "-");
      out += line;
    }
    out += (file.named ? Printable(file.path) : std::string("?")) + "\n";
    Flush(out);
  });
  std::snprintf(line, sizeof line, "%14" PRIu64 " %14" PRIu64 "  %ld file%s\n", totalSize, totalStored, files,
                files == 1 ? "" : "s");
  out += line;
  std::string folders;
  long folderCount = 0;
  set->ForEachFolder([&](const SetFolder& f) {
    ++folderCount;
    folders += "  " + FormatFileTime(f.modified) + "  " + Printable(f.path) + "\n";
  });
  if (folderCount > 0) out += "\nFolders:\n" + folders;
  std::snprintf(line, sizeof line, "%ld folder%s\n", folderCount, folderCount == 1 ? "" : "s");
  out += line;
  if (!unheld.empty()) {
    std::snprintf(line, sizeof line, "%zu record%s skipped: a file in one generation and a folder in another\n",
                  unheld.size(), unheld.size() == 1 ? "" : "s");
    out += line;
  }
  Flush(out, true);
  return kExitOk;
}

int RunTest(const std::string& path, const SetOptions& options) {
  std::unique_ptr<CBackupSet> set = OpenForCommand(path, options);
  if (!set) return kExitFailed;
  const IncrementalBackup::IntegrityCounts counts = IncrementalBackup::TestEntries(
      *set, IncrementalBackup::TestScope::kSelectedGeneration, [&](const IncrementalBackup::DamagedEntry& d) {
        std::cout << "DAMAGED  " << (d.named ? Printable(d.path) : std::string("entry ?")) << ": "
                  << Printable(IncrementalBackup::DamageText(*set, d, QPXFile::Wording::kEnglish)) << "\n";
      });
  const long tested = counts.tested, damaged = counts.damaged;
  std::cout << tested << " entr" << (tested == 1 ? "y" : "ies") << " tested, " << damaged << " damaged\n";
  return damaged == 0 ? kExitOk : kExitDamaged;
}

}  // namespace cli
