// tessera-cli extract: restores an archive, or chosen folders and files of
// it, below a destination folder, the way the desktop program restores a
// selection, with its questions asked on the terminal or answered by options.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive/qpx_file_extend.h"
#include "archive/restore_selection.h"
#include "generations/incremental_restore_archive.h"
#include "cli/backup_set.h"
#include "cli/commands.h"
#include "cli/format.h"
#include "cli/open.h"
#include "host/file.h"
#include "host/file_attributes.h"
#include "host/host_path.h"
#include "host/string_table.h"
#include "host/text.h"
#include "restore/path_helpers.h"
#include "restore/restore_session.h"

namespace cli {
namespace {

using QPXFile::CRestoreSelectionQPXFileExtend;
using QPXFile::CRestoreSession;
using QPXFile::RestoreChoice;

std::string LoadText(uint32_t id) {
  std::u16string text;
  host::LoadString(id, text);
  return Utf8(text);
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
        PrintMessage(question.message);
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
    std::u32string file = ToU32(Utf8(state.currentFile));
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
    std::cerr << "\n" << Utf8(question.message) << "\n";
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
CRestoreSession* g_interruptible = nullptr;

extern "C" void OnInterrupt(int) {
  if (g_interruptible != nullptr) g_interruptible->RequestCancel();
}

class InterruptScope {
 public:
  explicit InterruptScope(CRestoreSession& session) {
    g_interruptible = &session;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptScope() {
    ::sigaction(SIGINT, &previous_, nullptr);
    g_interruptible = nullptr;
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  struct sigaction previous_ {};
};

// One restore run: a selection and where it goes.
struct Run {
  std::unique_ptr<CRestoreSelectionQPXFileExtend> selection;
  QPXFile::RestoreTarget target;
};

std::u16string WithoutTrailingSeparators(std::u16string path) {
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

bool IsDrive(std::u16string_view text) {
  return text.size() == 2 && text[1] == u':' &&
         ((text[0] >= u'A' && text[0] <= u'Z') || (text[0] >= u'a' && text[0] <= u'z'));
}

char16_t DriveLetter(std::u16string_view drive) {
  return drive[0] >= u'a' ? static_cast<char16_t>(drive[0] - u'a' + u'A') : drive[0];
}

// A drive's contents go below DEST/<letter>, as if the drive were a folder
// chosen in a view of all drives.
QPXFile::RestoreTarget DriveTarget(const std::u16string& destination, std::u16string_view drive) {
  return {true, paths::Join(destination, std::u16string(1, DriveLetter(drive))),
          std::u16string(1, DriveLetter(drive)) + u":"};
}

// The drives the archive holds, from its folders and its entries.
std::set<char16_t> DrivesOf(const QPXFile::CQPXFileExtend& archive) {
  std::set<char16_t> drives;
  auto add = [&](std::u16string_view path) {
    if (path.size() >= 2 && IsDrive(path.substr(0, 2)) && (path.size() == 2 || path[2] == u'\\'))
      drives.insert(DriveLetter(path));
  };
  if (const QPXFile::CQPXFolderList* folders = archive.GetFolderList()) {
    for (int i = 0; i < folders->GetFolderCount(); ++i) {
      std::u16string path;
      if (folders->GetFolder(i, &path, nullptr, nullptr, nullptr, nullptr)) add(path);
    }
  }
  std::u16string folder;
  for (long i = 0; i < archive.GetEntryCount(); ++i) {
    const QPXFile::CQPXBackupedFileHeader* header = archive.GetEntryHeader(i);
    if (header != nullptr && header->GetFolderName(folder)) add(folder);
  }
  return drives;
}

// Makes the destination and its missing parents. They are the user's own
// path, so links on the way are followed.
bool MakeFolders(const std::u16string& path, std::string& why) {
  std::string hostPath, failedAt;
  int error = 0;
  if (!host::ToHostPath(path, hostPath)) hostPath = HostPathText(path);
  if (host::MakeFolderPath(hostPath, error, failedAt)) return true;
  if (error == ENOTDIR)
    why = failedAt == hostPath ? "not a folder" : "cannot create the folder: " + failedAt + " is not a folder";
  else
    why = "cannot create the folder: " + (failedAt == hostPath ? std::string() : failedAt + ": ") +
          host::SystemErrorText(error);
  return false;
}

std::string Plural(long n, const char* word) { return std::to_string(n) + " " + word; }

// The runs of a plain extract: the chosen parts of the one archive named.
bool PlanArchiveRuns(const ExtractOptions& options, QPXFile::CQPXFileExtend& source, const std::u16string& destination,
                     std::vector<Run>& runs, long& unplaced) {
  const std::u16string archivePath = host::ToEnginePath(options.archive);
  long selected = 0;
  auto add = [&](std::u16string_view path, QPXFile::RestoreTarget target) {
    Run run{std::make_unique<CRestoreSelectionQPXFileExtend>(), std::move(target)};
    run.selection->SetName(archivePath);
    if (!QPXFile::SelectFromArchive(source, path, *run.selection)) return false;
    selected += run.selection->GetEntryCount();
    runs.push_back(std::move(run));
    return true;
  };
  if (options.paths.empty()) {
    for (char16_t letter : DrivesOf(source)) {
      const std::u16string drive{letter, u':'};
      add(drive, DriveTarget(destination, drive));
    }
  } else {
    for (const std::string& argument : options.paths) {
      const std::u16string path = StoredPathArgument(argument);
      // The chosen item lands in the destination under its own name: the
      // folder it was chosen in is its parent. A drive stands for its letter.
      QPXFile::RestoreTarget target =
          IsDrive(path) ? DriveTarget(destination, path)
                        : QPXFile::RestoreTarget{true, destination, paths::FolderPart(path)};
      if (!add(path, std::move(target))) {
        PrintError(options.archive, "nothing is stored at " + argument);
        return false;
      }
    }
  }
  // Entries stored without a drive in their folder belong to no drive and
  // would be lost without a word.
  unplaced = options.paths.empty() ? source.GetEntryCount() - selected : 0;
  return true;
}

// The checked files whose generation archive lacks their entry: the reason
// a generation-restoring archive cannot be made.
void ReportGaps(const LoadedSet& set, const std::string& archive) {
  struct GapFinder : IncrementalBackup::CFSTreeOperator {
    bool VisitFile(IncrementalBackup::CFSFile& file, IncrementalBackup::CIncrementalRestoreTreeFileData& data) override {
      if (data.IsChecked() && data.GetCurrentEntry() == nullptr) gaps.push_back(&file);
      return true;
    }
    bool VisitFolder(IncrementalBackup::CFolder&, IncrementalBackup::CIncrementalRestoreTreeFolderData&) override {
      return true;
    }
    std::vector<const IncrementalBackup::CFSFile*> gaps;
  } finder;
  set.Tree().Traverse(finder);
  for (const IncrementalBackup::CFSFile* file : finder.gaps)
    PrintError(archive, Utf8(file->GetPath()) + " is missing from " +
                            set.ArchiveText(SourceGeneration(file->GetData().GetGeneration())));
  if (finder.gaps.empty()) PrintError(archive, "the generation cannot be prepared for restoring");
}

// The runs of a generation's extract: for each chosen node (or each drive)
// the tree is checked there alone and a generation-restoring archive made of
// it, as the desktop program restores a marked selection.
bool PlanGenerationRuns(const ExtractOptions& options, LoadedSet& set, const std::u16string& destination,
                        std::vector<Run>& runs) {
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator = set.Creator();
  auto add = [&](const std::u16string& path, QPXFile::RestoreTarget target) {
    creator.SetChecked(path, true);
    creator.RecalcTotals();
    std::unique_ptr<IncrementalBackup::CIncrementalRestoreQPXFileExtend> archive = creator.CreateRestoreArchive();
    if (!archive) ReportGaps(set, options.archive);
    creator.SetChecked(path, false);
    creator.RecalcTotals();
    if (!archive) return false;
    runs.push_back(Run{std::move(archive), std::move(target)});
    return true;
  };
  if (options.paths.empty()) {
    for (const IncrementalBackup::CFolder* root : set.Tree().GetRoots()) {
      if (!root->Exists() || !IsDrive(root->GetName())) continue;
      if (!add(root->GetName(), DriveTarget(destination, root->GetName()))) return false;
    }
    return true;
  }
  for (const std::string& argument : options.paths) {
    const IncrementalBackup::CFSObject* node = set.Tree().Find(StoredPathArgument(argument));
    if (node == nullptr || !node->Exists()) {
      PrintError(options.archive,
                 "nothing is stored at " + argument + " in generation " + std::to_string(options.generation));
      return false;
    }
    const std::u16string path = node->GetPath();
    QPXFile::RestoreTarget target = IsDrive(path) ? DriveTarget(destination, path)
                                                  : QPXFile::RestoreTarget{true, destination, paths::FolderPart(path)};
    if (!add(path, std::move(target))) return false;
  }
  return true;
}

}  // namespace

int RunExtract(const ExtractOptions& options) {
  const std::u16string destination = WithoutTrailingSeparators(host::ToEnginePath(options.destination));
  // The set (or the archive) lends its entries to the runs: declared first,
  // it goes last.
  std::unique_ptr<LoadedSet> set;
  std::unique_ptr<QPXFile::CQPXFile> archive;
  std::vector<Run> runs;
  long unplaced = 0;
  std::u16string restoredName;
  if (options.generation != 0) {
    set = OpenSet(options.archive, options.rebuildDamaged);
    if (!set || !SelectGeneration(*set, options.archive, options.generation)) return kExitFailed;
    if (!PlanGenerationRuns(options, *set, destination, runs)) return kExitFailed;
    restoredName = IncrementalBackup::RestoreArchiveName(host::ToEnginePath(set->ManagementText()),
                                                         options.generation - 1);
  } else {
    archive = OpenForCommand(options.archive);
    if (!archive) return kExitFailed;
    auto* source = dynamic_cast<QPXFile::CQPXFileExtend*>(archive.get());
    if (source == nullptr) {
      PrintError(options.archive, "archives of this kind cannot be extracted");
      return kExitFailed;
    }
    if (!PlanArchiveRuns(options, *source, destination, runs, unplaced)) return kExitFailed;
    restoredName = host::ToEnginePath(options.archive);
  }

  std::string why;
  if (!MakeFolders(destination, why)) {
    PrintError(options.destination, why);
    return kExitFailed;
  }

  // Nothing is written through a link below DEST, and the files the command
  // reads or writes itself are never replaced by restored ones.
  std::vector<std::string> archives, others;
  if (set) {
    for (long g = 0; g < set->Count(); ++g) archives.push_back(set->ArchiveText(g));
    others.push_back(set->ManagementText());
  } else {
    archives.push_back(options.archive);
  }
  if (!options.logFile.empty()) others.push_back(options.logFile);
  const std::vector<host::FileIdentity> protectedFiles = QPXFile::ProtectedFiles(archives, others);
  for (Run& run : runs) {
    run.target.confinedBelow = destination;
    run.target.protectedFiles = protectedFiles;
  }

  uint64_t total = 0;
  for (const Run& run : runs) {
    uint64_t size = 0;
    if (run.selection->GetTotalFileSize(size)) total += size;
  }

  CommandLineUser user(options);
  QPXFile::CLogger log;
  CRestoreSession session(user, log);
  session.Reset(restoredName, total);
  {
    InterruptScope interrupt(session);
    for (Run& run : runs) {
      const bool ok = run.selection->Restore(session.Events(), session.Progress(), run.target);
      session.EndRun(ok);
      if (session.GetOutcome() == CRestoreSession::Outcome::kStopped) break;
    }
  }
  user.ClearStatus();

  std::u16string text;
  log.GetText(text);
  std::string shown = Utf8(text);
  std::string out;
  out.reserve(shown.size());
  for (size_t i = 0; i < shown.size(); ++i)
    if (!(shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n')) out.push_back(shown[i]);
  std::cout << out << std::flush;

  int status = kExitOk;
  const QPXFile::RestoreCounts& counts = session.GetCounts();
  switch (session.GetOutcome()) {
    case CRestoreSession::Outcome::kStopped:
      status = kExitFailed;
      break;
    case CRestoreSession::Outcome::kIncomplete:
      status = kExitDamaged;
      break;
    case CRestoreSession::Outcome::kComplete:
      status = unplaced > 0 ? kExitDamaged : kExitOk;
      break;
  }
  if (unplaced > 0)
    PrintError(options.archive, std::to_string(unplaced) + (unplaced == 1 ? " entry" : " entries") +
                                    " stored without a drive in its folder not restored");
  if (!options.quiet) {
    std::string summary = Plural(counts.restored, "restored") + ", " + Plural(counts.skipped, "skipped") + ", " +
                          Plural(counts.failed + unplaced, "failed");
    if (counts.incomplete > 0) summary += ", " + Plural(counts.incomplete, "without their attributes or times");
    if (counts.foldersFailed > 0) summary += ", " + Plural(counts.foldersFailed, "folders without their attributes");
    if (counts.foldersNotRestored > 0) summary += ", " + Plural(counts.foldersNotRestored, "folders not restored");
    if (counts.shortened > 0) summary += ", " + Plural(counts.shortened, "restored under a shortened name");
    if (session.GetOutcome() == CRestoreSession::Outcome::kStopped) summary += "; the restore stopped";
    std::cerr << "tessera-cli: " << options.destination << ": " << summary << "\n";
  }

  if (!options.logFile.empty() && !log.SaveAs(host::ToEnginePath(options.logFile))) {
    PrintError(options.logFile, LoadText(245));
    status = kExitFailed;
  }
  return status;
}

}  // namespace cli
