// Peak memory of an opened backup set, as users open one: `tessera-cli
// generations` run as a child process on a set of 5 generations written
// with its management file, at 200,000, 500,000 and 1,000,000 files. The
// figure is the child's peak resident memory (wait4) per file, whole and
// beyond what the same command takes on a set of one file; the last size
// also reports its ratio to the one half its size (linear is 2.0).
//
// Layout: C:\Users\Hanako\Documents, then project folders pK with 49
// subfolders dJ each, 20 files of 14 to 16 characters in every folder.
// Generation 0 stores everything; in each later generation about 10 % of
// the files get an update: half of the present ones are stored again, half
// removed, and a removed one is stored again. Every archive lists every
// folder. The sets are written into $TMPDIR/tessera-setbench (about 150 MB
// at 1,000,000 files) and removed at the end unless TESSERA_SETBENCH_KEEP
// is set, in which case the next run reuses them.
#include <benchmark/benchmark.h>

#include "bench_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/host_path.h"
#include "support/archive_writer.h"
#include "support/backup_set_writer.h"
#include "support/management_writer.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using benchutil::ChildRun;
using benchutil::Mix;
using benchutil::Num;

constexpr unsigned kGenerations = 5;
constexpr size_t kFilesPerFolder = 20;
constexpr size_t kSubfoldersPerProject = 49;
constexpr int kRuns = 3;

std::u16string FolderPath(size_t k) {
  if (k == 0) return u"C:\\Users\\Hanako\\Documents";
  const size_t project = (k - 1) / (kSubfoldersPerProject + 1);
  const size_t within = (k - 1) % (kSubfoldersPerProject + 1);
  std::u16string top = u"C:\\Users\\Hanako\\Documents\\p" + Num(project);
  return within == 0 ? top : top + u"\\d" + Num(within);
}

// 14 to 16 characters: "file", seven digits, an extension of 3 to 5.
std::u16string FileName(size_t i) {
  static const char16_t* const kExtensions[] = {u".js", u".txt", u".docx", u".dat", u".xlsx"};
  std::u16string digits = Num(i);
  digits.insert(0, 7 - std::min<size_t>(7, digits.size()), u'0');
  return u"file" + digits + kExtensions[i % 5];
}

// Whether file i is stored (1), removed (3) or untouched (0) in generation g
// (1 or later), given whether it was present before.
uint16_t UpdateOf(size_t i, unsigned g, bool present) {
  const uint32_t h = Mix(i * 16 + g) % 100;
  if (h >= 10) return 0;
  return !present || h < 5 ? 1 : 3;
}

fs::path DataDir() { return fs::temp_directory_path() / "tessera-setbench"; }

std::string ArchiveName(unsigned g) { return g == 0 ? "set.qpx" : "set_" + std::to_string(g + 1) + ".qpi"; }

void WriteSet(size_t files, const fs::path& dir) {
  fs::create_directories(dir);
  // The sets are of use to nobody else.
  fs::permissions(DataDir(), fs::perms::owner_all);
  fs::permissions(dir, fs::perms::owner_all);
  const size_t folders = std::max<size_t>(1, files / kFilesPerFolder);
  auto payload = PreparePayload(Bytes("0123456789abcdef"), Method::Stored);

  ManagementSpec management;
  management.version = kManage30;
  for (size_t k = 0; k < folders; ++k) management.folders1.push_back({FolderPath(k), {{0, 1}}, {}});
  management.files1.resize(files);
  std::vector<bool> present(files, true);
  for (unsigned g = 0; g < kGenerations; ++g) {
    ArchiveSpec plan;
    plan.creationTime = kSetBaseTime + g * kSetDay;
    for (size_t k = 0; k < folders; ++k) plan.folders.push_back({FolderPath(k)});
    plan.fileList.push_back({FolderPath(0), 1, {}});
    for (size_t i = 0; i < files; ++i) {
      ManagementRecord& r = management.files1[i];
      const uint16_t kind = g == 0 ? 1 : UpdateOf(i, g, present[i]);
      if (kind == 0) continue;
      if (g == 0) r.path = FolderPath(i / kFilesPerFolder % folders) + u"\\" + FileName(i);
      r.updates.push_back({static_cast<uint16_t>(g), kind});
      present[i] = kind == 1;
      if (kind != 1) continue;
      EntrySpec e;
      e.folder = FolderPath(i / kFilesPerFolder % folders);
      e.name = FileName(i);
      e.payload = payload;
      e.modified = kSetBaseTime + g;
      plan.entries.push_back(std::move(e));
    }
    const fs::path path = dir / ArchiveName(g);
    WriteArchive(plan, path);
    management.archives.push_back({static_cast<uint16_t>(g), host::ToEnginePath(fs::absolute(path).string()),
                                   0x1234u + g, plan.creationTime});
  }
  const fs::path partial = dir / "set.qpm.part";
  WriteManagement(management, partial);
  fs::rename(partial, dir / "set.qpm");
}

// The set of `files` files, written unless it is there already; returns the
// first generation's archive. It is written by a child process: a child's
// peak resident memory counts what it inherited at the fork, so the process
// that forks tessera-cli must never have held the writer's hundreds of MB.
fs::path WrittenSet(size_t files) {
  const fs::path dir = DataDir() / ("set-" + std::to_string(files));
  if (fs::exists(dir / "set.qpm")) return dir / "set.qpx";
  fs::remove_all(dir);
  const pid_t pid = fork();
  if (pid == 0) {
    WriteSet(files, dir);
    _exit(0);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "cannot write the set of %zu files\n", files);
    std::exit(1);
  }
  return dir / "set.qpx";
}

// The least peak of a few runs: what else the machine does only adds.
ChildRun Generations(const fs::path& archive) {
  ChildRun best;
  best.maxRssKiB = -1;
  for (int run = 0; run < kRuns; ++run) {
    const ChildRun r = benchutil::RunProgram(TESSERA_CLI, {"generations", archive.string()});
    if (r.status != 0) return r;
    if (best.maxRssKiB < 0 || r.maxRssKiB < best.maxRssKiB) best = r;
  }
  return best;
}

std::map<size_t, long>& Peaks() {
  static std::map<size_t, long> peaks;
  return peaks;
}

void BM_GenerationsPeakMemory(benchmark::State& state) {
  const size_t files = static_cast<size_t>(state.range(0));
  const ChildRun tiny = Generations(WrittenSet(1));
  const fs::path archive = WrittenSet(files);
  ChildRun run;
  for (auto _ : state) {
    run = Generations(archive);
    state.SetIterationTime(run.seconds);
  }
  if (run.status != 0 || tiny.status != 0) {
    state.SkipWithError("tessera-cli generations failed");
    return;
  }
  Peaks()[files] = run.maxRssKiB;
  const double n = static_cast<double>(files);
  state.counters["peak_MiB"] = static_cast<double>(run.maxRssKiB) / 1024.0;
  state.counters["B_per_file"] = static_cast<double>(run.maxRssKiB) * 1024.0 / n;
  state.counters["B_per_file_beyond_tiny"] = static_cast<double>(run.maxRssKiB - tiny.maxRssKiB) * 1024.0 / n;
  state.counters["wall_s"] = run.seconds;
  const auto half = Peaks().find(files / 2);
  if (half != Peaks().end()) {
    state.counters["peak_x_half"] = static_cast<double>(run.maxRssKiB) / static_cast<double>(half->second);
    state.counters["beyond_tiny_x_half"] = static_cast<double>(run.maxRssKiB - tiny.maxRssKiB) /
                                           static_cast<double>(half->second - tiny.maxRssKiB);
  }
}
BENCHMARK(BM_GenerationsPeakMemory)
    ->Arg(200000)
    ->Arg(500000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return benchutil::RunThenRemove(argc, argv, DataDir(), "TESSERA_SETBENCH_KEEP");
}
