// The restore's questions and notices as the desktop program shows them:
// events sent from a worker thread as the driver sends them, each question
// answered in the dialog with each of its buttons or with Esc, and the
// answer, the log lines and the boxes checked.
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <deque>
#include <thread>

#include "app/ask_to_user_dialog.h"
#include "app/restore_dialog_base.h"
#include "app/restore_run.h"
#include "app_fixture.h"
#include "restore/log.h"
#include "support/entry_record.h"

using apptest::AppHarness;
using apptest::ProbeDialog;
using apptest::ModalWatcher;
using apptest::Txt;
using namespace QPXFile;

namespace {

using Record = testsupport::EntryRecord;

// A restore dialog that only records what the run shows in it.
// What a question looked like and how it was answered.
struct Asked {
  QString message;
  std::array<QString, 3> captions;
  app::CAskToUserDialog::Icon icon;
};

// -1 stands for Esc.
constexpr int kEscape = -1;

using Line = std::pair<uint32_t, std::u16string>;

std::vector<Line> Lines(const CLogger& log) {
  std::vector<Line> out;
  for (size_t i = 0; i < log.GetCount(); ++i) {
    if (auto* f = dynamic_cast<const CFileLog*>(&log.GetAt(i))) out.emplace_back(f->GetMessageId(), f->GetSubject());
    else {
      std::u16string text;
      log.GetAt(i).GetText(text);
      out.emplace_back(0, text);
    }
  }
  return out;
}

Line Cancelled() {
  std::u16string text;
  CMessageLog(178).GetText(text);
  return {0, text};
}

class Harness {
 public:
  Harness() : probe_(h_.Start()) {
    watcher_.SetOtherHandler([this](QWidget* modal) {
      auto* ask = qobject_cast<app::CAskToUserDialog*>(modal);
      if (ask == nullptr || !ask->isVisible()) return;
      Asked asked{ask->MessageLabel()->text(), {}, ask->GetIcon()};
      for (int i = 0; i < 3; ++i) asked.captions[i] = ask->Button(i)->text();
      asked_.push_back(asked);
      const int answer = answers_.empty() ? kEscape : answers_.front();
      if (!answers_.empty()) answers_.pop_front();
      if (answer == kEscape) {
        QTest::keyClick(ask, Qt::Key_Escape);
        return;
      }
      for (int i = 0; i < 3; ++i)
        if (ask->ButtonId(i) == answer) ask->Button(i)->click();
    });
  }

  // Starts a fresh run of `total` bytes.
  void Begin(uint64_t total = 1000) {
    probe_.Run().BindForTest(u"set.qpm(1世代目)", total);
    asked_.clear();
    watcher_.Clear();
  }

  // Sends the event on a worker thread while this thread answers.
  bool Send(int code, const std::u16string& text, const CQPXBackupedFileHeader* entry, long position,
            std::deque<int> answers = {}) {
    answers_ = std::move(answers);
    std::atomic<bool> done{false};
    bool result = false;
    std::thread worker([&] {
      RestoreEventRecord record;
      record.lastIndex = 9;
      record.text = text;
      record.position = position;
      RestoreEvent e;
      e.code = code;
      e.text = &text;
      e.entry = entry;
      e.record = &record;
      e.position = &position;
      result = probe_.Run().OnEvent(e);
      done = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done) loop.quit();
    });
    poll.start(5);
    loop.exec();
    worker.join();
    return result;
  }

  std::vector<Line> LogLines() { return Lines(probe_.Run().Log()); }
  const std::vector<Asked>& AskedList() const { return asked_; }
  ModalWatcher& Watcher() { return watcher_; }
  ProbeDialog& Probe() { return probe_; }

 private:
  AppHarness h_;
  ModalWatcher watcher_;
  ProbeDialog probe_;
  std::deque<int> answers_;
  std::vector<Asked> asked_;
};

struct Row {
  int code;
  uint32_t question;
  bool information;
  uint32_t continueLog;
  uint32_t stopLog;
  bool aboutPath;        // the question names the path, else the file name
  uint32_t attributes = 0x20;
};

// Every question of the event callback with its wording, icon and lines.
const Row kRows[] = {
    {257, 187, false, 191, 192, true},
    {259, 210, true, 211, 211, false},
    {260, 216, true, 236, 218, false},
    {261, 219, true, 221, 223, false, 0x4020},
    {261, 220, true, 222, 224, false},
    {263, 201, true, 202, 203, true},
    {267, 225, true, 225, 225, false},
    {268, 226, true, 226, 226, false},
    {269, 227, true, 227, 227, true},
    {270, 228, true, 228, 228, true},
    {271, 229, true, 230, 231, false},
    {273, 212, true, 213, 213, false},
    {274, 214, true, 215, 215, false},
    {276, 243, true, 244, 244, false},
};

QString Message(uint32_t id, const std::u16string& subject) {
  return QString::fromStdU16String(FormatWithText(Txt(static_cast<int>(id)).toStdU16String(), subject));
}

}  // namespace

class RestoreQuestionsTest : public QObject {
  Q_OBJECT

 private slots:
  void everyQuestionAnsweredEachWay() {
    Harness h;
    const std::u16string path = u"/out/Docs/report.doc";
    for (const Row& row : kRows) {
      const QString label = QStringLiteral("event %1 question %2").arg(row.code).arg(row.question);
      Record entry("report.doc", 100, row.attributes);
      const std::u16string subject = row.aboutPath ? path : u"report.doc";

      // 継続(&C): the line for going on, and the run goes on.
      h.Begin();
      QVERIFY2(h.Send(row.code, path, &entry, 0, {188}), qPrintable(label));
      QCOMPARE(h.AskedList().size(), size_t(1));
      const Asked& asked = h.AskedList().front();
      QCOMPARE(asked.message, Message(row.question, subject));
      QCOMPARE(asked.captions[0], Txt(188));
      QCOMPARE(asked.captions[1], Txt(189));
      QCOMPARE(asked.captions[2], Txt(190));
      QCOMPARE(asked.icon, row.information ? app::CAskToUserDialog::Icon::Information
                                           : app::CAskToUserDialog::Icon::Question);
      QCOMPARE(h.LogLines(), (std::vector<Line>{{row.continueLog, path}}));
      QVERIFY(h.Probe().Run().Continues());

      // 復元を中止(&E) and Esc: the line for stopping, the cancel line, and
      // every later event is answered false without a question.
      for (int stop : {190, kEscape}) {
        h.Begin();
        QVERIFY2(!h.Send(row.code, path, &entry, 0, {stop}), qPrintable(label));
        QCOMPARE(h.LogLines(), (std::vector<Line>{{row.stopLog, path}, Cancelled()}));
        QVERIFY(!h.Send(2, path, &entry, 1));
        QCOMPARE(h.AskedList().size(), size_t(1));
      }

      // すべて継続(&A): asked once, later cases of the same event pass with
      // their line; another event still asks.
      h.Begin();
      Record second("other.doc", 100, row.attributes);
      QVERIFY(h.Send(row.code, path, &entry, 0, {189}));
      QVERIFY(h.Send(row.code, u"/out/Docs/other.doc", &second, 1));
      QCOMPARE(h.AskedList().size(), size_t(1));
      QCOMPARE(h.LogLines(), (std::vector<Line>{{row.continueLog, path}, {row.continueLog, u"/out/Docs/other.doc"}}));
      const int another = row.code == 273 ? 276 : 273;
      Record third("third.doc", 100);
      QVERIFY(h.Send(another, u"/out/Docs/third.doc", &third, 2, {188}));
      QCOMPARE(h.AskedList().size(), size_t(2));
    }
  }

  void anExistingFileIsOverwrittenOrSkipped() {
    Harness h;
    const std::u16string a = u"/out/a.txt", b = u"/out/b.txt";
    Record ra("a.txt", 400), rb("b.txt", 600);

    // 上書き(&Y) overwrites this file only.
    h.Begin();
    QVERIFY(h.Send(265, a, &ra, 0, {206}));
    const Asked asked = h.AskedList().front();
    QCOMPARE(asked.message, Message(205, a));
    QCOMPARE(asked.captions[0], Txt(206));
    QCOMPARE(asked.captions[1], Txt(207));
    QCOMPARE(asked.captions[2], Txt(208));
    QCOMPARE(asked.icon, app::CAskToUserDialog::Icon::Question);
    QVERIFY(h.Send(265, b, &rb, 1, {206}));
    QCOMPARE(h.AskedList().size(), size_t(2));
    QCOMPARE(h.LogLines(), (std::vector<Line>{{204, a}, {204, b}}));

    // すべて上書き(&A) overwrites every later one without asking.
    h.Begin();
    QVERIFY(h.Send(265, a, &ra, 0, {207}));
    QVERIFY(h.Send(265, b, &rb, 1));
    QCOMPARE(h.AskedList().size(), size_t(1));
    QCOMPARE(h.LogLines(), (std::vector<Line>{{204, a}, {204, b}}));

    // スキップ(&S) and Esc skip the file; the run goes on, and the skipped
    // bytes count as done, so the percent still reaches 100.
    for (int skip : {208, kEscape}) {
      h.Begin(1000);
      QVERIFY(h.Send(2, a, &ra, 0));
      QVERIFY(!h.Send(265, a, &ra, 0, {skip}));
      QCOMPARE(h.Probe().Run().ShownPercent(), 40u);
      QVERIFY(h.Send(2, b, &rb, 1));
      QVERIFY(h.Probe().Run().OnProgress(600));
      QVERIFY(h.Probe().Run().Continues());
      QCOMPARE(h.Probe().Run().ShownPercent(), 100u);
      QCOMPARE(h.LogLines(), (std::vector<Line>{{209, a}}));
    }
  }

  void runEventsAndNoticesNeedNoQuestion() {
    Harness h;
    const std::u16string folder = u"/out/Docs";
    struct Notice {
      int code;
      uint32_t box;
      uint32_t line;
      bool withPath;
    } notices[] = {{258, 199, 200, false}, {262, 193, 194, true}, {266, 197, 198, false}};
    for (const Notice& n : notices) {
      h.Begin();
      QVERIFY(!h.Send(n.code, folder, nullptr, -1));
      QCOMPARE(h.Watcher().Texts(), QStringList{Txt(static_cast<int>(n.box))});
      QCOMPARE(h.LogLines(), (std::vector<Line>{{n.line, n.withPath ? folder : std::u16string()}}));
      QVERIFY(h.AskedList().empty());
    }

    // A folder whose attributes were not restored: a line, and on.
    h.Begin();
    QVERIFY(h.Send(275, folder, nullptr, -1));
    QCOMPARE(h.LogLines(), (std::vector<Line>{{235, folder}}));
    QVERIFY(h.Watcher().Texts().isEmpty());

    // Start and end lines name the restore archive; the path being restored
    // goes to the status line.
    h.Begin();
    QVERIFY(h.Send(1, std::u16string(), nullptr, -1));
    Record r("a.txt", 10);
    QVERIFY(h.Send(2, u"/out/Docs/a.txt", &r, 0));
    QTRY_COMPARE(h.Probe().status, QStringLiteral("/out/Docs/a.txt"));
    QVERIFY(h.Send(4, std::u16string(), nullptr, -1));
    QCOMPARE(h.LogLines(), (std::vector<Line>{{186, u"set.qpm(1世代目)"}, {232, u"set.qpm(1世代目)"}}));
  }

  void cancellingWhileAQuestionIsOpenStopsAtTheNextEvent() {
    // The user asks to stop while a question waits: nothing deadlocks, the
    // question's own answer is taken, and the next event stops the run.
    Harness h;
    h.Begin();
    h.Watcher().SetOtherHandler([&](QWidget* modal) {
      auto* ask = qobject_cast<app::CAskToUserDialog*>(modal);
      if (ask == nullptr || !ask->isVisible()) return;
      h.Probe().Run().RequestCancel();
      ask->Button(0)->click();
    });
    Record r("a.txt", 10);
    QVERIFY(!h.Send(259, u"/out/a.txt", &r, 0));
    QVERIFY(!h.Probe().Run().Continues());
    const std::vector<Line> lines = h.LogLines();
    QCOMPARE(lines.back(), Cancelled());
  }
};

QTEST_MAIN(RestoreQuestionsTest)
#include "restore_questions_test.moc"
