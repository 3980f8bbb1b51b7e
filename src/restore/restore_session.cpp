#include "restore/restore_session.h"

#include <algorithm>
#include <limits>
#include <new>

#include "host/file_attributes.h"
#include "host/file.h"
#include "host/host_path.h"
#include "host/string_ids.h"
#include "host/string_table.h"
#include "host/text.h"
#include "host/volume.h"
#include "paths/path_helpers.h"
#include "paths/user_text.h"

namespace QPXFile {
namespace {

namespace S = host::StringId;

// The questions the desktop program asks, with the log lines it writes.
struct QuestionRow {
  int event;
  uint32_t question;
  bool information;
  uint32_t continueLog;
  uint32_t stopLog;
  bool aboutText;  // the question names the event's path, else the entry's file name
  bool problem;    // the entry is not restored, or not completely
};

constexpr QuestionRow kQuestions[] = {
    {kEventNamesUnreadable, S::kNamesUnreadableQuestion, false, S::kNamesUnreadableSkipped, S::kNamesUnreadableStopped,
     true, true},
    {kEventCannotCreate, S::kCannotCreateQuestion, true, S::kCannotCreate, S::kCannotCreate, false, true},
    {kEventCrcDiffers, S::kCheckFailedQuestion, true, S::kCheckFailed, S::kCheckFailedStopped, false, true},
    {kEventPathTooLong, S::kPathTooLongQuestion, true, S::kPathTooLongSkipped, S::kPathTooLongStopped, true, true},
    {kEventEncryptedOffNtfs, S::kEncryptedOffNtfs, true, S::kEncryptedOffNtfs, S::kEncryptedOffNtfs, false, true},
    // The compressed bit is an attribute Linux file systems do not keep; the
    // file itself is whole.
    {kEventCompressedOffNtfs, S::kCompressedOffNtfs, true, S::kCompressedOffNtfs, S::kCompressedOffNtfs, false, false},
    {kEventEncryptedFolderOffNtfs, S::kEncryptedFolderOffNtfs, true, S::kEncryptedFolderOffNtfs,
     S::kEncryptedFolderOffNtfs, true, false},
    {kEventCompressedFolderOffNtfs, S::kCompressedFolderOffNtfs, true, S::kCompressedFolderOffNtfs,
     S::kCompressedFolderOffNtfs, true, false},
    {kEventEncryptedImport, S::kEncryptedImportQuestion, true, S::kEncryptedImportSkipped, S::kEncryptedImportStopped,
     false, true},
    {kEventExtractFailed, S::kDamagedDataQuestion, true, S::kDamagedData, S::kDamagedData, false, true},
    {kEventTooLargeOffNtfs, S::kTooLargeQuestion, true, S::kTooLarge, S::kTooLarge, false, true},
    {kEventNoSpace, S::kNoSpaceQuestion, true, S::kNoSpace, S::kNoSpace, false, true},
};
// Attributes not restored: the wording depends on whether the file is encrypted.
constexpr QuestionRow kAttributesEncrypted = {kEventAttributesFailed, S::kEncryptedAttributesQuestion, true,
                                              S::kEncryptedAttributesFailed, S::kEncryptedAttributesStopped, false, true};
constexpr QuestionRow kAttributesPlain = {kEventAttributesFailed, S::kAttributesQuestion, true, S::kAttributesFailed,
                                          S::kAttributesStopped, false, true};

const QuestionRow* FindQuestion(const RestoreEvent& event) {
  if (event.code == kEventAttributesFailed)
    return event.entry != nullptr && event.entry->IsEncrypted() ? &kAttributesEncrypted : &kAttributesPlain;
  for (const QuestionRow& row : kQuestions)
    if (row.event == event.code) return &row;
  return nullptr;
}

// Events about one stored file, as opposed to the run's and the folders'.
bool IsEntryEvent(int code) {
  switch (code) {
    case kEventRestoring:
    case kEventEntryDone:
    case kEventNamesUnreadable:
    case kEventCannotCreate:
    case kEventCrcDiffers:
    case kEventAttributesFailed:
    case kEventPathTooLong:
    case kEventFileExists:
    case kEventEncryptedOffNtfs:
    case kEventCompressedOffNtfs:
    case kEventEncryptedImport:
    case kEventExtractFailed:
    case kEventTooLargeOffNtfs:
    case kEventNoSpace:
      return true;
    default:
      return false;
  }
}

// A log line whose text is made here rather than read from the string table.
class CTextLog : public CLog {
 public:
  explicit CTextLog(std::u16string text) : text_(std::move(text)) {}
  bool GetText(std::u16string& out) const override {
    out = text_;
    return !text_.empty();
  }
  std::unique_ptr<CLog> Clone() const override { return std::make_unique<CTextLog>(*this); }

 private:
  std::u16string text_;
};

// The log line's text after the path, from the string table; 0: nothing to add.
uint32_t ObstacleTextId(RestoreObstacle obstacle) {
  switch (obstacle) {
    case RestoreObstacle::kLink:
      return S::kLinkInPlace;
    case RestoreObstacle::kNotFolder:
      return S::kNotAFolder;
    case RestoreObstacle::kProtectedFile:
      return S::kProtectedFile;
    case RestoreObstacle::kControlCharacter:
      return S::kControlCharacters;
    case RestoreObstacle::kUnpairedSurrogate:
      return S::kUnpairedSurrogate;
    case RestoreObstacle::kNone:
      break;
  }
  return 0;
}

std::u16string Text(uint32_t id) {
  std::u16string out;
  host::LoadString(id, out);
  return out;
}

}  // namespace

CRestoreSession::CRestoreSession(IRestoreUser& user, CLogger& log) : user_(user), log_(log) {}

void CRestoreSession::Reset(std::u16string archivePath, uint64_t totalBytes) {
  archivePath_ = std::move(archivePath);
  answersForAll_.clear();
  cancelRequested_.store(false);
  stopped_ = false;
  halted_ = false;
  counts_ = RestoreCounts{};
  progress_ = RestoreProgressState{};
  progress_.totalBytes = totalBytes;
  finishedBytes_ = 0;
  entry_ = EntryState{};
  losses_.clear();
  lossFolder_.clear();
  lossFileSystem_.clear();
  log_.Clear();
}

RestoreEventCallback CRestoreSession::Events() {
  return [this](const RestoreEvent& event) { return OnEvent(event); };
}

ExtractProgress CRestoreSession::Progress() {
  return [this](uint64_t bytes) { return OnProgress(bytes); };
}

std::u16string CRestoreSession::Shown(const std::u16string* text) const {
  if (text == nullptr) return {};
  std::string hostPath;
  if (host::ToHostPath(*text, hostPath)) return host::Utf8ToWide(hostPath);
  return *text;
}

void CRestoreSession::LogFile(uint32_t id, const std::u16string& text) { log_.Add(CFileLog(text, id)); }

void CRestoreSession::Cancel() {
  cancelRequested_.store(true);
  if (stopped_) return;
  stopped_ = true;
  log_.Add(CMessageLog(S::kCancelled));
}

void CRestoreSession::LogLine(std::u16string text) { log_.Add(CTextLog(std::move(text))); }

void CRestoreSession::LogReason(const RestoreEvent& event) {
  if (event.systemError == 0 || event.text == nullptr) return;
  LogLine(paths::ShownText(Shown(event.text)) + u": " + host::Utf8ToWide(host::SystemErrorText(event.systemError)));
}

bool CRestoreSession::Obstacle(const RestoreEvent& event) {
  const bool aboutEntry = event.entry != nullptr;
  if (aboutEntry) {
    entry_.problem = true;
    if (event.code != kEventNameNotHostable) LogFile(S::kCannotCreate, Shown(event.text));
  }
  const uint32_t why = ObstacleTextId(event.obstacle);
  // What stands in the way is named: the link or file for a folder, else the path itself.
  const bool inTheWay = event.obstacle == RestoreObstacle::kLink || event.obstacle == RestoreObstacle::kNotFolder;
  if (why != 0) LogLine(paths::ShownText(Shown(inTheWay ? event.detail : event.text)) + Text(why));
  if (!aboutEntry) ++counts_.foldersNotRestored;
  return true;
}

bool CRestoreSession::OnEvent(const RestoreEvent& event) {
  const bool wasStopped = stopped_;
  if (cancelRequested_.load()) Cancel();
  if (wasStopped) return false;
  // The entry an event is about is counted even when the run stops at it
  // (a Ctrl-C answered here).
  Follow(event);
  if (stopped_) return false;
  switch (event.code) {
    case kEventRunStarted:
      LogFile(S::kRestoreStarted, Shown(&archivePath_));
      return true;
    case kEventRestoring:
      progress_.currentFile = Shown(event.text);
      UpdateProgress(true);
      return true;
    case kEventEntryDone:
      entry_.done = true;
      return true;
    case kEventRunEnded:
      FinishEntry();
      LogFile(S::kRestoreEnded, Shown(&archivePath_));
      return true;
    case kEventFolderNotCreated:
      return Fatal(event, S::kTargetFolderNotMade, S::kTargetFolderNotMadeStopped, false);
    case kEventFolderTooLong:
      return Fatal(event, S::kFolderPathTooLong, S::kFolderPathTooLongStopped, true);
    case kEventNoDrive:
      return Fatal(event, S::kNoTargetDrive, S::kNoTargetDriveStopped, false);
    case kEventFolderFailed:
      ++counts_.foldersFailed;
      LogFile(S::kFolderAttributesFailed, Shown(event.text));
      return true;
    case kEventFileExists:
      return ExistingFile(event);
    case kEventAttributesNotKept:
      CountAttributesNotKept(event);
      return true;
    case kEventFolderObstacle:
    case kEventProtectedFile:
    case kEventNameNotHostable:
      return Obstacle(event);
    case kEventKeptAsWritten:
      // The question's own line says why it is not right; this one says
      // where it was left, or why it could not be.
      if (event.systemError == 0)
        LogLine(paths::ShownText(Shown(event.text)) + Text(S::kKeptDespiteCheck));
      else
        LogReason(event);
      return true;
    case kEventNameShortened:
      ++counts_.shortened;
      LogLine(paths::ShownText(Shown(event.text)) + Text(S::kShortenedName) + paths::ShownText(Shown(event.detail)));
      return true;
    default:
      if (FindQuestion(event) != nullptr) return Question(event);
      return true;  // an event this side has nothing to say about
  }
}

bool CRestoreSession::Fatal(const RestoreEvent& event, uint32_t noticeId, uint32_t logId, bool withPath) {
  if (IsEntryEvent(event.code) || event.entry != nullptr) entry_.problem = true;
  user_.ShowError(RestoreNotice{event.code, noticeId, Text(noticeId)});
  LogFile(logId, withPath ? Shown(event.text) : std::u16string());
  LogReason(event);
  halted_ = true;
  return false;
}

bool CRestoreSession::Question(const RestoreEvent& event) {
  const QuestionRow& row = *FindQuestion(event);
  if (row.problem) entry_.problem = true;
  const std::u16string path = Shown(event.text);
  std::u16string subject = path;
  if (!row.aboutText) {
    // Without its name the file cannot be put to the user.
    if (event.entry == nullptr || !event.entry->GetFileName(subject)) {
      halted_ = true;
      return false;
    }
  }

  bool proceed = HasAnswerForAll(event.code);
  if (!proceed) {
    RestoreQuestion question;
    question.event = event.code;
    question.messageId = row.question;
    question.message = FormatWithText(Text(row.question), paths::ShownText(subject));
    question.subject = subject;
    question.information = row.information;
    const RestoreChoice choice = user_.Ask(question);
    if (choice == kChoiceContinueAll) answersForAll_[event.code] = true;
    proceed = choice == kChoiceContinue || choice == kChoiceContinueAll;
  }
  if (!proceed) {
    LogFile(row.stopLog, path);
    LogReason(event);
    Cancel();
    return false;
  }
  LogFile(row.continueLog, path);
  LogReason(event);
  // Every such answer passes over the rest of the file or comes after its
  // contents were written; either way its bytes count as done.
  if (IsEntryEvent(event.code)) PassOver();
  if (cancelRequested_.load()) Cancel();
  return !stopped_;
}

bool CRestoreSession::ExistingFile(const RestoreEvent& event) {
  const std::u16string path = Shown(event.text);
  RestoreChoice choice = kChoiceOverwriteAll;
  if (!HasAnswerForAll(kEventFileExists)) {
    RestoreQuestion question;
    question.event = kEventFileExists;
    question.messageId = S::kExistsQuestion;
    question.message = FormatWithText(Text(S::kExistsQuestion), paths::ShownText(path));
    question.subject = path;
    question.choices[0] = kChoiceOverwrite;
    question.choices[1] = kChoiceOverwriteAll;
    question.choices[2] = kChoiceSkip;
    choice = user_.Ask(question);
    if (choice == kChoiceOverwriteAll) answersForAll_[kEventFileExists] = true;
  }
  if (choice == kChoiceOverwrite || choice == kChoiceOverwriteAll) {
    LogFile(S::kExistingOverwritten, path);
    if (cancelRequested_.load()) Cancel();
    return !stopped_;
  }
  // Skipping one file is no reason to stop the run.
  entry_.skippedExisting = true;
  PassOver();
  LogFile(S::kExistingSkipped, path);
  return false;
}

void CRestoreSession::Follow(const RestoreEvent& event) {
  long position = -1;
  if (event.position != nullptr)
    position = *event.position;
  else if (event.record != nullptr)
    position = event.record->position;
  // Any event that names an entry is about that entry, also one that stops
  // the run (a folder that cannot be made for it): counting it on the entry
  // before would call a restored file incomplete and forget this one.
  if (!IsEntryEvent(event.code) && event.entry == nullptr && position < 0) return;
  // Positions tell entries apart; an event without one belongs to the entry
  // whose record it carries.
  if (entry_.tracked && position == entry_.position && (position >= 0 || event.entry == entry_.header)) return;
  FinishEntry();
  entry_.position = position;
  entry_.header = event.entry;
  entry_.fileSize = event.entry != nullptr ? event.entry->GetFileSize() : 0;
  entry_.tracked = true;
}

void CRestoreSession::FinishEntry() {
  if (!entry_.tracked) return;
  if (entry_.done) {
    ++counts_.restored;
    if (entry_.problem) ++counts_.incomplete;
  } else if (entry_.skippedExisting) {
    ++counts_.skipped;
  } else {
    ++counts_.failed;
  }
  finishedBytes_ += entry_.fileSize;
  entry_ = EntryState{};
  UpdateProgress(false);
}

void CRestoreSession::PassOver() {
  if (!entry_.tracked) return;
  entry_.written = entry_.fileSize;
  UpdateProgress(false);
}

bool CRestoreSession::OnProgress(uint64_t bytes) {
  if (cancelRequested_.load()) Cancel();
  if (stopped_) return false;
  if (entry_.tracked) {
    entry_.written = entry_.fileSize - entry_.written < bytes ? entry_.fileSize : entry_.written + bytes;
    UpdateProgress(false);
  }
  return true;
}

void CRestoreSession::UpdateProgress(bool fileChanged) {
  const uint64_t total = progress_.totalBytes;
  uint64_t done = finishedBytes_ + entry_.written;
  if (done < finishedBytes_ || done > total) done = total;  // a record that claims more than the total
  progress_.doneBytes = std::max(progress_.doneBytes, done);
  unsigned percent = 0;
  if (total > 0) {
    const uint64_t d = progress_.doneBytes;
    percent = static_cast<unsigned>(total <= std::numeric_limits<uint64_t>::max() / 100 ? d * 100 / total
                                                                                         : d / (total / 100));
  }
  const bool grew = percent > progress_.percent;
  if (grew) progress_.percent = percent;
  if (grew || fileChanged) user_.ShowProgress(progress_);
}

void CRestoreSession::CountAttributesNotKept(const RestoreEvent& event) {
  if (event.text == nullptr) return;
  const bool file = event.entry != nullptr;
  // A file lies on the file system of its folder; a folder may itself be a
  // mount point, so it is asked about itself.
  const std::u16string folder = file ? paths::FolderPart(*event.text) : *event.text;
  if (folder != lossFolder_ || lossFileSystem_.empty()) {
    host::VolumeFacts facts;
    lossFileSystem_ = host::GetVolumeFacts(folder, facts) ? facts.typeName : "?";
    lossFolder_ = folder;
  }
  for (uint32_t bit = 1; bit != 0 && bit <= event.attributesNotKept; bit <<= 1) {
    if ((event.attributesNotKept & bit) == 0) continue;
    auto it = std::find_if(losses_.begin(), losses_.end(), [&](const AttributeLoss& loss) {
      return loss.fileSystem == lossFileSystem_ && loss.attribute == bit;
    });
    if (it == losses_.end()) {
      // Kept together by file system, each one's attributes in bit order.
      auto after = std::find_if(losses_.begin(), losses_.end(), [&](const AttributeLoss& loss) {
        return loss.fileSystem == lossFileSystem_ && loss.attribute > bit;
      });
      auto last = std::find_if(losses_.rbegin(), losses_.rend(),
                               [&](const AttributeLoss& loss) { return loss.fileSystem == lossFileSystem_; });
      if (after == losses_.end() && last != losses_.rend()) after = last.base();
      it = losses_.insert(after, AttributeLoss{lossFileSystem_, bit});
    }
    ++(file ? it->files : it->folders);
  }
}

void CRestoreSession::Conclude() {
  static constexpr std::pair<uint32_t, const char16_t*> kNames[] = {
      {host::kAttributeReadOnly, u"読み取り専用"},
      {host::kAttributeHidden, u"隠し"},
      {host::kAttributeSystem, u"システム"},
      {host::kAttributeArchive, u"アーカイブ"},
  };
  for (size_t i = 0; i < losses_.size();) {
    const std::string& fileSystem = losses_[i].fileSystem;
    std::u16string line = u"ファイルシステム　" + host::Utf8ToWide(fileSystem) +
                          u"　には次の属性を保存する場所がないため、復元しませんでした：";
    for (bool first = true; i < losses_.size() && losses_[i].fileSystem == fileSystem; ++i, first = false) {
      const AttributeLoss& loss = losses_[i];
      const char16_t* name = u"?";
      for (const auto& [bit, text] : kNames)
        if (bit == loss.attribute) name = text;
      if (!first) line += u"、";
      line += name;
      line += u"（";
      if (loss.files > 0) line += u"ファイル " + host::Utf8ToWide(std::to_string(loss.files));
      if (loss.files > 0 && loss.folders > 0) line += u"、";
      if (loss.folders > 0) line += u"フォルダ " + host::Utf8ToWide(std::to_string(loss.folders));
      line += u"）";
    }
    log_.Add(CMessageLog(line));
  }
}

void CRestoreSession::EndRun(bool succeeded) {
  FinishEntry();
  if (!succeeded) halted_ = true;
}

void CRestoreSession::EndRunOutOfMemory() {
  halted_ = true;
  // Whatever fails to be told now, for want of the same memory, stays untold.
  try {
    FinishEntry();
    user_.ShowError(RestoreNotice{0, S::kOutOfMemory, Text(S::kOutOfMemory)});
  } catch (const std::bad_alloc&) {
  }
  log_.Add(CMessageLog(S::kOutOfMemory));
}

CRestoreSession::Outcome CRestoreSession::GetOutcome() const {
  if (stopped_ || halted_) return Outcome::kStopped;
  if (counts_.skipped > 0 || counts_.failed > 0 || counts_.incomplete > 0 || counts_.foldersFailed > 0 ||
      counts_.foldersNotRestored > 0 || counts_.shortened > 0)
    return Outcome::kIncomplete;
  return Outcome::kComplete;
}

}  // namespace QPXFile
