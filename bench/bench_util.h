// Small pieces the benchmarks share.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace benchutil {

// Text-like content, so an imploded stream decodes at the speed of typical files.
inline std::vector<uint8_t> TextBlock(size_t size) {
  static const char* words[] = {"backup ", "archive ", "restore ", "generation ", "folder ", "file ",
                                "the ", "of ", "and ", "データ ", "\r\n", "size=", "1024 ", "2048 "};
  std::vector<uint8_t> out;
  uint32_t x = 12345;
  while (out.size() < size) {
    x = x * 1103515245 + 12345;
    const char* w = words[(x >> 16) % (sizeof words / sizeof *words)];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(size);
  return out;
}

// Decimal digits as UTF-16, for generated names.
inline std::u16string Num(size_t v) {
  std::u16string n;
  do {
    n.insert(n.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v > 0);
  return n;
}

// A well-spread hash of a number, for choosing which generated files change.
inline uint32_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ull;
  x ^= x >> 33;
  return static_cast<uint32_t>(x);
}

inline double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One run of a program as a child process: its wall time, processor time
// and peak resident memory (standard output goes to /dev/null).
struct ChildRun {
  double seconds = 0;
  double cpuSeconds = 0;  // user + system
  long maxRssKiB = 0;
  int status = -1;
};

// Runs argv (null-terminated) with its output thrown away; `closeInChild`,
// when not -1, is a descriptor the child must not inherit.
inline ChildRun RunArgv(char** argv, int closeInChild = -1) {
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    FILE* devnull = std::fopen("/dev/null", "w");
    dup2(fileno(devnull), 1);
    if (closeInChild != -1) close(closeInChild);
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  ChildRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.maxRssKiB = usage.ru_maxrss;
  run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

inline ChildRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string cli = program;
  argv.push_back(cli.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  return RunArgv(argv.data());
}

// The main of a benchmark program whose data lives in `dataDir`: runs the
// benchmarks, then removes the folder unless the environment variable `keep`
// is set, in which case the next run reuses it.
inline int RunThenRemove(int argc, char** argv, const std::filesystem::path& dataDir, const char* keep) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  if (std::getenv(keep) == nullptr) std::filesystem::remove_all(dataDir, ec);
  return 0;
}

}  // namespace benchutil
