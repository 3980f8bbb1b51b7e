// Dragging entries out of the real program onto another program, under a
// real X server, with the pointer and keyboard driven by xdotool: the target
// (a small program of the tests' own that moves dropped files, as a file
// manager does) receives both restored files, nothing is restored before the
// button is let go, a drag cancelled with Escape or the right button, or
// dropped onto the program's own window, restores nothing, and a target that
// stops waiting while the restore is held by a question leaves the program
// running, with the files where its message says they are.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "app_fixture.h"
#include "support/archive_writer.h"
#include "support/corrupt.h"

using apptest::AppHarness;
using apptest::Q;

namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 31 + seed) % 251);
  return bytes;
}

QByteArray AsBytes(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

constexpr int kTargetX = 900, kTargetY = 100, kTargetSize = 160;

}  // namespace

class DragXvfbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    xvfb_ = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    xdotool_ = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfb_.isEmpty() || xdotool_.isEmpty()) QSKIP("Xvfb or xdotool is not installed (scripts/install-deps.sh installs them)");

    // Files beside a folder at the top of drive C:, which the list shows
    // when the program starts; one stored, one imploded, and one whose
    // stored data is damaged, so that a restore of it stops at a question.
    testsupport::BackupSetSpec set;
    set.generations.resize(1);
    set.generations[0].folders = {{u"C:\\Data"}};
    set.generations[0].files = {{u"C:\\Data\\keep.txt", Pattern(100, 1)},
                                {u"C:\\a.txt", aBytes_},
                                {u"C:\\b.bin", bBytes_, testsupport::Method::Imploded},
                                {u"C:\\c.txt", cBytes_}};
    const auto files = h_.WriteSet(set, "set");
    const std::filesystem::path archive = files.archives[0];
    const std::vector<uint8_t> written = testsupport::ReadFileBytes(archive);
    const auto stored = std::search(written.begin(), written.end(), cBytes_.begin(), cBytes_.end());
    QVERIFY(stored != written.end());
    testsupport::FlipBits(archive, static_cast<uint64_t>(stored - written.begin()) + 5, 0x01);

    // The server picks a free display and says which: two tests never meet.
    server_.setProcessChannelMode(QProcess::SeparateChannels);
    server_.start(xvfb_, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                          QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-ac")});
    QVERIFY(server_.waitForStarted());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += server_.readAllStandardOutput()).contains('\n'), 20000);
    bool number = false;
    const int display = said.trimmed().toInt(&number);
    QVERIFY(number);

    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // The temporary-folder setting defaults to the user's private runtime
    // folder, this test's own; no configuration file of the machine's user
    // may point it elsewhere.
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), h_.Path(QString()));
    env_.insert(QStringLiteral("XDG_CONFIG_HOME"), h_.Path(QStringLiteral("config")));
    env_.insert(QStringLiteral("TESSERA_TEST_STATE"), h_.Path(QStringLiteral("state")));

    target_.setProcessEnvironment(env_);
    target_.setProcessChannelMode(QProcess::ForwardedChannels);
    target_.start(QStringLiteral(TESSERA_DROP_TARGET_EXE),
                  {QStringLiteral("--out"), h_.Path(QStringLiteral("received")), QStringLiteral("--report"), Report(),
                   QStringLiteral("--place"), QStringLiteral("%1,%2,%3,%3").arg(kTargetX).arg(kTargetY).arg(kTargetSize)});
    QVERIFY(target_.waitForStarted());
    QVERIFY(!WindowId(QStringLiteral("^tessera drop target$")).isEmpty());

    program_.setProcessEnvironment(env_);
    program_.setProcessChannelMode(QProcess::ForwardedChannels);
    program_.start(QStringLiteral(TESSERA_APP_EXE), {Q(files.archives[0])});
    QVERIFY(program_.waitForStarted());
    window_ = WindowId(QStringLiteral("^set\\.qpx - Tessera$"));
    QVERIFY(!window_.isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(h_.Path(QStringLiteral("state"))), 20000);
    QFile state(h_.Path(QStringLiteral("state")));
    QVERIFY(state.open(QIODevice::ReadOnly));
    for (const QString& line : QString::fromUtf8(state.readAll()).split(u'\n')) {
      if (!line.startsWith(QStringLiteral("entry="))) continue;
      const QString name = line.mid(6).section(u'@', 0, 0);
      const QStringList xy = line.section(u'@', 1).split(u',');
      entries_[name] = QPoint(xy.value(0).toInt(), xy.value(1).toInt());
    }
    QCOMPARE(entries_.keys(), (QStringList{"Data", "a.txt", "b.bin", "c.txt"}));

    // Keys go to the program's window, whatever lies under the pointer.
    Xdotool({"windowfocus", "--sync", window_});
    const QPoint a = entries_.value(QStringLiteral("a.txt")), b = entries_.value(QStringLiteral("b.bin"));
    Xdotool({"mousemove", N(a.x()), N(a.y()), "click", "1", "sleep", "0.3", "keydown", "ctrl", "mousemove", N(b.x()), N(b.y()),
             "click", "1", "keyup", "ctrl", "sleep", "0.3"});
  }

  // Each case starts from no report and nothing restored or received.
  void init() {
    QFile::remove(Report());
    QDir(Root()).removeRecursively();
    QDir(h_.Path(QStringLiteral("received"))).removeRecursively();
    QVERIFY(QDir().mkpath(h_.Path(QStringLiteral("received"))));
  }

  void cleanupTestCase() {
    for (QProcess* process : {&program_, &target_, &server_}) {
      if (process->state() == QProcess::NotRunning) continue;
      process->terminate();
      if (!process->waitForFinished(10000)) process->kill();
    }
  }

  void dragCancelledWithEscapeRestoresNothing() {
    PressAndMoveToTarget();
    Xdotool({"key", "Escape", "sleep", "0.3", "mouseup", "1"});
    // The data is only ever asked for by a target's drop; this one saw the
    // drag go without one.
    QCOMPARE(AwaitReport(), QStringList{"left"});
    QVERIFY(!QFile::exists(Root()));
    QVERIFY(QDir(h_.Path(QStringLiteral("received"))).isEmpty());
  }

  void dragCancelledWithTheRightButtonRestoresNothing() {
    PressAndMoveToTarget();
    Xdotool({"mousedown", "3", "sleep", "0.3", "mouseup", "3", "mouseup", "1"});
    QCOMPARE(AwaitReport(), QStringList{"left"});
    QVERIFY(!QFile::exists(Root()));
  }

  void dropOntoTheProgramsOwnWindowRestoresNothing() {
    // Over the target, then back onto the folder tree, far from the entries
    // the drag starts on.
    PressAndMoveToTarget();
    Xdotool({"mousemove", "80", "400", "sleep", "0.3", "mousemove", "82", "402", "sleep", "0.3", "mouseup", "1"});
    QCOMPARE(AwaitReport(), QStringList{"left"});
    QVERIFY(!QFile::exists(Root()));
  }

  void dragOfTwoFilesDeliversBothRestoredAtTheDrop() {
    PressAndMoveToTarget();
    // The pointer is over the target with the button down: still nothing.
    QVERIFY(RestoredFiles().isEmpty());
    Xdotool({"mouseup", "1"});
    const QStringList lines = AwaitReport();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("moved a.txt %1").arg(aBytes_.size()));
    QCOMPARE(lines[1], QStringLiteral("moved b.bin %1").arg(bBytes_.size()));
    QVERIFY(lines[2].startsWith(QStringLiteral("fetch-ms ")));
    qInfo("%s after the drop", qPrintable(lines[2]));
    for (const auto& [name, bytes] : {std::pair{QStringLiteral("a.txt"), &aBytes_}, std::pair{QStringLiteral("b.bin"), &bBytes_}}) {
      QFile moved(h_.Path(QStringLiteral("received/") + name));
      QVERIFY(moved.open(QIODevice::ReadOnly));
      QCOMPARE(moved.readAll(), AsBytes(*bytes));
    }
    // Moved, as the target chose: nothing stays behind.
    QVERIFY(RestoredFiles().isEmpty());
  }

  void aTargetThatStopsWaitingLeavesTheProgramAndTheFilesFound() {
    // The damaged file joins the drag: the drop's restore asks about it, and
    // the target gives up meanwhile.
    const QPoint c = entries_.value(QStringLiteral("c.txt"));
    Xdotool({"windowfocus", "--sync", window_, "keydown", "ctrl", "mousemove", N(c.x()), N(c.y()), "click", "1", "keyup", "ctrl",
             "sleep", "0.3"});
    PressAndMoveToTarget();
    Xdotool({"mouseup", "1"});
    const QString question = WindowId(QStringLiteral("^Tessera$"));
    QVERIFY(!question.isEmpty());
    const QStringList lines = AwaitReport(30000);
    QVERIFY2(!lines.isEmpty() && lines[0] == QStringLiteral("none"), qPrintable(lines.join(u'|')));
    // Qt has deleted the drag by now; going on past the damage, the restore
    // runs to its end.
    Xdotool({"windowfocus", "--sync", question, "sleep", "0.2", "key", "Return"});
    // The question goes; the message that takes its place is what the drop
    // came to, and only a drop whose target is gone gets one.
    QTRY_VERIFY_WITH_TIMEOUT(!Windows(QStringLiteral("^Tessera$")).contains(question), 30000);
    QString notice;
    QTRY_VERIFY_WITH_TIMEOUT(!(notice = Windows(QStringLiteral("^Tessera$")).value(0)).isEmpty(), 30000);
    QCOMPARE(program_.state(), QProcess::Running);
    // The copies of the shown generation's drive C: top folder.
    const QString folder = Root() + QStringLiteral("/1/C");
    QVERIFY(RestoredFiles().contains(folder + QStringLiteral("/a.txt")));
    QVERIFY(RestoredFiles().contains(folder + QStringLiteral("/b.bin")));
    QFile restored(folder + QStringLiteral("/b.bin"));
    QVERIFY(restored.open(QIODevice::ReadOnly));
    QCOMPARE(restored.readAll(), AsBytes(bBytes_));
    QVERIFY(QDir(h_.Path(QStringLiteral("received"))).isEmpty());
    Xdotool({"windowfocus", "--sync", notice, "sleep", "0.2", "key", "Return"});
    QTRY_VERIFY_WITH_TIMEOUT(Windows(QStringLiteral("^Tessera$")).isEmpty(), 30000);
    QCOMPARE(program_.state(), QProcess::Running);
  }

 private:
  static QString N(int value) { return QString::number(value); }

  // The target's report of the next drop or leave, line by line; empty when
  // none came in time (only a hung test waits that long).
  QStringList AwaitReport(int timeoutMs = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(Report()) && clock.elapsed() < timeoutMs) QTest::qWait(50);
    QFile report(Report());
    if (!report.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(report.readAll()).split(u'\n', Qt::SkipEmptyParts);
  }

  // The visible windows of that title, now.
  QStringList Windows(const QString& title) {
    QProcess search;
    search.setProcessEnvironment(env_);
    search.start(xdotool_, {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title});
    if (!search.waitForFinished(30000)) return {};
    QStringList ids;
    for (const QString& id : QString::fromUtf8(search.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) ids << id.trimmed();
    return ids;
  }

  QString Report() const { return h_.Path(QStringLiteral("report")); }

  // The temporary restore folder: below a private parent its name is fixed.
  QString Root() const { return h_.Path(QStringLiteral("TesseraRestore")); }

  // Copies are kept per generation and folder below the temporary restore folder.
  QStringList RestoredFiles() const {
    QStringList files;
    QDirIterator it(Root(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next();
    return files;
  }

  void Xdotool(const QStringList& arguments) {
    QProcess run;
    run.setProcessEnvironment(env_);
    run.setProcessChannelMode(QProcess::ForwardedChannels);
    run.start(xdotool_, arguments);
    QVERIFY(run.waitForFinished(30000));
    QCOMPARE(run.exitCode(), 0);
  }

  QString WindowId(const QString& title) {
    QProcess search;
    search.setProcessEnvironment(env_);
    search.start(xdotool_, {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                            QStringLiteral("--name"), title});
    if (!search.waitForFinished(30000) || search.exitCode() != 0) return {};
    return QString::fromUtf8(search.readAllStandardOutput()).split(u'\n').value(0).trimmed();
  }

  // Presses the button on the first selected entry and moves the pointer
  // in steps onto the target, the way a hand does.
  void PressAndMoveToTarget() { PressAndMoveTo(QPoint(kTargetX + kTargetSize / 2, kTargetY + kTargetSize / 2)); }

  void PressAndMoveTo(const QPoint& to) {
    const QPoint from = entries_.value(QStringLiteral("a.txt"));
    QStringList steps{"mousemove", N(from.x()), N(from.y()), "sleep", "0.2", "mousedown", "1"};
    constexpr int kSteps = 12;
    for (int i = 1; i <= kSteps; ++i) {
      const QPoint at = from + (to - from) * i / kSteps;
      steps << "sleep" << "0.1" << "mousemove" << N(at.x()) << N(at.y());
    }
    steps << "sleep" << "0.3";
    Xdotool(steps);
  }

  AppHarness h_;
  QString xvfb_, xdotool_, window_;
  QProcess server_, program_, target_;
  QProcessEnvironment env_;
  QMap<QString, QPoint> entries_;
  const std::vector<uint8_t> aBytes_ = Pattern(3000, 7);
  const std::vector<uint8_t> bBytes_ = Pattern(70000, 9);
  // Unlike the patterns (which repeat), found only where this file is stored.
  const std::vector<uint8_t> cBytes_ = [] {
    const QByteArray text = QByteArrayLiteral("the third file, damaged on purpose\n").repeated(20);
    return std::vector<uint8_t>(text.begin(), text.end());
  }();
};

QTEST_MAIN(DragXvfbTest)
#include "drag_xvfb_test.moc"
