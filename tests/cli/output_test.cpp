// What tessera-cli prints must be true and stay in its place: names holding
// control characters are shown escaped, a reader of standard output that
// goes away or a closed standard output never costs the restore, its --log
// file or its summary, and what cannot be opened or shown says why.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "host/text.h"
#include "support/archive_writer.h"
#include "support/backup_set_writer.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using clitest::CliRun;
using clitest::Q;
using clitest::ReadAll;

// A name that would clear the screen, end the line and forge one of ours.
const std::u16string kHostileName = u"a\x1b[2J\nDAMAGED  forged\t\x7f\x85.txt";
const std::string kHostileShown = "a\\x1B[2J\\x0ADAMAGED  forged\\x09\\x7F\\u{0085}.txt";

class OutputTest : public clitest::CliFixture {
 protected:
  OutputTest() : CliFixture("tessera-output-") {}

  static ArchiveSpec Plan() {
    ArchiveSpec plan;
    plan.folders = {{u"C:\\Data", 0x10}};
    plan.fileList = {{u"C:\\Data", 1}};
    plan.entries = {{.folder = u"C:\\Data", .name = kHostileName, .data = Bytes("hostile")},
                    {.folder = u"C:\\Data", .name = u"plain.txt", .data = Bytes("plain")}};
    return plan;
  }

  // The command with standard output on a pipe whose reader is gone; the
  // exit status, or -1 when a signal ended it.
  int WithBrokenOutput(const std::vector<std::string>& args, std::string& err) {
    int fds[2];
    if (::pipe(fds) != 0) return -3;
    ::close(fds[0]);
    const fs::path errFile = dir_ / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      const int e = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(e, STDERR_FILENO);
      const int in = ::open("/dev/null", O_RDONLY);
      ::dup2(in, STDIN_FILENO);
      // The default a shell would give: the signal kills.
      ::signal(SIGPIPE, SIG_DFL);
      std::vector<char*> argv{const_cast<char*>(TESSERA_CLI)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(TESSERA_CLI, argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    err = ReadAll(errFile);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
};

TEST_F(OutputTest, ControlCharactersInNamesAreShownEscapedButKeptInJsonAndOnDisk) {
  const fs::path archive = Write(Plan(), "backup.qpx");
  CliRun list = Cli("list " + Q(archive));
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("C:\\Data\\" + kHostileShown + "\n"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(list.out.find("\nDAMAGED"), std::string::npos);

  CliRun json = Cli("list --json " + Q(archive));
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(nlohmann::json::parse(json.out)["entries"][0]["path"], "C:\\Data\\a\x1b[2J\nDAMAGED  forged\t\x7f\xc2\x85.txt");

  // A log line names the archive, whose host name holds the same characters;
  // the printed line shows them escaped, the saved log keeps them.
  ArchiveSpec plain = Plan();
  plain.entries.erase(plain.entries.begin());
  const std::string hostileFile = "b\x1b[2J\nDAMAGED\t\x7f.qpx";
  const fs::path named = Write(plain, hostileFile);
  CliRun extract = Cli("extract --log " + Q(dir_ / "log.txt") + " " + Q(named) + " " + Q(dir_ / "out"));
  ASSERT_EQ(extract.status, 0) << extract.err;
  EXPECT_NE(extract.out.find((dir_ / "b\\x1B[2J\\x0ADAMAGED\\x09\\x7F.qpx").string() + " の復元処理を開始しました。\n"),
            std::string::npos)
      << extract.out;
  EXPECT_EQ(extract.out.find('\x1b'), std::string::npos);
  EXPECT_NE(ReadAll(dir_ / "log.txt").find("b\x1b[2J"), std::string::npos);
}

TEST_F(OutputTest, SetCommandsShowControlCharactersEscaped) {
  BackupSetSpec set;
  set.generations.resize(2);
  set.generations[0].folders = {{u"C:\\Data"}};
  set.generations[0].files = {{.path = u"C:\\Data\\" + kHostileName, .data = Bytes("one")}};
  set.generations[1].folders = {{u"C:\\Data"}};
  set.generations[1].files = {{.path = u"C:\\Data\\" + kHostileName, .data = Bytes("two!")}};
  const BackupSetFiles files = WriteBackupSet(set, dir_);
  const std::string first = Q(files.archives[0]);

  CliRun diff = Cli("diff " + first + " 1 2");
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_NE(diff.out.find("changed  file    C:\\Data\\" + kHostileShown), std::string::npos) << diff.out;
  CliRun history = Cli("history " + first + " 'C:\\Data\\" + host::WideToUtf8(kHostileName) + "'");
  ASSERT_EQ(history.status, 0) << history.err;
  EXPECT_EQ(history.out.rfind("C:\\Data\\" + kHostileShown + " (file)\n", 0), 0u) << history.out;
  for (const std::string& command : {"diff " + first + " 1 2", "list --generation 2 " + first,
                                     "history " + first + " 'C:\\Data\\" + host::WideToUtf8(kHostileName) + "'"}) {
    CliRun r = Cli(command);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << command;
    EXPECT_EQ(r.out.find("\nDAMAGED  forged"), std::string::npos) << command;
  }
}

TEST_F(OutputTest, InvisibleFormatCharactersAreEscapedAndHalfSurrogateNamesStayApart) {
  const std::u16string reversed = u"rtl\u202etxt.exe";
  const std::u16string half80 = std::u16string(u"x") + u'\xDC80' + u".txt";
  const std::u16string half81 = std::u16string(u"x") + u'\xDC81' + u".txt";
  BackupSetSpec set;
  set.generations.resize(1);
  set.generations[0].folders = {{u"C:\\Data"}};
  for (const std::u16string& name : {reversed, half80, half81})
    set.generations[0].files.push_back({.path = u"C:\\Data\\" + name, .data = Bytes("x")});
  const std::string first = Q(WriteBackupSet(set, dir_).archives[0]);

  CliRun list = Cli("list " + first);
  ASSERT_EQ(list.status, 0) << list.err;
  for (const char* shown : {"C:\\Data\\rtl\\u{202E}txt.exe\n", "C:\\Data\\x\\u{DC80}.txt\n",
                            "C:\\Data\\x\\u{DC81}.txt\n"})
    EXPECT_NE(list.out.find(shown), std::string::npos) << shown << "\n" << list.out;
  EXPECT_EQ(list.out.find("\xe2\x80\xae"), std::string::npos);

  // JSON carries each name exactly: the format character as itself, each
  // lone half as its own escape, never both as U+FFFD.
  for (const std::string& command : {"list --json " + first, "find --json " + first + " '*'"}) {
    CliRun json = Cli(command);
    ASSERT_EQ(json.status, 0) << command << json.err;
    EXPECT_NE(json.out.find("\"C:\\\\Data\\\\x\\udc80.txt\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"C:\\\\Data\\\\x\\udc81.txt\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"C:\\\\Data\\\\rtl\xe2\x80\xaetxt.exe\""), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find("\xef\xbf\xbd"), std::string::npos) << command;
    // The rest of the document is as the JSON library writes it.
    std::string plain = json.out;
    for (const char* half : {"\\udc80", "\\udc81"}) plain.replace(plain.find(half), 6, "_");
    EXPECT_TRUE(nlohmann::json::accept(plain)) << command;
  }

  // A host path is bytes: one that is not UTF-8 stays exact, each stray byte
  // its own lone half, and the document is still written.
  const fs::path odd = dir_ / "caf\xE9";
  fs::create_directories(odd);
  CliRun generations = Cli("generations --json " + Q(WriteBackupSet(set, odd).archives[0]));
  ASSERT_EQ(generations.status, 0) << generations.err;
  const size_t management = generations.out.find("caf\\udce9");  // and then the archive
  ASSERT_NE(management, std::string::npos) << generations.out;
  EXPECT_NE(generations.out.find("caf\\udce9", management + 1), std::string::npos) << generations.out;
}

TEST_F(OutputTest, ABrokenOrClosedStandardOutputLeavesTheRestoreTheLogFileAndTheSummary) {
  ArchiveSpec plan = Plan();
  plan.entries.erase(plan.entries.begin());
  const fs::path archive = Write(plan, "backup.qpx");
  const fs::path dest = dir_ / "out", log = dir_ / "log.txt";
  std::string err;
  const int status =
      WithBrokenOutput({"extract", "--log", log.string(), archive.string(), dest.string()}, err);
  EXPECT_EQ(status, 2) << err;
  EXPECT_EQ(ReadAll(dest / "C" / "Data" / "plain.txt"), "plain");
  EXPECT_NE(ReadAll(log).find(archive.string()), std::string::npos);
  EXPECT_NE(err.find("1 restored, 0 skipped, 0 failed"), std::string::npos) << err;
  EXPECT_NE(err.find("standard output: the restore log could not be printed"), std::string::npos) << err;

  // Closed from the start: the descriptor is not handed to a restored file
  // or the log file, which would then receive the printed log.
  const fs::path dest2 = dir_ / "out2", log2 = dir_ / "log2.txt";
  const std::string command = std::string("timeout 60 '") + TESSERA_CLI + "' extract --log " + Q(log2) + " " +
                              Q(archive) + " " + Q(dest2) + " >&- 2>" + Q(dir_ / "closed-err") + " </dev/null";
  const int raw = std::system(command.c_str());
  CliRun closed{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", ReadAll(dir_ / "closed-err")};
  EXPECT_EQ(closed.status, 2) << closed.err;
  EXPECT_EQ(ReadAll(dest2 / "C" / "Data" / "plain.txt"), "plain");
  EXPECT_EQ(ReadAll(log2), ReadAll(log));
  EXPECT_NE(closed.err.find("standard output is closed"), std::string::npos) << closed.err;
}

TEST_F(OutputTest, WhatCannotBeOpenedOrDoesNotExistSaysWhy) {
  // A FIFO would block the open until a writer came.
  const fs::path fifo = dir_ / "pipe.qpx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& command : {"info " + Q(fifo), "list " + Q(fifo), "extract " + Q(fifo) + " " + Q(dir_ / "o"),
                                     std::string("info /dev/null"), "list " + Q(dir_)}) {
    CliRun r = Cli(command);
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_NE(r.err.find(": not a regular file"), std::string::npos) << command << "\n" << r.err;
  }

  // A destination the system cannot name.
  const fs::path archive = Write(Plan(), "backup.qpx");
  CliRun longName = Cli("extract " + Q(archive) + " " + Q(dir_ / std::string(300, 'n')));
  EXPECT_EQ(longName.status, 2);
  EXPECT_NE(longName.err.find("File name too long"), std::string::npos) << longName.err;
  std::string deep = dir_.string();
  while (deep.size() < 5000) deep += "/" + std::string(200, 'd');
  CliRun longPath = Cli("extract " + Q(archive) + " " + Q(deep));
  EXPECT_EQ(longPath.status, 2);
  EXPECT_NE(longPath.err.find("File name too long"), std::string::npos) << longPath.err;

  // Generations count from 1; the message gives the set's range.
  BackupSetFiles files = WriteBackupSet(SampleBackupSet(), dir_);
  for (const std::string& command :
       {"list --generation 0 " + Q(files.archives[0]), "extract --generation 0 " + Q(files.archives[0]) + " " +
                                                            Q(dir_ / "o"),
        "diff " + Q(files.archives[0]) + " 0 2", "test --generation 9 " + Q(files.archives[0])}) {
    CliRun r = Cli(command);
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_NE(r.err.find("generations count from 1, and the backup set has generations 1 to 4"), std::string::npos)
        << command << "\n" << r.err;
  }
}

TEST_F(OutputTest, RecordsTheMergedViewCannotHoldAreCountedAsSkipped) {
  // C:\Data\x is a file in generation 1 and a folder in generation 2.
  BackupSetSpec set;
  set.generations.resize(2);
  set.generations[0].folders = {{u"C:\\Data"}};
  set.generations[0].files = {{.path = u"C:\\Data\\x", .data = Bytes("file")},
                              {.path = u"C:\\Data\\keep.txt", .data = Bytes("k")}};
  set.generations[1].folders = {{u"C:\\Data"}, {u"C:\\Data\\x"}};
  set.generations[1].files = {{.path = u"C:\\Data\\x\\y.txt", .data = Bytes("y")},
                              {.path = u"C:\\Data\\keep.txt", .data = Bytes("k")}};
  const BackupSetFiles files = WriteBackupSet(set, dir_);
  const std::string first = Q(files.archives[0]);

  CliRun list = Cli("list --generation 1 " + first);
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.err.find("skipped C:\\Data\\x: it is a file in one generation and a folder in another"),
            std::string::npos)
      << list.err;
  EXPECT_NE(list.out.find("1 record skipped"), std::string::npos) << list.out;

  CliRun extract = Cli("extract --generation 1 " + first + " " + Q(dir_ / "out"));
  EXPECT_EQ(extract.status, 1) << extract.err;
  EXPECT_NE(extract.err.find("skipped C:\\Data\\x:"), std::string::npos) << extract.err;
  EXPECT_NE(extract.err.find("1 restored, 1 skipped"), std::string::npos) << extract.err;
  // A chosen path that does not hold it restores cleanly.
  CliRun other = Cli("extract --generation 1 " + first + " " + Q(dir_ / "out2") + " 'C:\\Data\\keep.txt'");
  EXPECT_EQ(other.status, 0) << other.err;
}

}  // namespace
