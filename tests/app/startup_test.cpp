// Start-up and exit: the configuration file and its write-back rules, the
// temporary restore folder, the title, and one running copy per user.
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QtTest>
#include <sys/stat.h>
#include <csignal>
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

  void configurationIsTheUsersAndOnlyASmallRegularFileIsRead() {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8());
    QCOMPARE(app::ConfigFilePath(), dir.filePath(QStringLiteral("config/tessera/Tessera.ini")));
    qunsetenv("XDG_CONFIG_HOME");
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", dir.path().toUtf8());
    QCOMPARE(app::ConfigFilePath(), dir.filePath(QStringLiteral(".config/tessera/Tessera.ini")));
    qputenv("HOME", home);

    // A FIFO neither blocks the start nor is written over; nor is /dev/zero or an oversized file read.
    const QString ini = dir.filePath(QStringLiteral("Tessera.ini"));
    QVERIFY(::mkfifo(ini.toUtf8().constData(), 0600) == 0);
    app::CAppConfig config(ini, QStringLiteral("/default"));
    config.Load();
    QCOMPARE(config.TempFolder(), QStringLiteral("/default"));
    config.SetTempFolder(QStringLiteral("/chosen"));
    QVERIFY(!config.Save());
    QVERIFY(QFile::remove(ini));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), ini));
    config.Load();
    QCOMPARE(config.TempFolder(), QStringLiteral("/default"));
    QVERIFY(QFile::remove(ini));
    WriteAll(ini, "[config]\nTempPath=/big\n" + QByteArray(1 << 20, ';'));
    config.Load();
    QCOMPARE(config.TempFolder(), QStringLiteral("/default"));

    // The save replaces the file whole and keeps its mode.
    WriteAll(ini, "[config]\r\nTempPath=/old\r\n");
    const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser |
                      QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(ini, mode));
    config.SetTempFolder(QStringLiteral("/chosen"));
    QVERIFY(config.Save());
    QCOMPARE(ReadAll(ini), QByteArray("[config]\r\nTempPath=/chosen\r\n"));
    QCOMPARE(QFile::permissions(ini), mode);
  }

  void startAndExitWithAndWithoutTheFile() {
    AppHarness h;
    ModalWatcher watcher;
    const QString temp = h.Path(QStringLiteral("temp"));
    // One left by an earlier run: this run made nothing, so it stays.
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
    QVERIFY(QFileInfo::exists(temp + QStringLiteral("/TesseraRestore/x")));
    QVERIFY(watcher.Texts().isEmpty());
  }

  void aFailedSaveIsTold() {
    AppHarness h;
    ModalWatcher watcher;
    QVERIFY(QDir().mkpath(h.ConfigFile()));  // a folder where the file should be
    h.Start().Config().SetTempFolder(h.Path(QStringLiteral("chosen")));
    h.Stop();
    QCOMPARE(watcher.Texts(), QStringList{QString::fromUtf8(app::kConfigSaveFailed).arg(h.ConfigFile())});
    QVERIFY(QFileInfo(h.ConfigFile()).isDir());
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

  // Another user's lock in a shared runtime folder neither blocks the
  // start nor is used: the lock goes to the user's cache folder.
  void aLockInASharedPlaceIsIgnored() {
    QTemporaryDir dir;
    const QString shared = dir.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkpath(shared) && ::chmod(shared.toUtf8().constData(), 01777) == 0);
    QLockFile planted(shared + QStringLiteral("/Tessera.lock"));
    QVERIFY(planted.tryLock(0));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), shared);
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
    env.remove(QStringLiteral("XDG_CACHE_HOME"));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    QProcess tessera;
    tessera.setProcessEnvironment(env);
    // Whatever follows "--" is a file, Qt's own options included: here a
    // file named "-platform", which is no archive and is passed over.
    WriteAll(dir.filePath(QStringLiteral("-platform")), "x");
    tessera.setWorkingDirectory(dir.path());
    tessera.start(QStringLiteral(TESSERA_APP_EXE), {QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("shot.png")),
                                                   QStringLiteral("--"), QStringLiteral("-platform"), QStringLiteral("none")});
    QVERIFY(tessera.waitForFinished(60000));
    const QByteArray err = tessera.readAllStandardError();
    QVERIFY2(tessera.exitCode() == 0, err.constData());
    QVERIFY(!err.contains(Txt(242).toUtf8()));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("shot.png"))));
    const QString own = dir.filePath(QStringLiteral("home/.cache/tessera"));
    QVERIFY(QFileInfo(own).isDir());
    QCOMPARE(QFile::permissions(own) & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
  }

  // SIGTERM, SIGHUP and SIGINT end the program through its exit path: the
  // lock is released as at a normal end.
  void signalsEndTheProgramThroughItsExit() {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
      QTemporaryDir dir;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
      env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
      QProcess tessera;
      tessera.setProcessEnvironment(env);
      tessera.start(QStringLiteral(TESSERA_APP_EXE), {});
      QVERIFY(tessera.waitForStarted());
      const QString lock = dir.filePath(QStringLiteral("Tessera.lock"));
      QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lock), 20000);
      QVERIFY(::kill(static_cast<pid_t>(tessera.processId()), signal) == 0);
      QVERIFY(tessera.waitForFinished(20000));
      QCOMPARE(tessera.exitStatus(), QProcess::NormalExit);
      QVERIFY2(!QFileInfo::exists(lock), qPrintable(QString::number(signal)));

      // Killed outright, it leaves its lock, which the next start takes over.
      if (signal != SIGINT) continue;
      tessera.start(QStringLiteral(TESSERA_APP_EXE), {});
      QVERIFY(tessera.waitForStarted());
      QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lock), 20000);
      tessera.kill();
      QVERIFY(tessera.waitForFinished(20000));
      QVERIFY(QFileInfo::exists(lock));
      tessera.start(QStringLiteral(TESSERA_APP_EXE), {QStringLiteral("--screenshot"), dir.filePath(QStringLiteral("shot.png"))});
      QVERIFY(tessera.waitForFinished(60000));
      QCOMPARE(tessera.exitCode(), 0);
    }
  }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
