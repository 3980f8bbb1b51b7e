// Restoring from the desktop program: entries marked in a pane restored by
// the automatic restore dialog and by the restore dialog into a folder, and
// checked on disk (contents, CRC, times, attributes); the space rule, the
// refusals, the cancel question, the folder chooser, and the restore
// commands of the menus.
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <sys/stat.h>

#include "app/app_texts.h"
#include "app/auto_restore_dlg.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_view.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_run.h"
#include "app/restore_selection.h"
#include "app/show_log_dlg.h"
#include "app_fixture.h"
#include "entry/crc32.h"
#include "host/file_attributes.h"
#include "host/host_path.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

constexpr uint64_t kModified = testsupport::kSetBaseTime + 5 * testsupport::kSetDay + 123456700;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Runs of text-like bytes, so that the implode stream has matches.
    out[i] = static_cast<uint8_t>(i % 64 < 40 ? 'a' + (x >> 16) % 6 : (x >> 24));
  }
  return out;
}

// One generation of C:\Data: a read-only file with its times, an imploded
// file, a hidden file in a subfolder, and a file left unmarked.
testsupport::BackupSetSpec RestoreSet() {
  testsupport::BackupSetSpec set;
  set.generations.resize(1);
  auto& g = set.generations[0];
  g.folders = {{u"C:\\Data"}, {u"C:\\Data\\Sub"}, {u"C:\\Data\\Other"}};
  testsupport::SetFile plain{u"C:\\Data\\plain.txt", testsupport::Bytes("plain contents\r\n")};
  plain.attributes = 0x21;
  plain.created = kModified - testsupport::kSetDay;
  plain.accessed = kModified;
  plain.modified = kModified;
  testsupport::SetFile packed{u"C:\\Data\\packed.bin", Pattern(300000, 7), testsupport::Method::Imploded};
  packed.modified = kModified;
  testsupport::SetFile hidden{u"C:\\Data\\Sub\\hidden.txt", testsupport::Bytes("hidden")};
  hidden.attributes = 0x22;
  hidden.modified = kModified;
  testsupport::SetFile other{u"C:\\Data\\Other\\left.txt", testsupport::Bytes("not marked")};
  g.files = {plain, packed, hidden, other};
  return set;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

uint32_t Crc(const QByteArray& bytes) {
  // As the archives store it: register preset to all ones, no final complement.
  return QPXFile::Crc32Update(bytes.constData(), static_cast<size_t>(bytes.size()), 0xFFFFFFFFu);
}

uint64_t ModifiedTime(const QString& path) {
  struct stat st {};
  if (::stat(path.toLocal8Bit().constData(), &st) != 0) return 0;
  uint64_t time = 0;
  host::TimespecToFileTime(st.st_mtim, time);
  return time;
}

uint32_t Attributes(const QString& path) {
  uint32_t attributes = 0;
  host::GetFileAttributes(host::ToEnginePath(path.toStdString()), attributes);
  return attributes;
}

// Holds the entries of a test's set loaded in an application.
struct Loaded {
  AppHarness h;
  testsupport::BackupSetFiles files;
  app::CQPXManagerApp* app = nullptr;

  explicit Loaded(const testsupport::BackupSetSpec& set = RestoreSet()) {
    files = h.WriteSet(set, "set");
    app = &h.Start({Q(files.archives[0])});
  }
  QString Target(const QString& name = QStringLiteral("out")) const { return h.Path(name); }
};

// The free space every restore dialog sees while it lives.
class FakeFreeSpace {
 public:
  explicit FakeFreeSpace(uint64_t bytes) {
    app::SetFreeSpaceQuery([bytes](const QString&, uint64_t& out) {
      out = bytes;
      return true;
    });
  }
  ~FakeFreeSpace() { app::SetFreeSpaceQuery({}); }
};

}  // namespace

class RestoreTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    app::CShowLogDlg::SetFileDialogOptions(QFileDialog::DontUseNativeDialog);
    app::CRestoreProgressDlg::SetFileDialogOptions(QFileDialog::DontUseNativeDialog);
    app::CRestoreProgressDlg::SetFolderChooser({});
  }

  void spaceFieldsGroupKibibytesByThrees() {
    QCOMPARE(app::SpaceText(0), QStringLiteral("0"));
    QCOMPARE(app::SpaceText(1023), QStringLiteral("0"));
    QCOMPARE(app::SpaceText(1234 * 1024 + 1023), QStringLiteral("1,234"));
    QCOMPARE(app::SpaceText(999ull * 1024), QStringLiteral("999"));
    QCOMPARE(app::SpaceText(1234567ull * 1024), QStringLiteral("1,234,567"));
    QCOMPARE(app::SpaceText(~0ull), QStringLiteral("18,014,398,509,481,983"));
  }

  void networkLocationsThatAreNotMountedAreTold() {
    QVERIFY(app::IsUnmountedNetworkLocation(QStringLiteral("smb://server/share")));
    QVERIFY(app::IsUnmountedNetworkLocation(QStringLiteral("//server/share/folder")));
    QVERIFY(app::IsUnmountedNetworkLocation(QStringLiteral("\\\\server\\share")));
    QVERIFY(!app::IsUnmountedNetworkLocation(QStringLiteral("/mnt/share")));
    QVERIFY(!app::IsUnmountedNetworkLocation(QStringLiteral("/home/me/smb:/x")));
    QVERIFY(!app::IsUnmountedNetworkLocation(QString()));
  }

  void automaticRestoreWritesTheMarkedEntriesWithTheirTimesAndAttributes() {
    Loaded l;
    ModalWatcher watcher;
    QVERIFY(app::MarkForRestore(*l.app, QStringLiteral("C:\\Data"),
                                {QStringLiteral("plain.txt"), QStringLiteral("packed.bin"), QStringLiteral("Sub")}));
    QCOMPARE(l.app->CurrentFolder(), QStringLiteral("C:\\Data"));
    const QString out = l.Target();
    app::CAutoRestoreDlg dialog(*l.app, out);
    dialog.exec();
    QVERIFY(dialog.Succeeded());
    QVERIFY2(watcher.Texts().isEmpty(), qPrintable(watcher.Texts().join(u'\n')));

    // Below the target as they lay below the folder they were marked in.
    QCOMPARE(ReadAll(out + "/plain.txt"), QByteArray("plain contents\r\n"));
    const std::vector<uint8_t> packed = Pattern(300000, 7);
    const QByteArray packedBytes = ReadAll(out + "/packed.bin");
    QCOMPARE(packedBytes.size(), qsizetype(packed.size()));
    QCOMPARE(Crc(packedBytes), QPXFile::Crc32Update(packed.data(), packed.size(), 0xFFFFFFFFu));
    QCOMPARE(ReadAll(out + "/Sub/hidden.txt"), QByteArray("hidden"));
    QVERIFY(!QFileInfo::exists(out + "/Other"));
    QVERIFY(!QFileInfo::exists(out + "/Data"));

    QCOMPARE(ModifiedTime(out + "/plain.txt"), kModified);
    QCOMPARE(ModifiedTime(out + "/packed.bin"), kModified);
    QVERIFY(Attributes(out + "/plain.txt") & host::kAttributeReadOnly);
    QVERIFY(!(Attributes(out + "/packed.bin") & host::kAttributeReadOnly));

    // The run state is left clean for the next run.
    QVERIFY(!app::CRestoreRun::Instance().IsBusy());
    app::UnmarkFolder(*l.app, QStringLiteral("C:\\Data"));
    QCOMPARE(l.app->Set()->Tree().GetRoots().front()->GetData().GetCheckedFileCount(), 0);
  }

  void quietAutomaticRestoreStaysOffScreen() {
    Loaded l;
    ModalWatcher watcher;
    QVERIFY(app::MarkForRestore(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt")}));
    app::CAutoRestoreDlg dialog(*l.app, l.Target(QStringLiteral("tmp/TesseraRestore")));
    dialog.SetQuiet(true);
    bool seenOnScreen = false;
    QTimer probe;
    connect(&probe, &QTimer::timeout, [&] {
      if (dialog.isVisible() && !dialog.testAttribute(Qt::WA_DontShowOnScreen)) seenOnScreen = true;
    });
    probe.start(10);
    dialog.exec();
    QVERIFY(dialog.Succeeded());
    QVERIFY(!seenOnScreen);
    QVERIFY(!app::IsQuietMode());
    QCOMPARE(ReadAll(l.Target(QStringLiteral("tmp/TesseraRestore/plain.txt"))), QByteArray("plain contents\r\n"));
  }

  void automaticRestoreRefusesANetworkPlaceAndTooLittleSpace() {
    Loaded l;
    ModalWatcher watcher;
    QVERIFY(app::MarkForRestore(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt")}));
    {
      app::CAutoRestoreDlg dialog(*l.app, QStringLiteral("//server/share/tmp"));
      QCOMPARE(dialog.exec(), int(QDialog::Accepted));
      QVERIFY(!dialog.Succeeded());
    }
    QCOMPARE(watcher.Texts(), QStringList{QString::fromUtf8(app::RestoreFixedText::kAutoNetworkTarget)});
    watcher.Clear();
    {
      // "plain contents\r\n" is 16 bytes: 15 free bytes are one too few.
      FakeFreeSpace full(15);
      app::CAutoRestoreDlg dialog(*l.app, l.Target());
      dialog.exec();
      QVERIFY(!dialog.Succeeded());
    }
    QCOMPARE(watcher.Texts(), QStringList{apptest::Txt(246)});
    QVERIFY(!QFileInfo::exists(l.Target() + "/plain.txt"));
    watcher.Clear();
    {
      FakeFreeSpace exact(16);
      app::CAutoRestoreDlg dialog(*l.app, l.Target());
      dialog.exec();
      QVERIFY(dialog.Succeeded());
    }
    QVERIFY(watcher.Texts().isEmpty());
  }
};

QTEST_MAIN(RestoreTest)
#include "restore_test.moc"
