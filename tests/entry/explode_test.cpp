#include "entry/explode.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/explode_run.h"
#include "support/implode_encoder.h"
#include "support/sample_data.h"

namespace {

using namespace QPXFile;
using testsupport::ExplodeRun;
using testsupport::ImplodeBitWriter;
using testsupport::LiteralMode;
using testsupport::RunExplode;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every write but the last is a full block, and the last is a remainder.
void ExpectBlockedWrites(const ExplodeRun& run) {
  ASSERT_FALSE(run.writes.empty());
  for (size_t i = 0; i + 1 < run.writes.size(); ++i) EXPECT_EQ(run.writes[i], 4096u) << "write " << i;
  EXPECT_LT(run.writes.back(), 4096u);
  EXPECT_EQ(run.writes.size(), run.output.size() / 4096 + 1);
}

// A hand-made token sequence together with the output it stands for.
class Script {
 public:
  Script(LiteralMode mode, unsigned dictionary) : writer_(mode, dictionary) {}
  void Literal(uint8_t b) {
    writer_.Literal(b);
    expected_.push_back(b);
  }
  void Repetition(unsigned length, unsigned distance) {
    writer_.Repetition(length, distance);
    for (unsigned i = 0; i < length; ++i) expected_.push_back(expected_[expected_.size() - distance]);
  }
  std::vector<uint8_t> Finish() {
    writer_.EndMarker();
    return writer_.Finish();
  }
  const std::vector<uint8_t>& expected() const { return expected_; }

 private:
  ImplodeBitWriter writer_;
  std::vector<uint8_t> expected_;
};

// ---------------------------------------------------------------------------
// Streams made by other implementations.

TEST(ExplodeVectors, EveryListedStreamDecodesToItsOutput) {
  const std::string dir = std::string(TESSERA_SOURCE_DIR) + "/tests/data/dcl-vectors/";
  std::ifstream manifest(dir + "MANIFEST.txt");
  ASSERT_TRUE(manifest) << "missing " << dir << "MANIFEST.txt";
  std::string line;
  int checked = 0;
  while (std::getline(manifest, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, mode, dictionary, size, streamSize, sha, expect;
    std::getline(fields, name, '\t');
    std::getline(fields, mode, '\t');
    std::getline(fields, dictionary, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, streamSize, '\t');
    std::getline(fields, sha, '\t');
    std::getline(fields, expect, '\t');
    SCOPED_TRACE(name);
    const auto stream = ReadFile(dir + name);
    ASSERT_EQ(stream.size(), std::stoul(streamSize));
    const auto run = RunExplode(stream);
    if (expect == "code3") {
      EXPECT_EQ(run.result, kDclTooShort);
      EXPECT_TRUE(run.writes.empty());
    } else {
      const std::string outName = name.substr(0, name.rfind('.')) + ".out";
      const auto expected = ReadFile(dir + outName);
      ASSERT_EQ(expected.size(), std::stoul(size));
      EXPECT_EQ(run.result, kDclOk);
      EXPECT_TRUE(run.output == expected);
      ExpectBlockedWrites(run);
      for (unsigned r : run.requests) EXPECT_EQ(r, 2048u);
    }
    ++checked;
  }
  EXPECT_GE(checked, 11);
}

TEST(ExplodeVectors, DecodeTheSameWhateverTheReadSizes) {
  const std::string dir = std::string(TESSERA_SOURCE_DIR) + "/tests/data/dcl-vectors/";
  for (const char* name : {"text-ascii-4k", "bin-binary-4k", "rep-binary-1k"}) {
    SCOPED_TRACE(name);
    const auto stream = ReadFile(dir + name + ".imp");
    const auto expected = ReadFile(dir + name + ".out");
    for (size_t chunk : {5, 7, 9, 64, 1000, 2047}) {
      const auto run = RunExplode(stream, chunk);
      EXPECT_EQ(run.result, kDclOk) << chunk;
      EXPECT_TRUE(run.output == expected) << chunk;
    }
  }
}

// ---------------------------------------------------------------------------
// Round trips through the test encoder.

struct Sample {
  const char* name;
  std::vector<uint8_t> data;
};

std::vector<Sample> Samples() {
  using namespace testsupport;
  std::vector<Sample> s;
  s.push_back({"text", SampleText(70000, 1)});
  s.push_back({"executable", SampleExecutable(70000, 2)});
  s.push_back({"repetitive", SampleRepetitive(150000, 3)});
  s.push_back({"noise", SampleNoise(30000, 4)});
  // Blocks that hardly compress take literals by another path than the
  // blocks between them.
  std::vector<uint8_t> mixed = SampleNoise(20000, 15);
  for (const auto& part : {SampleText(30000, 16), SampleNoise(10000, 17)})
    mixed.insert(mixed.end(), part.begin(), part.end());
  s.push_back({"noise, text, noise", mixed});
  s.push_back({"one byte", {0x7F}});
  s.push_back({"two bytes", {0x00, 0xFF}});
  s.push_back({"exact 4096", SampleText(4096, 5)});
  s.push_back({"exact 8192", SampleExecutable(8192, 6)});
  s.push_back({"all zero", std::vector<uint8_t>(200000, 0)});
  std::vector<uint8_t> allBytes;
  for (int r = 0; r < 3; ++r)
    for (int v = 0; v < 256; ++v) allBytes.push_back(static_cast<uint8_t>(r & 1 ? 255 - v : v));
  s.push_back({"every byte value", allBytes});
  return s;
}

TEST(ExplodeRoundTrip, EveryModeAndDictionaryOnVariedInputs) {
  const auto samples = Samples();
  for (LiteralMode mode : {LiteralMode::Binary, LiteralMode::Ascii}) {
    for (unsigned dictionary : {1024u, 2048u, 4096u}) {
      for (const auto& sample : samples) {
        SCOPED_TRACE(testing::Message() << sample.name << " mode " << static_cast<int>(mode) << " dict "
                                        << dictionary);
        const auto stream = testsupport::Implode(sample.data.data(), sample.data.size(), mode, dictionary);
        EXPECT_EQ(stream[0], static_cast<uint8_t>(mode));
        const auto run = RunExplode(stream);
        ASSERT_EQ(run.result, kDclOk);
        ASSERT_TRUE(run.output == sample.data);
        ExpectBlockedWrites(run);
      }
    }
  }
}

TEST(ExplodeRoundTrip, EncoderCompressesWhatRepeats) {
  const auto text = testsupport::SampleText(100000, 7);
  const auto runs = testsupport::SampleRepetitive(100000, 8);
  const auto textStream = testsupport::Implode(text.data(), text.size(), LiteralMode::Ascii, 4096);
  const auto runStream = testsupport::Implode(runs.data(), runs.size(), LiteralMode::Binary, 4096);
  EXPECT_LT(textStream.size(), text.size() / 2);
  EXPECT_LT(runStream.size(), runs.size() / 20);
}

TEST(ExplodeRoundTrip, OutputOfWholeBlocksEndsWithAnEmptyWrite) {
  for (size_t size : {4096u, 8192u, 61440u, 65536u}) {
    const auto data = testsupport::SampleExecutable(size, size);
    const auto run = RunExplode(testsupport::Implode(data.data(), data.size(), LiteralMode::Binary, 2048));
    ASSERT_EQ(run.result, kDclOk);
    EXPECT_EQ(run.writes.size(), size / 4096 + 1);
    EXPECT_EQ(run.writes.back(), 0u);
    EXPECT_TRUE(run.output == data);
  }
}

// ---------------------------------------------------------------------------
// Repetitions at the edges of the format and of the window.

TEST(ExplodeRepetitions, LongestRepetitionStartingOneByteBeforeABlockEnd) {
  // 518 bytes starting at 4095 (and 8191, ...) bytes of output run furthest
  // past the block boundary.
  for (size_t before : {4095u, 8191u, 61439u, 65535u, 4096u * 15 + 4095u}) {
    SCOPED_TRACE(before);
    Script script(LiteralMode::Binary, 4096);
    testsupport::SampleRandom rng(before);
    for (size_t i = 0; i < 4096; ++i) script.Literal(static_cast<uint8_t>(rng.Next()));
    while (script.expected().size() + 518 <= before) script.Repetition(518, 4096);
    while (script.expected().size() < before) script.Literal(static_cast<uint8_t>(rng.Next()));
    script.Repetition(518, 4096);
    script.Repetition(518, 3);
    const auto run = RunExplode(script.Finish());
    ASSERT_EQ(run.result, kDclOk);
    EXPECT_TRUE(run.output == script.expected());
    ExpectBlockedWrites(run);
  }
}

TEST(ExplodeRepetitions, EveryDistanceAndShortPeriodCopiesLikeByteByByte) {
  Script script(LiteralMode::Binary, 4096);
  testsupport::SampleRandom rng(11);
  for (size_t i = 0; i < 4096; ++i) script.Literal(static_cast<uint8_t>(rng.Next()));
  for (unsigned distance = 1; distance <= 4096; distance += (distance < 40 ? 1 : 97)) {
    for (unsigned length : {3u, 7u, 8u, 9u, 10u, 15u, 17u, 33u, 518u}) script.Repetition(length, distance);
  }
  script.Repetition(518, 4096);
  const auto run = RunExplode(script.Finish());
  ASSERT_EQ(run.result, kDclOk);
  EXPECT_TRUE(run.output == script.expected());
}

TEST(ExplodeRepetitions, TwoByteRepetitionsReachTwoHundredFiftySixBack) {
  for (unsigned dictionary : {1024u, 4096u}) {
    Script script(LiteralMode::Ascii, dictionary);
    for (int i = 0; i < 300; ++i) script.Literal(static_cast<uint8_t>(i * 7));
    for (unsigned distance : {256u, 1u, 255u, 2u, 128u, 256u}) script.Repetition(2, distance);
    script.Repetition(3, dictionary > 300 ? 300 : dictionary);
    const auto run = RunExplode(script.Finish());
    ASSERT_EQ(run.result, kDclOk);
    EXPECT_TRUE(run.output == script.expected());
  }
  // The encoder uses them too: pairs that recur exactly 256 bytes apart.
  std::vector<uint8_t> data;
  testsupport::SampleRandom rng(12);
  for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(rng.Next()));
  for (int i = 0; i < 20; ++i) {
    data.push_back(data[data.size() - 256]);
    data.push_back(data[data.size() - 256]);
    for (int j = 0; j < 254; ++j) data.push_back(static_cast<uint8_t>(rng.Next()));
  }
  const auto stream = testsupport::Implode(data.data(), data.size(), LiteralMode::Binary, 1024);
  const auto run = RunExplode(stream);
  ASSERT_EQ(run.result, kDclOk);
  EXPECT_TRUE(run.output == data);
  // Each pair as a repetition saves at least 4 bits over two literals.
  EXPECT_LE(stream.size() * 8, 16 + data.size() * 9 + 16 - 20 * 4 + 7);
}

TEST(ExplodeRepetitions, DistanceBeforeTheFirstByteStaysInsideTheWindow) {
  // Invalid but decodable: reaching back into the history before any output.
  ImplodeBitWriter writer(LiteralMode::Binary, 4096);
  writer.Repetition(518, 4096);
  writer.Literal('x');
  writer.Repetition(2, 256);
  writer.EndMarker();
  const auto run = RunExplode(writer.Finish());
  EXPECT_EQ(run.result, kDclOk);
  EXPECT_EQ(run.output.size(), 521u);
}

// ---------------------------------------------------------------------------
// Result codes.

TEST(ExplodeResults, HeaderFaultsAreReportedInOrder) {
  auto stream = [](uint8_t mode, uint8_t k) {
    ImplodeBitWriter writer(mode, k);
    for (int i = 0; i < 10; ++i) writer.Literal('a');
    writer.EndMarker();
    return writer.Finish();
  };
  for (uint8_t k : {0, 3, 7, 255}) {
    EXPECT_EQ(RunExplode(stream(0, k)).result, kDclBadDictionary);
    EXPECT_EQ(RunExplode(stream(2, k)).result, kDclBadDictionary) << "dictionary is checked first";
  }
  EXPECT_EQ(RunExplode(stream(2, 6)).result, kDclBadLiteralMode);
  EXPECT_EQ(RunExplode(stream(255, 4)).result, kDclBadLiteralMode);
  EXPECT_TRUE(RunExplode(stream(2, 6)).writes.empty());
}

TEST(ExplodeResults, FirstReadOfFourBytesOrFewerIsTooShort) {
  const auto empty = testsupport::Implode(nullptr, 0, LiteralMode::Binary, 4096);
  ASSERT_EQ(empty.size(), 4u);
  const auto run = RunExplode(empty);
  EXPECT_EQ(run.result, kDclTooShort);
  EXPECT_TRUE(run.writes.empty());
  EXPECT_EQ(RunExplode({}).result, kDclTooShort);
  // A valid stream handed out four bytes at a time is refused as well.
  const uint8_t a = 'a';
  EXPECT_EQ(RunExplode(testsupport::Implode(&a, 1, LiteralMode::Binary, 4096), 4).result, kDclTooShort);
}

TEST(ExplodeResults, FiveByteAsciiStreamOfOneByteDecodes) {
  const uint8_t space = ' ';  // a 4-bit literal
  const auto stream = testsupport::Implode(&space, 1, LiteralMode::Ascii, 1024);
  ASSERT_EQ(stream.size(), 5u);
  const auto run = RunExplode(stream);
  EXPECT_EQ(run.result, kDclOk);
  EXPECT_EQ(run.output, std::vector<uint8_t>{' '});
}

TEST(ExplodeResults, EveryCutShortStreamIsBrokenAndKeepsWhatCameBefore) {
  const auto data = testsupport::SampleText(9000, 13);
  for (LiteralMode mode : {LiteralMode::Binary, LiteralMode::Ascii}) {
    const auto stream = testsupport::Implode(data.data(), data.size(), mode, 2048);
    size_t previous = 0;
    for (size_t cut = 5; cut < stream.size(); ++cut) {
      const std::vector<uint8_t> part(stream.begin(), stream.begin() + cut);
      const auto run = RunExplode(part, cut % 3 == 0 ? 2048 : 61);
      ASSERT_EQ(run.result, kDclBroken) << cut;
      ASSERT_LE(run.output.size(), data.size());
      ASSERT_TRUE(std::equal(run.output.begin(), run.output.end(), data.begin())) << cut;
      ASSERT_GE(run.output.size(), previous);
      previous = run.output.size();
      ExpectBlockedWrites(run);
    }
    EXPECT_GT(previous, data.size() - 100);
  }
}

TEST(ExplodeResults, EndMarkerMayEndTheInputButOtherTokensNeedEightBitsMore) {
  // The classic decoder holds the next 8 bits after every token but the end
  // marker, so where the input runs dry decides the result.
  ImplodeBitWriter exact(LiteralMode::Binary, 4096);
  for (int i = 0; i < 8; ++i) exact.Literal('A');
  exact.EndMarker();
  const auto flush = exact.Finish();
  ASSERT_EQ(flush.size(), 2u + 9u + 2u) << "the end marker ends on the last bit";
  auto run = RunExplode(flush);
  EXPECT_EQ(run.result, kDclOk);
  EXPECT_EQ(run.output, std::vector<uint8_t>(8, 'A'));

  ImplodeBitWriter tail(LiteralMode::Binary, 4096);
  for (int i = 0; i < 4; ++i) tail.Literal('B');
  const auto cut = tail.Finish();  // 36 bits and 4 spare ones
  run = RunExplode(cut);
  EXPECT_EQ(run.result, kDclBroken);
  EXPECT_EQ(run.output, std::vector<uint8_t>(3, 'B')) << "the last literal has only 4 bits after it";
}

TEST(ExplodeResults, BrokenStreamOfWholeBlocksStillEndsWithAnEmptyWrite) {
  // A repetition first puts the block's last literal first in a pair, so the
  // literal that fails is the second of that pair, read before the block is
  // handed out.
  for (LiteralMode mode : {LiteralMode::Binary, LiteralMode::Ascii}) {
    SCOPED_TRACE(static_cast<int>(mode));
    ImplodeBitWriter writer(mode, 4096);
    std::vector<uint8_t> expected{'a', 'a', 'a'};
    writer.Literal('a');
    writer.Repetition(2, 1);
    for (size_t i = expected.size(); i < 4096; ++i) {
      const uint8_t b = mode == LiteralMode::Ascii ? 'e' : static_cast<uint8_t>(i * 7);
      writer.Literal(b);
      expected.push_back(b);
    }
    // One literal more (9 or 13 bits, enough for the one before it) with too
    // few bits after it: the stream is broken there.
    writer.Literal(0x80);
    const auto run = RunExplode(writer.Finish());
    EXPECT_EQ(run.result, kDclBroken);
    EXPECT_TRUE(run.output == expected);
    ExpectBlockedWrites(run);
  }
}

TEST(ExplodeResults, ReaderThatStopsEndsTheStreamAsBroken) {
  const auto data = testsupport::SampleNoise(10000, 14);
  const auto stream = testsupport::Implode(data.data(), data.size(), LiteralMode::Binary, 4096);
  const std::vector<uint8_t> firstBlock(stream.begin(), stream.begin() + 2048);
  const auto run = RunExplode(firstBlock);
  EXPECT_EQ(run.result, kDclBroken);
  EXPECT_GT(run.output.size(), 1700u);
  EXPECT_TRUE(std::equal(run.output.begin(), run.output.end(), data.begin()));
}

// ---------------------------------------------------------------------------
// Hostile input.

struct Garbage {
  testsupport::SampleRandom rng{0};
  size_t blocksLeft = 0;
  bool first = true;
  bool overfill = false;
  size_t written = 0;
};

unsigned GarbageRead(char* buffer, unsigned* size, void* param) {
  auto& g = *static_cast<Garbage*>(param);
  if (g.blocksLeft == 0) return 0;
  --g.blocksLeft;
  for (unsigned i = 0; i < *size; ++i) buffer[i] = static_cast<char>(g.rng.Next());
  if (g.first) {  // a header of a valid kind, so the garbage reaches the decoder
    g.first = false;
    buffer[0] = static_cast<char>(g.rng.Below(2));
    buffer[1] = static_cast<char>(4 + g.rng.Below(3));
  }
  return g.overfill ? 100000 : *size;  // an overfill claim must not be believed
}

void CountingWrite(char*, unsigned* size, void* param) {
  auto& g = *static_cast<Garbage*>(param);
  ASSERT_LE(*size, 4096u);
  g.written += *size + 1;
}

TEST(ExplodeHostile, GarbageEndsWithABrokenOrValidResult) {
  std::vector<char> work(kExplodeWorkAreaSize + 1);
  for (uint64_t seed = 1; seed <= 300; ++seed) {
    Garbage g;
    g.rng = testsupport::SampleRandom(seed);
    g.blocksLeft = 1 + seed % 40;
    g.overfill = seed % 7 == 0;
    // An unaligned work area works too.
    const int result = DclExplode(GarbageRead, CountingWrite, work.data() + seed % 2, &g);
    EXPECT_TRUE(result == kDclOk || result == kDclBroken) << seed;
    EXPECT_GT(g.written, 0u);
  }
}

}  // namespace
