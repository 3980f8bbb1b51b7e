// tessera-cli on large archives, run as users run it: a child process whose
// wall time and peak memory are measured.
//
//   list  of an archive of 200,000 entries: wall time, and peak resident
//         memory per entry beyond what listing a one-entry archive takes
//         (names included, so the figure is an upper bound).
//   test  of an archive holding 1 GiB of imploded data: MB/s of decoded
//         output, beside DclExplode alone on the same stream in this process,
//         and the peak resident memory (which must not grow with the size).
#include <benchmark/benchmark.h>

#include "bench_util.h"
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "entry/explode.h"
#include "support/archive_writer.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using benchutil::Num;
using benchutil::TextBlock;

struct ChildRun {
  double seconds = 0;
  long maxRssKiB = 0;
  int status = -1;
};

ChildRun RunCli(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string cli = TESSERA_CLI;
  argv.push_back(cli.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    FILE* devnull = std::fopen("/dev/null", "w");
    dup2(fileno(devnull), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  ChildRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.maxRssKiB = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

fs::path BenchDir() {
  fs::path dir = fs::temp_directory_path() / "tessera-bench";
  fs::create_directories(dir);
  return dir;
}

// 200,000 small stored entries in 2,000 folders, with names like a real tree.
const fs::path& ManyEntriesArchive(size_t count) {
  static fs::path path;
  static size_t made = 0;
  if (made == count) return path;
  path = BenchDir() / ("many-" + std::to_string(count) + ".qpx");
  ArchiveSpec plan;
  auto payload = PreparePayload(Bytes("0123456789abcdef"), Method::Stored);
  for (size_t f = 0; f < count / 100; ++f)
    plan.folders.push_back({u"C:\\Users\\Hanako\\Projects\\フォルダ" + Num(f / 40) + u"\\資料" + Num(f)});
  for (size_t i = 0; i < count; ++i) {
    EntrySpec e;
    e.folder = plan.folders[i % plan.folders.size()].path;
    e.name = u"資料-" + Num(i) + u".txt";
    e.payload = payload;
    e.modified = FileTime(2024, 1, 1);
    plan.entries.push_back(std::move(e));
  }
  WriteArchive(plan, path);
  made = count;
  return path;
}

void BM_CliList(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const fs::path& big = ManyEntriesArchive(count);
  ArchiveSpec tiny;
  tiny.entries.push_back({.folder = u"C:", .name = u"a", .data = Bytes("x")});
  const fs::path small = BenchDir() / "one.qpx";
  WriteArchive(tiny, small);
  const long baseline = RunCli({"list", small.string()}).maxRssKiB;
  ChildRun run;
  for (auto _ : state) {
    run = RunCli({"list", big.string()});
    state.SetIterationTime(run.seconds);
  }
  if (run.status != 0) state.SkipWithError("tessera-cli list failed");
  state.counters["wall_s"] = run.seconds;
  state.counters["bytes_per_entry"] = static_cast<double>(run.maxRssKiB - baseline) * 1024.0 / static_cast<double>(count);
}
BENCHMARK(BM_CliList)->Arg(200000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);


struct ImplodedSet {
  fs::path path;
  std::shared_ptr<const EntryPayload> payload;
  uint64_t totalOutput = 0;
};

const ImplodedSet& OneGibImploded() {
  static ImplodedSet set;
  if (!set.path.empty()) return set;
  constexpr size_t kBlock = 8 * 1024 * 1024;
  constexpr size_t kEntries = 128;  // 128 x 8 MiB = 1 GiB of output
  set.payload = PreparePayload(TextBlock(kBlock), Method::Imploded, LiteralMode::Binary, 4096);
  set.path = BenchDir() / "gib-imploded.qpx";
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data"});
  for (size_t i = 0; i < kEntries; ++i) {
    EntrySpec e;
    e.folder = u"C:\\Data";
    e.name = u"part" + Num(i) + u".txt";
    e.payload = set.payload;
    plan.entries.push_back(std::move(e));
  }
  WriteArchive(plan, set.path);
  set.totalOutput = static_cast<uint64_t>(kBlock) * kEntries;
  return set;
}

struct MemSource {
  const uint8_t* data;
  size_t size, pos = 0;
};

unsigned ReadMem(char* buffer, unsigned* size, void* param) {
  auto* s = static_cast<MemSource*>(param);
  size_t n = std::min<size_t>(*size, s->size - s->pos);
  std::memcpy(buffer, s->data + s->pos, n);
  s->pos += n;
  return static_cast<unsigned>(n);
}

void WriteNothing(char*, unsigned*, void*) {}

void BM_ExplodeAloneSamePayload(benchmark::State& state) {
  const ImplodedSet& set = OneGibImploded();
  std::vector<uint8_t> work(QPXFile::kExplodeWorkAreaSize);
  for (auto _ : state) {
    MemSource src{set.payload->bytes.data(), set.payload->bytes.size()};
    int code = QPXFile::DclExplode(ReadMem, WriteNothing, work.data(), &src);
    benchmark::DoNotOptimize(code);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set.payload->fileSize));
}
BENCHMARK(BM_ExplodeAloneSamePayload)->Unit(benchmark::kMillisecond);

void BM_CliTestOneGib(benchmark::State& state) {
  const ImplodedSet& set = OneGibImploded();
  ChildRun run;
  for (auto _ : state) {
    run = RunCli({"test", set.path.string()});
    state.SetIterationTime(run.seconds);
  }
  if (run.status != 0) state.SkipWithError("tessera-cli test failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set.totalOutput));
  state.counters["peak_rss_MiB"] = static_cast<double>(run.maxRssKiB) / 1024.0;
}
BENCHMARK(BM_CliTestOneGib)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
