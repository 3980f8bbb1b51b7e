// tessera-cli find: names across the generations of a backup set, in text and
// JSON, the bounds on size and date, and a lone archive as a one-generation set.
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "support/backup_set_writer.h"

namespace fs = std::filesystem;
using namespace testsupport;
using nlohmann::json;

namespace {

using clitest::CliRun;
using clitest::Q;

class FindCliTest : public clitest::CliFixture {
 protected:
  FindCliTest() : CliFixture("tessera-find-") {}
  void WriteSet() { files_ = WriteBackupSet(SampleBackupSet(), dir_); }
  std::string First() const { return Q(files_.archives[0]); }
  BackupSetFiles files_;
};

uint32_t Crc(const std::string& text) {
  return EntryCrc(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST_F(FindCliTest, ListsEachHitWithItsGenerationsAndVersions) {
  WriteSet();
  CliRun text = Cli("find " + First() + " '*.TXT'");
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("file    C:\\Data\\a.txt\n"
                          "        present in generations 1-4\n"
                          "        generation 1: 2 bytes, CRC "),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("file    C:\\Data\\Old\\b.txt\n        present in generations 1, 4\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("5 files, 0 folders found\n"), std::string::npos) << text.out;

  CliRun json_run = Cli("find --json " + First() + " 'c:\\data\\a.txt'");
  ASSERT_EQ(json_run.status, 0) << json_run.err;
  const json doc = json::parse(json_run.out);
  ASSERT_EQ(doc["hits"].size(), 1u);
  const json& a = doc["hits"][0];
  EXPECT_EQ(a["path"], "C:\\Data\\a.txt");
  EXPECT_EQ(a["kind"], "file");
  EXPECT_EQ(a["generations"], json({1, 2, 3, 4}));
  ASSERT_EQ(a["versions"].size(), 3u);
  EXPECT_EQ(a["versions"][1], json({{"generation", 2}, {"size", 2}, {"crc32", Crc("a1")},
                                    {"modified", a["versions"][1]["modified"]}}));

  const json old = json::parse(Cli("find --json " + First() + " OLD").out);
  ASSERT_EQ(old["hits"].size(), 1u);
  EXPECT_EQ(old["hits"][0]["kind"], "folder");
  EXPECT_EQ(old["hits"][0]["generations"], json({1, 2, 4}));
  EXPECT_FALSE(old["hits"][0].contains("versions"));
}

TEST_F(FindCliTest, BoundsNarrowAndBadValuesAreRefused) {
  WriteSet();
  const std::string big = Cli("find " + First() + " '*' --min-size 3").out;
  EXPECT_NE(big.find("\n1 file, 0 folders found"), std::string::npos) << big;
  EXPECT_NE(big.find("file    C:\\Data\\New\\d.txt"), std::string::npos) << big;
  const std::string small = Cli("find " + First() + " '*' --max-size 2 --older 2999-01-01").out;
  EXPECT_NE(small.find("\n4 files, 0 folders found"), std::string::npos) << small;
  const std::string future = Cli("find " + First() + " '*' --newer '2999-12-31 23:59'").out;
  EXPECT_NE(future.find("0 files, 0 folders found"), std::string::npos) << future;

  for (const char* bad : {"--min-size 12Q", "--max-size -1", "--newer 2024-02-30", "--older 2024-01-01x",
                          "--newer '2024-01-01 25:00'"}) {
    CliRun r = Cli("find " + First() + " '*' " + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << bad << ": " << r.err;
  }
  EXPECT_EQ(Cli("find " + First() + " ''").status, 2);
}

TEST_F(FindCliTest, ALoneArchiveIsOneGeneration) {
  ArchiveSpec plan;
  plan.folders.push_back({u"C:\\Docs", 0x10, 0, 0, 0});
  plan.entries.push_back({.folder = u"C:\\Docs", .name = u"note.txt", .data = Bytes("hello")});
  const fs::path archive = Write(plan, "lone.qpx");
  CliRun r = Cli("find --json " + Q(archive) + " 'NOTE.*'");
  ASSERT_EQ(r.status, 0) << r.err;
  const json doc = json::parse(r.out);
  ASSERT_EQ(doc["hits"].size(), 1u);
  EXPECT_EQ(doc["hits"][0]["generations"], json({1}));
  EXPECT_EQ(doc["hits"][0]["versions"][0]["size"], 5);
}

}  // namespace
