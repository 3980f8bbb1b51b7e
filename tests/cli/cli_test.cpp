// tessera-cli as users run it: real archives on disk, the real binary, its
// output, messages and exit statuses.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "support/archive_writer.h"
#include "support/corrupt.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using clitest::CliRun;
using clitest::Q;

class CliTest : public clitest::CliFixture {
 protected:
  CliTest() : CliFixture("tessera-cli-") {}

  static size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }
};

TEST_F(CliTest, InfoReportsHeaderFieldsAsJson) {
  ArchiveSpec plan = SampleArchive();
  const fs::path archive = Write(plan, "sample.qpx");
  CliRun r = Cli("info --json " + Q(archive));
  ASSERT_EQ(r.status, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["format_id"], "QPX3.0  ");
  EXPECT_EQ(j["version"], "QPX3.0  ");
  EXPECT_EQ(j["compression"], "PKWARE  ");
  EXPECT_EQ(j["section_level"], 4);
  EXPECT_EQ(j["creation_time"], plan.creationTime);
  EXPECT_EQ(j["entry_count"], plan.entries.size());
  EXPECT_FALSE(j["split"].get<bool>());
  EXPECT_EQ(j["volumes"], 1);
  EXPECT_EQ(j["sections"], nlohmann::json({"Header", "FileList", "FolderList", "Division_Info", "CategoryInfo"}));
  EXPECT_TRUE(r.err.empty());
}

TEST_F(CliTest, InfoOfSplitArchiveCountsVolumes) {
  ArchiveSpec plan = SampleSplitArchive();
  const fs::path archive = Write(plan, "split.qpx");
  size_t files = 0;
  for (unsigned k = 0; fs::exists(VolumePath(archive, k)); ++k) ++files;
  CliRun r = Cli("info --json " + Q(archive));
  ASSERT_EQ(r.status, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_TRUE(j["split"].get<bool>());
  EXPECT_EQ(j["volume_size"], plan.volumeSize);
  EXPECT_EQ(j["volumes"], files);
  CliRun human = Cli("info " + Q(archive));
  EXPECT_NE(human.out.find("Split:         yes"), std::string::npos);
}

TEST_F(CliTest, HeaderOnlyArchiveHasNoEntriesOrSections) {
  ArchiveSpec plan;
  plan.formatId = "F_QPX2.0";
  const fs::path archive = Write(plan, "faked.qpx");
  CliRun r = Cli("info --json " + Q(archive));
  ASSERT_EQ(r.status, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["format_id"], "F_QPX2.0");
  EXPECT_EQ(j["compression"], "NA      ");
  EXPECT_EQ(j["sections"], nlohmann::json({"Header"}));
  CliRun list = Cli("list --json " + Q(archive));
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_TRUE(nlohmann::json::parse(list.out)["entries"].empty());
}

TEST_F(CliTest, ListJsonCarriesEveryEntryAndFolder) {
  ArchiveSpec plan = SampleArchive();
  const fs::path archive = Write(plan, "sample.qpx");
  CliRun r = Cli("list --json " + Q(archive));
  ASSERT_EQ(r.status, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["entries"].size(), plan.entries.size());
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const EntrySpec& e = plan.entries[i];
    const auto& got = j["entries"][i];
    EXPECT_EQ(got["size"], e.data.size());
    EXPECT_EQ(got["crc32"], EntryCrc(e.data.data(), e.data.size()));
    EXPECT_EQ(got["method"], e.method == Method::Imploded ? "imploded" : e.method == Method::Encrypted ? "encrypted" : "stored");
    EXPECT_EQ(got["modified"], e.modified);
    EXPECT_EQ(got["attributes"].get<uint32_t>() & 0x7, e.attributes & 0x7);
  }
  ASSERT_EQ(j["folders"].size(), plan.folders.size());
  EXPECT_EQ(j["folders"][0]["path"], "C:\\Users\\Hanako\\Documents");
  // Names with 0x5C trail bytes in code page 932 survive whole.
  EXPECT_NE(r.out.find("C:\\\\Users\\\\Hanako\\\\Documents\\\\ソフト"), std::string::npos);
}

TEST_F(CliTest, ListHumanShowsOneLinePerEntryThenTotals) {
  ArchiveSpec plan = SampleAnsiArchive();
  const fs::path archive = Write(plan, "ansi.qpx");
  CliRun r = Cli("list " + Q(archive));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("D:\\共有\\経理\\表計算\\予算.csv"), std::string::npos);
  EXPECT_NE(r.out.find(std::to_string(plan.entries.size()) + " files"), std::string::npos);
  EXPECT_NE(r.out.find("imploded"), std::string::npos);
}

TEST_F(CliTest, TestPassesIntactArchives) {
  for (const ArchiveSpec& plan : {SampleArchive(), SampleAnsiArchive(), SampleSplitArchive()}) {
    const fs::path archive = Write(plan, "ok.qpx");
    CliRun r = Cli("test " + Q(archive));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(std::to_string(plan.entries.size()) + " entries tested, 0 damaged"), std::string::npos) << r.out;
  }
}

TEST_F(CliTest, TestNamesEachDamagedEntry) {
  ArchiveSpec plan = SampleArchive();
  plan.entries[0].crc = 0x12345678;                // CRC in the record is wrong
  const fs::path archive = Write(plan, "bad.qpx");
  // Break the implode stream of the first imploded entry in its middle.
  size_t imploded = 0;
  while (plan.entries[imploded].method != Method::Imploded) ++imploded;
  const auto& place = layout_.entries[imploded];
  OverwriteBytes(archive, place.data + 2, std::vector<uint8_t>(place.dataSize - 2, 0xFF));
  CliRun r = Cli("test " + Q(archive));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("readme.txt: CRC differs"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("DAMAGED"), std::string::npos);
  EXPECT_NE(r.out.find(", 2 damaged"), std::string::npos) << r.out;
}

TEST_F(CliTest, TestReportsDataCutShortAtTheEnd) {
  ArchiveSpec plan = SampleArchive();
  const fs::path archive = Write(plan, "cut.qpx");
  TruncateFile(archive, layout_.entries.back().data + 1);
  CliRun r = Cli("test " + Q(archive));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("cut short"), std::string::npos) << r.out;
}

TEST_F(CliTest, UnreadableArchivesFailWithOneLineNamingTheFile) {
  const fs::path text = dir_ / "notes.qpx";
  std::ofstream(text) << "this is a plain text file, longer than the header of an archive would be............"
                         "...................................................................................";
  CliRun r = Cli("list " + Q(text));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tessera-cli: " + text.string() + ": not an archive of this kind\n");

  CliRun missing = Cli("info " + Q(dir_ / "none.qpx"));
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("none.qpx: cannot open: No such file or directory"), std::string::npos) << missing.err;
  EXPECT_EQ(Lines(missing.err), 1u);
}

TEST_F(CliTest, DamagedSectionIsNamedWithItsOffset) {
  ArchiveSpec plan = SampleArchive();
  plan.tags.folderList = "folderlist";
  const fs::path archive = Write(plan, "tag.qpx");
  CliRun r = Cli("list " + Q(archive));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tessera-cli: " + archive.string() + ": section FolderList damaged at offset " +
                       std::to_string(*layout_.folderList) + "\n");
}

TEST_F(CliTest, MissingAndForeignVolumesAreNamed) {
  ArchiveSpec plan = SampleSplitArchive();
  plan.missingVolumes = {2};
  fs::path archive = Write(plan, "gap.qpx");
  CliRun r = Cli("test " + Q(archive));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tessera-cli: " + archive.string() + ": volume " + VolumePath(archive, 2).string() + " missing\n");

  plan = SampleSplitArchive();
  plan.volumeHeadPatches = {{.volume = 1, .time = plan.creationTime + 1}};
  archive = Write(plan, "foreign.qpx");
  r = Cli("info " + Q(archive));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tessera-cli: " + archive.string() + ": volume " + VolumePath(archive, 1).string() +
                       " belongs to another archive\n");
}

TEST_F(CliTest, EntryRecordCutShortIsNumbered) {
  ArchiveSpec plan = SampleArchive();
  const fs::path archive = Write(plan, "rec.qpx");
  TruncateFile(archive, layout_.entries[2].record + 20);
  CliRun r = Cli("list " + Q(archive));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(": entry 3 cut short"), std::string::npos) << r.err;
  EXPECT_EQ(Lines(r.err), 1u);
}

TEST_F(CliTest, WrongArgumentsExitWithTwo) {
  EXPECT_EQ(Cli("").status, 2);
  EXPECT_EQ(Cli("frobnicate x").status, 2);
  EXPECT_EQ(Cli("list").status, 2);
  EXPECT_EQ(Cli("--help").status, 0);
}

}  // namespace
