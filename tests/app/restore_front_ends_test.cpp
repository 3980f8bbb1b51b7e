// Both front ends restore through one job: the same selection restored by
// tessera-cli extract and by the restore dialog gives the same tree and the
// same counts, records the set cannot hold included.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QCheckBox>
#include <QRegularExpression>
#include <QtTest>

#include "app/main_frame.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_selection.h"
#include "app/show_log_dlg.h"
#include "app_fixture.h"
#include "restore/restore_summary.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

// C:\Data\x is a file in generation 1 and a folder in generation 2: the
// merged tree holds only one of them.
testsupport::BackupSetSpec SetWithAnUnheldRecord() {
  testsupport::BackupSetSpec set;
  set.generations.resize(2);
  set.generations[0].folders = {{u"C:\\Data"}, {u"C:\\Data\\Sub"}};
  set.generations[0].files = {{.path = u"C:\\Data\\x", .data = testsupport::Bytes("file")},
                              {.path = u"C:\\Data\\keep.txt", .data = testsupport::Bytes("kept")},
                              {.path = u"C:\\Data\\Sub\\deep.txt", .data = testsupport::Bytes("deep")}};
  set.generations[1].folders = {{u"C:\\Data"}, {u"C:\\Data\\x"}};
  set.generations[1].files = {{.path = u"C:\\Data\\x\\y.txt", .data = testsupport::Bytes("y")},
                              {.path = u"C:\\Data\\keep.txt", .data = testsupport::Bytes("kept again")}};
  return set;
}

// Every file and folder below `root` with its contents ("/" for a folder).
QMap<QString, QByteArray> TreeOf(const QString& root) {
  QMap<QString, QByteArray> tree;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile file(path);
    const QString relative = QDir(root).relativeFilePath(path);
    if (it.fileInfo().isDir()) tree[relative] = "/";
    else if (file.open(QIODevice::ReadOnly)) tree[relative] = file.readAll();
  }
  return tree;
}

}  // namespace

class RestoreFrontEndsTest : public QObject {
  Q_OBJECT

 private slots:
  void theCommandAndTheDialogRestoreOneSelectionAlike() {
    AppHarness h;
    const auto files = h.WriteSet(SetWithAnUnheldRecord(), "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    for (int index : {0, 1}) {
      QVERIFY(app.SelectGeneration(index));
      const QString generation = QString::number(app.Set()->SelectedShown());
      const QString byCommand = h.Path("cli" + generation), byDialog = h.Path("app" + generation);
      QVERIFY(QDir().mkpath(byDialog));

      QProcess cli;
      cli.start(QStringLiteral(TESSERA_CLI_EXE), {QStringLiteral("extract"), QStringLiteral("--generation"), generation,
                                                  Q(files.archives[0]), byCommand, QStringLiteral("C:\\Data")});
      QVERIFY(cli.waitForFinished(120000));
      const QString err = QString::fromUtf8(cli.readAllStandardError());
      const QRegularExpressionMatch counts =
          QRegularExpression(QStringLiteral("(\\d+) restored, (\\d+) skipped, (\\d+) failed")).match(err);
      QVERIFY2(counts.hasMatch(), qPrintable(err));

      QString log;
      watcher.SetOtherHandler([&](QWidget* modal) {
        if (auto* shown = qobject_cast<app::CShowLogDlg*>(modal)) {
          log = shown->TextBox()->toPlainText();
          QTimer::singleShot(0, shown, [shown] { shown->OkButton()->click(); });
        }
      });
      app::CRestoreProgressDlg dialog(app, app::SelectEntries(app, QStringLiteral("C:"), {QStringLiteral("Data")}),
                                      app.MainFrame());
      dialog.OpenAfterBox()->setChecked(false);
      dialog.SetTargetFolder(byDialog);
      QTimer::singleShot(0, &dialog, [&dialog] { dialog.StartButton()->click(); });
      dialog.exec();
      watcher.SetOtherHandler({});
      QVERIFY2(watcher.Texts().isEmpty(), qPrintable(watcher.Texts().join(u'\n')));

      const QPXFile::RestoreSummary& summary = dialog.Run().Summary();
      QCOMPARE(QPXFile::ExitStatus(summary), cli.exitCode());
      QCOMPARE(summary.counts.restored, counts.captured(1).toLong());
      QCOMPARE(QPXFile::SkippedEntries(summary), counts.captured(2).toLong());
      QCOMPARE(QPXFile::FailedFiles(summary), counts.captured(3).toLong());
      // The record the set cannot hold is counted and named by both.
      QCOMPARE(summary.unheld, 1L);
      QVERIFY2(err.contains(QStringLiteral("skipped C:\\Data\\x:")), qPrintable(err));
      QVERIFY2(log.contains(QStringLiteral("C:\\Data\\x は")), qPrintable(log));
      QCOMPARE(TreeOf(byDialog), TreeOf(byCommand));
      QVERIFY(TreeOf(byDialog).contains(QStringLiteral("Data/keep.txt")));
    }
  }
};

QTEST_MAIN(RestoreFrontEndsTest)
#include "restore_front_ends_test.moc"
