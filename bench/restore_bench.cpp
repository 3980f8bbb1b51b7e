// Restoring archives to disk, measured against what the machine does without
// the program: `cp -r` of the same files for stored entries, and the explode
// decoder alone in memory for imploded ones. Each comparison runs both sides
// in the same iteration, in alternating order, so both see the same load from
// whatever else runs on the machine; the counters come from each side's
// fastest run, wall and CPU time (user + system) separately.
//
// All files live in a folder this program makes under $TMPDIR (default /tmp)
// and removes when it ends. Nothing is dropped from the page cache (that
// needs privileges and is unreliable); instead every side runs once before
// the timed runs, so all figures are warm-cache figures, and every output
// is removed between runs outside the timed part. Nothing is synced: the
// restore does not call fsync and neither does cp.
//
//   BM_RestoreStoredVsCp     1 GiB in 64 stored entries of 16 MiB; cp -r of
//                            the same 64 files as a child process
//   BM_RestoreImplodedVsExplode
//                            1 GiB of output from 64 imploded entries of 16 MiB
//                            (one payload shared); DclExplode alone on the
//                            same stream with an output callback that copies
//                            into a buffer
//   BM_RestorePeakMemory     peak resident memory of one restore of 256 MiB
//                            and 1 GiB, stored and imploded
#include <benchmark/benchmark.h>

#include "bench_util.h"
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "archive/qpx_file_factory.h"
#include "entry/explode.h"
#include "host/host_path.h"
#include "restore/restore_driver.h"
#include "support/archive_writer.h"
#include "support/sample_data.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using benchutil::Num;
using benchutil::Seconds;

constexpr size_t kFileBytes = size_t{16} << 20;
constexpr size_t kMiB = size_t{1} << 20;
constexpr double kSecondsPerRunCap = 60;  // a run this slow means something hangs

// The folder every file of this program goes into; removed at exit.
class WorkDir {
 public:
  static const fs::path& Get() {
    static WorkDir dir;
    return dir.path_;
  }

 private:
  WorkDir() {
    std::string pattern = (fs::temp_directory_path() / "tessera-restore-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~WorkDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path path_;
};

// ---- Inputs

// Every stored file is the same noise block rotated by its own offset, so the
// files differ without generating 1 GiB of noise.
struct NoiseFiles {
  std::shared_ptr<const std::vector<uint8_t>> block;
  size_t Rotation(size_t file) const { return (file * 262147) % block->size(); }
  void Fill(size_t file, size_t offset, uint8_t* out, size_t count) const {
    const size_t n = block->size();
    size_t from = (offset + Rotation(file)) % n;
    while (count > 0) {
      const size_t piece = std::min(count, n - from);
      std::memcpy(out, block->data() + from, piece);
      out += piece;
      count -= piece;
      from = 0;
    }
  }
};

const NoiseFiles& Noise() {
  static NoiseFiles files{std::make_shared<const std::vector<uint8_t>>(SampleNoise(kFileBytes, 301))};
  return files;
}

std::u16string FileName(size_t i) { return u"part" + Num(i) + u".bin"; }

ArchiveSpec PlanFor(size_t entries) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Data", 0x10, FileTime(2024, 1, 1), FileTime(2024, 1, 1), FileTime(2024, 1, 1)});
  plan.entries.reserve(entries);
  return plan;
}

// A stored archive of `entries` files of 16 MiB, streamed chunk by chunk.
fs::path StoredArchive(size_t entries) {
  const fs::path path = WorkDir::Get() / ("stored-" + std::to_string(entries) + ".qpx");
  if (fs::exists(path)) return path;
  ArchiveSpec plan = PlanFor(entries);
  for (size_t i = 0; i < entries; ++i) {
    EntrySpec e;
    e.folder = u"C:\\Data";
    e.name = FileName(i);
    e.modified = FileTime(2024, 1, 1);
    auto offset = std::make_shared<size_t>(0);
    e.source = [i, offset](std::vector<uint8_t>& chunk) {
      if (*offset >= kFileBytes) return false;
      const size_t n = std::min(kMiB, kFileBytes - *offset);
      chunk.resize(n);
      Noise().Fill(i, *offset, chunk.data(), n);
      *offset += n;
      return true;
    };
    plan.entries.push_back(std::move(e));
  }
  WriteArchive(plan, path);
  return path;
}

// The same 64 files as plain files, for cp.
fs::path PlainFiles(size_t entries) {
  const fs::path dir = WorkDir::Get() / ("plain-" + std::to_string(entries));
  if (fs::exists(dir)) return dir;
  fs::create_directory(dir);
  std::vector<uint8_t> buffer(kFileBytes);
  for (size_t i = 0; i < entries; ++i) {
    Noise().Fill(i, 0, buffer.data(), buffer.size());
    std::u16string name = FileName(i);
    std::ofstream out(dir / std::string(name.begin(), name.end()), std::ios::binary);
    out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", dir.c_str());
      std::exit(1);
    }
  }
  return dir;
}

const std::shared_ptr<const EntryPayload>& ImplodedPayload() {
  static std::shared_ptr<const EntryPayload> payload =
      PreparePayload(SampleText(kFileBytes, 302), Method::Imploded, LiteralMode::Binary, 4096);
  return payload;
}

fs::path ImplodedArchive(size_t entries) {
  const fs::path path = WorkDir::Get() / ("imploded-" + std::to_string(entries) + ".qpx");
  if (fs::exists(path)) return path;
  ArchiveSpec plan = PlanFor(entries);
  for (size_t i = 0; i < entries; ++i) {
    EntrySpec e;
    e.folder = u"C:\\Data";
    e.name = FileName(i);
    e.modified = FileTime(2024, 1, 1);
    e.payload = ImplodedPayload();
    plan.entries.push_back(std::move(e));
  }
  WriteArchive(plan, path);
  return path;
}

// ---- The two sides

// Wall and CPU time (user + system) of one side's run; negative wall time
// when the run failed.
struct Timing {
  double wall = -1;
  double cpu = 0;
};

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double OwnCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

// `cp -r from to` as a child process.
Timing RunCp(const fs::path& from, const fs::path& to) {
  Timing t;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("cp", "cp", "-r", from.c_str(), to.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return t;
  const double wall = Seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return t;
  t.wall = wall;
  t.cpu = CpuSeconds(usage);
  return t;
}

// Opens the archive and restores all of it into `to` (made here), in this
// process; the time covers both.
Timing RunRestore(const fs::path& archivePath, const fs::path& to) {
  Timing t;
  fs::create_directory(to);
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = OwnCpuSeconds();
  QPXFile::OpenResult opened = QPXFile::OpenArchive(host::ToEnginePath(archivePath.string()));
  if (!opened.archive) return t;
  QPXFile::RestoreTarget target{true, host::ToEnginePath(to.string()), u"C:\\Data"};
  bool failed = false;
  auto events = [&failed](const QPXFile::RestoreEvent& e) {
    // Every question is answered yes; any report of a failure spoils the run.
    switch (e.code) {
      case QPXFile::kEventRunStarted:
      case QPXFile::kEventRunEnded:
      case QPXFile::kEventRestoring:
      case QPXFile::kEventEntryDone:
      case QPXFile::kEventAttributesNotKept:  // the archive bit, on most file systems
        break;
      default:
        failed = true;
        break;
    }
    return true;
  };
  const bool ok = QPXFile::RestoreArchive(*opened.archive, events, {}, target);
  opened.archive.reset();  // closing the archive is part of the work
  const double wall = Seconds(start);
  if (!ok || failed) return t;
  t.wall = wall;
  t.cpu = OwnCpuSeconds() - cpuStart;
  return t;
}

void RemoveOutput(const fs::path& to) {
  std::error_code ec;
  fs::remove_all(to, ec);
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(kMiB), by(kMiB);
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || std::memcmp(bx.data(), by.data(), static_cast<size_t>(x.gcount())) != 0)
      return false;
  }
  return !x && !y;
}

double MBps(double bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0; }

// The fastest of the timed runs of one side, wall and CPU time separately:
// on a shared machine other work only ever adds time, so the minimum is the
// figure that compares.
struct Best {
  double wall = 1e300;
  double cpu = 1e300;
  void Add(const Timing& t) {
    wall = std::min(wall, t.wall);
    cpu = std::min(cpu, t.cpu);
  }
};

bool Failed(const Timing& t) { return t.wall < 0 || t.wall > kSecondsPerRunCap; }

// ---- Stored entries against cp

void BM_RestoreStoredVsCp(benchmark::State& state) {
  constexpr size_t kEntries = 64;
  const double total = static_cast<double>(kEntries * kFileBytes);
  const fs::path archive = StoredArchive(kEntries);
  const fs::path plain = PlainFiles(kEntries);
  const fs::path cpOut = WorkDir::Get() / "cp-out";
  const fs::path restoreOut = WorkDir::Get() / "restore-out";

  // Warm-up: both sides once, so each timed run reads from the page cache.
  RemoveOutput(cpOut);
  RemoveOutput(restoreOut);
  if (Failed(RunCp(plain, cpOut))) return state.SkipWithError("cp failed");
  if (Failed(RunRestore(archive, restoreOut))) return state.SkipWithError("restore failed");
  for (size_t i : {size_t{0}, kEntries - 1}) {
    std::u16string name = FileName(i);
    const std::string n(name.begin(), name.end());
    if (!SameFile(plain / n, restoreOut / n)) return state.SkipWithError("restored file differs");
  }

  Best cp, restore;
  bool cpFirst = true;
  for (auto _ : state) {
    RemoveOutput(cpOut);
    RemoveOutput(restoreOut);
    // The order alternates, so neither side always inherits the other's
    // unfinished writeback.
    Timing c, r;
    if (cpFirst) {
      c = RunCp(plain, cpOut);
      r = RunRestore(archive, restoreOut);
    } else {
      r = RunRestore(archive, restoreOut);
      c = RunCp(plain, cpOut);
    }
    cpFirst = !cpFirst;
    if (Failed(c) || Failed(r)) return state.SkipWithError("a run failed");
    cp.Add(c);
    restore.Add(r);
    state.SetIterationTime(r.wall);
  }
  RemoveOutput(cpOut);
  RemoveOutput(restoreOut);
  state.counters["restore_MBps"] = MBps(total, restore.wall);
  state.counters["cp_MBps"] = MBps(total, cp.wall);
  state.counters["restore_vs_cp"] = cp.wall / restore.wall;
  state.counters["cpu_restore_vs_cp"] = cp.cpu / restore.cpu;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kEntries * kFileBytes));
}
BENCHMARK(BM_RestoreStoredVsCp)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// ---- Imploded entries against the decoder alone

struct MemoryPipe {
  const uint8_t* in;
  size_t inLeft;
  uint8_t* out;
  size_t outUsed;
  size_t outSize;
};

unsigned ReadMemory(char* buffer, unsigned* size, void* param) {
  auto& p = *static_cast<MemoryPipe*>(param);
  const size_t n = std::min<size_t>(*size, p.inLeft);
  std::memcpy(buffer, p.in, n);
  p.in += n;
  p.inLeft -= n;
  return static_cast<unsigned>(n);
}

void CopyOut(char* buffer, unsigned* size, void* param) {
  auto& p = *static_cast<MemoryPipe*>(param);
  if (p.outUsed + *size > p.outSize) return;  // longer than the entry: caught by the size check
  std::memcpy(p.out + p.outUsed, buffer, *size);
  p.outUsed += *size;
}

// DclExplode over the shared payload once per entry.
Timing RunExplodeAlone(size_t entries, std::vector<uint8_t>& output, std::vector<char>& work) {
  const EntryPayload& payload = *ImplodedPayload();
  Timing t;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = OwnCpuSeconds();
  for (size_t i = 0; i < entries; ++i) {
    MemoryPipe pipe{payload.bytes.data(), payload.bytes.size(), output.data(), 0, output.size()};
    if (QPXFile::DclExplode(ReadMemory, CopyOut, work.data(), &pipe) != QPXFile::kDclOk ||
        pipe.outUsed != payload.fileSize)
      return t;
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  t.wall = Seconds(start);
  t.cpu = OwnCpuSeconds() - cpuStart;
  return t;
}

void BM_RestoreImplodedVsExplode(benchmark::State& state) {
  constexpr size_t kEntries = 64;
  const double total = static_cast<double>(kEntries * kFileBytes);
  const fs::path archive = ImplodedArchive(kEntries);
  const fs::path restoreOut = WorkDir::Get() / "restore-out";
  std::vector<uint8_t> output(kFileBytes);
  std::vector<char> work(QPXFile::kExplodeWorkAreaSize);

  RemoveOutput(restoreOut);
  if (Failed(RunExplodeAlone(kEntries, output, work))) return state.SkipWithError("explode failed");
  if (Failed(RunRestore(archive, restoreOut))) return state.SkipWithError("restore failed");

  Best alone, restore;
  bool aloneFirst = true;
  for (auto _ : state) {
    RemoveOutput(restoreOut);
    Timing a, r;
    if (aloneFirst) {
      a = RunExplodeAlone(kEntries, output, work);
      r = RunRestore(archive, restoreOut);
    } else {
      r = RunRestore(archive, restoreOut);
      a = RunExplodeAlone(kEntries, output, work);
    }
    aloneFirst = !aloneFirst;
    if (Failed(a) || Failed(r)) return state.SkipWithError("a run failed");
    alone.Add(a);
    restore.Add(r);
    state.SetIterationTime(r.wall);
  }
  RemoveOutput(restoreOut);
  state.counters["restore_MBps"] = MBps(total, restore.wall);
  state.counters["explode_MBps"] = MBps(total, alone.wall);
  state.counters["restore_vs_explode"] = alone.wall / restore.wall;
  state.counters["cpu_restore_vs_explode"] = alone.cpu / restore.cpu;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kEntries * kFileBytes));
  state.SetLabel("text, ratio " + std::to_string(100 * ImplodedPayload()->bytes.size() / kFileBytes) + "%");
}
BENCHMARK(BM_RestoreImplodedVsExplode)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// ---- Peak memory

// A field of /proc/self/status in KiB, or -1.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
      return std::atol(line.c_str() + length + 1);
  }
  return -1;
}

// Makes the peak resident size start again from the current one.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

void BM_RestorePeakMemory(benchmark::State& state) {
  const size_t mib = static_cast<size_t>(state.range(0));
  const bool imploded = state.range(1) != 0;
  const size_t entries = mib * kMiB / kFileBytes;
  const fs::path archive = imploded ? ImplodedArchive(entries) : StoredArchive(entries);
  const fs::path restoreOut = WorkDir::Get() / "restore-out";
  // Warm-up, which also makes the buffers every extraction of the process
  // shares: they count in the resident size before the measured run.
  RemoveOutput(restoreOut);
  if (Failed(RunRestore(archive, restoreOut))) return state.SkipWithError("restore failed");
  long before = 0, peak = 0;
  for (auto _ : state) {
    RemoveOutput(restoreOut);
    before = StatusKiB("VmRSS");
    if (!ResetPeak()) return state.SkipWithError("cannot reset the peak (/proc/self/clear_refs)");
    const Timing run = RunRestore(archive, restoreOut);
    peak = StatusKiB("VmHWM");
    if (Failed(run)) return state.SkipWithError("restore failed");
    state.SetIterationTime(run.wall);
  }
  RemoveOutput(restoreOut);
  state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["growth_MiB"] = static_cast<double>(peak - before) / 1024.0;
  state.SetLabel(imploded ? "imploded" : "stored");
}
BENCHMARK(BM_RestorePeakMemory)
    ->ArgsProduct({{256, 1024}, {0, 1}})
    ->ArgNames({"MiB", "imploded"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
