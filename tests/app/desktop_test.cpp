// The program on the desktop: its help opens in the browser, and the
// shortcut command puts a launcher on the user's desktop folder.
#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QtTest>

#include "app/desktop_integration.h"
#include "app/main_frame.h"
#include "app_fixture.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Txt;

namespace {

const QString kShortcutFailed = QStringLiteral("ショートカットの作成に失敗しました。");

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

QString ExecLine(const QString& launcher) {
  for (const QString& line : launcher.split(u'\n'))
    if (line.startsWith(QStringLiteral("Exec="))) return line.mid(5);
  return {};
}

// The desktop's own validator, when it is installed.
void ExpectValidLauncher(const QString& path) {
  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) return;
  QProcess process;
  process.start(validator, {path});
  QVERIFY(process.waitForFinished());
  QVERIFY2(process.exitCode() == 0 && process.readAllStandardOutput().trimmed().isEmpty(),
           qPrintable(QString::fromUtf8(process.readAllStandardError())));
}

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 public slots:
  void openUrl(const QUrl& url) { opened_ << url; }

 private slots:
  void initTestCase() {
    QVERIFY(config_.isValid());
    // The desktop folder the way xdg-user-dirs names it, in Japanese.
    desktop_ = config_.filePath(QStringLiteral("ホーム/デスクトップ"));
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    UseDesktopFolder(desktop_);
    QCOMPARE(app::DesktopFolder(), desktop_);
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
  }

  void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

  void helpOpensTheShippedHtmlHelp() {
    AppHarness h;
    app::CQPXManagerApp& app = h.Start();
    QAction* help = app.MainFrame()->HelpAction();
    QVERIFY(help->isEnabled());
    opened_.clear();
    help->trigger();
    QCOMPARE(opened_.size(), 1);
    const QUrl url = opened_.first();
    QVERIFY(url.isLocalFile());
    QCOMPARE(QFileInfo(url.toLocalFile()).fileName(), QStringLiteral("index.html"));
    QVERIFY(ReadAll(url.toLocalFile()).contains("<title>Tesseraのヘルプ</title>"));
  }

  void versionAndHelpNeedNoDisplay() {
    // As a package's scripts and a terminal without X call it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const QList<QStringList> calls = {{QStringLiteral("--version")},
                                      {QStringLiteral("--help")},
                                      {QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("-v")}};
    for (const QStringList& arguments : calls) {
      QProcess program;
      program.setProcessEnvironment(environment);
      program.start(QStringLiteral(TESSERA_APP_EXE), arguments);
      QVERIFY(program.waitForFinished(20000));
      QCOMPARE(program.exitStatus(), QProcess::NormalExit);
      QCOMPARE(program.exitCode(), 0);
      const QString out = QString::fromUtf8(program.readAllStandardOutput());
      if (arguments.contains(QStringLiteral("--help")))
        QVERIFY2(out.contains(QStringLiteral("--screenshot <FILE>")) && out.contains(QStringLiteral("[archive]")), qPrintable(out));
      else
        QVERIFY2(QRegularExpression(QStringLiteral("^Tessera \\d+\\.\\d+\\.\\d+\n$")).match(out).hasMatch(), qPrintable(out));
    }
  }

  void helpPrefersTheCopyInstalledBesideTheProgram() {
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(bin));
    const QString installed = prefix.filePath(QStringLiteral("share/tessera/help/index.html"));
    // Not installed yet: the copy in the source tree.
    QVERIFY(app::HelpFilePath(bin) != installed);
    QVERIFY(QFileInfo::exists(app::HelpFilePath(bin)));
    WriteAll(installed, "<html></html>");
    QCOMPARE(app::HelpFilePath(bin), installed);
  }

  void shortcutIsWrittenOnlyAfterYesAndReplacedWhenMadeAgain() {
    AppHarness h;
    app::CQPXManagerApp& app = h.Start();
    QAction* shortcut = app.MainFrame()->ShortcutAction();
    QVERIFY(shortcut->isEnabled());
    const QString launcher = QDir(desktop_).filePath(QStringLiteral("Tessera.desktop"));
    QFile::remove(launcher);

    // The question as the user sees it, kept beside the other screenshots; "No" writes nothing.
    QStringList asked;
    QTimer answerNo;
    connect(&answerNo, &QTimer::timeout, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      asked << box->text();
      // Qt's own buttons speak the program's language too.
      asked << box->button(QMessageBox::Yes)->text() << box->button(QMessageBox::No)->text();
      box->grab().save(QStringLiteral(TESSERA_SCREENSHOT_DIR "/shortcut-question.png"));
      box->button(QMessageBox::No)->click();
    });
    answerNo.start(10);
    shortcut->trigger();
    answerNo.stop();
    QCOMPARE(asked, (QStringList{Txt(241), QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}));
    QVERIFY(!QFileInfo::exists(launcher));

    ModalWatcher watcher(QMessageBox::Yes);
    WriteAll(launcher, "[Desktop Entry]\nType=Link\nName=old\nURL=file:///\n");
    for (int round = 0; round < 2; ++round) {
      watcher.Clear();
      shortcut->trigger();
      // Replacing an existing launcher asks nothing beyond the one question.
      QCOMPARE(watcher.Texts(), QStringList{Txt(241)});
      const QString text = QString::fromUtf8(ReadAll(launcher));
      QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
      QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));
      QVERIFY(text.contains(QStringLiteral("\nName=Tessera\n")));
      QCOMPARE(ExecLine(text), QCoreApplication::applicationFilePath() + QStringLiteral(" -- %f"));
      QVERIFY(QFileInfo(launcher).isExecutable());
      ExpectValidLauncher(launcher);
    }
  }

  void launcherQuotesAnExecutableWithReservedCharacters() {
    // Quoted for the Exec rules (", `, $, \ escaped), then the backslashes
    // doubled as in every string value; a percent sign is doubled.
    QCOMPARE(ExecLine(app::LauncherText(QStringLiteral("/opt/my apps/te$s\"era"))),
             QStringLiteral("\"/opt/my apps/te\\\\$s\\\\\"era\" -- %f"));
    QCOMPARE(ExecLine(app::LauncherText(QStringLiteral("/opt/100%/tessera"))), QStringLiteral("/opt/100%%/tessera -- %f"));
    QCOMPARE(ExecLine(app::LauncherText(QStringLiteral("/opt/a\\b/tessera"))),
             QStringLiteral("\"/opt/a\\\\\\\\b/tessera\" -- %f"));

    QTemporaryDir dir;
    QVERIFY(app::WriteDesktopLauncher(dir.path(), QStringLiteral("/opt/my apps/te$s\"era")));
    ExpectValidLauncher(dir.filePath(QStringLiteral("Tessera.desktop")));
  }

  void launcherReplacesALinkInsteadOfWritingThroughIt() {
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("keep.txt"));
    WriteAll(victim, "mine");
    const QString desktop = dir.filePath(QStringLiteral("desk"));
    QVERIFY(QDir().mkpath(desktop));
    const QString launcher = QDir(desktop).filePath(QStringLiteral("Tessera.desktop"));
    QVERIFY(QFile::link(victim, launcher));
    QVERIFY(app::WriteDesktopLauncher(desktop, QStringLiteral("/usr/bin/tessera")));
    QCOMPARE(ReadAll(victim), QByteArray("mine"));
    QVERIFY(!QFileInfo(launcher).isSymLink());
    QVERIFY(ReadAll(launcher).contains("Exec=/usr/bin/tessera -- %f"));
  }

  void shortcutThatCannotBeWrittenShowsTheErrorBox() {
    // The desktop folder's place is taken by a file: nothing can be made there.
    const QString blocked = config_.filePath(QStringLiteral("blocked"));
    WriteAll(blocked, "not a folder");
    UseDesktopFolder(blocked + QStringLiteral("/Desktop"));
    AppHarness h;
    app::CQPXManagerApp& app = h.Start();
    ModalWatcher watcher(QMessageBox::Yes);
    app.MainFrame()->ShortcutAction()->trigger();
    QCOMPARE(watcher.Texts(), (QStringList{Txt(241), kShortcutFailed}));
    UseDesktopFolder(desktop_);
  }

 private:
  void UseDesktopFolder(const QString& folder) {
    WriteAll(config_.filePath(QStringLiteral("user-dirs.dirs")),
             QStringLiteral("XDG_DESKTOP_DIR=\"%1\"\n").arg(folder).toUtf8());
  }

  QTemporaryDir config_;
  QString desktop_;
  QList<QUrl> opened_;
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
