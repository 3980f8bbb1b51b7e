// Throughput of the explode decompressor and the CRC-32 update, each beside a
// plain memcpy of the same size measured in the same run, and the decoder
// beside a classic table-driven one (reference_explode.h) on the same streams.
//
// Each explode iteration decodes 64 MiB of output: an 8 MiB input, imploded
// once with the test encoder (4096-byte dictionary), decoded eight times.
// The callbacks do what the restore path does: the reader copies from an
// input buffer, the writer appends to an output buffer.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "entry/crc32.h"
#include "entry/explode.h"
#include "host/text.h"
#include "reference_explode.h"
#include "support/implode_encoder.h"
#include "support/sample_data.h"

namespace {

constexpr size_t kInputBytes = size_t{8} << 20;
constexpr int kPasses = 8;
constexpr size_t kOutputBytes = kInputBytes * kPasses;

enum Kind { kText, kExecutable, kRepetitive, kRandom, kJapanese };
const char* const kKindNames[] = {"text", "executable", "repetitive", "random", "japanese"};

// Japanese prose in code page 932: two-byte kanji and kana with ASCII digits,
// punctuation and CR LF line ends, words favoured as in SampleText.
std::vector<uint8_t> SampleJapanese(size_t size, uint64_t seed) {
  static const char* const kWordsUtf8[] = {
      "の", "は", "を", "に", "が", "と", "で", "した", "します", "されました", "ファイル", "フォルダ",
      "バックアップ", "復元", "世代", "圧縮", "データ", "処理", "開始", "終了", "上書き", "確認", "設定",
      "管理", "情報", "日本語", "東京都", "株式会社", "報告書", "会議", "資料", "今日", "明日", "です",
      "ます", "この", "その", "ください", "お願いします", "について", "年", "月", "日", "第", "回"};
  static std::vector<std::string> words;
  if (words.empty()) {
    for (const char* w : kWordsUtf8) {
      std::string bytes;
      host::WideToAnsi(host::Utf8ToWide(w), bytes);
      words.push_back(bytes);
    }
  }
  testsupport::SampleRandom rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 64);
  size_t line = 0;
  while (out.size() < size) {
    const uint32_t r = rng.Below(1000);
    const std::string& w = words[(r * r / 1000) * words.size() / 1000];
    out.insert(out.end(), w.begin(), w.end());
    line += w.size();
    const uint32_t p = rng.Below(30);
    if (p == 0) {
      const std::string number = std::to_string(rng.Below(3000));
      out.insert(out.end(), number.begin(), number.end());
    } else if (p == 1) {
      out.insert(out.end(), {0x81, 0x41});  // 、
    } else if (p == 2) {
      out.insert(out.end(), {0x81, 0x42});  // 。
    }
    if (line > 70) {
      out.insert(out.end(), {'\r', '\n'});
      line = 0;
    }
  }
  out.resize(size);
  return out;
}

struct Prepared {
  std::vector<uint8_t> original;
  std::vector<uint8_t> stream;
};

const Prepared& Input(int kind, int mode) {
  static std::map<int, Prepared> cache;
  auto it = cache.find(kind * 2 + mode);
  if (it != cache.end()) return it->second;
  Prepared p;
  switch (kind) {
    case kText: p.original = testsupport::SampleText(kInputBytes, 101); break;
    case kExecutable: p.original = testsupport::SampleExecutable(kInputBytes, 102); break;
    case kRepetitive: p.original = testsupport::SampleRepetitive(kInputBytes, 103); break;
    case kRandom: p.original = testsupport::SampleNoise(kInputBytes, 104); break;
    default: p.original = SampleJapanese(kInputBytes, 107); break;
  }
  p.stream = testsupport::Implode(p.original.data(), p.original.size(),
                                  mode ? testsupport::LiteralMode::Ascii : testsupport::LiteralMode::Binary, 4096);
  return cache.emplace(kind * 2 + mode, std::move(p)).first->second;
}

struct Pipe {
  const uint8_t* in;
  size_t inLeft;
  uint8_t* out;
  size_t outUsed;
};

unsigned PipeRead(char* buffer, unsigned* size, void* param) {
  auto& p = *static_cast<Pipe*>(param);
  const size_t n = std::min<size_t>(*size, p.inLeft);
  std::memcpy(buffer, p.in, n);
  p.in += n;
  p.inLeft -= n;
  return static_cast<unsigned>(n);
}

void PipeWrite(char* buffer, unsigned* size, void* param) {
  auto& p = *static_cast<Pipe*>(param);
  std::memcpy(p.out + p.outUsed, buffer, *size);
  p.outUsed += *size;
}

void BM_Explode(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const int mode = static_cast<int>(state.range(1));
  const Prepared& input = Input(kind, mode);
  std::vector<uint8_t> output(kInputBytes);
  auto work = std::make_unique<char[]>(QPXFile::kExplodeWorkAreaSize);
  for (auto _ : state) {
    for (int pass = 0; pass < kPasses; ++pass) {
      Pipe pipe{input.stream.data(), input.stream.size(), output.data(), 0};
      const int result = QPXFile::DclExplode(PipeRead, PipeWrite, work.get(), &pipe);
      if (result != QPXFile::kDclOk || pipe.outUsed != kInputBytes) {
        state.SkipWithError("decode failed");
        return;
      }
    }
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  if (std::memcmp(output.data(), input.original.data(), kInputBytes) != 0) state.SkipWithError("output differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kOutputBytes));
  state.SetLabel(std::string(kKindNames[kind]) + (mode ? " ascii" : " binary") + ", ratio " +
                 std::to_string(100 * input.stream.size() / input.original.size()) + "%");
}
BENCHMARK(BM_Explode)
    ->ArgsProduct({{kText, kJapanese, kExecutable, kRepetitive, kRandom}, {0, 1}})
    ->ArgNames({"input", "ascii"})
    ->Unit(benchmark::kMillisecond);

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

using Decoder = int (*)(QPXFile::DclReadFn, QPXFile::DclWriteFn, void*, void*);

// Thread CPU seconds `decode` takes for kPasses passes over the stream.
double TimeDecoder(Decoder decode, const Prepared& input, std::vector<uint8_t>& output, char* work, bool& ok) {
  const double start = ThreadSeconds();
  for (int pass = 0; pass < kPasses; ++pass) {
    Pipe pipe{input.stream.data(), input.stream.size(), output.data(), 0};
    ok = ok && decode(PipeRead, PipeWrite, work, &pipe) == QPXFile::kDclOk && pipe.outUsed == kInputBytes;
  }
  const double seconds = ThreadSeconds() - start;
  ok = ok && std::memcmp(output.data(), input.original.data(), kInputBytes) == 0;
  return seconds;
}

// The decoder and the classic reference on the same stream, in alternating
// order in every iteration; each side's fastest run counts, in thread CPU
// time, since on a shared machine other work only adds time.
void BM_ExplodeVsReference(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const int mode = static_cast<int>(state.range(1));
  const Prepared& input = Input(kind, mode);
  std::vector<uint8_t> output(kInputBytes);
  auto work = std::make_unique<char[]>(std::max(QPXFile::kExplodeWorkAreaSize, benchref::kReferenceWorkAreaSize));
  double ours = 1e9, reference = 1e9;
  bool ok = true, oursFirst = true;
  for (auto _ : state) {
    if (oursFirst) ours = std::min(ours, TimeDecoder(QPXFile::DclExplode, input, output, work.get(), ok));
    reference = std::min(reference, TimeDecoder(benchref::ReferenceExplode, input, output, work.get(), ok));
    if (!oursFirst) ours = std::min(ours, TimeDecoder(QPXFile::DclExplode, input, output, work.get(), ok));
    oursFirst = !oursFirst;
  }
  if (!ok) state.SkipWithError("a decoder's output differs");
  state.counters["ours_MBps"] = static_cast<double>(kOutputBytes) / ours / 1e6;
  state.counters["reference_MBps"] = static_cast<double>(kOutputBytes) / reference / 1e6;
  state.counters["ours_vs_reference"] = reference / ours;
  state.SetLabel(std::string(kKindNames[kind]) + (mode ? " ascii" : " binary") + ", ratio " +
                 std::to_string(100 * input.stream.size() / input.original.size()) + "%");
}
BENCHMARK(BM_ExplodeVsReference)
    ->ArgsProduct({{kText, kJapanese, kExecutable, kRepetitive, kRandom}, {0, 1}})
    ->ArgNames({"input", "ascii"})
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);

void BM_MemcpyExplodeSize(benchmark::State& state) {
  std::vector<uint8_t> src(kOutputBytes, 1), dst(kOutputBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kOutputBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kOutputBytes));
}
BENCHMARK(BM_MemcpyExplodeSize)->Unit(benchmark::kMillisecond);

constexpr size_t kCrcBytes = size_t{64} << 20;

void BM_Crc32(benchmark::State& state) {
  const auto data = testsupport::SampleNoise(kCrcBytes, 105);
  uint32_t reg = 0xFFFFFFFFu;
  for (auto _ : state) {
    reg = QPXFile::Crc32Update(data.data(), data.size(), reg);
    benchmark::DoNotOptimize(reg);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kCrcBytes));
}
BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond);

// The restore path sums in 10240-byte pieces.
void BM_Crc32Chunks10240(benchmark::State& state) {
  const auto data = testsupport::SampleNoise(kCrcBytes, 106);
  uint32_t reg = 0xFFFFFFFFu;
  for (auto _ : state) {
    for (size_t pos = 0; pos < data.size(); pos += 10240)
      reg = QPXFile::Crc32Update(data.data() + pos, std::min<size_t>(10240, data.size() - pos), reg);
    benchmark::DoNotOptimize(reg);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kCrcBytes));
}
BENCHMARK(BM_Crc32Chunks10240)->Unit(benchmark::kMillisecond);

void BM_MemcpyCrcSize(benchmark::State& state) {
  std::vector<uint8_t> src(kCrcBytes, 1), dst(kCrcBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kCrcBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kCrcBytes));
}
BENCHMARK(BM_MemcpyCrcSize)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
