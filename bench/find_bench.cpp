// Finding files by name in a backup set of 1,000,000 file records (and
// 500,000, to show the growth): FindInTree over the merged tree of a set of
// 10 generations, with a pattern few names match, one every file matches
// (each hit is reported with its generations and versions), and a
// whole-path pattern. Only the search is timed; the management file is
// written once into $TMPDIR/tessera-findbench (default /tmp; about 70 MB at
// 1M) and loaded, and the tree built, before the timed runs.
//
// The tree is built from a lookup that answers from the management data
// alone, as in generations_bench.cpp: every entry is one shared placeholder
// without a record, so each version is reported as missing from its archive.
// Reading a version's size and CRC from a real entry is a few loads more.
//
// Layout: 10,000 folders C:\Users\uK\Documents\dJ (J below 100), 100 files
// in each ("report-N.docx", "photo-N.jpg", "notes-N.txt" in turn); every
// file stored in generation 0, about one in ten stored again or removed in
// each later generation.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "bench_util.h"
#include "entry/backuped_file.h"
#include "generations/find.h"
#include "generations/generation_lookup.h"
#include "generations/qpm_file.h"
#include "generations/restore_tree.h"
#include "generations/set_history.h"
#include "host/host_path.h"
#include "support/management_writer.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using benchutil::Num;
using benchutil::Seconds;

constexpr long kGenerations = 10;
constexpr size_t kFilesPerFolder = 100;

std::u16string FolderOf(size_t folder) {
  return u"C:\\Users\\u" + Num(folder / 100) + u"\\Documents\\d" + Num(folder % 100);
}

std::u16string FileName(size_t i) {
  switch (i % 3) {
    case 0: return u"report-" + Num(i) + u".docx";
    case 1: return u"photo-" + Num(i) + u".jpg";
    default: return u"notes-" + Num(i) + u".txt";
  }
}

ManagementSpec Plan(size_t files) {
  ManagementSpec plan;
  for (long g = 0; g < kGenerations; ++g)
    plan.archives.push_back({static_cast<uint16_t>(g), u"C:\\Backup\\find_" + Num(static_cast<size_t>(g)) + u".qpi",
                             0, 132000000000000000ull + static_cast<uint64_t>(g)});
  plan.files1.reserve(files);
  for (size_t i = 0; i < files; ++i) {
    ManagementRecord r;
    r.path = FolderOf(i / kFilesPerFolder) + u"\\" + FileName(i);
    r.updates.push_back({0, 1});
    bool present = true;
    for (uint16_t g = 1; g < kGenerations; ++g) {
      const size_t h = (i * 2654435761u + g * 40503u) % 20;
      if (h >= 2) continue;
      const uint16_t kind = !present || h == 0 ? 1 : 3;
      present = kind == 1;
      r.updates.push_back({g, kind});
    }
    plan.files1.push_back(std::move(r));
  }
  return plan;
}

fs::path DataDir() { return fs::temp_directory_path() / "tessera-findbench"; }

// Answers every entry lookup with one placeholder: the tree only keeps the pointer.
class PlaceholderLookup : public IncrementalBackup::IGenerationLookup {
 public:
  explicit PlaceholderLookup(const QPMFile::CQPMFile& file) : file_(file) {}
  const QPMFile::CQPMFile& GetManagement() const override { return file_; }
  long GetGenerationCount() const override { return kGenerations; }
  QPXFile::CQPXFile* GetGenerationArchive(long) const override { return nullptr; }
  QPXFile::IQPXBackupedFile* FindGenerationEntry(long, std::u16string_view) const override { return &entry_; }
  bool GetFolderAttributes(long, std::u16string_view, IncrementalBackup::CAttributes& out) const override {
    out = {0x10, 0, 0, 0};
    return true;
  }

 private:
  const QPMFile::CQPMFile& file_;
  mutable QPXFile::CQPXBackupedFile entry_;
};

// A loaded set of `files` records with its tree, made once per size.
struct LoadedTree {
  QPMFile::CQPMFile file;
  std::unique_ptr<PlaceholderLookup> lookup;
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator creator;
};

LoadedTree& TreeOf(size_t files) {
  static std::map<size_t, std::unique_ptr<LoadedTree>> trees;
  std::unique_ptr<LoadedTree>& slot = trees[files];
  if (slot) return *slot;
  const fs::path path = DataDir() / ("find-" + std::to_string(files) + ".qpm");
  if (!fs::exists(path) || fs::file_size(path) == 0) {
    fs::create_directories(DataDir());
    WriteManagement(Plan(files), path.string() + ".part");
    fs::rename(path.string() + ".part", path);
  }
  slot = std::make_unique<LoadedTree>();
  if (!slot->file.Open(host::ToEnginePath(path.string())) || !slot->file.Load()) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    std::exit(1);
  }
  slot->file.Reset();
  slot->lookup = std::make_unique<PlaceholderLookup>(slot->file);
  if (!slot->creator.Build(*slot->lookup)) {
    std::fprintf(stderr, "cannot build the tree of %zu files\n", files);
    std::exit(1);
  }
  return *slot;
}

const char16_t* const kPatterns[] = {
    u"report-12345?.DOCX",               // 10 hits
    u"*",                                // every folder and file
    u"c:\\users\\u42\\*\\notes-*.txt",   // a whole-path pattern, one user's notes
};

void BM_FindInSet(benchmark::State& state) {
  const size_t files = static_cast<size_t>(state.range(0));
  const int which = static_cast<int>(state.range(1));
  LoadedTree& tree = TreeOf(files);
  IncrementalBackup::FindCriteria criteria;
  criteria.pattern = kPatterns[which];
  size_t hits = 0, versions = 0;
  for (auto _ : state) {
    hits = versions = 0;
    const auto start = std::chrono::steady_clock::now();
    IncrementalBackup::FindInTree(*tree.creator.GetTree(), kGenerations, criteria,
                                  [&](IncrementalBackup::FoundItem&& item) {
                                    ++hits;
                                    versions += item.versions.size();
                                    return true;
                                  });
    state.SetIterationTime(Seconds(start));
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["versions"] = static_cast<double>(versions);
  std::u16string p = criteria.pattern;
  state.SetLabel(std::string(p.begin(), p.end()));
}
BENCHMARK(BM_FindInSet)
    ->ArgsProduct({{500000, 1000000}, {0, 1, 2}})
    ->ArgNames({"files", "pattern"})
    ->UseManualTime()
    ->Repetitions(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The difference of two generations over the same tree, as the compare
// dialog asks for it: neighbours (few changes) and the first against the
// last (about half the files changed or removed).
void BM_DiffGenerations(benchmark::State& state) {
  const size_t files = static_cast<size_t>(state.range(0));
  const long from = state.range(1), to = state.range(2);
  LoadedTree& tree = TreeOf(files);
  size_t rows = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const IncrementalBackup::Difference d = IncrementalBackup::DiffGenerations(*tree.creator.GetTree(), from, to);
    state.SetIterationTime(Seconds(start));
    rows = d.added.size() + d.removed.size() + d.changed.size() + d.foldersAdded.size() + d.foldersRemoved.size();
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_DiffGenerations)
    ->Args({1000000, 4, 5})
    ->Args({1000000, 0, kGenerations - 1})
    ->ArgNames({"files", "from", "to"})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchutil::RunThenRemove(argc, argv, DataDir(), "TESSERA_FINDBENCH_KEEP"); }
