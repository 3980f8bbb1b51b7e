// tessera-cli extract on real archives: what lands on disk, the log it prints
// and saves, how it answers questions with and without a terminal, and its
// exit statuses.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "host/text.h"
#include "cli/cli_fixture.h"
#include "support/archive_writer.h"
#include "support/corrupt.h"
#include "support/mounted_volume.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using clitest::CliRun;
using clitest::Q;
using clitest::ReadAll;

std::vector<uint8_t> Contents(const fs::path& p) { return ReadFileBytes(p); }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Wordings of log lines, without their paths.
const std::string kStarted = "の復元処理を開始しました。";
const std::string kEnded = "の復元処理が終了しました。";
const std::string kOverwritten = "を上書きしました。";
const std::string kSkipped = "をスキップしました。";
const std::string kCancelled = "復元処理が中止されました。";
const std::string kCheckFailed = "の復元後のチェックに失敗しました。";  // CRC differs, continued
const std::string kCheckStopped = "の復元後のチェックに失敗したため、復元を中止しました。";
const std::string kDamaged = "バックアップデータが壊れている可能性があります。";

class ExtractTest : public clitest::CliFixture {
 protected:
  ExtractTest() : CliFixture("tessera-extract-") {}

  void SetUp() override {
    CliFixture::SetUp();
    dest_ = dir_ / "out";
  }

  // The command on a terminal (through script(1)), fed `input`; what the
  // terminal showed comes back in `out`.
  CliRun OnTerminal(const std::string& args, const std::string& input) {
    const fs::path in = dir_ / "input", shown = dir_ / "terminal", status = dir_ / "status";
    std::ofstream(in) << input;
    const std::string inner = std::string("'") + TESSERA_CLI + "' " + args + "; echo $? >'" + status.string() + "'";
    std::string quoted;
    for (char c : inner) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    const std::string command = "timeout 60 script -qec '" + quoted + "' /dev/null <'" + in.string() + "' >'" +
                                shown.string() + "' 2>&1";
    std::system(command.c_str());
    CliRun r;
    const std::string code = ReadAll(status);
    r.status = code.empty() ? -1 : std::stoi(code);
    r.out = ReadAll(shown);
    return r;
  }

  fs::path Write(const ArchiveSpec& plan, const std::string& name = "backup.qpx") {
    return CliFixture::Write(plan, name);
  }

  // Two drives, nested folders, an empty folder, a read-only file and an
  // imploded one, a file in a drive root.
  static ArchiveSpec Plan() {
    ArchiveSpec plan;
    plan.folders = {{u"C:\\Data", 0x10, 0, 0, FileTime(2022, 1, 2)},
                    {u"C:\\Data\\Sub", 0x10, 0, 0, FileTime(2022, 3, 4)},
                    {u"C:\\Data\\Empty", 0x10},
                    {u"D:\\Work", 0x10}};
    plan.fileList = {{u"C:\\Data", 1}, {u"D:\\Work", 1}};
    plan.entries = {
        {.folder = u"C:\\Data", .name = u"a.txt", .data = Bytes("alpha"), .modified = FileTime(2021, 5, 6)},
        {.folder = u"C:\\Data\\Sub", .name = u"表.bin", .data = NoiseBytes(5000, 1), .method = Method::Imploded},
        {.folder = u"C:\\Data\\Sub", .name = u"ro.txt", .data = Bytes("read only"), .attributes = 0x21},
        {.folder = u"C:", .name = u"root.txt", .data = Bytes("root")},
        {.folder = u"D:\\Work", .name = u"w.txt", .data = Bytes("work")},
    };
    return plan;
  }

  fs::path dest_;
};

TEST_F(ExtractTest, WithoutPathsEveryDriveGoesBelowItsLetter) {
  const ArchiveSpec plan = Plan();
  const fs::path archive = Write(plan);
  CliRun r = Cli("extract " + Q(archive) + " " + Q(dest_));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Contents(dest_ / "C" / "Data" / "a.txt"), plan.entries[0].data);
  EXPECT_EQ(Contents(dest_ / "C" / "Data" / "Sub" / "表.bin"), plan.entries[1].data);
  EXPECT_EQ(Contents(dest_ / "C" / "root.txt"), plan.entries[3].data);
  EXPECT_EQ(Contents(dest_ / "D" / "Work" / "w.txt"), plan.entries[4].data);
  EXPECT_TRUE(fs::is_directory(dest_ / "C" / "Data" / "Empty"));
  // Times and the read-only attribute come back.
  struct stat st {};
  ASSERT_EQ(::stat((dest_ / "C" / "Data" / "a.txt").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_mtim.tv_sec), (FileTime(2021, 5, 6) - 116444736000000000ull) / 10000000u);
  EXPECT_EQ(fs::status(dest_ / "C" / "Data" / "Sub" / "ro.txt").permissions() & fs::perms::owner_write,
            fs::perms::none);

  // One run per drive, each logged with the archive's host path.
  EXPECT_EQ(Count(r.out, archive.string() + " " + kStarted), 2u) << r.out;
  EXPECT_EQ(Count(r.out, archive.string() + " " + kEnded), 2u);
  EXPECT_EQ(r.out.find("Z:"), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find("Z:"), std::string::npos) << r.err;
  // Standard error is no terminal here: no progress line.
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_NE(r.err.find("5 restored, 0 skipped, 0 failed"), std::string::npos) << r.err;

  // Quiet and everything restored: nothing at all, but a saved log is whole.
  const fs::path logFile = dir_ / "quiet.log";
  r = Cli("extract --quiet --log " + Q(logFile) + " " + Q(archive) + " " + Q(dir_ / "quiet"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  std::string ended;
  ASSERT_TRUE(host::WideToAnsi(host::Utf8ToWide(kEnded), ended));
  EXPECT_EQ(Count(ReadAll(logFile), ended), 2u);
  EXPECT_TRUE(fs::is_regular_file(dir_ / "quiet" / "D" / "Work" / "w.txt"));
}

TEST_F(ExtractTest, ChosenFoldersAndFilesLandUnderTheirOwnNames) {
  const ArchiveSpec plan = Plan();
  const fs::path archive = Write(plan);
  CliRun r = Cli("extract " + Q(archive) + " " + Q(dest_) + " 'c:\\DATA\\sub' 'C:\\data\\A.TXT' 'd:/work/'");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Contents(dest_ / "Sub" / "表.bin"), plan.entries[1].data);
  EXPECT_EQ(Contents(dest_ / "a.txt"), plan.entries[0].data);
  EXPECT_EQ(Contents(dest_ / "Work" / "w.txt"), plan.entries[4].data);
  EXPECT_FALSE(fs::exists(dest_ / "Data"));
  EXPECT_FALSE(fs::exists(dest_ / "root.txt"));
  // The chosen folder gets its stored times; the destination keeps its own.
  struct stat st {};
  ASSERT_EQ(::stat((dest_ / "Sub").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_mtim.tv_sec), (FileTime(2022, 3, 4) - 116444736000000000ull) / 10000000u);

  // A drive named alone goes below its letter.
  r = Cli("extract " + Q(archive) + " " + Q(dir_ / "drive") + " 'd:'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_regular_file(dir_ / "drive" / "D" / "Work" / "w.txt"));
}

TEST_F(ExtractTest, APathNotInTheArchiveRestoresNothing) {
  const fs::path archive = Write(Plan());
  CliRun r = Cli("extract " + Q(archive) + " " + Q(dest_) + " 'C:\\Data' 'C:\\Dat'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tessera-cli: " + archive.string() + ": nothing is stored at C:\\Dat\n");
  EXPECT_FALSE(fs::exists(dest_));
  EXPECT_TRUE(r.out.empty());
}

TEST_F(ExtractTest, ExistingFilesAreSkippedUnlessOverwriteIsGiven) {
  const ArchiveSpec plan = Plan();
  const fs::path archive = Write(plan);
  const std::string args = "extract " + Q(archive) + " " + Q(dest_) + " 'C:\\Data\\Sub'";
  ASSERT_EQ(Cli(args).status, 0);
  const fs::path changed = dest_ / "Sub" / "表.bin";
  WriteFileBytes(changed, Bytes("mine"));

  // Without a terminal and without options an existing file is left alone.
  for (const char* option : {"", " --skip-existing"}) {
    CliRun r = Cli(args + option);
    EXPECT_EQ(r.status, 1) << option << r.err;
    EXPECT_EQ(Contents(changed), Bytes("mine"));
    EXPECT_NE(r.out.find(changed.string() + "　" + kSkipped), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, kSkipped), 2u) << r.out;
    EXPECT_NE(r.err.find("0 restored, 2 skipped, 0 failed"), std::string::npos) << r.err;
  }

  // Overwriting replaces the read-only file as well.
  CliRun r = Cli(args + " --overwrite");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Contents(changed), plan.entries[1].data);
  EXPECT_EQ(Contents(dest_ / "Sub" / "ro.txt"), plan.entries[2].data);
  EXPECT_EQ(Count(r.out, kOverwritten), 2u) << r.out;

  EXPECT_EQ(Cli(args + " --overwrite --skip-existing").status, 2);
}

TEST_F(ExtractTest, ADamagedEntryStopsTheRunUnlessYesContinues) {
  ArchiveSpec plan = Plan();
  plan.entries[0].crc = 0x12345678;  // a.txt: its contents do not give the recorded CRC
  const fs::path archive = Write(plan);
  const std::string args = "extract " + Q(archive) + " " + Q(dest_) + " 'C:\\Data'";

  CliRun stopped = Cli(args);
  EXPECT_EQ(stopped.status, 2) << stopped.out << stopped.err;
  EXPECT_NE(stopped.err.find("no terminal to ask"), std::string::npos) << stopped.err;
  EXPECT_NE(stopped.out.find((dest_ / "Data" / "a.txt").string() + "　" + kCheckStopped), std::string::npos)
      << stopped.out;
  EXPECT_NE(stopped.out.find(kCancelled), std::string::npos);
  EXPECT_EQ(stopped.out.find(kEnded), std::string::npos);
  EXPECT_FALSE(fs::exists(dest_ / "Data" / "Sub" / "表.bin")) << "the run went on after stopping";

  fs::remove_all(dest_);
  CliRun yes = Cli(args + " --yes");
  EXPECT_EQ(yes.status, 1) << yes.out << yes.err;
  EXPECT_NE(yes.out.find(kCheckFailed), std::string::npos) << yes.out;
  EXPECT_NE(yes.out.find(kEnded), std::string::npos);
  EXPECT_EQ(Contents(dest_ / "Data" / "Sub" / "表.bin"), plan.entries[1].data);
  EXPECT_NE(yes.err.find("2 restored, 0 skipped, 1 failed"), std::string::npos) << yes.err;
}

TEST_F(ExtractTest, AQuestionPrintedWithoutATerminalShowsTheNameEscaped) {
  ArchiveSpec plan = Plan();
  plan.entries[0].name = u"a\u2028b.txt";  // a line separator: a name the host holds, a line break on a terminal
  plan.entries[0].crc = 0x12345678;
  CliRun stopped = Cli("extract " + Q(Write(plan)) + " " + Q(dest_) + " 'C:\\Data'");
  EXPECT_EQ(stopped.status, 2) << stopped.err;
  EXPECT_NE(stopped.err.find("a\\u{2028}b.txt"), std::string::npos) << stopped.err;
  EXPECT_EQ(stopped.err.find("\u2028"), std::string::npos) << stopped.err;
}

TEST_F(ExtractTest, BrokenCompressedDataIsPassedOverWithYes) {
  ArchiveSpec plan = Plan();
  const fs::path archive = Write(plan);
  const auto& place = layout_.entries[1];  // the imploded entry
  OverwriteBytes(archive, place.data + 2, std::vector<uint8_t>(place.dataSize - 2, 0xFF));
  CliRun r = Cli("extract --yes " + Q(archive) + " " + Q(dest_));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find(kDamaged), std::string::npos) << r.out;
  EXPECT_EQ(Contents(dest_ / "D" / "Work" / "w.txt"), plan.entries[4].data);
  EXPECT_NE(r.err.find("4 restored, 0 skipped, 1 failed"), std::string::npos) << r.err;
}

TEST_F(ExtractTest, AnEntryOnNoDriveIsReportedNotDropped) {
  ArchiveSpec plan = Plan();
  plan.entries.push_back({.folder = u"Loose", .name = u"x.txt", .data = Bytes("x")});
  const fs::path archive = Write(plan);
  CliRun r = Cli("extract " + Q(archive) + " " + Q(dest_));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("1 entry stored without a drive in its folder not restored"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("5 restored, 0 skipped, 1 failed"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dest_ / "Loose"));
}

TEST_F(ExtractTest, LogFileHoldsThePrintedLinesInCodePage932WithCrLf) {
  const fs::path archive = Write(Plan());
  const std::string args = "extract " + Q(archive) + " " + Q(dest_) + " 'C:\\Data\\Sub'";
  ASSERT_EQ(Cli(args).status, 0);
  const fs::path logFile = dir_ / "restore.log";
  CliRun r = Cli(args + " --quiet --log " + Q(logFile));
  ASSERT_EQ(r.status, 1) << r.err;
  // Quiet, but not everything was restored: the summary alone.
  EXPECT_EQ(r.err, "tessera-cli: " + dest_.string() + ": 0 restored, 2 skipped, 0 failed\n");
  ASSERT_EQ(Count(r.out, "\n"), 4u) << r.out;
  std::u16string expected = host::Utf8ToWide(r.out);
  for (size_t at = expected.find(u'\n'); at != std::u16string::npos; at = expected.find(u'\n', at + 2))
    expected.replace(at, 1, u"\r\n");
  std::string bytes;
  ASSERT_TRUE(host::WideToAnsi(expected, bytes));
  EXPECT_EQ(ReadAll(logFile), bytes);

  // A log that cannot be written is an error of its own.
  r = Cli(args + " --quiet --log " + Q(dir_ / "no" / "such" / "folder.log"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("folder.log: "), std::string::npos) << r.err;
}

TEST_F(ExtractTest, ADestinationThatCannotBeMadeStopsBeforeAnything) {
  const fs::path archive = Write(Plan());
  const fs::path blocker = dir_ / "file";
  std::ofstream(blocker) << "x";
  CliRun r = Cli("extract " + Q(archive) + " " + Q(blocker / "out"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.find("tessera-cli: " + (blocker / "out").string() + ": "), 0u) << r.err;
  r = Cli("extract " + Q(archive) + " " + Q(blocker));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(": not a folder"), std::string::npos) << r.err;

  EXPECT_EQ(Cli("extract " + Q(dir_ / "none.qpx") + " " + Q(dest_)).status, 2);
  EXPECT_FALSE(fs::exists(dest_));
}

TEST_F(ExtractTest, OnATerminalTheQuestionsAreAsked) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) is not installed";
  ArchiveSpec plan = Plan();
  plan.entries[1].crc = 1;  // 表.bin: CRC differs
  const fs::path archive = Write(plan);
  const std::string args = "extract " + Q(archive) + " " + Q(dest_) + " 'C:\\Data'";
  ASSERT_EQ(Cli(args + " --yes").status, 1);
  WriteFileBytes(dest_ / "Data" / "a.txt", Bytes("mine"));

  // Skip the existing a.txt; an unknown key asks again; overwrite 表.bin's
  // old copy, then continue after its check fails; overwrite all the rest.
  CliRun r = OnTerminal(args + " --quiet", "s\nx\ny\nc\na\n");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("上書き(Y) / すべて上書き(A) / スキップ(S): "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("継続(C) / すべて継続(A) / 復元を中止(E): "), std::string::npos) << r.out;
  EXPECT_EQ(Contents(dest_ / "Data" / "a.txt"), Bytes("mine"));
  EXPECT_NE(r.out.find(kCheckFailed), std::string::npos) << r.out;
  EXPECT_EQ(Count(r.out, kOverwritten), 2u) << r.out;

  // The end of the input closes a question, which stops the run.
  fs::remove(dest_ / "Data" / "Sub" / "表.bin");
  r = OnTerminal(args + " --quiet --overwrite", "");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find(kCancelled), std::string::npos) << r.out;
}

// A backslash is an ordinary character of a Linux name: every host path the
// user gives names exactly what was typed, never a folder above it.
TEST_F(ExtractTest, HostPathsWithBackslashesNameWhatWasTyped) {
  const ArchiveSpec plan = Plan();
  const fs::path holder = dir_ / "my\\backups";
  fs::create_directories(holder);
  ArchiveSpec split = Plan();
  split.volumeSize = 4096;
  const fs::path archive = CliFixture::Write(split, "my\\backups/arc\\1.qpx");
  ASSERT_TRUE(fs::exists(holder / "arc\\1.qpx.1"));

  CliRun info = Cli("info " + Q(archive));
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("Split:         yes"), std::string::npos) << info.out;

  // DEST two levels down would be dir_ itself if the backslashes separated.
  fs::create_directories(dir_ / "a" / "out" / ".." / "..");
  const fs::path dest = dir_ / "a" / "out\\..\\..\\up";
  fs::create_directories(dir_ / "sub" / "logs");
  const fs::path log = dir_ / "sub" / "logs\\..\\x.log";
  CliRun r = Cli("extract " + Q(archive) + " " + Q(dest) + " 'C:\\Data' --log " + Q(log));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Contents(dest / "Data" / "a.txt"), plan.entries[0].data);
  EXPECT_FALSE(fs::exists(dir_ / "up"));
  EXPECT_FALSE(fs::exists(dir_ / "a" / "up"));
  EXPECT_TRUE(fs::is_regular_file(log));
  EXPECT_FALSE(fs::exists(dir_ / "sub" / "x.log"));
  // Users see the paths as they are.
  EXPECT_NE(r.out.find(archive.string() + " " + kStarted), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(dest.string() + ": "), std::string::npos) << r.err;
}

// Attributes the target has no place for are no failure, but they are told
// once, with the file system and how many files and folders lost which.
TEST_F(ExtractTest, AttributesTheFileSystemCannotKeepAreReportedOnceNotFailed) {
  testsupport::MountedVolume volume(testsupport::VolumeKind::kTmpfs, 1024);
  if (!volume.IsMounted()) GTEST_SKIP() << volume.SkipReason();
  ArchiveSpec plan = Plan();
  plan.folders[1].attributes = 0x12;      // C:\Data\Sub hidden
  plan.entries[0].attributes = 0x26;      // a.txt hidden, system, archive
  const fs::path archive = Write(plan);
  const fs::path dest = volume.HostPath("out");
  CliRun r = Cli("extract " + Q(archive) + " " + Q(dest) + " 'C:\\Data'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("3 restored, 0 skipped, 0 failed; not kept by tmpfs: hidden (1 file, 1 folder), "
                       "system (1 file), archive (3 files)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Count(r.out, "ファイルシステム　tmpfs　には次の属性を保存する場所がないため、復元しませんでした："
                         "隠し（ファイル 1、フォルダ 1）、システム（ファイル 1）、アーカイブ（ファイル 3）\n"),
            1u)
      << r.out;
  // Read-only is kept everywhere.
  EXPECT_EQ(fs::status(dest / "Data" / "Sub" / "ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
}

}  // namespace

namespace {

// ---- Links, the files the command reads, names the target cannot hold

TEST_F(ExtractTest, NothingIsWrittenThroughALinkBelowDestButDestMayBeReachedThroughOne) {
  const ArchiveSpec plan = Plan();
  const fs::path archive = Write(plan);
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "a.txt") << "keep";
  // DEST through a linked parent, and a link at DEST/C/Data.
  fs::create_directories(dir_ / "real" / "out" / "C");
  fs::create_directory_symlink(dir_ / "real", dir_ / "home");
  fs::create_directory_symlink(elsewhere, dir_ / "real" / "out" / "C" / "Data");
  const fs::path dest = dir_ / "home" / "out";
  CliRun r = Cli("extract --overwrite --yes " + Q(archive) + " " + Q(dest));
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(ReadAll(elsewhere / "a.txt"), "keep");
  EXPECT_FALSE(fs::exists(elsewhere / "Sub"));
  EXPECT_EQ(Count(r.out, (dest / "C" / "Data").string() +
                             "：フォルダの位置にシンボリックリンクがあります。リンクはたどらず"),
            4u)
      << r.out;
  EXPECT_EQ(Count(r.out, kOverwritten), 0u);
  EXPECT_EQ(Contents(dest / "C" / "root.txt"), plan.entries[3].data);
  EXPECT_EQ(Contents(dest / "D" / "Work" / "w.txt"), plan.entries[4].data);
  EXPECT_NE(r.err.find("2 restored, 0 skipped, 3 failed, 1 folders not restored"), std::string::npos) << r.err;
}

TEST_F(ExtractTest, OverwriteNeverReplacesTheArchiveItsVolumesOrTheLog) {
  ArchiveSpec plan;
  plan.folders = {{u"C:\\Data", 0x10}};
  plan.entries = {
      {.folder = u"C:\\Data", .name = u"backup.qpx", .data = Bytes("not the archive")},
      {.folder = u"C:\\Data", .name = u"run.log", .data = Bytes("not the log")},
      {.folder = u"C:\\Data", .name = u"x.txt", .data = Bytes("x")},
  };
  const fs::path archive = Write(plan);
  const std::string before = ReadAll(archive);
  std::ofstream(dir_ / "run.log") << "old log";
  // The chosen folder lands in DEST under its own name; DEST/Data is the
  // archive's own folder through a link given as DEST.
  fs::create_directory_symlink(dir_, dir_ / "here");
  fs::create_directory_symlink(dir_, dir_ / "Data");
  CliRun r = Cli("extract --overwrite --log " + Q(dir_ / "run.log") + " " + Q(archive) + " " + Q(dir_ / "here") +
                 " 'C:\\Data'");
  // DEST/Data is a link below DEST: nothing goes through it.
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(ReadAll(archive), before);

  // Restored straight into the archive's folder: the archive is reported and left.
  fs::remove(dir_ / "Data");
  r = Cli("extract --overwrite --log " + Q(dir_ / "run.log") + " " + Q(archive) + " " + Q(dir_) + " 'C:\\Data\\backup.qpx'");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(ReadAll(archive), before);
  EXPECT_NE(r.out.find(archive.string() + "：復元中のバックアップファイル"), std::string::npos) << r.out;
  EXPECT_EQ(Count(r.out, kOverwritten), 0u);
  r = Cli("extract --overwrite --log " + Q(dir_ / "run.log") + " " + Q(archive) + " " + Q(dir_) + " 'C:\\Data\\run.log'");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(ReadAll(dir_ / "run.log").find("not the log"), std::string::npos);
}

TEST_F(ExtractTest, LongAndUnholdableNamesAreToldAndTheRunGoesOn) {
  // 86 characters, 258 bytes: one too many for ext4. Paths stay within the
  // 255 characters the engine allows, below the long scratch folder.
  const std::u16string longFolder = std::u16string(86, u'\u30D5');
  const std::u16string longName = std::u16string(86, u'\u30D5') + u".txt";
  ArchiveSpec plan;
  plan.folders = {{u"C:\\Data", 0x10}, {u"C:\\Data\\" + longFolder, 0x10}};
  plan.entries = {
      {.folder = u"C:\\Data\\" + longFolder, .name = u"f.txt", .data = Bytes("long")},
      {.folder = u"C:\\Data", .name = longName, .data = Bytes("long")},
      {.folder = u"C:\\Data", .name = u"bad\nname.txt", .data = Bytes("bad")},
      {.folder = u"C:\\Data", .name = u"ok.txt", .data = Bytes("ok")},
  };
  const fs::path archive = Write(plan);
  CliRun r = Cli("extract " + Q(archive) + " " + Q(dest_) + " 'C:\\Data'");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(Contents(dest_ / "Data" / "ok.txt"), Bytes("ok"));
  // Both names of the shortened file, in the printed log.
  EXPECT_EQ(Count(r.out, "この短い名前で復元しました。元の名前："), 2u) << r.out;
  EXPECT_NE(r.out.find("元の名前：C:\\Data\\" + host::WideToUtf8(longName)), std::string::npos);
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(dest_ / "Data")) {
    if (!e.is_regular_file()) continue;
    ++files;
    EXPECT_LE(e.path().filename().string().size(), 255u);
    if (e.path().filename() != "ok.txt") {
      EXPECT_EQ(e.path().extension(), ".txt") << e.path();
      EXPECT_EQ(Contents(e.path()), Bytes("long"));
    }
  }
  EXPECT_EQ(files, 3u);
  // The bad name is told for what it is, on one line.
  EXPECT_NE(r.out.find("C:\\Data\\bad\\x0Aname.txt：名前に制御文字が含まれている"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("1 failed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2 restored under a shortened name"), std::string::npos) << r.err;
}

// The command on a terminal of its own, told to end while it asks about a
// file it has written: it stops as after Ctrl-C.
TEST_F(ExtractTest, TermAndHangUpStopTheRunDropTheFileBeingWrittenAndStillReport) {
  ArchiveSpec plan = Plan();
  plan.entries[1].crc = 1;  // 表.bin: CRC differs, so it is asked about once written
  const fs::path archive = Write(plan);
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    fs::remove_all(dest_);
    const fs::path log = dir_ / "run.log";
    fs::remove(log);
    // The command must not hold the terminal's other end, or closing it here
    // would never hang it up.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    const std::string archiveText = archive.string(), destText = dest_.string(), logText = log.string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // A runner may start the suite with these signals blocked or ignored;
      // the command must meet them as a user's session would send them.
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::signal(SIGTERM, SIG_DFL);
      ::signal(SIGHUP, SIG_DFL);
      ::setsid();
      const int slave = ::open(terminal.c_str(), O_RDWR);
      if (slave < 0) ::_exit(127);
      ::dup2(slave, 0);
      ::dup2(slave, 1);
      ::dup2(slave, 2);
      if (slave > 2) ::close(slave);
      ::execl(TESSERA_CLI, TESSERA_CLI, "extract", archiveText.c_str(), destText.c_str(), "C:\\Data", "--log",
              logText.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Reads what the terminal shows until `until` appears or the terminal closes.
    std::string shown;
    auto readUntil = [&](const std::string& until) {
      char buffer[4096];
      while (until.empty() || shown.find(until) == std::string::npos) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 60000) <= 0) return false;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) return until.empty();
        shown.append(buffer, static_cast<size_t>(n));
      }
      return true;
    };
    const bool asked = readUntil("継続(C) / すべて継続(A) / 復元を中止(E): ");
    ::kill(child, signal);
    readUntil("");
    ::close(master);
    // A command that outlives its closed terminal is a failure, not a hung suite.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 600 && (ended = ::waitpid(child, &status, WNOHANG)) == 0; ++i) ::poll(nullptr, 0, 100);
    if (ended == 0) {
      ::kill(child, SIGKILL);
      ended = ::waitpid(child, &status, 0);
      ADD_FAILURE() << "the command did not end after its terminal closed";
    }
    ASSERT_EQ(ended, child);
    ASSERT_TRUE(asked) << shown;
    ASSERT_TRUE(WIFEXITED(status)) << shown;
    EXPECT_EQ(WEXITSTATUS(status), 2) << shown;
    EXPECT_NE(shown.find(kCancelled), std::string::npos) << shown;
    EXPECT_NE(shown.find("; the restore stopped"), std::string::npos) << shown;
    EXPECT_FALSE(ReadAll(log).empty());
    // Neither under its name nor under the name it was written as.
    EXPECT_TRUE(fs::is_empty(dest_ / "Data" / "Sub"));
  }
}

}  // namespace
