// The commands over the generations of a backup set: the generations
// themselves, one generation's merged view (list, test), the history of one
// path and the differences between two generations.
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <iostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive/qpx_file.h"
#include "cli/backup_set.h"
#include "cli/format.h"
#include "cli/listing.h"
#include "cli/open.h"

namespace cli {
namespace {

using IncrementalBackup::CAttributes;
using IncrementalBackup::CFolder;
using IncrementalBackup::CFSFile;
using IncrementalBackup::CFSTree;
using IncrementalBackup::CGenerationInfo;
using QPXFile::CQPXBackupedFileHeader;
using QPXFile::IQPXBackupedFile;

// Every node in the order the tree keeps them: a folder, then its files, then
// its subfolders, roots included. Iterative, as deep trees are allowed.
void Walk(const CFSTree& tree, const std::function<void(const CFolder&)>& onFolder,
          const std::function<void(const CFSFile&)>& onFile) {
  struct Level {
    const CFolder* folder;
    size_t next;
  };
  std::vector<Level> stack;
  auto enter = [&](const CFolder* folder) {
    onFolder(*folder);
    for (const CFSFile* file : folder->GetFiles()) onFile(*file);
    stack.push_back({folder, 0});
  };
  for (const CFolder* root : tree.GetRoots()) {
    enter(root);
    while (!stack.empty()) {
      Level& top = stack.back();
      if (top.next < top.folder->GetFolders().size()) {
        enter(top.folder->GetFolders()[top.next++]);
      } else {
        stack.pop_back();
      }
    }
  }
}

// A node's state in one generation (0-based), from its updates.
struct State {
  bool present = false;
  long source = -1;    // generation whose update applies; -1: none at or before
  int32_t index = -1;  // that update's position
  uint16_t kind = 0;
};

State StateAt(const CGenerationInfo::Updates* updates, long g) {
  State s;
  CGenerationInfo info;
  info.Attach(updates);
  if (!info.SelectGeneration(g)) return s;
  s.present = info.Exists();
  s.index = info.GetApplyingIndex();
  s.source = SourceGeneration(info);
  if (s.index >= 0) s.kind = (*updates)[static_cast<size_t>(s.index)].Kind;
  return s;
}

const CQPXBackupedFileHeader* HeaderOf(const IQPXBackupedFile* entry) {
  return entry != nullptr ? entry->GetHeader() : nullptr;
}

std::string Hex(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", value);
  return buf;
}

std::string Plural(long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The generation number as the user typed it, checked against the set.
bool CheckShown(const LoadedSet& set, const std::string& archive, long shown) {
  if (shown >= 1 && shown <= set.Count()) return true;
  PrintError(archive, "the backup set has no generation " + std::to_string(shown) + " (it has " +
                          std::to_string(set.Count()) + ")");
  return false;
}

void Flush(std::string& out, bool always = false) {
  if (always || out.size() > (1u << 20)) {
    std::cout << out;
    out.clear();
  }
}

}  // namespace

int RunGenerations(const std::string& archive, bool json, const SetOptions& options) {
  std::unique_ptr<LoadedSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set) return kExitFailed;
  const long count = set->Count();
  std::vector<long> added(static_cast<size_t>(count)), changed(added), removed(added);
  // Each generation's first update of a file says what that generation did
  // to it, measured against the state the file had before.
  Walk(set->Tree(), [](const CFolder&) {},
       [&](const CFSFile& file) {
         const CGenerationInfo::Updates* updates = file.GetData().GetGeneration().GetUpdates();
         if (updates == nullptr) return;
         bool before = false;
         for (size_t k = 0; k < updates->size(); ++k) {
           const QPMFile::CQPMUpdateContents& u = (*updates)[k];
           if (k > 0 && (*updates)[k - 1].Generation == u.Generation) continue;
           if (u.Generation >= count) break;
           const size_t g = u.Generation;
           if (u.Kind == QPMFile::kKindRemoved) {
             if (before) ++removed[g];
             before = false;
           } else {
             ++(before ? changed : added)[g];
             before = true;
           }
         }
       });

  nlohmann::json list = nlohmann::json::array();
  std::string out;
  char line[160];
  if (!json) {
    std::snprintf(line, sizeof line, "%4s  %-19s  %8s  %7s  %7s  %7s  %s\n", "Gen", "Created", "Entries", "Added",
                  "Changed", "Removed", "Archive");
    out += line;
  }
  for (long g = 0; g < count; ++g) {
    const QPMFile::CQPMQPXFileInfo* record = set->Manager().GetManagement().GetArchive(g);
    const QPXFile::CQPXFile* generation = set->Manager().GetGenerationArchive(g);
    const long entries = generation != nullptr ? generation->GetEntryCount() : 0;
    const uint64_t created = record != nullptr ? record->CreationTime : 0;
    const size_t i = static_cast<size_t>(g);
    if (json) {
      list.push_back({{"generation", g + 1},
                      {"archive", set->ArchiveText(g)},
                      {"created", created},
                      {"entries", entries},
                      {"added", added[i]},
                      {"changed", changed[i]},
                      {"removed", removed[i]}});
      continue;
    }
    std::snprintf(line, sizeof line, "%4ld  %-19s  %8ld  %7ld  %7ld  %7ld  ", g + 1, FormatFileTime(created).c_str(),
                  entries, added[i], changed[i], removed[i]);
    out += line;
    out += set->ArchiveText(g) + "\n";
  }
  if (json) {
    const nlohmann::json doc = {{"management", set->ManagementText()},
                                {"rebuilt", set->Manager().IsRebuilt()},
                                {"generations", list}};
    std::cout << doc.dump(2) << "\n";
  } else {
    std::cout << out;
  }
  return kExitOk;
}

int RunListGeneration(const std::string& archive, bool json, const SetOptions& options) {
  std::unique_ptr<LoadedSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set || !SelectGeneration(*set, archive, options.generation)) return kExitFailed;

  // A file recorded as stored whose archive lacks it is present without data.
  auto missing = [](const std::u16string& path) {
    return nlohmann::json{{"path", Utf8(path)}, {"size", 0},       {"stored", 0},   {"method", "missing"},
                          {"crc32", 0},         {"attributes", 0}, {"created", 0},  {"accessed", 0},
                          {"modified", 0}};
  };

  if (json) {
    // Two passes keep the schema of list (entries, then folders) without
    // holding either array.
    std::string out = "{\"entries\":[";
    bool first = true;
    Walk(set->Tree(), [](const CFolder&) {},
         [&](const CFSFile& file) {
           if (!file.GetData().Exists()) return;
           const CQPXBackupedFileHeader* h = HeaderOf(file.GetData().GetCurrentEntry());
           if (!first) out += ',';
           first = false;
           out += (h != nullptr ? EntryJson(file.GetPath(), *h) : missing(file.GetPath())).dump();
           Flush(out);
         });
    out += "],\"folders\":[";
    first = true;
    Walk(set->Tree(),
         [&](const CFolder& folder) {
           CAttributes a;
           if (!folder.GetData().Exists() || !folder.GetData().GetCurrentAttributes(a)) return;
           if (!first) out += ',';
           first = false;
           out += FolderJson(folder.GetPath(), a.Attributes, a.CreationTime, a.LastAccessTime, a.LastWriteTime).dump();
           Flush(out);
         },
         [](const CFSFile&) {});
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
  std::string folders;
  long folderCount = 0;
  Walk(set->Tree(),
       [&](const CFolder& folder) {
         CAttributes a;
         if (!folder.GetData().Exists() || !folder.GetData().GetCurrentAttributes(a)) return;
         ++folderCount;
         folders += "  " + FormatFileTime(a.LastWriteTime) + "  " + Utf8(folder.GetPath()) + "\n";
       },
       [&](const CFSFile& file) {
         if (!file.GetData().Exists()) return;
         ++files;
         const CQPXBackupedFileHeader* h = HeaderOf(file.GetData().GetCurrentEntry());
         if (h != nullptr) {
           out += EntryLineHead(*h);
           totalSize += h->GetFileSize();
           totalStored += h->GetDataSize();
         } else {
           std::snprintf(line, sizeof line, "%14s %14s  %-9s  %-19s  ", "-", "-", "missing", "-");
           out += line;
         }
         out += Utf8(file.GetPath()) + "\n";
         Flush(out);
       });
  std::snprintf(line, sizeof line, "%14" PRIu64 " %14" PRIu64 "  %ld file%s\n", totalSize, totalStored, files,
                files == 1 ? "" : "s");
  out += line;
  if (folderCount > 0) out += "\nFolders:\n" + folders;
  std::snprintf(line, sizeof line, "%ld folder%s\n", folderCount, folderCount == 1 ? "" : "s");
  out += line;
  Flush(out, true);
  return kExitOk;
}

int RunTestGeneration(const std::string& archive, const SetOptions& options) {
  std::unique_ptr<LoadedSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set || !SelectGeneration(*set, archive, options.generation)) return kExitFailed;
  long tested = 0, damaged = 0;
  Walk(set->Tree(), [](const CFolder&) {},
       [&](const CFSFile& file) {
         if (!file.GetData().Exists()) return;
         ++tested;
         const long source = SourceGeneration(file.GetData().GetGeneration());
         const std::string holder = set->ArchiveText(source);
         IQPXBackupedFile* entry = file.GetData().GetCurrentEntry();
         std::string problem;
         if (entry == nullptr || entry->GetHeader() == nullptr || entry->GetData() == nullptr)
           problem = "missing from " + holder;
         else if (problem = CheckEntry(*entry->GetHeader(), *entry->GetData()); !problem.empty())
           problem += " (in " + holder + ")";
         if (problem.empty()) return;
         ++damaged;
         std::cout << "DAMAGED  " << Utf8(file.GetPath()) << ": " << problem << "\n";
       });
  std::cout << tested << " entr" << (tested == 1 ? "y" : "ies") << " tested, " << damaged << " damaged\n";
  return damaged == 0 ? kExitOk : kExitDamaged;
}

int RunHistory(const std::string& archive, const std::string& pathArgument, bool json, const SetOptions& options) {
  std::unique_ptr<LoadedSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set) return kExitFailed;
  const std::u16string wanted = StoredPathArgument(pathArgument);
  const IncrementalBackup::CFSObject* node = set->Tree().Find(wanted);
  const CFSFile* file = node != nullptr && !node->IsFolder() ? static_cast<const CFSFile*>(node) : nullptr;
  const CFolder* folder = node != nullptr && node->IsFolder() ? static_cast<const CFolder*>(node) : nullptr;
  const CGenerationInfo::Updates* updates = file     ? file->GetData().GetGeneration().GetUpdates()
                                            : folder ? folder->GetData().GetGeneration().GetUpdates()
                                                     : nullptr;
  if (updates == nullptr || updates->empty()) {
    PrintError(archive, "the backup set records nothing at " + pathArgument);
    return kExitFailed;
  }
  const std::u16string path = node->GetPath();

  nlohmann::json states = nlohmann::json::array();
  std::string out = Utf8(path) + (file ? " (file)\n" : " (folder)\n");
  char line[160];
  for (long g = 0; g < set->Count(); ++g) {
    const State s = StateAt(updates, g);
    nlohmann::json j = {{"generation", g + 1}};
    std::string text;
    if (s.source < 0 || (!s.present && s.source < g)) {
      j["state"] = "absent";
      text = "absent";
    } else if (!s.present) {
      j["state"] = "removed";
      text = "removed";
    } else if (s.source < g) {
      j["state"] = "unchanged";
      j["since"] = s.source + 1;
      text = "unchanged since generation " + std::to_string(s.source + 1);
    } else if (file != nullptr) {
      j["archive"] = set->ArchiveText(g);
      const CQPXBackupedFileHeader* h = HeaderOf(file->GetData().GetEntry(static_cast<uint32_t>(s.index)));
      if (h == nullptr) {
        j["state"] = "missing";
        text = "stored, but missing from " + set->ArchiveText(g);
      } else {
        j["state"] = "stored";
        j["size"] = h->GetFileSize();
        j["stored"] = h->GetDataSize();
        j["crc32"] = h->GetCrc32();
        j["modified"] = h->GetLastWriteTime();
        std::snprintf(line, sizeof line, "stored  %" PRIu64 " byte%s, CRC %s, modified %s, in ", h->GetFileSize(),
                      h->GetFileSize() == 1 ? "" : "s", Hex(h->GetCrc32()).c_str(),
                      FormatFileTime(h->GetLastWriteTime()).c_str());
        text = line + set->ArchiveText(g);
      }
    } else {
      j["state"] = "stored";
      j["archive"] = set->ArchiveText(g);
      CAttributes a;
      if (set->Manager().GetFolderAttributes(g, path, a)) {
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
    states.push_back(std::move(j));
    std::snprintf(line, sizeof line, "%4ld  ", g + 1);
    out += line + text + "\n";
  }
  if (json) {
    const nlohmann::json doc = {{"path", Utf8(path)}, {"kind", file ? "file" : "folder"}, {"generations", states}};
    std::cout << doc.dump(2) << "\n";
  } else {
    std::cout << out;
  }
  return kExitOk;
}

int RunDiff(const std::string& archive, long from, long to, bool json, const SetOptions& options) {
  std::unique_ptr<LoadedSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set || !CheckShown(*set, archive, from) || !CheckShown(*set, archive, to)) return kExitFailed;
  const long a = from - 1, b = to - 1;

  auto fileJson = [](const std::u16string& path, const CQPXBackupedFileHeader* h) {
    nlohmann::json j = {{"path", Utf8(path)}};
    j["size"] = h ? nlohmann::json(h->GetFileSize()) : nlohmann::json(nullptr);
    j["crc32"] = h ? nlohmann::json(h->GetCrc32()) : nlohmann::json(nullptr);
    return j;
  };
  auto sideText = [](const CQPXBackupedFileHeader* h) {
    if (h == nullptr) return std::string("no data");
    return Plural(static_cast<long>(h->GetFileSize()), "byte", "bytes") + ", CRC " + Hex(h->GetCrc32());
  };

  nlohmann::json filesAdded = nlohmann::json::array(), filesRemoved = filesAdded, filesChanged = filesAdded,
                 foldersAdded = filesAdded, foldersRemoved = filesAdded;
  std::string addedText, removedText, changedText, folderAddedText, folderRemovedText;
  Walk(set->Tree(),
       [&](const CFolder& folder) {
         // Folders no record names follow their contents and tell nothing.
         const CGenerationInfo::Updates* updates = folder.GetData().GetGeneration().GetUpdates();
         if (updates == nullptr || updates->empty()) return;
         const bool before = StateAt(updates, a).present, after = StateAt(updates, b).present;
         if (before == after) return;
         const std::string path = Utf8(folder.GetPath());
         (after ? foldersAdded : foldersRemoved).push_back(path);
         (after ? folderAddedText : folderRemovedText) += (after ? "added    folder  " : "removed  folder  ") + path + "\n";
       },
       [&](const CFSFile& file) {
         const CGenerationInfo::Updates* updates = file.GetData().GetGeneration().GetUpdates();
         if (updates == nullptr || updates->empty()) return;
         const State before = StateAt(updates, a), after = StateAt(updates, b);
         if (!before.present && !after.present) return;
         const CQPXBackupedFileHeader* hb =
             before.present ? HeaderOf(file.GetData().GetEntry(static_cast<uint32_t>(before.index))) : nullptr;
         const CQPXBackupedFileHeader* ha =
             after.present ? HeaderOf(file.GetData().GetEntry(static_cast<uint32_t>(after.index))) : nullptr;
         const std::u16string path = file.GetPath();
         if (!before.present) {
           filesAdded.push_back(fileJson(path, ha));
           addedText += "added    file    " + Utf8(path) + "  (" + sideText(ha) + ")\n";
         } else if (!after.present) {
           filesRemoved.push_back(fileJson(path, hb));
           removedText += "removed  file    " + Utf8(path) + "  (" + sideText(hb) + ")\n";
         } else if (before.index != after.index) {
           // Stored again: changed unless the data came out the same.
           const bool same = hb != nullptr && ha != nullptr && hb->GetFileSize() == ha->GetFileSize() &&
                             hb->GetCrc32() == ha->GetCrc32();
           if (same) return;
           filesChanged.push_back({{"path", Utf8(path)}, {"from", fileJson(path, hb)}, {"to", fileJson(path, ha)}});
           filesChanged.back()["from"].erase("path");
           filesChanged.back()["to"].erase("path");
           changedText += "changed  file    " + Utf8(path) + "  (" + sideText(hb) + " -> " + sideText(ha) + ")\n";
         }
       });

  if (json) {
    const nlohmann::json doc = {
        {"from", from},
        {"to", to},
        {"files", {{"added", filesAdded}, {"removed", filesRemoved}, {"changed", filesChanged}}},
        {"folders", {{"added", foldersAdded}, {"removed", foldersRemoved}}}};
    std::cout << doc.dump(2) << "\n";
    return kExitOk;
  }
  std::cout << "Generation " << from << " -> " << to << "\n"
            << addedText << removedText << changedText << folderAddedText << folderRemovedText
            << Plural(static_cast<long>(filesAdded.size()), "file", "files") << " added, " << filesRemoved.size()
            << " removed, " << filesChanged.size() << " changed; "
            << Plural(static_cast<long>(foldersAdded.size()), "folder", "folders") << " added, "
            << foldersRemoved.size() << " removed\n";
  return kExitOk;
}

}  // namespace cli
