// Quitting while a restore asks a question: every event loop ends, and the
// dialog's run is stopped, its question answered and its worker joined,
// without waiting for a user who is gone. Alone in its executable, as the
// quit ends every later event loop of the process too.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QtTest>

#include "app/ask_to_user_dialog.h"
#include "app/main_frame.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_selection.h"
#include "app_fixture.h"
#include "restore/log.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

class RestoreQuitTest : public QObject {
  Q_OBJECT

 private slots:
  void quittingWhileAQuestionIsOpenStopsTheRunAndReturns() {
    AppHarness h;
    testsupport::BackupSetSpec set;
    set.generations.resize(1);
    set.generations[0].folders = {{u"C:\\Data"}};
    set.generations[0].files = {{.path = u"C:\\Data\\a.txt", .data = testsupport::Bytes("stored a")},
                                {.path = u"C:\\Data\\b.txt", .data = testsupport::Bytes("stored b")}};
    const auto files = h.WriteSet(set, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    const QString out = h.Path(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    // Existing files: the run asks whether to overwrite them.
    for (const char* name : {"/a.txt", "/b.txt"}) {
      QFile existing(out + name);
      QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("mine") == 4);
    }

    bool asked = false;
    QString log;
    watcher.SetOtherHandler([&](QWidget* modal) {
      if (qobject_cast<app::CAskToUserDialog*>(modal) != nullptr && modal->isVisible() && !asked) {
        asked = true;
        // What the program does when it is told to end.
        QCoreApplication::exit(0);
      }
    });
    {
      app::CRestoreProgressDlg dialog(
          app, app::SelectEntries(app, QStringLiteral("C:\\Data"), {QStringLiteral("a.txt"), QStringLiteral("b.txt")}),
          app.MainFrame());
      dialog.OpenAfterBox()->setChecked(false);
      dialog.SetTargetFolder(out);
      QTimer::singleShot(0, &dialog, [&dialog] { dialog.StartButton()->click(); });
      dialog.exec();
      dialog.Run().Abort();  // as the dialog going would: the worker has ended
      for (size_t i = 0; i < dialog.Run().Log().GetCount(); ++i) {
        std::u16string line;
        dialog.Run().Log().GetAt(i).GetText(line);
        log += QString::fromStdU16String(line) + u'\n';
      }
    }
    watcher.SetOtherHandler({});
    QVERIFY(asked);
    // The run ended as stopped, and nothing of the user's was overwritten.
    std::u16string cancelled;
    QPXFile::CMessageLog(178).GetText(cancelled);
    QVERIFY2(log.contains(QString::fromStdU16String(cancelled)), qPrintable(log));
    for (const char* name : {"/a.txt", "/b.txt"}) {
      QFile kept(out + name);
      QVERIFY(kept.open(QIODevice::ReadOnly));
      QCOMPARE(kept.readAll(), QByteArray("mine"));
    }
  }
};

QTEST_MAIN(RestoreQuitTest)
#include "restore_quit_test.moc"
