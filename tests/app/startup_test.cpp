// Start-up and exit: the configuration file and its write-back rules, the
// temporary restore folder, the title, and one running copy per user.
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <unistd.h>

#include "app/app_config.h"
#include "app/ini_file.h"
#include "app/main_frame.h"
#include "app_fixture.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Txt;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void iniTextIsReadAsTheProfileFunctionsReadIt() {
    const QString text = QStringLiteral(
        "; a comment\r\n[other]\r\nTempPath=/wrong\r\n[ Config ]\r\n  tempPATH =  \"C:\\Temp\\x\"  \r\nKeep=1\r\n");
    QCOMPARE(app::IniValue(text, QStringLiteral("config"), QStringLiteral("TempPath")), QStringLiteral("C:\\Temp\\x"));
    QCOMPARE(app::IniValue(text, QStringLiteral("config"), QStringLiteral("Missing")), std::nullopt);
    QCOMPARE(app::IniValue(text, QStringLiteral("none"), QStringLiteral("Keep")), std::nullopt);

    // Writing replaces the key where it stands, keeps every other line and the line endings.
    QCOMPARE(app::WithIniValue(text, QStringLiteral("config"), QStringLiteral("TempPath"), QStringLiteral("/t")),
             QStringLiteral("; a comment\r\n[other]\r\nTempPath=/wrong\r\n[ Config ]\r\nTempPath=/t\r\nKeep=1\r\n"));
    // A missing key goes after the section's last entry; a missing section at the end.
    QCOMPARE(app::WithIniValue(QStringLiteral("[config]\na=1\n\n[b]\n"), QStringLiteral("config"), QStringLiteral("TempPath"),
                               QStringLiteral("/t")),
             QStringLiteral("[config]\na=1\nTempPath=/t\n\n[b]\n"));
    QCOMPARE(app::WithIniValue(QString(), QStringLiteral("config"), QStringLiteral("TempPath"), QStringLiteral("/t")),
             QStringLiteral("[config]\nTempPath=/t\n"));

    // A file from the systems the backups come from: code page 932.
    QCOMPARE(app::DecodeIniText(QByteArray("[config]\r\nTempPath=D:\\\x88\xea\x8e\x9e\r\n")),
             QStringLiteral("[config]\r\nTempPath=D:\\一時\r\n"));
  }

  void configurationIsWrittenOnlyWhenItDiffersFromTheDefault() {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Tessera.ini"));
    {
      app::CAppConfig config(ini, QStringLiteral("/tmp"));
      config.Load();
      QCOMPARE(config.TempFolder(), QStringLiteral("/tmp"));
      QVERIFY(config.Save());
      QVERIFY(!QFile::exists(ini));  // the default is never written
      config.SetTempFolder(QStringLiteral("/TMP"));
      QVERIFY(config.Save());
      QVERIFY(!QFile::exists(ini));  // nor one that differs only in case
      config.SetTempFolder(QStringLiteral("/var/tmp/"));
      QVERIFY(config.Save());
      QCOMPARE(ReadAll(ini), QByteArray("[config]\nTempPath=/var/tmp/\n"));
    }
    {
      app::CAppConfig config(ini, QStringLiteral("/tmp"));
      config.Load();
      // A value is taken as it stands, trailing separator included.
      QCOMPARE(config.TempFolder(), QStringLiteral("/var/tmp/"));
      QCOMPARE(config.RestoreFolder(), QStringLiteral("/var/tmp/TesseraRestore"));
      // Set back to the default: nothing is written, the earlier entry stays.
      config.SetTempFolder(QStringLiteral("/tmp"));
      QVERIFY(config.Save());
      QCOMPARE(ReadAll(ini), QByteArray("[config]\nTempPath=/var/tmp/\n"));
    }
  }

  void configurationLivesBesideTheExecutableWhenItCan() {
    QTemporaryDir dir;
    const QString exe = dir.filePath(QStringLiteral("bin"));
    const QString user = dir.filePath(QStringLiteral("config"));
    QDir().mkpath(exe);
    QCOMPARE(app::ConfigFilePath(exe, user), exe + QStringLiteral("/Tessera.ini"));
    // A folder that cannot be written (here: one that is not there) sends it to the user's folder.
    QCOMPARE(app::ConfigFilePath(dir.filePath(QStringLiteral("gone")), user), user + QStringLiteral("/Tessera.ini"));
    QVERIFY(!app::DefaultTempFolder().endsWith(u'/') || app::DefaultTempFolder().isEmpty());
  }

  void restoreFolderIsDeletedAtExitButNotThroughALink() {
    QTemporaryDir dir;
    const QString restore = dir.filePath(QStringLiteral("TesseraRestore"));
    QDir().mkpath(restore + QStringLiteral("/C/Data"));
    WriteAll(restore + QStringLiteral("/C/Data/a.txt"), "a");
    QVERIFY(app::RemoveRestoreFolder(restore));
    QVERIFY(!QFileInfo::exists(restore));
    QVERIFY(app::RemoveRestoreFolder(restore));  // missing: no failure

    // A link in its place goes; what it points to stays.
    const QString precious = dir.filePath(QStringLiteral("precious"));
    QDir().mkpath(precious);
    WriteAll(precious + QStringLiteral("/keep.txt"), "keep");
    QVERIFY(QFile::link(precious, restore));
    QVERIFY(app::RemoveRestoreFolder(restore));
    QVERIFY(!QFileInfo(restore).isSymLink());
    QCOMPARE(ReadAll(precious + QStringLiteral("/keep.txt")), QByteArray("keep"));
  }

  void startAndExitWithAndWithoutTheFile() {
    AppHarness h;
    ModalWatcher watcher;
    const QString temp = h.Path(QStringLiteral("temp"));
    QDir().mkpath(temp + QStringLiteral("/TesseraRestore/x"));

    app::CQPXManagerApp& first = h.Start();
    QCOMPARE(first.MainFrame()->windowTitle(), QStringLiteral("Tessera"));
    QVERIFY(first.MainFrame()->isVisible());
    QCOMPARE(first.Config().TempFolder(), app::DefaultTempFolder());
    h.Stop();
    QVERIFY(!QFile::exists(h.ConfigFile()));

    WriteAll(h.ConfigFile(), QStringLiteral("[config]\r\nTempPath=%1\r\n").arg(temp).toUtf8());
    app::CQPXManagerApp& second = h.Start();
    QCOMPARE(second.Config().TempFolder(), temp);
    h.Stop();
    // Exit deletes the temporary restore folder below the setting.
    QVERIFY(!QFileInfo::exists(temp + QStringLiteral("/TesseraRestore")));
    QVERIFY(QFileInfo::exists(temp));
    QVERIFY(watcher.Texts().isEmpty());
  }

  void aSecondCopyIsRefusedAndTheFirstGoesOn() {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(TESSERA_APP_EXE), {});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir.filePath(QStringLiteral("Tessera.lock"))), 20000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(TESSERA_APP_EXE), {QStringLiteral("/nonexistent/other.qpx")});
    QVERIFY(second.waitForStarted());
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += second.readAllStandardError()).contains(Txt(242).toUtf8()), 20000);
    // The second copy waits on its box: end it; the first is untouched.
    second.kill();
    second.waitForFinished();
    // Nobody would see that box in a screenshot run: it ends by itself.
    QProcess shot;
    shot.setProcessEnvironment(env);
    shot.start(QStringLiteral(TESSERA_APP_EXE), {QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("shot.png"))});
    QVERIFY(shot.waitForFinished(60000));
    QVERIFY(shot.exitCode() != 0);
    QVERIFY(shot.readAllStandardError().contains(Txt(242).toUtf8()));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("shot.png"))));
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("Tessera.lock"))));
    first.terminate();
    QVERIFY(first.waitForFinished(20000));
  }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
