// What the package installs, checked against the program: the file types
// know every archive and management file the engine reads (through the
// desktop's own type database), and the completion and the man page know
// every command and option tessera-cli has.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/archive_writer.h"
#include "support/management_writer.h"
#include "support/samples.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

const fs::path kSource = TESSERA_SOURCE_DIR;

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Standard output of a shell command; status -1 when it did not run.
std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = pclose(pipe);
  if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

bool Have(const std::string& tool) {
  int status = 0;
  Shell("command -v " + tool + " >/dev/null 2>&1", &status);
  return status == 0;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class FileTypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Have("update-mime-database") || !Have("mimetype"))
      GTEST_SKIP() << "shared-mime-info or mimetype missing (scripts/install-deps.sh installs them)";
    dir_ = fs::temp_directory_path() / ("tessera-types-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "data/mime/packages");
    fs::copy_file(kSource / "packaging/tessera-mime.xml", dir_ / "data/mime/packages/tessera.xml");
    int status = 0;
    Shell("update-mime-database " + Quote((dir_ / "data/mime").string()) + " 2>&1", &status);
    ASSERT_EQ(status, 0);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // The type the desktop names for a file, from this package's types alone
  // (plus the built-in fallbacks).
  std::string TypeOf(const fs::path& file) {
    return Shell("XDG_DATA_HOME=" + Quote((dir_ / "none").string()) + " XDG_DATA_DIRS=" + Quote((dir_ / "data").string()) +
               " mimetype --brief --dereference " + Quote(file.string()));
  }

  fs::path dir_;
};

TEST_F(FileTypesTest, ArchivesOfEveryFormatAreKnownByNameAndByContent) {
  for (const char* formatId : {"QPX1.0  ", "QPX2.0  ", "QPX3.0  ", "F_QPX1.0", "F_QPX2.0"}) {
    ArchiveSpec plan = SampleArchive();
    plan.formatId = formatId;
    const fs::path renamed = dir_ / ("renamed " + std::string(formatId).substr(0, 6));
    WriteArchive(plan, renamed);
    EXPECT_EQ(TypeOf(renamed), "application/x-tessera-backup\n") << formatId;
  }
  WriteArchive(SampleArchive(), dir_ / "backup.qpx");
  WriteArchive(SampleArchive(), dir_ / "backup_2.qpi");
  EXPECT_EQ(TypeOf(dir_ / "backup.qpx"), "application/x-tessera-backup\n");
  EXPECT_EQ(TypeOf(dir_ / "backup_2.qpi"), "application/x-tessera-backup\n");

  // An identifier the program does not read, and the name alone, do not make an archive.
  ArchiveSpec unknown = SampleArchive();
  unknown.formatId = "QPX4.0  ";
  WriteArchive(unknown, dir_ / "unknown");
  EXPECT_NE(TypeOf(dir_ / "unknown"), "application/x-tessera-backup\n");
  std::ofstream(dir_ / "notes") << "QPX is the name of a backup format.\n";
  EXPECT_NE(TypeOf(dir_ / "notes"), "application/x-tessera-backup\n");
}

TEST_F(FileTypesTest, ManagementFilesOfEveryVersionAreKnownByTheirVersionText) {
  for (const char* version : {kManage10, kManage11, kManage20, kManage30}) {
    ManagementSpec plan;
    plan.version = version;
    const fs::path renamed = dir_ / ("management " + std::string(version).substr(13, 3));
    WriteManagement(plan, renamed);
    EXPECT_EQ(TypeOf(renamed), "application/x-tessera-management\n") << version;
  }
  WriteManagement(ManagementSpec{}, dir_ / "backup.qpm");
  EXPECT_EQ(TypeOf(dir_ / "backup.qpm"), "application/x-tessera-management\n");
  ManagementSpec unknown;
  unknown.version = "QPXManageFile9.0    ";
  WriteManagement(unknown, dir_ / "unknown");
  EXPECT_NE(TypeOf(dir_ / "unknown"), "application/x-tessera-management\n");
}

// The commands tessera-cli lists in its help, and the long options one
// command's help lists.
std::set<std::string> Commands() {
  std::set<std::string> commands;
  std::istringstream help(Shell(std::string(TESSERA_CLI) + " --help"));
  bool inList = false;
  for (std::string line; std::getline(help, line);) {
    if (line.rfind("Subcommands:", 0) == 0 || line.rfind("SUBCOMMANDS:", 0) == 0) {
      inList = true;
      continue;
    }
    std::smatch m;
    if (!inList) continue;
    if (line.empty()) inList = false;
    else if (std::regex_search(line, m, std::regex("^  ([a-z]+) "))) commands.insert(m[1]);
  }
  return commands;
}

std::set<std::string> LongOptions(const std::string& command) {
  std::set<std::string> options;
  const std::string help = Shell(std::string(TESSERA_CLI) + " " + command + " --help");
  const std::regex option("--[a-z][a-z-]+");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
    options.insert(it->str());
  return options;
}

TEST(CliDocumentsTest, CompletionAndManPageNameEveryCommandAndOption) {
  const std::set<std::string> commands = Commands();
  ASSERT_GE(commands.size(), 8u);
  const std::string completion = ReadText(kSource / "packaging/completion/tessera-cli.bash");
  const std::string manual = ReadText(kSource / "packaging/man/tessera-cli.1.scd");
  for (const std::string& command : commands) {
    EXPECT_NE(completion.find(command), std::string::npos) << "completion lacks " << command;
    EXPECT_NE(manual.find("*" + command + "* _ARCHIVE_"), std::string::npos) << "man page lacks " << command;
    const std::set<std::string> options = LongOptions(command);
    EXPECT_TRUE(options.count("--help")) << command;
    for (const std::string& option : options) {
      // The completion lists each command's own options on its case line.
      const std::regex line("\\n\\s*(\\S+ \\| )*" + command + "( \\| \\S+)*\\) options\\+=\"[^\"]*" + option + "[ \"]");
      if (option != "--help") {
        EXPECT_TRUE(std::regex_search(completion, line)) << "completion of " << command << " lacks " << option;
      }
      EXPECT_NE(manual.find("*" + option + "*"), std::string::npos) << "man page lacks " << option;
    }
  }
}

TEST(CliDocumentsTest, VersionAndHelpEndWithStatusZero) {
  int status = -1;
  const std::string version = Shell(std::string(TESSERA_CLI) + " --version", &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(std::regex_match(version, std::regex("tessera-cli [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version;
  const std::string help = Shell(std::string(TESSERA_CLI) + " --help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(help.find("Exit status: 0 success, 1 "), std::string::npos);
  Shell(std::string(TESSERA_CLI) + " extract --help >/dev/null", &status);
  EXPECT_EQ(status, 0);
  // A wrong argument is the usage failure of the exit statuses.
  Shell(std::string(TESSERA_CLI) + " --no-such-option 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
}

}  // namespace
