// The commands over the generations of a backup set: the generations
// themselves, the history of one path and the differences between two
// generations.
#include "cli/generations.h"

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/format.h"
#include "generations/set_history.h"

namespace cli {
namespace {

using IncrementalBackup::CBackupSet;
using QPXFile::CQPXBackupedFileHeader;

std::string Hex(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", value);
  return buf;
}

std::string Plural(long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int RunGenerations(const std::string& archive, bool json, const SetOptions& options) {
  std::unique_ptr<CBackupSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set) return kExitFailed;
  const long count = set->Count();
  const std::vector<IncrementalBackup::GenerationChanges> changes = IncrementalBackup::CountChanges(*set);

  nlohmann::json list = nlohmann::json::array();
  JsonNames names;
  std::string out;
  char line[160];
  if (!json) {
    std::snprintf(line, sizeof line, "%4s  %-19s  %8s  %7s  %7s  %7s  %s\n", "Gen", "Created", "Entries", "Added",
                  "Changed", "Removed", "Archive");
    out += line;
  }
  for (long g = 0; g < count; ++g) {
    const QPXFile::CQPXFile* generation = set->Manager().GetGenerationArchive(g);
    const long entries = generation != nullptr ? generation->GetEntryCount() : 0;
    const uint64_t created = set->CreationTime(g);
    const IncrementalBackup::GenerationChanges& c = changes[static_cast<size_t>(g)];
    if (json) {
      list.push_back({{"generation", g + 1},
                      {"archive", names.Host(set->ArchiveText(g))},
                      {"created", created},
                      {"entries", entries},
                      {"added", c.added},
                      {"changed", c.changed},
                      {"removed", c.removed}});
      continue;
    }
    std::snprintf(line, sizeof line, "%4ld  %-19s  %8ld  %7ld  %7ld  %7ld  ", g + 1, FormatFileTime(created).c_str(),
                  entries, c.added, c.changed, c.removed);
    out += line;
    out += Printable(set->ArchiveText(g)) + "\n";
  }
  if (json) {
    const nlohmann::json doc = {{"management", names.Host(set->ManagementHostPath())},
                                {"rebuilt", set->Manager().IsRebuilt()},
                                {"generations", list}};
    std::cout << names.Dump(doc, 2) << "\n";
  } else {
    std::cout << out;
  }
  return kExitOk;
}

int RunHistory(const std::string& archive, const std::string& pathArgument, bool json, const SetOptions& options) {
  using IncrementalBackup::HistoryState;
  std::unique_ptr<CBackupSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set) return kExitFailed;
  const IncrementalBackup::History history =
      IncrementalBackup::HistoryOf(*set, paths::StoredPathArgument(pathArgument));
  if (!history.found) {
    PrintError(archive, "the backup set records nothing at " + Printable(pathArgument));
    return kExitFailed;
  }

  nlohmann::json states = nlohmann::json::array();
  JsonNames names;
  std::string out = Printable(history.path) + (history.isFolder ? " (folder)\n" : " (file)\n");
  char line[160];
  for (long g = 0; g < static_cast<long>(history.steps.size()); ++g) {
    const IncrementalBackup::HistoryStep& s = history.steps[static_cast<size_t>(g)];
    nlohmann::json j = {{"generation", g + 1}};
    std::string text;
    switch (s.state) {
      case HistoryState::kAbsent:
        j["state"] = "absent";
        text = "absent";
        break;
      case HistoryState::kRemoved:
        j["state"] = "removed";
        text = "removed";
        break;
      case HistoryState::kUnchanged:
        j["state"] = "unchanged";
        j["since"] = s.since + 1;
        text = "unchanged since generation " + std::to_string(s.since + 1);
        break;
      case HistoryState::kMissing:
        j["archive"] = names.Host(set->ArchiveText(g));
        j["state"] = "missing";
        text = "stored, but missing from " + set->ArchiveText(g);
        break;
      case HistoryState::kStored:
        if (!history.isFolder) {
          const CQPXBackupedFileHeader* h = s.header;
          j["archive"] = names.Host(set->ArchiveText(g));
          j["state"] = "stored";
          j["size"] = h->GetFileSize();
          j["stored"] = h->GetDataSize();
          j["crc32"] = h->GetCrc32();
          j["modified"] = h->GetLastWriteTime();
          std::snprintf(line, sizeof line, "stored  %" PRIu64 " byte%s, CRC %s, modified %s, in ", h->GetFileSize(),
                        h->GetFileSize() == 1 ? "" : "s", Hex(h->GetCrc32()).c_str(),
                        FormatFileTime(h->GetLastWriteTime()).c_str());
          text = line + set->ArchiveText(g);
        } else {
          j["state"] = "stored";
          j["archive"] = names.Host(set->ArchiveText(g));
          if (s.hasAttributes) {
            const IncrementalBackup::CAttributes& a = s.attributes;
            j["attributes"] = a.Attributes;
            j["created"] = a.CreationTime;
            j["accessed"] = a.LastAccessTime;
            j["modified"] = a.LastWriteTime;
            std::snprintf(line, sizeof line, "stored  attributes %08X, modified %s, in ", a.Attributes,
                          FormatFileTime(a.LastWriteTime).c_str());
            text = line + set->ArchiveText(g);
          } else {
            text = "stored, without its attributes in " + set->ArchiveText(g);
          }
        }
        break;
    }
    states.push_back(std::move(j));
    std::snprintf(line, sizeof line, "%4ld  ", g + 1);
    out += line + Printable(text) + "\n";
  }
  if (json) {
    const nlohmann::json doc = {
        {"path", names(history.path)}, {"kind", history.isFolder ? "folder" : "file"}, {"generations", states}};
    std::cout << names.Dump(doc, 2) << "\n";
  } else {
    std::cout << out;
  }
  return kExitOk;
}

int RunDiff(const std::string& archive, long from, long to, bool json, const SetOptions& options) {
  std::unique_ptr<CBackupSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set || !CheckGenerationNumber(*set, archive, from) || !CheckGenerationNumber(*set, archive, to))
    return kExitFailed;
  const IncrementalBackup::Difference d = IncrementalBackup::DiffGenerations(*set, from - 1, to - 1);

  JsonNames names;
  auto fileJson = [&names](const std::u16string& path, const CQPXBackupedFileHeader* h) {
    nlohmann::json j = {{"path", names(path)}};
    j["size"] = h ? nlohmann::json(h->GetFileSize()) : nlohmann::json(nullptr);
    j["crc32"] = h ? nlohmann::json(h->GetCrc32()) : nlohmann::json(nullptr);
    return j;
  };
  auto sideText = [](const CQPXBackupedFileHeader* h) {
    if (h == nullptr) return std::string("no data");
    return Plural(static_cast<long>(h->GetFileSize()), "byte", "bytes") + ", CRC " + Hex(h->GetCrc32());
  };

  if (json) {
    nlohmann::json filesAdded = nlohmann::json::array(), filesRemoved = filesAdded, filesChanged = filesAdded,
                   foldersAdded = filesAdded, foldersRemoved = filesAdded;
    for (const auto& f : d.added) filesAdded.push_back(fileJson(f.path, f.header));
    for (const auto& f : d.removed) filesRemoved.push_back(fileJson(f.path, f.header));
    for (const auto& c : d.changed) {
      filesChanged.push_back({{"path", names(c.path)}, {"from", fileJson(c.path, c.from)}, {"to", fileJson(c.path, c.to)}});
      filesChanged.back()["from"].erase("path");
      filesChanged.back()["to"].erase("path");
    }
    for (const auto& p : d.foldersAdded) foldersAdded.push_back(names(p));
    for (const auto& p : d.foldersRemoved) foldersRemoved.push_back(names(p));
    const nlohmann::json doc = {
        {"from", from},
        {"to", to},
        {"files", {{"added", filesAdded}, {"removed", filesRemoved}, {"changed", filesChanged}}},
        {"folders", {{"added", foldersAdded}, {"removed", foldersRemoved}}}};
    std::cout << names.Dump(doc, 2) << "\n";
    return kExitOk;
  }
  std::string out = "Generation " + std::to_string(from) + " -> " + std::to_string(to) + "\n";
  for (const auto& f : d.added) out += "added    file    " + Printable(f.path) + "  (" + sideText(f.header) + ")\n";
  for (const auto& f : d.removed) out += "removed  file    " + Printable(f.path) + "  (" + sideText(f.header) + ")\n";
  for (const auto& c : d.changed)
    out += "changed  file    " + Printable(c.path) + "  (" + sideText(c.from) + " -> " + sideText(c.to) + ")\n";
  for (const auto& p : d.foldersAdded) out += "added    folder  " + Printable(p) + "\n";
  for (const auto& p : d.foldersRemoved) out += "removed  folder  " + Printable(p) + "\n";
  std::cout << out << Plural(static_cast<long>(d.added.size()), "file", "files") << " added, " << d.removed.size()
            << " removed, " << d.changed.size() << " changed; "
            << Plural(static_cast<long>(d.foldersAdded.size()), "folder", "folders") << " added, "
            << d.foldersRemoved.size() << " removed\n";
  return kExitOk;
}

}  // namespace cli
