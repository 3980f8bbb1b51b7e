// tessera-cli extract: restores an archive, or chosen folders and files of
// it, below a destination folder, the way the desktop program restores a
// selection, with its questions asked on the terminal or answered by options.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cli/extract.h"
#include "cli/format.h"
#include "cli/open.h"
#include "cli/skipped_records.h"
#include "host/file.h"
#include "host/string_ids.h"
#include "host/file_attributes.h"
#include "host/host_path.h"
#include "host/string_table.h"
#include "host/text.h"
#include "paths/user_text.h"
#include "generations/restore_job.h"
#include "restore/log.h"
#include "restore/restore_session.h"
#include "restore/restore_summary.h"

namespace cli {
namespace {

using QPXFile::RestoreChoice;

std::string LoadText(uint32_t id) {
  std::u16string text;
  host::LoadString(id, text);
  return Utf8(text);
}

// The question as the terminal shows it: its name escaped like every other
// name printed, so a stored name cannot break or hide part of the question.
std::u16string ShownMessage(const QPXFile::RestoreQuestion& question) {
  std::u16string pattern;
  if (!host::LoadString(question.messageId, pattern)) return question.message;
  return QPXFile::FormatWithText(pattern, host::Utf8ToWide(paths::Printable(question.subject)));
}

// Terminal columns a UTF-8 text takes, near enough for cutting a status line:
// East Asian characters take two.
size_t Columns(const std::u32string& text) {
  size_t n = 0;
  for (char32_t c : text) n += c >= 0x1100 ? 2 : 1;
  return n;
}

std::u32string ToU32(const std::string& utf8) {
  std::u32string out;
  const std::u16string wide = host::Utf8ToWide(utf8);
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size()) c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    out.push_back(c);
  }
  return out;
}

std::string FromU32(const std::u32string& text) {
  std::u16string wide;
  for (char32_t c : text) {
    if (c >= 0x10000) {
      wide.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(c));
    }
  }
  return Utf8(wide);
}

// The user at the other end of the command: the options answer what they
// cover, a terminal is asked the rest, and without one the safe answer is
// taken (skip an existing file, stop on anything else).
class CommandLineUser : public QPXFile::IRestoreUser {
 public:
  explicit CommandLineUser(const ExtractOptions& options)
      : options_(options),
        interactive_(::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1),
        showProgress_(!options.quiet && ::isatty(STDERR_FILENO) == 1) {}

  RestoreChoice Ask(const QPXFile::RestoreQuestion& question) override {
    if (question.IsExistingFile()) {
      if (options_.overwrite) return QPXFile::kChoiceOverwriteAll;
      if (options_.skipExisting || !interactive_) return QPXFile::kChoiceSkip;
    } else {
      if (options_.yes) return QPXFile::kChoiceContinueAll;
      if (!interactive_) {
        ClearStatus();
        PrintMessage(ShownMessage(question));
        std::cerr << "tessera-cli: stopped: there is no terminal to ask (--yes continues in such cases)\n";
        return QPXFile::kChoiceStop;
      }
    }
    return Prompt(question);
  }

  void ShowError(const QPXFile::RestoreNotice& notice) override {
    ClearStatus();
    PrintMessage(notice.message);
  }

  void ShowProgress(const QPXFile::RestoreProgressState& state) override {
    if (!showProgress_) return;
    // Many small files would otherwise spend their time redrawing the line.
    const auto now = std::chrono::steady_clock::now();
    if (state.percent == shownPercent_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    shownPercent_ = state.percent;
    std::string head = std::to_string(state.percent) + "% ";
    if (head.size() < 5) head.insert(0, 5 - head.size(), ' ');
    std::u32string file = ToU32(Printable(state.currentFile));
    const size_t room = Width() > head.size() + 1 ? Width() - head.size() - 1 : 0;
    if (Columns(file) > room) {
      // Keep the end of the path: the file name says more than the root.
      while (!file.empty() && Columns(file) + 3 > room) file.erase(file.begin());
      file.insert(0, U"...");
    }
    std::cerr << "\r\x1b[K" << head << FromU32(file) << std::flush;
    statusShown_ = true;
  }

  void ClearStatus() {
    if (!statusShown_) return;
    std::cerr << "\r\x1b[K" << std::flush;
    statusShown_ = false;
  }

 private:
  struct Key {
    char letter;
    std::string caption;
  };

  // "継続(&C)" is shown as "継続(C)" and answered with c.
  static Key KeyOf(uint32_t captionId) {
    std::string caption = LoadText(captionId);
    Key key{0, {}};
    for (size_t i = 0; i < caption.size(); ++i) {
      if (caption[i] == '&' && i + 1 < caption.size()) {
        key.letter = static_cast<char>(std::tolower(static_cast<unsigned char>(caption[i + 1])));
        continue;
      }
      key.caption.push_back(caption[i]);
    }
    return key;
  }

  static void PrintMessage(const std::u16string& message) {
    std::string text = Utf8(message);
    std::string line;
    for (size_t i = 0; i <= text.size(); ++i) {
      if (i == text.size() || text[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::cerr << "tessera-cli: " << line << "\n";
        line.clear();
      } else {
        line.push_back(text[i]);
      }
    }
  }

  RestoreChoice Prompt(const QPXFile::RestoreQuestion& question) {
    ClearStatus();
    std::cerr << "\n" << Utf8(ShownMessage(question)) << "\n";
    Key keys[3];
    std::string choices;
    for (int i = 0; i < 3; ++i) {
      keys[i] = KeyOf(question.choices[i]);
      if (i > 0) choices += " / ";
      choices += keys[i].caption;
    }
    for (;;) {
      std::cerr << choices << ": " << std::flush;
      std::string line;
      if (!std::getline(std::cin, line)) {
        std::cerr << "\n";
        return QPXFile::kChoiceNone;  // end of input closes the question
      }
      const size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos) continue;
      const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(line[first])));
      for (int i = 0; i < 3; ++i)
        if (keys[i].letter != 0 && keys[i].letter == letter) return question.choices[i];
    }
  }

  static size_t Width() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
    return 80;
  }

  const ExtractOptions& options_;
  const bool interactive_;
  const bool showProgress_;
  bool statusShown_ = false;
  unsigned shownPercent_ = ~0u;
  std::chrono::steady_clock::time_point lastDrawn_{};
};

// Ctrl-C asks the running restore to stop; the second one ends the program.
// Being told to end (SIGTERM, a logout's SIGHUP) is the same request: the
// file being written is dropped, the summary printed and the log saved.
IncrementalBackup::CRestoreJob* g_interruptible = nullptr;

extern "C" void OnInterrupt(int) {
  const int saved = errno;
  if (g_interruptible != nullptr) g_interruptible->RequestCancel();
  // A question may be open, or about to be: the signal can land between the
  // prompt and the read, and the read would then wait for an answer nobody
  // gives (after a hang-up, forever). With input at its end the question
  // closes at once, whichever side of the read the signal fell on.
  const int none = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (none >= 0) {
    ::dup2(none, STDIN_FILENO);
    ::close(none);
  }
  errno = saved;
}

class InterruptScope {
 public:
  explicit InterruptScope(IncrementalBackup::CRestoreJob& job) {
    g_interruptible = &job;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
    // Started with them blocked (some launchers do), the request would wait
    // until the run had finished.
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : kSignals) sigaddset(&handled, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &handled, &previousMask_);
  }
  ~InterruptScope() {
    ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
    g_interruptible = nullptr;
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction previous_[std::size(kSignals)] {};
  sigset_t previousMask_{};
};

std::u16string WithoutTrailingSeparators(std::u16string path) {
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

std::string Plural(long n, const char* word) { return std::to_string(n) + " " + word; }

// Writes the printed log to standard output. False, with the reason, when it
// did not all arrive: a reader that went away (EPIPE, with SIGPIPE ignored)
// or standard output closed from the start.
bool PrintLog(const std::string& text, std::string& why) {
  if (StandardOutputClosed()) {
    why = "standard output is closed";
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = host::SystemErrorText(n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// "; not kept by ext4: archive (120 files, 3 folders), hidden (2 files)": the
// attributes the file systems had no place for, which cost no exit status.
std::string LossesText(const std::vector<QPXFile::AttributeLoss>& losses) {
  std::string text;
  for (size_t i = 0; i < losses.size(); ++i) {
    const QPXFile::AttributeLoss& loss = losses[i];
    const bool first = i == 0 || losses[i - 1].fileSystem != loss.fileSystem;
    text += first ? "; not kept by " + loss.fileSystem + ": " : ", ";
    switch (loss.attribute) {
      case host::kAttributeReadOnly: text += "read-only"; break;
      case host::kAttributeHidden: text += "hidden"; break;
      case host::kAttributeSystem: text += "system"; break;
      default: text += "archive"; break;
    }
    text += " (";
    if (loss.files > 0) text += Plural(loss.files, loss.files == 1 ? "file" : "files");
    if (loss.files > 0 && loss.folders > 0) text += ", ";
    if (loss.folders > 0) text += Plural(loss.folders, loss.folders == 1 ? "folder" : "folders");
    text += ")";
  }
  return text;
}

}  // namespace

int RunExtract(const ExtractOptions& options) {
  // A reader of standard output that goes away (`| head -1`) must not end the
  // restore before the --log file is saved and the summary printed; the
  // failed write is reported instead.
  ::signal(SIGPIPE, SIG_IGN);
  const std::u16string destination = WithoutTrailingSeparators(host::ToEnginePath(options.destination));
  // The set (or the archive alone) lends its entries to the runs: declared
  // first, it goes last.
  std::unique_ptr<IncrementalBackup::CBackupSet> set =
      OpenForCommand(options.archive, SetOptions{options.generation, options.generationGiven, options.rebuildDamaged});
  if (!set) return kExitFailed;
  IncrementalBackup::RestoreSelection selection;
  for (const std::string& path : options.paths)
    selection.push_back({paths::StoredPathArgument(path), 0, path});
  IncrementalBackup::CRestoreJob job(
      *set, std::move(selection),
      {destination, options.logFile.empty() ? std::vector<std::string>() : std::vector<std::string>{options.logFile}});
  QPXFile::Problems problems;
  if (!job.Plan(problems)) {
    PrintProblems(problems);
    return kExitFailed;
  }
  // Records of the set that its merged tree could not hold are not restored:
  // said here, and counted as skipped.
  ReportUnheldRecords(options.archive, job.Unheld());
  if (!set->IsArchiveAlone()) ReportLeftOutRecords(options.archive, set->Creator());

  std::string why;
  if (!job.PrepareDestination(why)) {
    PrintError(options.destination, why);
    return kExitFailed;
  }

  CommandLineUser user(options);
  QPXFile::RestoreSummary result;
  {
    InterruptScope interrupt(job);
    result = job.Run(user);
  }
  const QPXFile::CLogger& log = job.Log();
  user.ClearStatus();

  int status = QPXFile::ExitStatus(result);
  const QPXFile::RestoreCounts& counts = result.counts;
  const long unplaced = result.unplaced;
  // A quiet run that restored everything has nothing to tell; a log saved
  // with --log still holds the lines.
  std::string printed, lostWhy;
  log.GetPrintedText(printed);
  const bool logPrinted = (options.quiet && status == kExitOk) || PrintLog(printed, lostWhy);

  if (unplaced > 0)
    PrintError(options.archive, std::to_string(unplaced) + (unplaced == 1 ? " entry" : " entries") +
                                    " stored without a drive in its folder not restored");
  // Quiet still tells a run that left something out how it ended.
  if (!options.quiet || status != kExitOk) {
    std::string summary = Plural(counts.restored, "restored") + ", " +
                          Plural(QPXFile::SkippedEntries(result), "skipped") + ", " +
                          Plural(QPXFile::FailedFiles(result), "failed");
    if (counts.incomplete > 0) summary += ", " + Plural(counts.incomplete, "without their attributes or times");
    if (counts.foldersFailed > 0) summary += ", " + Plural(counts.foldersFailed, "folders without their attributes");
    if (counts.foldersNotRestored > 0) summary += ", " + Plural(counts.foldersNotRestored, "folders not restored");
    if (counts.shortened > 0) summary += ", " + Plural(counts.shortened, "restored under a shortened name");
    summary += LossesText(result.losses);
    if (result.outcome == QPXFile::RestoreOutcome::kStopped) summary += "; the restore stopped";
    std::cerr << "tessera-cli: " << Printable(options.destination) << ": " << summary << "\n";
  }

  if (!options.logFile.empty() && !log.SaveAs(host::ToEnginePath(options.logFile))) {
    PrintError(options.logFile, LoadText(host::StringId::kLogSaveFailed));
    status = kExitFailed;
  }
  if (!logPrinted) {
    PrintError("standard output", "the restore log could not be printed (" + lostWhy + ")" +
                                      (options.logFile.empty() ? "" : "; it is saved in " + Printable(options.logFile)));
    status = kExitFailed;
  }
  return status;
}

}  // namespace cli
