// tessera-cli on large archives, run as users run it: a child process whose
// wall time and peak memory are measured.
//
//   list  of archives of 200,000, 500,000 and 1,000,000 entries: wall time,
//         and peak resident memory per entry beyond what listing a one-entry
//         archive takes (names included, so the figure is an upper bound);
//         the peak itself shows whether memory grows linearly.
//   test  of an archive holding 1 GiB of imploded data: MB/s of decoded
//         output, beside DclExplode alone on the same stream in this process,
//         and the peak resident memory (which must not grow with the size).
//   extract of imploded entries beside test of the same archive, and of
//         stored entries beside cp -r of the same files, on tmpfs (/dev/shm)
//         and on the disk's file system ($TMPDIR), the target removed
//         between runs.
#include <benchmark/benchmark.h>

#include "bench_util.h"
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "entry/explode.h"
#include "support/archive_writer.h"
#include "support/corrupt.h"
#include "support/sample_data.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using benchutil::Num;
using benchutil::ChildRun;
using benchutil::TextBlock;

// The peak resident size the kernel reports for a child counts the pages of
// the process it was forked from until it execs, and this process holds the
// archives it wrote. So every program runs under a fresh copy of this binary
// (`--measure`, see main), which is small when it forks; that copy reports the
// child's figures through descriptor 3.
constexpr int kReportFd = 3;

ChildRun Measure(char** argv) { return benchutil::RunArgv(argv, kReportFd); }

ChildRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> copy = {"/proc/self/exe", "--measure", program};
  copy.insert(copy.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  int pipeFds[2];
  ChildRun run;
  if (pipe(pipeFds) != 0) return run;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], kReportFd);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  ChildRun reported;
  size_t got = 0;
  while (got < sizeof reported) {
    const ssize_t n = read(pipeFds[0], reinterpret_cast<char*>(&reported) + got, sizeof reported - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return got == sizeof reported ? reported : run;
}

ChildRun RunCli(const std::vector<std::string>& args) { return RunProgram(TESSERA_CLI, args); }

fs::path BenchDir() {
  fs::path dir = fs::temp_directory_path() / "tessera-bench";
  fs::create_directories(dir);
  return dir;
}

// `count` small stored entries, 100 to a folder, with names like a real tree.
// With TESSERA_CLIBENCH_KEEP set an archive written by an earlier run is used
// again and kept (the one of 1,000,000 entries takes a while to write); so are
// the extraction comparisons' archives and plain files.
const char* const kKeepArchives = "TESSERA_CLIBENCH_KEEP";

bool Kept(const fs::path& path) {
  std::error_code ec;
  return std::getenv(kKeepArchives) != nullptr && fs::exists(path, ec);
}

fs::path ManyEntriesPath(size_t count) { return BenchDir() / ("many-" + std::to_string(count) + ".qpx"); }

fs::path ManyEntriesArchive(size_t count) {
  const fs::path path = ManyEntriesPath(count);
  if (Kept(path)) return path;
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
  return path;
}

void BM_CliList(benchmark::State& state) {
  const size_t count = static_cast<size_t>(state.range(0));
  const fs::path big = ManyEntriesArchive(count);
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
  state.counters["peak_MiB"] = static_cast<double>(run.maxRssKiB) / 1024.0;
  state.counters["bytes_per_entry"] = static_cast<double>(run.maxRssKiB - baseline) * 1024.0 / static_cast<double>(count);
}
BENCHMARK(BM_CliList)->Arg(200000)->Arg(500000)->Arg(1000000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);


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

// Where the extraction comparisons put their archives, sources and targets.
fs::path PlaceFor(int fileSystem) {
  fs::path dir = fileSystem == 0 ? fs::path("/dev/shm") / "tessera-bench" : BenchDir() / "disk";
  fs::create_directories(dir);
  return dir;
}

// 128 imploded entries of 4 MiB of text each (512 MiB of output): files under
// one extraction buffer, as most files are.
const fs::path& ImplodedArchive(int fileSystem) {
  static fs::path made[2];
  if (!made[fileSystem].empty()) return made[fileSystem];
  static std::shared_ptr<const EntryPayload> payload =
      PreparePayload(TextBlock(4 << 20), Method::Imploded, LiteralMode::Binary, 4096);
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data", 0x10});
  for (size_t i = 0; i < 128; ++i) {
    EntrySpec e;
    e.folder = u"C:\\Data";
    e.name = u"part" + Num(i) + u".txt";
    e.payload = payload;
    plan.entries.push_back(std::move(e));
  }
  made[fileSystem] = PlaceFor(fileSystem) / "imploded.qpx";
  if (Kept(made[fileSystem])) return made[fileSystem];
  WriteArchive(plan, made[fileSystem]);
  return made[fileSystem];
}

// 64 stored entries of 8 MiB of noise (512 MiB), and the same 64 files as a
// plain folder for cp.
const fs::path& StoredArchive(int fileSystem) {
  static fs::path made[2];
  if (!made[fileSystem].empty()) return made[fileSystem];
  const fs::path place = PlaceFor(fileSystem);
  made[fileSystem] = place / "stored.qpx";
  if (Kept(made[fileSystem]) && Kept(place / "plain" / "Data" / "part63.bin")) return made[fileSystem];
  fs::create_directories(place / "plain" / "Data");
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data", 0x10});
  for (size_t i = 0; i < 64; ++i) {
    std::vector<uint8_t> bytes = SampleNoise(8 << 20, 300 + i);
    WriteFileBytes(place / "plain" / "Data" / ("part" + std::to_string(i) + ".bin"), bytes);
    EntrySpec e;
    e.folder = u"C:\\Data";
    e.name = u"part" + Num(i) + u".bin";
    e.payload = PreparePayload(std::move(bytes), Method::Stored);
    plan.entries.push_back(std::move(e));
  }
  WriteArchive(plan, made[fileSystem]);
  return made[fileSystem];
}

// Runs `a` and `b` in alternating order in every iteration, removing the
// target before each run (not timed). Each side's fastest run counts, wall
// and CPU time separately, since on a shared machine other work only adds
// time; the ratio of the sides' median wall times is given beside it, as a
// single stalled or lucky run moves it less.
template <typename A, typename B>
void Compare(benchmark::State& state, const fs::path& target, A a, B b, const char* aName, const char* bName,
             uint64_t bytes) {
  ChildRun bestA{1e9, 1e9}, bestB{1e9, 1e9};
  std::vector<double> wallA, wallB;
  bool ok = true, aFirst = true;
  auto once = [&](auto& side, ChildRun& best, std::vector<double>& walls) {
    fs::remove_all(target);
    ::sync();
    const ChildRun run = side();
    ok = ok && run.status == 0;
    best.seconds = std::min(best.seconds, run.seconds);
    best.cpuSeconds = std::min(best.cpuSeconds, run.cpuSeconds);
    walls.push_back(run.seconds);
  };
  for (auto _ : state) {
    if (aFirst) once(a, bestA, wallA);
    once(b, bestB, wallB);
    if (!aFirst) once(a, bestA, wallA);
    aFirst = !aFirst;
    state.SetIterationTime(bestA.seconds);
  }
  fs::remove_all(target);
  if (!ok) state.SkipWithError("a run failed");
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  const std::string vs = std::string(aName) + "_vs_" + bName;
  state.counters[std::string(aName) + "_MBps"] = static_cast<double>(bytes) / bestA.seconds / 1e6;
  state.counters[std::string(bName) + "_MBps"] = static_cast<double>(bytes) / bestB.seconds / 1e6;
  state.counters[vs] = bestB.seconds / bestA.seconds;
  state.counters[vs + "_median"] = median(wallB) / median(wallA);
  state.counters["cpu_" + vs] = bestB.cpuSeconds / bestA.cpuSeconds;
  state.SetLabel(state.range(0) == 0 ? "tmpfs" : "ext4");
}

void BM_CliExtractImplodedVsTest(benchmark::State& state) {
  const int fileSystem = static_cast<int>(state.range(0));
  const fs::path archive = ImplodedArchive(fileSystem);
  const fs::path target = PlaceFor(fileSystem) / "out";
  Compare(
      state, target, [&] { return RunCli({"extract", "--quiet", archive.string(), target.string(), "C:\\Data"}); },
      [&] { return RunCli({"test", archive.string()}); }, "extract", "test", uint64_t{512} << 20);
}
BENCHMARK(BM_CliExtractImplodedVsTest)->Arg(0)->Arg(1)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_CliExtractStoredVsCp(benchmark::State& state) {
  const int fileSystem = static_cast<int>(state.range(0));
  const fs::path archive = StoredArchive(fileSystem);
  const fs::path place = PlaceFor(fileSystem);
  const fs::path target = place / "out";
  Compare(
      state, target, [&] { return RunCli({"extract", "--quiet", archive.string(), target.string(), "C:\\Data"}); },
      [&] { return RunProgram("/bin/cp", {"-r", (place / "plain").string(), target.string()}); }, "extract", "cp",
      uint64_t{512} << 20);
}
BENCHMARK(BM_CliExtractStoredVsCp)->Arg(0)->Arg(1)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--measure") == 0) {
    const ChildRun run = Measure(argv + 2);
    return write(kReportFd, &run, sizeof run) == static_cast<ssize_t>(sizeof run) ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  // The extraction comparisons' 1 GB on each file system is not kept unless
  // asked for; tmpfs would hold it in memory.
  if (std::getenv(kKeepArchives) != nullptr) return 0;
  fs::remove_all(fs::path("/dev/shm") / "tessera-bench", ec);
  fs::remove_all(fs::temp_directory_path() / "tessera-bench" / "disk", ec);
  for (size_t count : {size_t{200000}, size_t{500000}, size_t{1000000}}) fs::remove(ManyEntriesPath(count), ec);
  return 0;
}
