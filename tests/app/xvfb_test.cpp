// The real program under a real X server: started with a sample set on its
// command line, its window must appear with the set's name in its title and
// the set's folders in its tree.
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include "app_fixture.h"

using apptest::AppHarness;
using apptest::Q;

class XvfbTest : public QObject {
  Q_OBJECT

 private slots:
  void programShowsTheSetInARealWindow() {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfb.isEmpty() || xdotool.isEmpty()) QSKIP("Xvfb or xdotool is not installed (scripts/install-deps.sh installs them)");

    AppHarness h;
    const auto files = h.WriteSampleSet();

    // The server picks a free display itself and names it once it accepts
    // connections, so servers of tests running at once never collide.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-ac")});
    QVERIFY(server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() != QProcess::Running, 60000);
    const QByteArray display = server.readLine().trimmed();
    QVERIFY2(!display.isEmpty(), "Xvfb ended without naming its display");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + QString::fromLatin1(display));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), h.Path(QString()));
    env.insert(QStringLiteral("TESSERA_TEST_STATE"), h.Path(QStringLiteral("state")));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(TESSERA_APP_EXE), {Q(files.archives[0])});
    QVERIFY(program.waitForStarted());

    // The X server itself knows the window by its title.
    QProcess search;
    search.setProcessEnvironment(env);
    search.start(xdotool, {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--name"), QStringLiteral("^set\\.qpx - Tessera$")});
    QVERIFY(search.waitForFinished(30000));
    QCOMPARE(search.exitCode(), 0);
    QVERIFY(!search.readAllStandardOutput().trimmed().isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(h.Path(QStringLiteral("state"))), 20000);
    QFile state(h.Path(QStringLiteral("state")));
    QVERIFY(state.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(state.readAll()).startsWith(QStringLiteral("title=set.qpx - Tessera\ntree=C:\ntree=C:\\Data\n")));

    program.terminate();
    QVERIFY(program.waitForFinished(20000));
    server.terminate();
    QVERIFY(server.waitForFinished(20000));
  }
};

QTEST_MAIN(XvfbTest)
#include "xvfb_test.moc"
