// The result log of a restore: its lines in the dialog, the dialog's
// smallest size and layout, and "保存" with the suggested name, code page
// 932 and CR LF line ends.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include "app/restore_run.h"
#include "app/show_log_dlg.h"
#include "app_fixture.h"
#include "host/text.h"
#include "restore/log.h"

using apptest::AppHarness;
using apptest::ModalWatcher;

namespace {

QString Documents() { return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation); }

// Three entries; the second's wording breaks its line.
const QPXFile::CLogger& FillLog() {
  static QPXFile::CLogger log;
  log.Clear();
  log.Add(QPXFile::CFileLog(u"/out/既存.txt", 204));
  log.Add(QPXFile::CFileLog(u"/out/b.txt", 211));
  log.Add(QPXFile::CMessageLog(178));
  return log;
}

const QString kShown = QStringLiteral(
    "既に存在しているファイル　/out/既存.txt　を上書きしました。\n"
    "ファイル　/out/b.txt　を復元できませんでした。\n"
    "ファイルが使用中か、読み取り専用になっている可能性があります。\n"
    "復元処理が中止されました。\n");

// Types a path into Qt's own file dialog and accepts it, as a user would;
// the dialog reads its folder in the background, which may replace a name
// set with selectFile() before it has finished.
void TypeAndAccept(QFileDialog* files, const QString& path) {
  auto* edit = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(edit != nullptr);
  QTimer::singleShot(50, files, [files, edit, path] {
    edit->setText(path);
    QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
  });
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class RestoreLogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { app::CShowLogDlg::SetFileDialogOptions(QFileDialog::DontUseNativeDialog); }

  void theLogIsShownLineByLine() {
    app::CShowLogDlg dialog(FillLog(), Documents() + "/set(1世代目).qpx");
    QCOMPARE(dialog.TextBox()->toPlainText(), kShown);
    QVERIFY(dialog.TextBox()->isReadOnly());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Tessera - 復元結果"));
  }

  void aLogWrittenInPiecesIsShownWhole() {
    // The log writer hands over long text in several writes.
    QPlainTextEdit edit;
    app::CCtrlIO control(&edit);
    const std::u16string text = u"一行目\r\n二行目\r\n";
    std::string bytes;
    for (char16_t c : text) {
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    bytes.append(2, '\0');
    QVERIFY(control.Write(bytes.data(), 5));
    QVERIFY(edit.toPlainText().isEmpty());
    QVERIFY(control.Write(bytes.data() + 5, static_cast<uint32_t>(bytes.size() - 5)));
    QCOMPARE(edit.toPlainText(), QStringLiteral("一行目\n二行目\n"));
    uint32_t read = 7;
    char buffer[4];
    QVERIFY(!control.Read(buffer, sizeof buffer, &read));
    QCOMPARE(read, 0u);

    // A log of more than one piece of the writer (1 MiB) arrives whole.
    QPXFile::CLogger log;
    const std::u16string longPath(300, u'x');
    for (int i = 0; i < 4000; ++i) log.Add(QPXFile::CFileLog(longPath, 204));
    QVERIFY(log.WriteTo(control));
    QCOMPARE(edit.document()->blockCount(), 4001);
  }

  void theDialogGrowsButNeverShrinksBelowItsFirstSize() {
    app::CShowLogDlg dialog(FillLog(), QString());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QSize first = dialog.size();
    QCOMPARE(dialog.minimumSize(), first);
    const QRect edit = dialog.TextBox()->geometry();
    const QRect ok = dialog.OkButton()->geometry();
    const QRect save = dialog.SaveButton()->geometry();

    dialog.resize(first - QSize(100, 80));
    QApplication::processEvents();
    QCOMPARE(dialog.size(), first);

    dialog.resize(first + QSize(120, 90));
    QTRY_COMPARE(dialog.size(), first + QSize(120, 90));
    QCOMPARE(dialog.TextBox()->geometry(), edit.adjusted(0, 0, 120, 90));
    QCOMPARE(dialog.OkButton()->geometry(), ok.translated(120, 90));
    QCOMPARE(dialog.SaveButton()->geometry(), save.translated(120, 90));
  }

  void theRunSuggestsTheSetsNameInTheDocumentsFolder() {
    AppHarness h;
    h.Start();
    {
      app::CRestoreRun run;
      run.BindForTest(u"week.qpm(2世代目)", 0);
      QCOMPARE(run.SuggestedLogName(), Documents() + "/week(2世代目).qpx");
    }

    app::CShowLogDlg fromRun(FillLog(), Documents() + "/week(2世代目).qpx");
    QCOMPARE(fromRun.SuggestedFileName(), QStringLiteral("week(2世代目).log"));
    QCOMPARE(fromRun.SuggestedFolder(), Documents());
    app::CShowLogDlg later(FillLog(), QStringLiteral("/backups/week_3.qpi"));
    QCOMPARE(later.SuggestedFileName(), QStringLiteral("week_3.log"));
    app::CShowLogDlg other(FillLog(), QStringLiteral("/backups/week.bak"));
    QCOMPARE(other.SuggestedFileName(), QStringLiteral("week.bak"));
    app::CShowLogDlg none(FillLog(), QString());
    QCOMPARE(none.SuggestedFileName(), QStringLiteral("*.log"));
  }

  void savingWritesCodePage932WithCrLfAndClosesTheDialog() {
    AppHarness h;
    h.Start();
    ModalWatcher watcher;
    const QString folder = h.Path(QStringLiteral("docs"));
    QVERIFY(QDir().mkpath(folder));
    const QString saved = folder + "/saved.log";
    QString proposedName, proposedFolder, filters;
    watcher.SetOtherHandler([&](QWidget* modal) {
      auto* files = qobject_cast<QFileDialog*>(modal);
      if (files == nullptr || !proposedName.isEmpty()) return;
      proposedName = files->selectedFiles().value(0);
      proposedFolder = files->directory().absolutePath();
      filters = files->nameFilters().join(u'|');
      TypeAndAccept(files, saved);
    });
    app::CShowLogDlg dialog(FillLog(), folder + "/set(1世代目).qpx");
    QTimer::singleShot(0, &dialog, [&] { dialog.SaveButton()->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(proposedName, folder + "/set(1世代目).log");
    QCOMPARE(proposedFolder, folder);
    QCOMPARE(filters, QStringLiteral("ログファイル (*.log)|テキストファイル (*.txt)"));
    QVERIFY(watcher.Texts().isEmpty());

    const QByteArray bytes = ReadAll(saved);
    QVERIFY(!bytes.isEmpty());
    QCOMPARE(bytes.count("\r\n"), 4);
    QCOMPARE(bytes.count('\n'), 4);
    QVERIFY(bytes != QString(kShown).replace(u'\n', QStringLiteral("\r\n")).toUtf8());
    std::u16string decoded;
    QVERIFY(host::AnsiToWide(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), decoded));
    QCOMPARE(QString::fromStdU16String(decoded), QString(kShown).replace(u'\n', QStringLiteral("\r\n")));
    // "既" in code page 932.
    QVERIFY(bytes.startsWith(QByteArray("\x8A\xF9", 2)));
  }

  void aNameTooLongToProposeIsRefused() {
    AppHarness h;
    h.Start();
    ModalWatcher watcher;
    bool asked = false;
    watcher.SetOtherHandler([&](QWidget* modal) { asked = asked || qobject_cast<QFileDialog*>(modal) != nullptr; });
    app::CShowLogDlg dialog(FillLog(), QStringLiteral("/docs/") + QString(497, u'x') + ".qpx");
    dialog.OnSave();
    QCOMPARE(watcher.Texts(), QStringList{apptest::Txt(125)});
    QVERIFY(!asked);
  }

  void aFailedSaveSaysSoAndKeepsTheDialog() {
    AppHarness h;
    h.Start();
    ModalWatcher watcher;
    const QString saved = h.Path(QStringLiteral("missing/folder/saved.log"));
    bool answered = false;
    watcher.SetOtherHandler([&](QWidget* modal) {
      if (auto* files = qobject_cast<QFileDialog*>(modal)) {
        // Qt's own dialog refuses a folder that is not there; the file name
        // is taken as typed.
        if (answered) return;
        answered = true;
        TypeAndAccept(files, saved);
      }
    });
    app::CShowLogDlg dialog(FillLog(), QString());
    dialog.show();
    dialog.SaveButton()->click();
    QVERIFY(answered);
    QVERIFY(dialog.isVisible());
    QCOMPARE(watcher.Texts(), QStringList{apptest::Txt(245)});
    dialog.close();
  }
};

QTEST_MAIN(RestoreLogTest)
#include "restore_log_test.moc"
