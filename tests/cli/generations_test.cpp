// tessera-cli on backup sets: the generations, one generation's merged view
// in list, test and extract, the history of a path, the differences between
// generations, and sets whose management file or archives are missing,
// damaged or overwritten.
#include <algorithm>
#include <map>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "support/backup_set_writer.h"
#include "support/corrupt.h"

namespace fs = std::filesystem;
using namespace testsupport;
using nlohmann::json;

namespace {

using clitest::CliRun;
using clitest::Q;
using clitest::ReadAll;

uint32_t Crc(const std::string& text) {
  return EntryCrc(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The four generations of SampleBackupSet (see backup_set_writer.h), as
// users number them:
//   1: a.txt "a0", keep.txt, Old\b.txt "b0"
//   2: a.txt "a1", b.txt removed, c.txt added
//   3: Old removed, New\d.txt added
//   4: Old\b.txt "b3" again, a.txt "a3", c.txt removed
class GenerationsCliTest : public clitest::CliFixture {
 protected:
  GenerationsCliTest() : CliFixture("tessera-gens-") {}

  void SetUp() override {
    CliFixture::SetUp();
    set_ = SampleBackupSet();
  }

  void WriteSet() { files_ = WriteBackupSet(set_, dir_); }
  std::string First() const { return Q(files_.archives[0]); }

  json Json(const std::string& args) {
    CliRun r = Cli(args);
    EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
    return r.status == 0 ? json::parse(r.out) : json();
  }

  // The entries of a list --json by path.
  static std::map<std::string, json> ByPath(const json& array) {
    std::map<std::string, json> out;
    for (const json& e : array) out[e["path"].get<std::string>()] = e;
    return out;
  }
  static std::vector<std::string> Paths(const json& array) {
    std::vector<std::string> out;
    for (const json& e : array) out.push_back(e.is_string() ? e.get<std::string>() : e["path"].get<std::string>());
    return out;
  }

  BackupSetSpec set_;
  BackupSetFiles files_;
};

TEST_F(GenerationsCliTest, GenerationsCountWhatEachAddsChangesAndRemoves) {
  WriteSet();
  const json j = Json("generations --json " + First());
  EXPECT_FALSE(j["rebuilt"].get<bool>());
  EXPECT_EQ(j["management"], files_.management.string());
  ASSERT_EQ(j["generations"].size(), 4u);
  const long expected[4][4] = {{3, 3, 0, 0}, {2, 1, 1, 1}, {1, 1, 0, 0}, {2, 1, 1, 1}};  // entries, +, ~, -
  for (unsigned g = 0; g < 4; ++g) {
    const json& e = j["generations"][g];
    EXPECT_EQ(e["generation"], g + 1);
    EXPECT_EQ(e["archive"], files_.archives[g].string());
    EXPECT_EQ(e["created"], GenerationTime(set_, g));
    EXPECT_EQ(e["entries"], expected[g][0]) << g;
    EXPECT_EQ(e["added"], expected[g][1]) << g;
    EXPECT_EQ(e["changed"], expected[g][2]) << g;
    EXPECT_EQ(e["removed"], expected[g][3]) << g;
  }
  CliRun text = Cli("generations " + Q(files_.archives[0]));
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 5);  // heading and one line each
  EXPECT_NE(text.out.find(files_.archives[3].string()), std::string::npos);
}

TEST_F(GenerationsCliTest, ListShowsTheMergedViewOfTheChosenGeneration) {
  WriteSet();
  const json g3 = Json("list --json --generation 3 " + First());
  auto entries = ByPath(g3["entries"]);
  EXPECT_EQ(Paths(g3["entries"]),
            (std::vector<std::string>{"C:\\Data\\a.txt", "C:\\Data\\keep.txt", "C:\\Data\\c.txt",
                                      "C:\\Data\\New\\d.txt"}));
  // a.txt comes from generation 2's archive, keep.txt from the first: the
  // same records plain list shows for those archives.
  const auto second = ByPath(Json("list --json " + Q(files_.archives[1]))["entries"]);
  const auto first = ByPath(Json("list --json " + First())["entries"]);
  EXPECT_EQ(entries["C:\\Data\\a.txt"], second.at("C:\\Data\\a.txt"));
  EXPECT_EQ(entries["C:\\Data\\keep.txt"], first.at("C:\\Data\\keep.txt"));
  EXPECT_EQ(entries["C:\\Data\\a.txt"]["crc32"], Crc("a1"));
  EXPECT_EQ(entries["C:\\Data\\New\\d.txt"]["method"], "imploded");
  EXPECT_EQ(Paths(g3["folders"]), (std::vector<std::string>{"C:\\Data", "C:\\Data\\New"}));

  // Old comes back in generation 4 with the attributes recorded then.
  const json g4 = Json("list --json --generation 4 " + First());
  const auto folders = ByPath(g4["folders"]);
  ASSERT_EQ(folders.count("C:\\Data\\Old"), 1u);
  EXPECT_EQ(folders.at("C:\\Data\\Old"), json({{"path", "C:\\Data\\Old"}, {"attributes", 0x10}, {"created", 10},
                                               {"accessed", 11}, {"modified", 12}}));
  EXPECT_EQ(ByPath(g4["entries"]).count("C:\\Data\\c.txt"), 0u);
  EXPECT_EQ(ByPath(g4["entries"])["C:\\Data\\Old\\b.txt"]["crc32"], Crc("b3"));

  CliRun text = Cli("list --generation 2 " + First());
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("C:\\Data\\c.txt"), std::string::npos);
  EXPECT_EQ(text.out.find("b.txt"), std::string::npos);
  EXPECT_NE(text.out.find("3 files"), std::string::npos);

  CliRun beyond = Cli("list --generation 5 " + First());
  EXPECT_EQ(beyond.status, 2);
  EXPECT_NE(beyond.err.find("no generation 5"), std::string::npos);
  // Without --generation a .qpi is the one archive it is, as before.
  EXPECT_EQ(Paths(Json("list --json " + Q(files_.archives[1]))["entries"]),
            (std::vector<std::string>{"C:\\Data\\a.txt", "C:\\Data\\c.txt"}));
}

TEST_F(GenerationsCliTest, ARecordClimbingOutOfItsDriveIsNamedAndTheRestIsListedAndRestored) {
  set_.generations[0].files.push_back({.path = u"C:\\Data\\..\\..\\up.txt", .data = Bytes("up")});
  WriteSet();
  CliRun list = Cli("list --generation 1 " + First());
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("C:\\Data\\keep.txt"), std::string::npos);
  EXPECT_EQ(list.out.find("up.txt"), std::string::npos);
  EXPECT_NE(list.err.find("skipped C:\\Data\\..\\..\\up.txt: its path does not lie below a drive"), std::string::npos)
      << list.err;

  const fs::path dest = dir_ / "out";
  CliRun extract = Cli("extract --generation 1 " + First() + " " + Q(dest));
  EXPECT_EQ(extract.status, 1) << extract.err;
  EXPECT_NE(extract.err.find("skipped C:\\Data\\..\\..\\up.txt"), std::string::npos) << extract.err;
  EXPECT_TRUE(fs::exists(dest / "C" / "Data" / "keep.txt"));
  EXPECT_FALSE(fs::exists(dir_ / "up.txt"));
  EXPECT_FALSE(fs::exists(dest / "up.txt"));
}

TEST_F(GenerationsCliTest, TestChecksTheGenerationAndNamesTheArchiveOfEachDamagedEntry) {
  WriteSet();
  CliRun ok = Cli("test --generation 3 " + First());
  EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
  EXPECT_NE(ok.out.find("4 entries tested, 0 damaged"), std::string::npos);

  // Damage a.txt's data in generation 2's archive: generations 2 and 3 show
  // that entry, generation 4 has its own.
  const std::vector<uint8_t> bytes = ReadFileBytes(files_.archives[1]);
  const std::string text(bytes.begin(), bytes.end());
  const size_t at = text.find("a1");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(text.find("a1", at + 1), std::string::npos);
  FlipBits(files_.archives[1], at, 0x01);
  CliRun bad = Cli("test --generation 3 " + First());
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.out.find("DAMAGED  C:\\Data\\a.txt: CRC differs"), std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find("(in " + files_.archives[1].string() + ")"), std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find("4 entries tested, 1 damaged"), std::string::npos);
  EXPECT_EQ(Cli("test --generation 4 " + First()).status, 0);
  // Plain test of the first archive is untouched by the set.
  EXPECT_EQ(Cli("test " + First()).status, 0);
}

TEST_F(GenerationsCliTest, ExtractRestoresTheGenerationFromTheArchivesHoldingItsData) {
  WriteSet();
  const fs::path all = dir_ / "all";
  CliRun r = Cli("extract --generation 3 " + First() + " " + Q(all));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadAll(all / "C" / "Data" / "a.txt"), "a1");
  EXPECT_EQ(ReadAll(all / "C" / "Data" / "keep.txt"), "k");
  EXPECT_EQ(ReadAll(all / "C" / "Data" / "c.txt"), "c1");
  EXPECT_EQ(ReadAll(all / "C" / "Data" / "New" / "d.txt"), std::string(3000, 'd'));
  EXPECT_FALSE(fs::exists(all / "C" / "Data" / "Old"));
  // The log names the restored archive as the desktop program does.
  EXPECT_NE(r.out.find("set.qpm(3世代目)"), std::string::npos) << r.out;

  const fs::path some = dir_ / "some";
  r = Cli("extract --generation 4 " + First() + " " + Q(some) + " 'c:/data/old' 'C:\\Data\\a.txt'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadAll(some / "Old" / "b.txt"), "b3");
  EXPECT_EQ(ReadAll(some / "a.txt"), "a3");
  EXPECT_FALSE(fs::exists(some / "keep.txt"));

  r = Cli("extract --generation 3 " + First() + " " + Q(dir_ / "none") + " 'C:\\Data\\Old'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("nothing is stored at C:\\Data\\Old in generation 3"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "none"));
}

TEST_F(GenerationsCliTest, HistoryGivesEveryGenerationsStateOfOnePath) {
  WriteSet();
  const json a = Json("history --json " + First() + " 'C:\\DATA\\A.TXT'");
  EXPECT_EQ(a["path"], "C:\\Data\\a.txt");
  EXPECT_EQ(a["kind"], "file");
  ASSERT_EQ(a["generations"].size(), 4u);
  EXPECT_EQ(a["generations"][0]["state"], "stored");
  EXPECT_EQ(a["generations"][0]["crc32"], Crc("a0"));
  EXPECT_EQ(a["generations"][0]["size"], 2);
  EXPECT_EQ(a["generations"][0]["archive"], files_.archives[0].string());
  EXPECT_EQ(a["generations"][1]["archive"], files_.archives[1].string());
  EXPECT_EQ(a["generations"][2], json({{"generation", 3}, {"state", "unchanged"}, {"since", 2}}));
  EXPECT_EQ(a["generations"][3]["crc32"], Crc("a3"));

  const json c = Json("history --json " + First() + " C:/Data/c.txt");
  std::vector<std::string> states;
  for (const json& g : c["generations"]) states.push_back(g["state"]);
  EXPECT_EQ(states, (std::vector<std::string>{"absent", "stored", "unchanged", "removed"}));

  CliRun old = Cli("history " + First() + " 'C:\\Data\\Old'");
  ASSERT_EQ(old.status, 0) << old.err;
  EXPECT_NE(old.out.find("C:\\Data\\Old (folder)"), std::string::npos);
  EXPECT_NE(old.out.find("   2  unchanged since generation 1"), std::string::npos) << old.out;
  EXPECT_NE(old.out.find("   3  removed"), std::string::npos);
  EXPECT_NE(old.out.find("   4  stored  attributes 00000010"), std::string::npos);

  CliRun nothing = Cli("history " + First() + " 'C:\\Data\\zzz.txt'");
  EXPECT_EQ(nothing.status, 2);
  EXPECT_NE(nothing.err.find("records nothing at C:\\Data\\zzz.txt"), std::string::npos);
}

TEST_F(GenerationsCliTest, DiffComparesTwoGenerations) {
  WriteSet();
  const json d = Json("diff --json " + First() + " 1 4");
  EXPECT_EQ(Paths(d["files"]["added"]), (std::vector<std::string>{"C:\\Data\\New\\d.txt"}));
  EXPECT_TRUE(d["files"]["removed"].empty());
  // b.txt was removed and stored again between them: changed, like a.txt;
  // keep.txt is the same entry.
  EXPECT_EQ(Paths(d["files"]["changed"]), (std::vector<std::string>{"C:\\Data\\a.txt", "C:\\Data\\Old\\b.txt"}));
  EXPECT_EQ(d["files"]["changed"][0]["from"], json({{"size", 2}, {"crc32", Crc("a0")}}));
  EXPECT_EQ(d["files"]["changed"][0]["to"], json({{"size", 2}, {"crc32", Crc("a3")}}));
  EXPECT_EQ(d["folders"]["added"], json({"C:\\Data\\New"}));
  EXPECT_TRUE(d["folders"]["removed"].empty());

  CliRun r = Cli("diff " + First() + " 2 3");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("added    file    C:\\Data\\New\\d.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("added    folder  C:\\Data\\New"), std::string::npos);
  EXPECT_NE(r.out.find("removed  folder  C:\\Data\\Old"), std::string::npos);
  EXPECT_NE(r.out.find("1 file added, 0 removed, 0 changed; 1 folder added, 1 removed"), std::string::npos);
  // Backwards is the mirror image.
  const json back = Json("diff --json " + First() + " 3 2");
  EXPECT_EQ(Paths(back["files"]["removed"]), (std::vector<std::string>{"C:\\Data\\New\\d.txt"}));
  EXPECT_EQ(back["folders"]["added"], json({"C:\\Data\\Old"}));
  EXPECT_EQ(Cli("diff " + First() + " 1 9").status, 2);
}

TEST_F(GenerationsCliTest, MissingManagementFileLeavesTheOpenedArchiveAlone) {
  set_.writeManagement = false;
  WriteSet();
  // A .qpi is looked up by its own name: set_2.qpm, missing as well.
  for (const fs::path& archive : {files_.archives[0], files_.archives[1]}) {
    CliRun r = Cli("generations --json " + Q(archive));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string management = (dir_ / archive.stem()).string() + ".qpm";
    EXPECT_NE(r.err.find("tessera-cli: " + management + ": バックアップ管理ファイルが見つかりませんでした。"),
              std::string::npos)
        << r.err;
    const json j = json::parse(r.out);
    EXPECT_TRUE(j["rebuilt"].get<bool>());
    ASSERT_EQ(j["generations"].size(), 1u);
    EXPECT_EQ(j["generations"][0]["archive"], archive.string());
  }
  const json list = Json("list --json --generation 1 " + Q(files_.archives[1]));
  EXPECT_EQ(Paths(list["entries"]), (std::vector<std::string>{"C:\\Data\\a.txt", "C:\\Data\\c.txt"}));
  EXPECT_EQ(Cli("list --generation 2 " + First()).status, 2);
}

TEST_F(GenerationsCliTest, DamagedManagementFileIsRebuiltOnlyWhenAllowed) {
  WriteSet();
  TruncateFile(files_.management, 40);
  CliRun no = Cli("generations " + First());
  EXPECT_EQ(no.status, 2);
  EXPECT_NE(no.err.find("バックアップ管理ファイルの破損を検出しました。"), std::string::npos) << no.err;
  EXPECT_NE(no.err.find("--rebuild-damaged"), std::string::npos);
  EXPECT_NE(no.err.find(files_.management.string() + ": バックアップファイルの読み込みを中断しました。"),
            std::string::npos)
      << no.err;
  EXPECT_TRUE(no.out.empty());

  // Answering the question for the user does not hide what it says: the
  // later generations are gone from the rebuilt set.
  CliRun rebuilt = Cli("list --generation 1 --rebuild-damaged " + First());
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.err;
  EXPECT_NE(rebuilt.err.find("選択可能な世代は第1世代のみです"), std::string::npos) << rebuilt.err;
  EXPECT_NE(rebuilt.err.find("the rebuilt set has one generation"), std::string::npos) << rebuilt.err;

  // On a terminal the question is asked and the answer taken.
  const fs::path input = dir_ / "answer", shown = dir_ / "terminal";
  std::ofstream(input) << "y\n";
  const std::string command = std::string("timeout 60 script -qec \"'") + TESSERA_CLI + "' generations " + First() +
                              "\" /dev/null <'" + input.string() + "' >'" + shown.string() + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string terminal = ReadAll(shown);
  EXPECT_NE(terminal.find("(y/n): "), std::string::npos) << terminal;
  EXPECT_NE(terminal.find(files_.archives[0].string()), std::string::npos) << terminal;

  const json yes = Json("generations --json --rebuild-damaged " + First());
  EXPECT_TRUE(yes["rebuilt"].get<bool>());
  EXPECT_EQ(yes["generations"].size(), 1u);
  CliRun extract = Cli("extract --rebuild-damaged --generation 1 " + First() + " " + Q(dir_ / "out"));
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(ReadAll(dir_ / "out" / "C" / "Data" / "Old" / "b.txt"), "b0");
}

TEST_F(GenerationsCliTest, MissingOverwrittenAndIncompleteArchivesAreNamed) {
  set_.missingArchives = {2};
  WriteSet();
  CliRun missing = Cli("list --generation 1 " + First());
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find(files_.archives[2].string() + ": 差分バックアップファイルの読み込みに失敗しました。\n"
                                                          "tessera-cli: cannot open: No such file or directory"),
            std::string::npos)
      << missing.err;
  EXPECT_TRUE(missing.out.empty());

  // An archive that is no archive at all is named, not the management file
  // that was never there.
  const fs::path empty = dir_ / "empty.qpx";
  std::ofstream(empty).flush();
  CliRun unreadable = Cli("generations " + Q(empty));
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_NE(unreadable.err.find(empty.string() + ": バックアップ管理ファイルの読み込みに失敗しました。"), std::string::npos)
      << unreadable.err;
  EXPECT_NE(unreadable.err.find("tessera-cli: not an archive of this kind"), std::string::npos) << unreadable.err;

  set_.missingArchives.clear();
  set_.overwrittenArchives = {1};
  WriteSet();
  CliRun overwritten = Cli("history " + First() + " C:\\\\Data\\\\a.txt");
  EXPECT_EQ(overwritten.status, 2);
  EXPECT_NE(overwritten.err.find(files_.archives[1].string() + ": 差分バックアップファイルが正しくありません。"),
            std::string::npos)
      << overwritten.err;

  // The management file says c.txt is in generation 2's archive; it is not.
  set_.overwrittenArchives.clear();
  set_.gaps = {{1, u"C:\\Data\\c.txt"}};
  WriteSet();
  CliRun gap = Cli("test --generation 3 " + First());
  EXPECT_EQ(gap.status, 1);
  EXPECT_NE(gap.out.find("DAMAGED  C:\\Data\\c.txt: missing from " + files_.archives[1].string()), std::string::npos)
      << gap.out;
  EXPECT_NE(Json("list --json --generation 2 " + First())["entries"].dump().find("\"method\":\"missing\""),
            std::string::npos);
  CliRun extract = Cli("extract --generation 2 " + First() + " " + Q(dir_ / "out"));
  EXPECT_EQ(extract.status, 2);
  EXPECT_NE(extract.err.find("C:\\Data\\c.txt is missing from " + files_.archives[1].string()), std::string::npos)
      << extract.err;
  // Generation 4 no longer shows c.txt and restores.
  EXPECT_EQ(Cli("extract --generation 4 " + First() + " " + Q(dir_ / "out4")).status, 0);
}

TEST_F(GenerationsCliTest, ASetInAFolderWithABackslashFindsItsArchivesAndManagementFile) {
  const fs::path folder = dir_ / "old\\sets";
  fs::create_directories(folder);
  files_ = WriteBackupSet(set_, folder);
  ASSERT_TRUE(fs::exists(folder / "set.qpm"));
  const json j = Json("generations --json " + First());
  EXPECT_FALSE(j["rebuilt"].get<bool>());
  EXPECT_EQ(j["management"], files_.management.string());
  ASSERT_EQ(j["generations"].size(), 4u);
  EXPECT_EQ(j["generations"][3]["archive"], files_.archives[3].string());
  const fs::path dest = dir_ / "out\\..\\x";
  CliRun r = Cli("extract --generation 2 " + First() + " " + Q(dest));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_directory(dest)) << r.err;
}

}  // namespace
