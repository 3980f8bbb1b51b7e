// The user's side of a restore: a scripted user answers the questions, the
// events come as the driver sends them, and the log, the answers and the
// counts are checked.
#include "restore/restore_session.h"

#include <cerrno>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/string_table.h"
#include "host/text.h"
#include "host/volume.h"
#include "support/entry_record.h"

using namespace QPXFile;

namespace {

using Record = testsupport::EntryRecord;

// A record whose name cannot be decoded.
class Nameless : public Record {
 public:
  Nameless() : Record("x", 1) {}
  bool GetFileName(std::u16string&) const override { return false; }
};

class ScriptedUser : public IRestoreUser {
 public:
  RestoreChoice Ask(const RestoreQuestion& q) override {
    questions.push_back(q);
    if (script.empty()) {
      ADD_FAILURE() << "unexpected question for event " << q.event;
      return kChoiceNone;
    }
    RestoreChoice c = script.front();
    script.pop_front();
    if (cancelWhileAsking != nullptr) cancelWhileAsking->RequestCancel();
    return c;
  }
  void ShowError(const RestoreNotice& n) override { notices.push_back(n); }
  void ShowProgress(const RestoreProgressState& s) override { progress.push_back(s); }

  std::deque<RestoreChoice> script;
  std::vector<RestoreQuestion> questions;
  std::vector<RestoreNotice> notices;
  std::vector<RestoreProgressState> progress;
  CRestoreSession* cancelWhileAsking = nullptr;
};

// Log entries as (message id, subject); message lines have subject "*".
using Line = std::pair<uint32_t, std::u16string>;

class RestoreSessionTest : public ::testing::Test {
 protected:
  RestoreSessionTest() : session_(user_, log_) { session_.Reset(u"Z:\\backups\\week.qpx", 1000); }

  // Sends an event as the driver fills it.
  bool Send(int code, const std::u16string* text = nullptr, const CQPXBackupedFileHeader* entry = nullptr,
            long position = -1) {
    return SendWith(code, text, entry, position, {});
  }
  // An entry restored without trouble.
  void Restored(const Record& r, long position, const std::u16string& path) {
    EXPECT_TRUE(Send(kEventRestoring, &path, &r, position));
    EXPECT_TRUE(session_.Progress()(r.GetFileSize()));
    EXPECT_TRUE(Send(kEventEntryDone, &path, &r, position));
  }

  std::vector<Line> Lines() const {
    std::vector<Line> out;
    for (size_t i = 0; i < log_.GetCount(); ++i) {
      if (auto* f = dynamic_cast<const CFileLog*>(&log_.GetAt(i)))
        out.emplace_back(f->GetMessageId(), f->GetSubject());
      else
        out.emplace_back(0, u"*");
    }
    return out;
  }

  // The text of log line i, as shown.
  std::u16string TextAt(size_t i) const {
    std::u16string out;
    log_.GetAt(i).GetText(out);
    return out;
  }
  // Sends an event with the details the driver adds.
  bool SendWith(int code, const std::u16string* text, const CQPXBackupedFileHeader* entry, long position,
                const RestoreEventDetails& details) {
    record_.lastIndex = 9;
    record_.text = text ? *text : std::u16string();
    record_.position = position;
    position_ = position;
    RestoreEvent e;
    e.code = code;
    e.text = text;
    e.entry = entry;
    e.record = &record_;
    e.position = &position_;
    e.systemError = details.systemError;
    e.detail = details.detail;
    e.obstacle = details.obstacle;
    return session_.Events()(e);
  }

  ScriptedUser user_;
  CLogger log_;
  CRestoreSession session_;
  RestoreEventRecord record_;
  long position_ = -1;
  const std::u16string pathA_ = u"Z:\\out\\Docs\\a.txt";
  const std::u16string pathB_ = u"Z:\\out\\Docs\\b.txt";
  const std::u16string pathC_ = u"Z:\\out\\Docs\\c.txt";
};

TEST_F(RestoreSessionTest, RunIsLoggedWithHostPathsAndEachEntryCounted) {
  Record a("a.txt", 100), b("b.txt", 200), c("c.txt", 300);
  ASSERT_TRUE(Send(kEventRunStarted));
  Restored(a, 0, pathA_);
  // An existing file skipped: the run goes on.
  ASSERT_TRUE(Send(kEventRestoring, &pathB_, &b, 1));
  user_.script = {kChoiceSkip};
  EXPECT_FALSE(Send(kEventFileExists, &pathB_, &b, 1));
  // Damaged contents passed over.
  ASSERT_TRUE(Send(kEventRestoring, &pathC_, &c, 2));
  user_.script = {kChoiceContinue};
  EXPECT_TRUE(Send(kEventExtractFailed, &pathC_, &c, 2));
  Send(kEventRunEnded);
  session_.EndRun(true);

  EXPECT_EQ(Lines(), (std::vector<Line>{{186, u"/backups/week.qpx"},
                                        {209, u"/out/Docs/b.txt"},
                                        {213, u"/out/Docs/c.txt"},
                                        {232, u"/backups/week.qpx"}}));
  const RestoreCounts& n = session_.GetCounts();
  EXPECT_EQ(n.restored, 1);
  EXPECT_EQ(n.skipped, 1);
  EXPECT_EQ(n.failed, 1);
  EXPECT_EQ(n.incomplete, 0);
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kIncomplete);
  // Passed-over files count as done: the progress still reaches the end.
  EXPECT_EQ(session_.GetProgressState().percent, 60u);
  EXPECT_EQ(session_.GetProgressState().doneBytes, 600u);
}

TEST_F(RestoreSessionTest, QuestionsOfferTheDesktopChoicesAboutTheRightSubject) {
  Record a("a.txt", 10), enc("secret.doc", 10, 0x4020);
  user_.script = {kChoiceContinue, kChoiceContinue, kChoiceOverwrite, kChoiceContinue, kChoiceContinue};
  EXPECT_TRUE(Send(kEventPathTooLong, &pathA_, &a, 0));
  EXPECT_TRUE(Send(kEventExtractFailed, &pathB_, &a, 1));
  EXPECT_TRUE(Send(kEventFileExists, &pathC_, &a, 2));
  EXPECT_TRUE(Send(kEventAttributesFailed, &pathA_, &enc, 3));
  EXPECT_TRUE(Send(kEventAttributesFailed, &pathB_, &a, 4));
  ASSERT_EQ(user_.questions.size(), 5u);

  const RestoreQuestion& tooLong = user_.questions[0];
  EXPECT_EQ(tooLong.messageId, 201u);
  EXPECT_EQ(tooLong.subject, u"/out/Docs/a.txt");
  EXPECT_NE(tooLong.message.find(u"/out/Docs/a.txt"), std::u16string::npos);
  EXPECT_EQ(tooLong.message.find(u"Z:"), std::u16string::npos);
  EXPECT_TRUE(tooLong.information);
  EXPECT_EQ(tooLong.choices[0], kChoiceContinue);
  EXPECT_EQ(tooLong.choices[1], kChoiceContinueAll);
  EXPECT_EQ(tooLong.choices[2], kChoiceStop);
  // Damaged contents are put to the user by file name, logged by path.
  EXPECT_EQ(user_.questions[1].subject, u"a.txt");
  const RestoreQuestion& exists = user_.questions[2];
  EXPECT_TRUE(exists.IsExistingFile());
  EXPECT_EQ(exists.messageId, 205u);
  EXPECT_FALSE(exists.information);
  EXPECT_EQ(exists.choices[0], kChoiceOverwrite);
  EXPECT_EQ(exists.choices[1], kChoiceOverwriteAll);
  EXPECT_EQ(exists.choices[2], kChoiceSkip);
  // Attributes: encrypted files have their own wording.
  EXPECT_EQ(user_.questions[3].messageId, 219u);
  EXPECT_EQ(user_.questions[4].messageId, 220u);
  EXPECT_EQ(Lines(), (std::vector<Line>{{202, u"/out/Docs/a.txt"},
                                        {213, u"/out/Docs/b.txt"},
                                        {204, u"/out/Docs/c.txt"},
                                        {221, u"/out/Docs/a.txt"},
                                        {222, u"/out/Docs/b.txt"}}));
}

TEST_F(RestoreSessionTest, AnAnswerForAllHoldsForItsEventOnly) {
  Record r("a.txt", 1);
  user_.script = {kChoiceContinueAll};
  EXPECT_TRUE(Send(kEventCannotCreate, &pathA_, &r, 0));
  EXPECT_TRUE(Send(kEventCannotCreate, &pathB_, &r, 1));
  EXPECT_TRUE(Send(kEventCannotCreate, &pathC_, &r, 2));
  EXPECT_EQ(user_.questions.size(), 1u);
  EXPECT_TRUE(session_.HasAnswerForAll(kEventCannotCreate));
  // Another code still asks.
  user_.script = {kChoiceContinue};
  EXPECT_TRUE(Send(kEventCrcDiffers, &pathA_, &r, 3));
  EXPECT_EQ(user_.questions.size(), 2u);
  EXPECT_EQ(Lines(), (std::vector<Line>{{211, u"/out/Docs/a.txt"},
                                        {211, u"/out/Docs/b.txt"},
                                        {211, u"/out/Docs/c.txt"},
                                        {236, u"/out/Docs/a.txt"}}));

  // Overwriting all is remembered the same way; skipping is never remembered.
  user_.script = {kChoiceSkip, kChoiceOverwriteAll};
  EXPECT_FALSE(Send(kEventFileExists, &pathA_, &r, 4));
  EXPECT_TRUE(Send(kEventFileExists, &pathB_, &r, 5));
  EXPECT_TRUE(Send(kEventFileExists, &pathC_, &r, 6));
  EXPECT_EQ(user_.questions.size(), 4u);

  // A new restore forgets the answers and the log.
  session_.Reset(u"Z:\\b.qpx", 0);
  EXPECT_FALSE(session_.HasAnswerForAll(kEventCannotCreate));
  EXPECT_EQ(log_.GetCount(), 0u);
}

TEST_F(RestoreSessionTest, StoppingAnswersEveryLaterEventWithoutAsking) {
  Record r("a.txt", 50);
  ASSERT_TRUE(Send(kEventRunStarted));
  ASSERT_TRUE(Send(kEventRestoring, &pathA_, &r, 0));
  user_.script = {kChoiceStop};
  EXPECT_FALSE(Send(kEventCrcDiffers, &pathA_, &r, 0));
  EXPECT_TRUE(session_.IsStopped());
  EXPECT_FALSE(Send(kEventEntryDone, &pathA_, &r, 0));
  EXPECT_FALSE(Send(kEventExtractFailed, &pathB_, &r, 1));
  EXPECT_FALSE(Send(kEventRunEnded));
  EXPECT_FALSE(session_.Progress()(1));
  session_.EndRun(false);
  EXPECT_EQ(user_.questions.size(), 1u);
  EXPECT_EQ(Lines(), (std::vector<Line>{{186, u"/backups/week.qpx"}, {218, u"/out/Docs/a.txt"}, {0, u"*"}}));
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kStopped);
  EXPECT_EQ(session_.GetCounts().failed, 1);
}

TEST_F(RestoreSessionTest, ClosingAQuestionStopsButClosingTheExistingFileQuestionSkips) {
  Record r("a.txt", 1);
  user_.script = {kChoiceNone};
  EXPECT_FALSE(Send(kEventFileExists, &pathA_, &r, 0));
  EXPECT_FALSE(session_.IsStopped());
  user_.script = {kChoiceNone};
  EXPECT_FALSE(Send(kEventNamesUnreadable, nullptr, &r, 1));
  EXPECT_TRUE(session_.IsStopped());
  EXPECT_EQ(Lines(), (std::vector<Line>{{209, u"/out/Docs/a.txt"}, {192, u""}, {0, u"*"}}));
}

TEST_F(RestoreSessionTest, FatalEventsNotifyLogAndEndTheRun) {
  const std::u16string folder = u"Z:\\out\\Docs";
  EXPECT_FALSE(Send(kEventFolderTooLong, &folder));
  // The folder pass sends 258 right after 262; both reach the user.
  EXPECT_FALSE(Send(kEventFolderNotCreated));
  ASSERT_EQ(user_.notices.size(), 2u);
  EXPECT_EQ(user_.notices[0].messageId, 193u);
  EXPECT_EQ(user_.notices[1].messageId, 199u);
  std::u16string text;
  ASSERT_TRUE(host::LoadString(199, text));
  EXPECT_EQ(user_.notices[1].message, text);
  EXPECT_EQ(Lines(), (std::vector<Line>{{194, u"/out/Docs"}, {200, u""}}));
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kStopped);
  EXPECT_TRUE(user_.questions.empty());
}

TEST_F(RestoreSessionTest, AFileWithoutItsNameCannotBePutToTheUser) {
  Nameless r;
  EXPECT_FALSE(Send(kEventExtractFailed, &pathA_, &r, 0));
  EXPECT_TRUE(user_.questions.empty());
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kStopped);
}

TEST_F(RestoreSessionTest, PartlyRestoredEntriesAndFoldersAreTold) {
  Record r("a.txt", 1);
  user_.script = {kChoiceContinue};
  ASSERT_TRUE(Send(kEventRestoring, &pathA_, &r, 0));
  ASSERT_TRUE(Send(kEventAttributesFailed, &pathA_, &r, 0));
  ASSERT_TRUE(Send(kEventEntryDone, &pathA_, &r, 0));
  const std::u16string folder = u"Z:\\out\\Docs";
  EXPECT_TRUE(Send(kEventFolderFailed, &folder));
  EXPECT_TRUE(Send(kEventRunEnded));
  session_.EndRun(true);
  EXPECT_EQ(session_.GetCounts().restored, 1);
  EXPECT_EQ(session_.GetCounts().incomplete, 1);
  EXPECT_EQ(session_.GetCounts().foldersFailed, 1);
  EXPECT_EQ(Lines()[1], (Line{235, u"/out/Docs"}));
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kIncomplete);
}

TEST_F(RestoreSessionTest, CleanRunIsComplete) {
  Record a("a.txt", 400), b("b.txt", 600);
  ASSERT_TRUE(Send(kEventRunStarted));
  Restored(a, 0, pathA_);
  Restored(b, 1, pathB_);
  ASSERT_TRUE(Send(kEventRunEnded));
  session_.EndRun(true);
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kComplete);
  EXPECT_EQ(session_.GetCounts().restored, 2);
  EXPECT_EQ(session_.GetProgressState().percent, 100u);
}

TEST_F(RestoreSessionTest, ProgressGrowsWithTheBytesAndNamesTheCurrentFile) {
  Record a("a.txt", 500), b("b.txt", 500);
  ASSERT_TRUE(Send(kEventRestoring, &pathA_, &a, 0));
  ASSERT_FALSE(user_.progress.empty());
  EXPECT_EQ(user_.progress.back().currentFile, u"/out/Docs/a.txt");
  EXPECT_TRUE(session_.Progress()(250));
  EXPECT_EQ(user_.progress.back().percent, 25u);
  // A record claiming less than the stream delivers never pushes the
  // progress past the entry's share.
  EXPECT_TRUE(session_.Progress()(10000));
  EXPECT_EQ(user_.progress.back().doneBytes, 500u);
  const size_t shown = user_.progress.size();
  EXPECT_TRUE(session_.Progress()(1));  // no growth: nothing new to show
  EXPECT_EQ(user_.progress.size(), shown);
  ASSERT_TRUE(Send(kEventEntryDone, &pathA_, &a, 0));
  ASSERT_TRUE(Send(kEventRestoring, &pathB_, &b, 1));
  EXPECT_EQ(user_.progress.back().currentFile, u"/out/Docs/b.txt");
  unsigned last = 0;
  for (const RestoreProgressState& s : user_.progress) {
    EXPECT_GE(s.percent, last);
    last = s.percent;
  }
}

TEST_F(RestoreSessionTest, ACancelRequestStopsAtTheNextCallbackAndIsLoggedOnce) {
  Record r("a.txt", 100);
  ASSERT_TRUE(Send(kEventRestoring, &pathA_, &r, 0));
  session_.RequestCancel();
  session_.RequestCancel();
  EXPECT_FALSE(session_.Progress()(10));
  EXPECT_FALSE(Send(kEventExtractFailed, &pathA_, &r, 0));
  EXPECT_EQ(Lines(), (std::vector<Line>{{0, u"*"}}));
  EXPECT_TRUE(user_.questions.empty());

  // A cancel while a question is open wins over its "continue".
  session_.Reset(u"Z:\\a.qpx", 100);
  user_.cancelWhileAsking = &session_;
  user_.script = {kChoiceContinue};
  EXPECT_FALSE(Send(kEventNoSpace, &pathA_, &r, 0));
  EXPECT_EQ(Lines(), (std::vector<Line>{{244, u"/out/Docs/a.txt"}, {0, u"*"}}));
}

TEST_F(RestoreSessionTest, AttributesTheFileSystemHasNoPlaceForAreCountedOnceAndFailNothing) {
  Record a("a.txt", 100, 0x20), b("b.txt", 200, 0x27);
  const std::u16string folder = u"Z:\\out\\Docs";
  auto notKept = [&](const std::u16string& path, const Record* entry, long position, uint32_t bits) {
    RestoreEvent e;
    e.code = kEventAttributesNotKept;
    e.text = &path;
    e.entry = entry;
    e.record = &record_;
    position_ = position;
    e.position = &position_;
    e.attributesNotKept = bits;
    EXPECT_TRUE(session_.Events()(e));
  };
  ASSERT_TRUE(Send(kEventRunStarted));
  ASSERT_TRUE(Send(kEventRestoring, &pathA_, &a, 0));
  notKept(pathA_, &a, 0, 0x20);
  ASSERT_TRUE(Send(kEventEntryDone, &pathA_, &a, 0));
  ASSERT_TRUE(Send(kEventRestoring, &pathB_, &b, 1));
  notKept(pathB_, &b, 1, 0x26);
  ASSERT_TRUE(Send(kEventEntryDone, &pathB_, &b, 1));
  notKept(folder, nullptr, -1, 0x02);
  Send(kEventRunEnded);
  session_.EndRun(true);
  session_.Conclude();

  const RestoreCounts& n = session_.GetCounts();
  EXPECT_EQ(n.restored, 2);
  EXPECT_EQ(n.incomplete, 0);
  EXPECT_EQ(n.foldersFailed, 0);
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kComplete) << "a loss no one can avoid is no failure";
  host::VolumeFacts facts;
  ASSERT_TRUE(host::GetVolumeFacts(folder, facts));
  const std::vector<AttributeLoss>& losses = session_.GetAttributeLosses();
  ASSERT_EQ(losses.size(), 3u);
  EXPECT_EQ(losses[0].fileSystem, facts.typeName);
  EXPECT_EQ(losses[0].attribute, 0x02u);
  EXPECT_EQ(losses[0].files, 1);
  EXPECT_EQ(losses[0].folders, 1);
  EXPECT_EQ(losses[1].attribute, 0x04u);
  EXPECT_EQ(losses[1].files, 1);
  EXPECT_EQ(losses[2].attribute, 0x20u);
  EXPECT_EQ(losses[2].files, 2);
  EXPECT_EQ(losses[2].folders, 0);
  // One line after the run's own lines, none per file.
  ASSERT_EQ(Lines().size(), 3u);
  std::u16string line;
  ASSERT_TRUE(log_.GetAt(2).GetText(line));
  EXPECT_EQ(line, u"ファイルシステム　" + host::Utf8ToWide(facts.typeName) +
                      u"　には次の属性を保存する場所がないため、復元しませんでした：隠し（ファイル 1、フォルダ 1）、"
                      u"システム（ファイル 1）、アーカイブ（ファイル 2）");

  session_.Reset(u"Z:\\backups\\week.qpx", 1000);
  EXPECT_TRUE(session_.GetAttributeLosses().empty());
}

TEST_F(RestoreSessionTest, AStoppedRunCountsTheEntryItStoppedAtNotTheOneBefore) {
  Record a("a.txt", 10), b("b.txt", 10);
  ASSERT_TRUE(Send(kEventRunStarted));
  Restored(a, 0, pathA_);
  // The folder for b cannot be made: the driver names b's record.
  const std::u16string folder = u"Z:\\out\\Docs\\Sub";
  EXPECT_FALSE(SendWith(kEventFolderNotCreated, &folder, &b, 1, {.systemError = EROFS}));
  session_.EndRun(false);
  EXPECT_EQ(session_.GetCounts().restored, 1);
  EXPECT_EQ(session_.GetCounts().incomplete, 0);
  EXPECT_EQ(session_.GetCounts().failed, 1);
  EXPECT_EQ(TextAt(log_.GetCount() - 1), u"/out/Docs/Sub: Read-only file system");

  // Ctrl-C between two files: the one refused is counted, once.
  session_.Reset(u"Z:\\a.qpx", 20);
  Restored(a, 0, pathA_);
  session_.RequestCancel();
  EXPECT_FALSE(Send(kEventRestoring, &pathB_, &b, 1));
  EXPECT_FALSE(Send(kEventEntryDone, &pathB_, &b, 1));
  session_.EndRun(false);
  EXPECT_EQ(session_.GetCounts().restored, 1);
  EXPECT_EQ(session_.GetCounts().failed, 1);
}

TEST_F(RestoreSessionTest, SystemReasonsFollowTheLinesTheyExplain) {
  Record r("a.txt", 1);
  user_.script = {kChoiceContinue};
  EXPECT_TRUE(SendWith(kEventCannotCreate, &pathA_, &r, 0, {.systemError = ENOSPC}));
  ASSERT_EQ(log_.GetCount(), 2u);
  EXPECT_EQ(Lines()[0], (Line{211, u"/out/Docs/a.txt"}));
  EXPECT_EQ(TextAt(1), u"/out/Docs/a.txt: No space left on device");
  EXPECT_EQ(session_.GetCounts().failed, 0) << "counted when the entry ends";
  session_.EndRun(true);
  EXPECT_EQ(session_.GetCounts().failed, 1);
}

TEST_F(RestoreSessionTest, AQuestionShowsItsSubjectEscapedAndKeepsTheTrueOne) {
  Record a("a.txt", 10);
  const std::u16string reversed = u"Z:\\out\\Docs\\rtl\u202etxt.exe";
  user_.script = {kChoiceOverwrite};
  EXPECT_TRUE(Send(kEventFileExists, &reversed, &a, 0));
  ASSERT_EQ(user_.questions.size(), 1u);
  EXPECT_EQ(user_.questions[0].subject, u"/out/Docs/rtl\u202etxt.exe");
  EXPECT_NE(user_.questions[0].message.find(u"/out/Docs/rtl\\u{202E}txt.exe"), std::u16string::npos);
  EXPECT_EQ(user_.questions[0].message.find(u'\u202e'), std::u16string::npos);
}

TEST_F(RestoreSessionTest, ObstaclesProtectedFilesAndUnholdableNamesAreToldWithoutAsking) {
  Record a("a.txt", 1), b("set.qpx", 1), c("c", 1);
  const std::u16string link = u"Z:\\out\\Docs";
  ASSERT_TRUE(Send(kEventRunStarted));
  EXPECT_TRUE(SendWith(kEventFolderObstacle, &pathA_, &a, 0,
                       {.systemError = ELOOP, .detail = &link, .obstacle = RestoreObstacle::kLink}));
  EXPECT_TRUE(SendWith(kEventProtectedFile, &pathB_, &b, 1, {.obstacle = RestoreObstacle::kProtectedFile}));
  const std::u16string stored = std::u16string(u"C:\\Data\\line\nfeed") + u'\xDC80';
  EXPECT_TRUE(SendWith(kEventNameNotHostable, &stored, &c, 2, {.obstacle = RestoreObstacle::kControlCharacter}));
  // A folder of the folder pass behind a link: no entry.
  const std::u16string empty = u"Z:\\out\\Docs\\Empty";
  EXPECT_TRUE(SendWith(kEventFolderObstacle, &empty, nullptr, -1, {.detail = &link, .obstacle = RestoreObstacle::kLink}));
  EXPECT_TRUE(Send(kEventRunEnded));
  session_.EndRun(true);
  EXPECT_TRUE(user_.questions.empty());
  EXPECT_EQ(Lines()[1], (Line{211, u"/out/Docs/a.txt"}));
  EXPECT_NE(TextAt(2).find(u"/out/Docs：フォルダの位置にシンボリックリンクがあります。"), std::u16string::npos);
  EXPECT_EQ(Lines()[3], (Line{211, u"/out/Docs/b.txt"}));
  EXPECT_NE(TextAt(4).find(u"/out/Docs/b.txt：復元中のバックアップファイル"), std::u16string::npos);
  // The name is shown escaped: it can neither break the line nor hide a half pair.
  EXPECT_EQ(TextAt(5).rfind(u"C:\\Data\\line\\x0Afeed\\u{DC80}：名前に制御文字が含まれている", 0), 0u)
      << host::WideToUtf8(TextAt(5));
  EXPECT_NE(TextAt(6).find(u"/out/Docs：フォルダの位置にシンボリックリンク"), std::u16string::npos);
  EXPECT_EQ(session_.GetCounts().failed, 3);
  EXPECT_EQ(session_.GetCounts().foldersNotRestored, 1);
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kIncomplete);
}

TEST_F(RestoreSessionTest, AShortenedNameIsLoggedWithBothNamesAndMakesTheRunIncomplete) {
  Record r("long.txt", 1);
  const std::u16string stored = u"C:\\Data\\" + std::u16string(90, u'\u30D5') + u".txt";
  const std::u16string restored = u"Z:\\out\\short~0badcafe.txt";
  EXPECT_TRUE(SendWith(kEventNameShortened, &restored, &r, 0, {.detail = &stored}));
  Restored(r, 0, restored);
  session_.EndRun(true);
  EXPECT_TRUE(user_.questions.empty());
  EXPECT_EQ(TextAt(0), u"/out/short~0badcafe.txt：名前がこのファイルシステムには長すぎるため、この短い名前で復元しました。元の名前：" + stored);
  EXPECT_EQ(session_.GetCounts().restored, 1);
  EXPECT_EQ(session_.GetCounts().shortened, 1);
  EXPECT_EQ(session_.GetOutcome(), CRestoreSession::Outcome::kIncomplete);
}

TEST_F(RestoreSessionTest, AFileKeptAfterAFailedCheckIsLoggedWhereItWasLeftAndStillCountsAsFailed) {
  Record a("a.txt", 1), b("b.txt", 1);
  user_.script = {kChoiceContinueAll};
  EXPECT_TRUE(Send(kEventCrcDiffers, &pathA_, &a, 0));
  EXPECT_TRUE(Send(kEventKeptAsWritten, &pathA_, &a, 0));
  EXPECT_TRUE(Send(kEventCrcDiffers, &pathB_, &b, 1));
  EXPECT_TRUE(SendWith(kEventKeptAsWritten, &pathB_, &b, 1, {.systemError = EEXIST}));
  session_.EndRun(true);
  ASSERT_EQ(log_.GetCount(), 4u);
  EXPECT_EQ(Lines()[0], (Line{236, u"/out/Docs/a.txt"}));
  EXPECT_EQ(TextAt(1), u"/out/Docs/a.txt：内容が正しくない可能性がありますが、復元を継続したため、このファイル名で残しました。");
  EXPECT_EQ(TextAt(3), u"/out/Docs/b.txt: File exists");
  EXPECT_EQ(session_.GetCounts().failed, 2);
}

}  // namespace
