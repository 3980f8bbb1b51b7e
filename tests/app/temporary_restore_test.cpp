// The temporary restore folder on a machine with other local users: copies
// for opening are kept per generation and folder, read-only and private; a
// shared temporary folder gets a folder of this run's own; anything there
// that is not private to the user is refused with 199; exit removes only
// what the run made. Under root, "nobody" plays the other user.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/auto_restore_dlg.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_data_object.h"
#include "app/qpx_manager_view.h"
#include "app/temporary_restore.h"
#include "host/string_ids.h"
#include "app_fixture.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::OpenedUrls;
using apptest::ReadAll;
using apptest::Q;
using apptest::Txt;

namespace {

mode_t ModeOf(const QString& path) {
  struct stat st {};
  return ::lstat(path.toUtf8().constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Runs `work` as "nobody" in a child process; false when not root.
bool AsNobody(const std::function<bool()>& work) {
  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() != 0 || nobody == nullptr) return false;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0 && work() ? 0 : 1);
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The sample set loaded with C:\Data shown, the temporary folder setting
// at `temp` below the test's folder; opening an entry records what the
// viewer would be handed.
struct Shown {
  AppHarness h;
  ModalWatcher watcher;
  OpenedUrls opened;
  QStringList otherModals;
  app::CQPXManagerApp* app = nullptr;

  explicit Shown(const QString& temp) {
    const auto files = h.WriteSampleSet();
    app = &h.Start({Q(files.archives[0])});
    app->Config().SetTempFolder(h.Path(temp));
    app->MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data"));
    // The restore's own dialog runs modal while hidden; any other window
    // (a question) is recorded and closed.
    watcher.SetOtherHandler([this](QWidget* modal) {
      if (qobject_cast<app::CAutoRestoreDlg*>(modal) != nullptr) return;
      otherModals << QString::fromLatin1(modal->metaObject()->className());
      modal->close();
    });
  }
  // Opens `name` of the list; the path handed to the viewer, or empty.
  QString Open(const QString& name) {
    app::CQPXManagerView* list = app->MainFrame()->ListPane();
    list->clearSelection();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      const QModelIndex index = list->model()->index(row, 0);
      if (index.data().toString() == name) list->selectionModel()->select(index, QItemSelectionModel::Select);
    }
    const qsizetype before = opened.paths.size();
    list->OpenSelection();
    return opened.paths.size() > before ? opened.paths.last() : QString();
  }
};

}  // namespace

class TemporaryRestoreTest : public QObject {
  Q_OBJECT

 private slots:
  void copiesAreKeptPerGenerationReadOnlyAndNeverAskedAbout() {
    Shown s(QStringLiteral("tmp"));
    const QString root = s.h.Path(QStringLiteral("tmp/TesseraRestore"));
    const QString first = s.Open(QStringLiteral("a.txt"));
    QCOMPARE(first, root + QStringLiteral("/1/C/Data/a.txt"));
    QCOMPARE(ReadAll(first), QByteArray("a0"));
    QCOMPARE(ModeOf(first), mode_t{0400});
    QCOMPARE(ModeOf(root), mode_t{0700});

    // Opened again: a fresh copy, no question about the program's own file.
    QCOMPARE(s.Open(QStringLiteral("a.txt")), first);
    QVERIFY(s.app->SelectGeneration(3));
    s.app->MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data"));
    const QString latest = s.Open(QStringLiteral("a.txt"));
    QCOMPARE(latest, root + QStringLiteral("/4/C/Data/a.txt"));
    QCOMPARE(ReadAll(latest), QByteArray("a3"));
    QCOMPARE(ReadAll(first), QByteArray("a0"));
    // Dragged out: private whatever the umask, but not read-only, as the
    // target moves them.
    const mode_t umask = ::umask(0);
    ::umask(umask);
    app::CQPXManagerView* list = s.app->MainFrame()->ListPane();
    list->clearSelection();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      const QModelIndex index = list->model()->index(row, 0);
      if (index.data().toString() == QStringLiteral("Old") || index.data().toString() == QStringLiteral("a.txt"))
        list->selectionModel()->select(index, QItemSelectionModel::Select);
    }
    std::unique_ptr<app::CQPXDataObject> drag(list->MakeDragData());
    drag->Dropped();
    QCOMPARE(drag->urls().size(), 2);
    QCOMPARE(ModeOf(latest), mode_t(0600 & ~umask));
    QCOMPARE(ModeOf(root + QStringLiteral("/4/C/Data/Old")), mode_t(0700 & ~umask));
    QCOMPARE(ModeOf(root + QStringLiteral("/4/C/Data/Old/b.txt")), mode_t(0600 & ~umask));
    QVERIFY(s.otherModals.isEmpty());
    QVERIFY(s.watcher.Texts().isEmpty());

    s.h.Stop();
    QVERIFY(!QFileInfo::exists(root));
    QVERIFY(QFileInfo::exists(s.h.Path(QStringLiteral("tmp"))));
  }

  // The folder setting names a shared place, where another user (or an
  // earlier run) left a "TesseraRestore" with a stale copy and a link to
  // the user's own files.
  void aSharedFolderGetsAFolderOfThisRunsOwnAndOnlyThatIsRemoved() {
    Shown s(QStringLiteral("shared"));
    const QString shared = s.h.Path(QStringLiteral("shared"));
    const QString victim = s.h.Path(QStringLiteral("victim"));
    QVERIFY(QDir().mkpath(victim));
    const mode_t victimMode = ModeOf(victim);
    QFile own(victim + QStringLiteral("/own.txt"));
    QVERIFY(own.open(QIODevice::WriteOnly) && own.write("own") == 3);
    own.close();
    QVERIFY(QDir().mkpath(shared));
    QVERIFY(::chmod(shared.toUtf8().constData(), 01777) == 0);
    const std::string planted = (shared + QStringLiteral("/TesseraRestore")).toStdString();
    const std::string target = victim.toStdString();
    auto plant = [&] {
      return ::mkdir(planted.c_str(), 0777) == 0 && ::chmod(planted.c_str(), 0777) == 0 &&
             ::mkdir((planted + "/1").c_str(), 0777) == 0 && ::symlink(target.c_str(), (planted + "/1/C").c_str()) == 0;
    };
    const bool root = ::geteuid() == 0;
    if (root) QVERIFY(::chmod(s.h.Path(QString()).toUtf8().constData(), 0755) == 0);
    QVERIFY(root ? AsNobody(plant) : plant());

    const QString opened = s.Open(QStringLiteral("a.txt"));
    QVERIFY2(opened.startsWith(shared + QStringLiteral("/TesseraRestore-")), qPrintable(opened));
    QCOMPARE(ReadAll(opened), QByteArray("a0"));
    const QString made = opened.left(opened.indexOf(QStringLiteral("/1/C/Data/")));
    QCOMPARE(ModeOf(made), mode_t{0700});
    QVERIFY(!QFileInfo::exists(victim + QStringLiteral("/Data")));
    // A drag offers files in the same folder of this run's.
    QCOMPARE(s.app->MainFrame()->ListPane()->RestoreFolder(), made + QStringLiteral("/1/C/Data"));

    s.h.Stop();
    QVERIFY(!QFileInfo::exists(made));
    QVERIFY(QFileInfo(QString::fromStdString(planted + "/1/C")).isSymLink());
    QCOMPARE(ReadAll(victim + QStringLiteral("/own.txt")), QByteArray("own"));
    QCOMPARE(ModeOf(victim), victimMode);
    QVERIFY(s.watcher.Texts().isEmpty());
  }

  void whatIsNotPrivateIsRefusedAndNothingIsWritten() {
    Shown s(QStringLiteral("tmp"));
    const QString root = s.h.Path(QStringLiteral("tmp/TesseraRestore"));
    QVERIFY(QDir().mkpath(root));
    QVERIFY(::chmod(root.toUtf8().constData(), 0755) == 0);
    QVERIFY(s.Open(QStringLiteral("a.txt")).isEmpty());
    QCOMPARE(s.watcher.Texts(), QStringList{Txt(host::StringId::kTargetFolderNotMade)});
    QVERIFY(QDir(root).isEmpty());
    QCOMPARE(ModeOf(root), mode_t{0755});  // refused, not mended

    // A link in its place, to a folder of the user's.
    const QString elsewhere = s.h.Path(QStringLiteral("elsewhere"));
    QVERIFY(QDir(root).removeRecursively() && QDir().mkpath(elsewhere));
    QVERIFY(::chmod(elsewhere.toUtf8().constData(), 0700) == 0);
    QVERIFY(QFile::link(elsewhere, root));
    QVERIFY(s.Open(QStringLiteral("a.txt")).isEmpty());
    QCOMPARE(s.watcher.Texts().size(), 2);
    QVERIFY(QDir(elsewhere).isEmpty());
    s.h.Stop();
    QVERIFY(QFileInfo(root).isSymLink());
  }
};

QTEST_MAIN(TemporaryRestoreTest)
#include "temporary_restore_test.moc"
