#include "cli/open.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <cctype>
#include <iostream>

#include "paths/user_text.h"

namespace cli {
namespace {

using IncrementalBackup::CBackupSet;

// The manager's questions and messages on the terminal: notices go to
// standard error (errors come back as problems, printed after the load), the damaged-file question is answered by the option
// when given, asked when there is a terminal, and answered no otherwise.
class TerminalManagerUser : public IncrementalBackup::IManagerUser {
 public:
  TerminalManagerUser(const CBackupSet& set, bool rebuildDamaged)
      : set_(set),
        rebuildDamaged_(rebuildDamaged),
        interactive_(::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1) {}

  void Notice(int32_t id) override { PrintText(set_.FailureSubject(id), paths::MessageText(id)); }

  bool AskShowEarlier(const IncrementalBackup::FailedArchive& failed) override {
    if (!interactive_) return false;  // the failure is told with the other problems
    std::cerr << "\n";
    PrintText(set_.FailureSubject(failed.errorId), set_.ShowEarlierQuestion(failed));
    return AskOnTerminal();
  }

  bool AskYesNo(int32_t id) override {
    if (rebuildDamaged_) {
      // The question says what the rebuild costs (only the first generation
      // can be chosen); answering it for the user must not hide that.
      PrintText(set_.FailureSubject(id), set_.QuestionText(id));
      std::cerr << "tessera-cli: rebuilt (--rebuild-damaged): the rebuilt set has one generation, "
                << Printable(set_.ArchiveHostPath())
                << "; the later generations' archives must be restored one by one\n";
      return true;
    }
    if (!interactive_) {
      PrintText(set_.FailureSubject(id), set_.QuestionText(id));
      std::cerr << "tessera-cli: not rebuilt: there is no terminal to ask (--rebuild-damaged rebuilds it)\n";
      return false;
    }
    std::cerr << "\n";
    PrintText(set_.FailureSubject(id), set_.QuestionText(id));
    return AskOnTerminal();
  }

 private:
  static bool AskOnTerminal() {
    for (;;) {
      std::cerr << "(y/n): " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) {
        std::cerr << "\n";
        return false;
      }
      const size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos) continue;
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[first])));
      if (c == 'y') return true;
      if (c == 'n') return false;
    }
  }

  const CBackupSet& set_;
  const bool rebuildDamaged_;
  const bool interactive_;
};

bool g_stdoutClosed = false;

}  // namespace

bool ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) g_stdoutClosed = true;
    // open returns the lowest free descriptor, which is this one.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened != -1) ::close(opened);
  }
  return g_stdoutClosed;
}

bool StandardOutputClosed() { return g_stdoutClosed; }

void PrintError(const std::string& name, const std::string& message) {
  std::cerr << "tessera-cli: " << Printable(name) << ": " << message << "\n";
}

void PrintText(const std::string& name, const std::string& text) {
  std::string line;
  bool first = true;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\n') {
      line.push_back(text[i]);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cerr << "tessera-cli: " << (first ? Printable(name) + ": " : std::string()) << line << "\n";
    first = false;
    line.clear();
  }
}

void PrintProblems(const QPXFile::Problems& problems) {
  for (const QPXFile::Problem& p : problems) PrintText(p.subject, p.message);
}

std::unique_ptr<CBackupSet> OpenSet(const std::string& archive, bool rebuildDamaged) {
  auto set = std::make_unique<CBackupSet>(archive);
  TerminalManagerUser user(*set, rebuildDamaged);
  QPXFile::Problems problems;
  if (set->Load(user, problems)) return set;
  PrintProblems(problems);
  return nullptr;
}

bool CheckGenerationNumber(const CBackupSet& set, const std::string& archive, long shown) {
  if (shown >= 1 && shown <= set.Count()) return true;
  const std::string range = set.Count() == 1 ? "only generation 1" : "generations 1 to " + std::to_string(set.Count());
  PrintError(archive, "there is no generation " + std::to_string(shown) + ": generations count from 1, and the " +
                          "backup set has " + range);
  return false;
}

std::unique_ptr<CBackupSet> OpenForCommand(const std::string& archive, const SetOptions& options) {
  QPXFile::Problems problems;
  if (!options.generationGiven && options.generation == 0) {
    auto set = std::make_unique<CBackupSet>(archive);
    if (set->LoadArchiveAlone(problems)) return set;
    PrintProblems(problems);
    return nullptr;
  }
  std::unique_ptr<CBackupSet> set = OpenSet(archive, options.rebuildDamaged);
  if (!set || !CheckGenerationNumber(*set, archive, options.generation)) return nullptr;
  if (set->SelectGeneration(options.generation, problems)) return set;
  PrintProblems(problems);
  return nullptr;
}

}  // namespace cli
