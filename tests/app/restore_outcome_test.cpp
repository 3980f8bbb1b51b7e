// How a restore from the desktop program ends and where it goes: failures
// are counted in the status, the title and the result log, a target that
// received nothing is not opened, a cancel question still open when the
// run ends goes away, and the target is only ever the user's own choice.
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <thread>

#include "app/app_config.h"
#include "app/app_texts.h"
#include "app/ask_to_user_dialog.h"
#include "app/desktop_integration.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_data_object.h"
#include "app/restore_dialog_base.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_run.h"
#include "app/restore_selection.h"
#include "app/show_log_dlg.h"
#include "app_fixture.h"

using apptest::AppHarness;
using apptest::ProbeDialog;
using apptest::ModalWatcher;
using apptest::Q;
using apptest::Txt;

namespace {

class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls << url; }
};

// A dialog that only records what the run shows in it.
testsupport::BackupSetSpec TwoFiles() {
  testsupport::BackupSetSpec set;
  set.generations.resize(1);
  set.generations[0].folders = {{u"C:\\Data"}};
  set.generations[0].files = {{u"C:\\Data\\a.txt", testsupport::Bytes("a contents")},
                              {u"C:\\Data\\b.txt", testsupport::Bytes("b contents")}};
  return set;
}

void Shoot(QWidget* widget, const char* name) {
  widget->grab().save(QStringLiteral(TESSERA_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name)));
}

// Takes a picture of each message box as it comes, then presses its default button.
class BoxShooter : public QObject {
 public:
  BoxShooter() {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || names.isEmpty()) return;
      Shoot(box, names.takeFirst());
      texts << box->text();
      box->defaultButton() != nullptr ? box->defaultButton()->click() : box->reject();
    });
    timer_.start();
  }
  QList<const char*> names;
  QStringList texts;

 private:
  QTimer timer_;
};

struct Outcome {
  QString status, title, log;
  QStringList questions;
};

// Restores what is marked into `target` with the restore dialog, answering
// every question with its second button ("すべて…").
Outcome RunDialog(app::CQPXManagerApp& app, const IncrementalBackup::RestoreSelection& chosen, ModalWatcher& watcher,
                  const QString& target) {
  Outcome out;
  watcher.SetOtherHandler([&](QWidget* modal) {
    if (auto* ask = qobject_cast<app::CAskToUserDialog*>(modal)) {
      if (!ask->isVisible() || ask->property("answered").toBool()) return;
      ask->setProperty("answered", true);
      out.questions << ask->MessageLabel()->text();
      QTimer::singleShot(0, ask, [ask] { ask->Button(1)->click(); });
    } else if (auto* log = qobject_cast<app::CShowLogDlg*>(modal)) {
      out.log = log->TextBox()->toPlainText();
      log->resize(720, 260);
      Shoot(log, "outcome-log");
      QTimer::singleShot(0, log, [log] { log->OkButton()->click(); });
    }
  });
  app::CRestoreProgressDlg dialog(app, chosen, app.MainFrame());
  dialog.SetTargetFolder(target);
  QTimer::singleShot(0, &dialog, [&dialog] { dialog.StartButton()->click(); });
  dialog.exec();
  out.status = dialog.StatusText();
  out.title = dialog.windowTitle();
  Shoot(&dialog, "outcome-restore-dialog");
  watcher.SetOtherHandler({});
  return out;
}

}  // namespace

class RestoreOutcomeTest : public QObject {
  Q_OBJECT

 private slots:
  void failuresAreCountedAndATargetThatGotNothingStaysClosed() {
    AppHarness h;
    const auto files = h.WriteSet(TwoFiles(), "set");
    ModalWatcher watcher;
    UrlCatcher urls;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    const QString out = h.Path(QStringLiteral("out"));
    // Folders where the files must go: nothing can be written, even by root.
    QVERIFY(QDir().mkpath(out + "/a.txt") && QDir().mkpath(out + "/b.txt"));

    IncrementalBackup::RestoreSelection chosen =
        app::SelectEntries(app, QStringLiteral("C:\\Data"), {QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    QVERIFY(!chosen.empty());
    Outcome none = RunDialog(app, chosen, watcher, out);
    QVERIFY2(!none.questions.isEmpty(), qPrintable(watcher.Texts().join(u'\n')));
    QCOMPARE(none.status, QStringLiteral("復元完了（失敗 2 件）"));
    QCOMPARE(none.title, Txt(184) + QStringLiteral("（失敗 2 件）"));
    QVERIFY2(none.log.trimmed().endsWith(QStringLiteral("復元 0 件、スキップ 0 件、失敗 2 件（復元先: %1）").arg(out)),
             qPrintable(none.log));
    QVERIFY(urls.urls.isEmpty());

    // One of two written: told, and the target is worth opening.
    QVERIFY(QDir(out + "/a.txt").removeRecursively());
    chosen = app::SelectEntries(app, QStringLiteral("C:\\Data"), {QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    QVERIFY(!chosen.empty());
    Outcome some = RunDialog(app, chosen, watcher, out);
    QCOMPARE(some.status, QStringLiteral("復元完了（失敗 1 件）"));
    QVERIFY(some.log.trimmed().endsWith(QStringLiteral("復元 1 件、スキップ 0 件、失敗 1 件（復元先: %1）").arg(out)));
    QCOMPARE(urls.urls, QList<QUrl>{QUrl::fromLocalFile(out)});

    // Nothing registered to show a folder: the user hears of it.
    urls.urls.clear();
    watcher.Clear();
    app::SetApplicationQuery([](const QString&) { return false; });
    QVERIFY(!app::OpenWithDesktop(out));
    QVERIFY(urls.urls.isEmpty());
    QCOMPARE(watcher.Texts().size(), 1);
    QVERIFY(watcher.Texts()[0].contains(out));
  }

  void aCancelQuestionStillOpenWhenTheRunEndsGoesAway() {
    AppHarness h;
    app::CQPXManagerApp& app = h.Start();
    ProbeDialog probe(app);
    app::CRestoreRun& run = probe.Run();
    // A run with nothing to restore from ends at once, as failed; quiet, so
    // that its error box does not stand in the way.
    run.BindForTest(u"set.qpm(1世代目)", 0);
    run.SetShowLog(false);
    app::SetQuietMode(true);

    std::thread worker;
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->objectName() != QStringLiteral("cancelQuestion") || seen) return;
      seen = true;
      // The run ends while the user still thinks.
      worker = std::thread([&run] { run.RunWorker(); });
    });
    poll.start();
    probe.reject();  // returns once the question has gone
    poll.stop();
    // The worker's last calls still need this thread.
    QTRY_VERIFY_WITH_TIMEOUT(!probe.IsRunning(), 20000);
    worker.join();
    app::SetQuietMode(false);
    QVERIFY(seen);
    QVERIFY(!probe.IsRunning());
    QCoreApplication::processEvents();
    // Not taken as a "yes": the run's own end, not a cancel, is shown.
    QCOMPARE(probe.status, Txt(app::Text::kStatusFailed));
  }

  void theTargetIsTheUsersOwnChoiceNeverTheArchives() {
    AppHarness h;
    // The backed-up folder names a folder that exists on this computer.
    testsupport::BackupSetSpec set;
    set.generations.resize(1);
    const std::u16string home = u"Z:" + QDir::toNativeSeparators(h.Path(QString())).replace(u'/', u'\\').toStdU16String();
    set.generations[0].folders = {{home + u"\\planted"}};
    set.generations[0].files = {{home + u"\\planted\\x.txt", testsupport::Bytes("x")}};
    QVERIFY(QDir().mkpath(h.Path(QStringLiteral("planted"))));
    const auto files = h.WriteSet(set, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QVERIFY(app.MainFrame()->TreePane()->SelectFolder(QString::fromStdU16String(home + u"\\planted")));
    const QString chosen = h.Path(QStringLiteral("chosen"));
    QVERIFY(QDir().mkpath(chosen));
    {
      app::CRestoreProgressDlg dialog(app, {});
      QCOMPARE(dialog.TargetFolder(), QString());
      QCOMPARE(dialog.TargetEdit()->placeholderText(), QStringLiteral("(未選択)"));
      QVERIFY(!dialog.StartButton()->isEnabled());

      // Typed: refused as a chosen folder would be, or taken.
      for (const QString& bad : {QStringLiteral("relative/path"), h.Path(QStringLiteral("missing")), QStringLiteral("//server/share")}) {
        watcher.Clear();
        dialog.TargetEdit()->setText(bad);
        QVERIFY(!dialog.TakeTypedTarget());
        QCOMPARE(watcher.Texts().size(), 1);
        QCOMPARE(dialog.TargetFolder(), QString());
      }
      dialog.TargetEdit()->setText(chosen + u'/');
      QVERIFY(dialog.TakeTypedTarget());
      QCOMPARE(dialog.TargetFolder(), chosen);
      QVERIFY(dialog.StartButton()->isEnabled());
    }
    // Kept for the next start.
    h.Stop();
    app::CQPXManagerApp& again = h.Start({Q(files.archives[0])});
    QCOMPARE(again.Config().LastRestoreTarget(), chosen);
    app::CRestoreProgressDlg dialog(again, {});
    QCOMPARE(dialog.TargetFolder(), chosen);
  }

  void messagesAsTheUserSeesThem() {
    AppHarness h;
    app::CQPXManagerApp& app = h.Start();
    {
      app::CRestoreProgressDlg dialog(app, {});
      Shoot(&dialog, "restore-dialog-nothing-chosen");
    }
    BoxShooter shooter;
    shooter.names = {"drop-abandoned", "no-application"};
    app::SetApplicationQuery([](const QString&) { return false; });
    app::TellDropAbandoned(h.Path(QStringLiteral("tmp/TesseraRestore")), app.MainFrame());
    app::OpenWithDesktop(h.Path(QStringLiteral("report.xyz")));
    QCOMPARE(shooter.texts.size(), 2);
    QVERIFY(shooter.texts[0].contains(h.Path(QStringLiteral("tmp/TesseraRestore"))));
  }
};

QTEST_MAIN(RestoreOutcomeTest)
#include "restore_outcome_test.moc"
