#include "support/backup_set_writer.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <stdexcept>
#include <type_traits>

#include "host/host_path.h"
#include "host/text.h"

namespace testsupport {

namespace {

[[noreturn]] void Refuse(const std::string& why) { throw std::invalid_argument("backup set: " + why); }

bool DriveRooted(std::u16string_view path) {
  const size_t cut = path.find(u'\\');
  const std::u16string_view first = path.substr(0, cut);
  return first.size() >= 2 && first.back() == u':';
}

std::u16string FolderOf(std::u16string_view path) {
  const size_t cut = path.rfind(u'\\');
  return cut == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, cut));
}

std::u16string NameOf(std::u16string_view path) {
  const size_t cut = path.rfind(u'\\');
  return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

std::u16string InCase(const std::u16string& path, PathCase how) {
  switch (how) {
    case PathCase::AsGiven:
      return path;
    case PathCase::Lower:
      return host::FoldCase(path);
    case PathCase::Upper: {
      std::u16string out = path;
      for (char16_t& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      return out;
    }
  }
  return path;
}

bool SameFolder(const SetFolder& a, const SetFolder& b) {
  return a.attributes == b.attributes && a.created == b.created && a.accessed == b.accessed &&
         a.modified == b.modified;
}

bool SameFile(const SetFile& a, const SetFile& b) {
  return a.data == b.data && a.method == b.method && a.attributes == b.attributes && a.created == b.created &&
         a.accessed == b.accessed && a.modified == b.modified;
}

struct Record {
  std::u16string path;  // as first given
  unsigned firstSeen = 0;
  std::vector<ManagementUpdate> updates;
};

// Records keyed by folded path, in order of first appearance.
struct Table {
  std::vector<Record> records;
  std::map<std::u16string, size_t> index;

  Record& Get(const std::u16string& path, unsigned generation) {
    const std::u16string key = host::FoldCase(path);
    auto it = index.find(key);
    if (it != index.end()) return records[it->second];
    index.emplace(key, records.size());
    records.push_back({path, generation, {}});
    return records.back();
  }
  Record* Find(const std::u16string& path) {
    auto it = index.find(host::FoldCase(path));
    return it == index.end() ? nullptr : &records[it->second];
  }
};

struct Derived {
  Table folders, files;
  std::vector<std::vector<const SetFile*>> stored;  // per generation, in description order
};

// Compares each generation with the one before it.
template <class Item, class Same, class OnStored>
void Compare(const std::vector<const std::vector<Item>*>& generations, Table& table, Same same, OnStored onStored) {
  std::map<std::u16string, const Item*> previous;
  for (unsigned g = 0; g < generations.size(); ++g) {
    std::map<std::u16string, const Item*> current;
    for (const Item& item : *generations[g]) {
      if (!DriveRooted(item.path)) Refuse("path not drive-rooted");
      const std::u16string key = host::FoldCase(item.path);
      if (!current.emplace(key, &item).second) Refuse("path listed twice in one generation");
      Record& record = table.Get(item.path, g);
      auto before = previous.find(key);
      bool store = before == previous.end() || !same(*before->second, item);
      if constexpr (std::is_same_v<Item, SetFile>) store = store || item.storeAgain;
      if (store) {
        record.updates.push_back({static_cast<uint16_t>(g), 1});
        onStored(g, item);
      }
    }
    for (const auto& [key, item] : previous)
      if (!current.count(key)) table.Get(item->path, g).updates.push_back({static_cast<uint16_t>(g), 3});
    previous = std::move(current);
  }
}

Derived Derive(const BackupSetSpec& set) {
  Derived out;
  out.stored.resize(set.generations.size());
  std::vector<const std::vector<SetFolder>*> folders;
  std::vector<const std::vector<SetFile>*> files;
  for (const SetGeneration& generation : set.generations) {
    folders.push_back(&generation.folders);
    files.push_back(&generation.files);
  }
  Compare(folders, out.folders, SameFolder, [](unsigned, const SetFolder&) {});
  Compare(files, out.files, SameFile, [&](unsigned g, const SetFile& file) {
    if (FolderOf(file.path).empty()) Refuse("file path without a folder");
    out.stored[g].push_back(&file);
  });
  return out;
}

bool IsGap(const BackupSetSpec& set, unsigned generation, const std::u16string& path) {
  return std::any_of(set.gaps.begin(), set.gaps.end(), [&](const EntryGap& gap) {
    return gap.generation == generation && host::EqualsNoCase(gap.path, path);
  });
}

bool Listed(const std::vector<unsigned>& list, unsigned generation) {
  return std::find(list.begin(), list.end(), generation) != list.end();
}

void WriteBytes(const std::vector<uint8_t>& bytes, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

std::string GenerationFileName(const BackupSetSpec& set, unsigned generation) {
  if (generation == 0) return set.name + ".qpx";
  return set.name + "_" + std::to_string(generation + 1) + ".qpi";
}

uint64_t GenerationTime(const BackupSetSpec& set, unsigned generation) {
  if (generation < set.generations.size() && set.generations[generation].creationTime != 0)
    return set.generations[generation].creationTime;
  return kSetBaseTime + generation * kSetDay;
}

ArchiveSpec GenerationArchive(const BackupSetSpec& set, unsigned generation) {
  if (generation >= set.generations.size()) Refuse("no such generation");
  const SetGeneration& source = set.generations[generation];
  const Derived derived = Derive(set);

  ArchiveSpec plan;
  plan.formatId = source.formatId;
  plan.creationTime = GenerationTime(set, generation);
  for (const SetFolder& folder : source.folders)
    plan.folders.push_back({folder.path, folder.attributes, folder.created, folder.accessed, folder.modified});

  std::vector<std::u16string> roots = source.fileListRoots;
  if (roots.empty()) {
    for (const SetFolder& folder : source.folders) {
      const std::u16string parent = FolderOf(folder.path);
      const bool nested = std::any_of(source.folders.begin(), source.folders.end(),
                                      [&](const SetFolder& f) { return host::EqualsNoCase(f.path, parent); });
      if (!nested) roots.push_back(folder.path);
    }
  }
  for (const std::u16string& root : roots) plan.fileList.push_back({root, 1, {}});

  plan.categoryFlag = !source.categoryItems.empty();
  plan.categoryItems = source.categoryItems;

  for (const SetFile* file : derived.stored[generation]) {
    if (IsGap(set, generation, file->path)) continue;
    EntrySpec entry;
    entry.folder = FolderOf(file->path);
    entry.name = NameOf(file->path);
    entry.data = file->data;
    entry.method = file->method;
    entry.attributes = file->attributes;
    entry.created = file->created;
    entry.accessed = file->accessed;
    entry.modified = file->modified;
    plan.entries.push_back(std::move(entry));
  }
  return plan;
}

ManagementSpec SetManagement(const BackupSetSpec& set, const std::filesystem::path& folder) {
  Derived derived = Derive(set);
  for (const ExtraUpdate& extra : set.extraUpdates) {
    Record* record = derived.files.Find(extra.path);
    if (!record) record = derived.folders.Find(extra.path);
    if (!record) Refuse("extra update for an unknown path");
    auto& updates = record->updates;
    auto at = std::find_if(updates.begin(), updates.end(),
                           [&](const ManagementUpdate& u) { return u.generation > extra.generation; });
    updates.insert(at, {extra.generation, extra.kind});
  }

  ManagementSpec plan;
  plan.version = set.version;
  plan.compress = set.compress;
  plan.categoryItems = set.managementCategoryItems;
  for (unsigned g = 0; g < set.generations.size(); ++g) {
    const std::u16string name = host::Utf8ToWide(GenerationFileName(set, g));
    std::u16string path;
    switch (set.archivePaths) {
      case ArchivePathForm::DriveRooted:
        path = host::ToEnginePath((std::filesystem::absolute(folder) / GenerationFileName(set, g)).string());
        break;
      case ArchivePathForm::Relative:
        path = name;
        break;
      case ArchivePathForm::DotRelative:
        path = u".\\" + name;
        break;
    }
    const std::vector<uint8_t> image = BuildArchiveImage(GenerationArchive(set, g));
    plan.archives.push_back({static_cast<uint16_t>(g), path, EntryCrc(image.data(), image.size()),
                             GenerationTime(set, g)});
  }
  auto place = [&](const Table& table, std::vector<ManagementRecord>& first, std::vector<ManagementRecord>& second) {
    for (const Record& record : table.records) {
      auto& target = set.splitTables && record.firstSeen > 0 ? second : first;
      target.push_back({InCase(record.path, set.managementCase), record.updates, {}});
    }
  };
  place(derived.folders, plan.folders1, plan.folders2);
  place(derived.files, plan.files1, plan.files2);
  return plan;
}

BackupSetSpec SampleBackupSet() {
  BackupSetSpec set;
  set.generations.resize(4);
  SetGeneration& g0 = set.generations[0];
  g0.folders = {{u"C:\\Data", 0x10, 1, 2, 3}, {u"C:\\Data\\Old", 0x12, 4, 5, 6}};
  g0.files = {{u"C:\\Data\\a.txt", Bytes("a0")},
              {u"C:\\Data\\keep.txt", Bytes("k"), Method::Stored, 0x21},
              {u"C:\\Data\\Old\\b.txt", Bytes("b0")}};

  SetGeneration& g1 = set.generations[1];
  g1.folders = g0.folders;
  g1.files = {{u"C:\\Data\\a.txt", Bytes("a1")},
              g0.files[1],
              {u"C:\\Data\\c.txt", Bytes("c1")}};

  SetGeneration& g2 = set.generations[2];
  g2.folders = {g0.folders[0], {u"C:\\Data\\New", 0x10, 7, 8, 9}};
  g2.files = g1.files;
  g2.files.push_back({u"C:\\Data\\New\\d.txt", std::vector<uint8_t>(3000, 'd'), Method::Imploded});

  SetGeneration& g3 = set.generations[3];
  g3.folders = {g0.folders[0], g2.folders[1], {u"C:\\Data\\Old", 0x10, 10, 11, 12}};
  g3.files = {{u"C:\\Data\\a.txt", Bytes("a3")},
              g0.files[1],
              g2.files[3],
              {u"C:\\Data\\Old\\b.txt", Bytes("b3")}};
  return set;
}

BackupSetFiles WriteBackupSet(const BackupSetSpec& set, const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  BackupSetFiles out;
  out.managementPlan = SetManagement(set, folder);
  for (unsigned g = 0; g < set.generations.size(); ++g) {
    const std::filesystem::path path = folder / GenerationFileName(set, g);
    out.archives.push_back(path);
    std::filesystem::remove(path);
    if (Listed(set.missingArchives, g)) continue;
    ArchiveSpec plan = GenerationArchive(set, g);
    // A later backup that reused the name: same layout, another time stamp.
    if (Listed(set.overwrittenArchives, g)) plan.creationTime += 7 * kSetDay + 1;
    WriteBytes(BuildArchiveImage(plan), path);
  }
  out.management = folder / (set.name + ".qpm");
  std::filesystem::remove(out.management);
  if (set.writeManagement) WriteManagement(out.managementPlan, out.management);
  return out;
}

}  // namespace testsupport
