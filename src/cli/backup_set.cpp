#include "cli/backup_set.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <iostream>

#include "cli/format.h"
#include "cli/open.h"
#include "host/host_path.h"
#include "host/string_table.h"
#include "host/text.h"

namespace cli {
namespace {

using IncrementalBackup::CIncrementalManager;
namespace Text = IncrementalBackup::ManagerText;

constexpr int32_t kTreeFailed = 158;

// The manager's questions and messages on the terminal: notices and errors
// (those read from the progress sink after the load) go to standard error, the damaged-file question is answered by the option
// when given, asked when there is a terminal, and answered no otherwise.
class TerminalManagerUser : public IncrementalBackup::IManagerUser {
 public:
  TerminalManagerUser(const CIncrementalManager& manager, std::string archive, std::string management,
                      bool rebuildDamaged)
      : manager_(manager),
        archive_(std::move(archive)),
        management_(std::move(management)),
        rebuildDamaged_(rebuildDamaged),
        interactive_(::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1) {}

  void Notice(int32_t id) override { PrintText(management_, StringText(id)); }

  bool AskYesNo(int32_t id) override {
    if (rebuildDamaged_) return true;
    if (!interactive_) {
      PrintText(management_, StringText(id));
      std::cerr << "tessera-cli: not rebuilt: there is no terminal to ask (--rebuild-damaged rebuilds it)\n";
      return false;
    }
    std::cerr << "\n" << Utf8(StringText(id)) << "\n";
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

  // The error that ended the load, from the progress sink (its only channel).
  void ShowError(int32_t id) const { PrintText(Subject(id), StringText(id)); }

 private:
  // A generation archive's failure names that archive: the manager appends
  // archives in table order, so the one that failed is the next one.
  std::string Subject(int32_t id) const {
    if (id == Text::kGenerationFailed || id == Text::kOverwritten) {
      const QPMFile::CQPMQPXFileInfo* record = manager_.GetManagement().GetArchive(manager_.GetGenerationCount());
      if (record != nullptr) return HostPathText(record->Path);
    }
    if (id == Text::kNoErrorHistory) return archive_;
    return management_;
  }

  const CIncrementalManager& manager_;
  const std::string archive_;
  const std::string management_;
  const bool rebuildDamaged_;
  const bool interactive_;
};

bool EndsWith(const std::string& text, const char* tail) {
  const std::string t(tail);
  return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

}  // namespace

std::u16string StringText(int32_t id) {
  std::u16string text;
  if (!host::LoadString(static_cast<uint32_t>(id), text)) text = u"(message " + host::Utf8ToWide(std::to_string(id)) + u")";
  return text;
}

void PrintText(const std::string& name, const std::u16string& text) {
  const std::string utf8 = Utf8(text);
  std::string line;
  bool first = true;
  for (size_t i = 0; i <= utf8.size(); ++i) {
    if (i < utf8.size() && utf8[i] != '\n') {
      line.push_back(utf8[i]);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cerr << "tessera-cli: " << (first ? name + ": " : std::string()) << line << "\n";
    first = false;
    line.clear();
  }
}

std::string ManagementPathFor(const std::string& archive) {
  const size_t slash = archive.find_last_of('/');
  const size_t dot = archive.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? archive.substr(0, dot) : archive) + ".qpm";
}

LoadedSet::LoadedSet()
    : sink_(std::make_unique<IncrementalBackup::CProgressInfo>()),
      manager_(std::make_unique<CIncrementalManager>()),
      creator_(std::make_unique<IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator>()) {}

LoadedSet::~LoadedSet() {
  creator_.reset();
  manager_.reset();
}

std::string LoadedSet::ArchiveText(long g) const {
  const QPMFile::CQPMQPXFileInfo* record = manager_->GetManagement().GetArchive(g);
  return record != nullptr ? HostPathText(record->Path) : std::string("?");
}

std::unique_ptr<LoadedSet> OpenSet(const std::string& archive, bool rebuildDamaged) {
  // The desktop program opens a set only through one of its archives, and
  // takes the extension as written.
  if (!EndsWith(archive, ".qpx") && !EndsWith(archive, ".qpi")) {
    PrintError(archive, "a backup set is opened through one of its archives (.qpx or .qpi)");
    return nullptr;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(archive, ec)) {
    PrintError(archive, ec ? "cannot open: " + ec.message()
                           : std::filesystem::exists(archive, ec) ? "not a file" : "cannot open: No such file or directory");
    return nullptr;
  }

  auto set = std::make_unique<LoadedSet>();
  set->management_ = ManagementPathFor(archive);
  TerminalManagerUser user(*set->manager_, archive, set->management_, rebuildDamaged);
  set->manager_->SetProgressInfo(set->sink_.get());
  set->manager_->SetUser(&user);
  const bool loaded = set->manager_->LoadGenerations(host::ToEnginePath(archive), host::ToEnginePath(set->management_));
  set->manager_->SetUser(nullptr);
  if (!loaded) {
    if (set->sink_->HasError()) user.ShowError(set->sink_->GetErrorId());
    return nullptr;
  }
  set->manager_->CollectINFItems();

  set->creator_->SetProgressInfo(set->sink_.get());
  if (!set->creator_->Build(*set->manager_) || set->creator_->GetTree() == nullptr) {
    PrintText(archive, StringText(set->sink_->HasError() ? set->sink_->GetErrorId() : kTreeFailed));
    return nullptr;
  }
  return set;
}

bool SelectGeneration(LoadedSet& set, const std::string& archive, long shown) {
  if (shown < 1 || shown > set.Count()) {
    PrintError(archive, "the backup set has no generation " + std::to_string(shown) + " (it has " +
                            std::to_string(set.Count()) + ")");
    return false;
  }
  if (!set.Creator().SwitchGeneration(shown - 1)) {
    PrintText(archive, StringText(kTreeFailed));
    return false;
  }
  return true;
}

std::u16string StoredPathArgument(const std::string& argument) {
  std::u16string path = host::Utf8ToWide(argument);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

long SourceGeneration(const IncrementalBackup::CGenerationInfo& info) {
  const int32_t i = info.GetApplyingIndex();
  if (i < 0 || info.GetUpdates() == nullptr || static_cast<size_t>(i) >= info.GetUpdates()->size()) return -1;
  return (*info.GetUpdates())[static_cast<size_t>(i)].Generation;
}

}  // namespace cli
