// Restoring from the desktop program: entries marked in a pane restored by
// the automatic restore dialog and by the restore dialog into a folder, and
// checked on disk (contents, CRC, times, attributes); the space rule, the
// refusals, the cancel question, the folder chooser, and the restore
// commands of the menus.
#include <QCheckBox>
#include <QPointer>
#include <algorithm>
#include <deque>
#include <functional>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <sys/stat.h>

#include "app/app_texts.h"
#include "app/ask_to_user_dialog.h"
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

// Catches what the program hands to the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls << url; }
};

// Drives the restore dialog as a user would: chooses the target with Qt's
// folder dialog, starts, answers the questions, reads and closes the
// result log, and closes the dialog when a run has ended without success.
class DialogDriver {
 public:
  DialogDriver(ModalWatcher& watcher, QString target) : target_(std::move(target)) {
    watcher.SetOtherHandler([this](QWidget* modal) { Handle(modal); });
  }

  // Answers for the questions, in order (a caption id; -1 for Esc).
  std::deque<int> answers;
  // Called when a question is first seen, before it is answered.
  std::function<void(app::CRestoreProgressDlg&)> onFirstQuestion;
  QString logText;
  QStringList questions;
  QString finalStatus;
  QString finalTitle;
  QString titleWhileAsked;
  bool sawSuccess = false;  // the dialog was seen done, and left open for it to close
  bool sawFolderDialog = false;

 private:
  void Later(QObject* context, std::function<void()> work) { QTimer::singleShot(0, context, std::move(work)); }

  void Handle(QWidget* modal) {
    if (auto* dialog = qobject_cast<app::CRestoreProgressDlg*>(modal)) {
      restore_ = dialog;
      if (dialog->IsRunning()) return;
      if (!started_) {
        if (dialog->TargetFolder() != target_) {
          Later(dialog->BrowseButton(), [dialog] { dialog->BrowseButton()->click(); });
          return;
        }
        if (!dialog->StartButton()->isEnabled()) return;
        started_ = true;
        Later(dialog->StartButton(), [dialog] { dialog->StartButton()->click(); });
        return;
      }
      // A successful run closes the dialog by itself.
      if (dialog->Succeeded()) {
        sawSuccess = true;
        return;
      }
      // Ended, and still open: the run failed or was cancelled.
      finalStatus = dialog->StatusText();
      finalTitle = dialog->windowTitle();
      Later(dialog->CancelButton(), [dialog] { dialog->CancelButton()->click(); });
      return;
    }
    if (auto* files = qobject_cast<QFileDialog*>(modal)) {
      sawFolderDialog = true;
      QVERIFY(files->testOption(QFileDialog::ShowDirsOnly));
      QCOMPARE(files->windowTitle(), apptest::Txt(168));
      files->setDirectory(target_);
      Later(files, [files] { QMetaObject::invokeMethod(files, "accept"); });
      return;
    }
    if (auto* ask = qobject_cast<app::CAskToUserDialog*>(modal)) {
      if (!ask->isVisible()) return;
      if (questions.isEmpty() || questions.back() != ask->MessageLabel()->text() || asked_ != ask) {
        asked_ = ask;
        questions << ask->MessageLabel()->text();
        if (restore_ != nullptr) titleWhileAsked = restore_->windowTitle();
        if (onFirstQuestion && questions.size() == 1) {
          Later(restore_, [this] { onFirstQuestion(*restore_); });
          return;
        }
      }
      const int answer = answers.empty() ? -1 : answers.front();
      if (!answers.empty()) answers.pop_front();
      asked_ = nullptr;
      if (answer < 0) {
        QTest::keyClick(ask, Qt::Key_Escape);
        return;
      }
      for (int i = 0; i < 3; ++i)
        if (ask->ButtonId(i) == answer) Later(ask, [ask, i] { ask->Button(i)->click(); });
      return;
    }
    if (auto* log = qobject_cast<app::CShowLogDlg*>(modal)) {
      logText = log->TextBox()->toPlainText();
      Later(log->OkButton(), [log] { log->OkButton()->click(); });
    }
  }

  QString target_;
  bool started_ = false;
  app::CRestoreProgressDlg* restore_ = nullptr;
  QPointer<app::CAskToUserDialog> asked_;
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

  void restoreDialogRestoresTheListSelectionAndOpensTheTarget() {
    Loaded l;
    ModalWatcher watcher;
    UrlCatcher urls;
    const QString out = l.Target();
    QVERIFY(QDir().mkpath(out));
    app::CMainFrame* frame = l.app->MainFrame();
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    app::CQPXManagerView* list = frame->ListPane();
    list->setFocus();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      const QString name = list->model()->index(row, 0).data().toString();
      if (name == QStringLiteral("Sub") || name == QStringLiteral("packed.bin"))
        list->selectionModel()->select(list->model()->index(row, 0), QItemSelectionModel::Select);
    }
    DialogDriver driver(watcher, out);
    QCOMPARE(list->SelectedNames(), (QStringList{"Sub", "packed.bin"}));
    frame->RestoreAction()->trigger();
    QVERIFY(driver.sawFolderDialog);
    // Seen done, then closed by itself: nothing here pressed a button.
    QVERIFY(driver.sawSuccess);
    QVERIFY(driver.finalStatus.isEmpty());
    QVERIFY2(watcher.Texts().isEmpty(), qPrintable(watcher.Texts().join(u'\n')));
    QCOMPARE(ReadAll(out + "/Sub/hidden.txt"), QByteArray("hidden"));
    QCOMPARE(ReadAll(out + "/packed.bin").size(), qsizetype(300000));
    QVERIFY(!QFileInfo::exists(out + "/plain.txt"));
    // The result log: the start and end lines name the restore archive.
    QVERIFY2(driver.logText.startsWith(QStringLiteral("バックアップファイル set.qpm(1世代目) の復元処理を開始しました。")),
             qPrintable(driver.logText));
    QVERIFY(driver.logText.contains(QStringLiteral("バックアップファイル set.qpm(1世代目) の復元処理が終了しました。")));
    QCOMPARE(urls.urls, QList<QUrl>{QUrl::fromLocalFile(out)});
    // The marks are gone again; the current folder is the list's.
    QCOMPARE(l.app->Set()->Tree().GetRoots().front()->GetData().GetCheckedFileCount(), 0);
  }

  void openingSeveralEntriesRestoresThem() {
    Loaded l;
    ModalWatcher watcher;
    QStringList marked;
    watcher.SetOtherHandler([&](QWidget* modal) {
      if (auto* dialog = qobject_cast<app::CRestoreProgressDlg*>(modal)) {
        // The selection is a value: the tree carries no mark for it.
        QCOMPARE(l.app->Set()->Tree().GetRoots().front()->GetData().GetCheckedFileCount(), 0);
        int files = 0;
        for (const IncrementalBackup::ChosenPath& chosen : dialog->Selection()) {
          const IncrementalBackup::CFSObject* node = l.app->MutableSet()->Creator().FindNode(chosen.path);
          QVERIFY(node != nullptr);
          files += node->IsFolder() ? IncrementalBackup::TotalsBelow(static_cast<const IncrementalBackup::CFolder&>(*node)).files : 1;
        }
        marked << QString::number(files);
        dialog->reject();
      }
    });
    app::CQPXManagerView* list = l.app->MainFrame()->ListPane();
    QVERIFY(l.app->MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    list->selectionModel()->setCurrentIndex(list->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    list->selectAll();
    QTest::keyClick(list, Qt::Key_Return);
    // Sub, Other and the two files: four files chosen, no mark left after.
    QCOMPARE(marked, QStringList{"4"});
    QCOMPARE(l.app->Set()->Tree().GetRoots().front()->GetData().GetCheckedFileCount(), 0);
  }

  void restoreFromTheTreeRecreatesTheFolderButNeverAWholeDrive() {
    Loaded l;
    ModalWatcher watcher;
    UrlCatcher urls;
    const QString out = l.Target();
    QVERIFY(QDir().mkpath(out));
    app::CMainFrame* frame = l.app->MainFrame();
    frame->TreePane()->setFocus();
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:")));
    frame->RestoreAction()->trigger();
    QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("ルートドライブを直接復元することはできません")});
    watcher.Clear();

    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data\\Sub")));
    DialogDriver driver(watcher, out);
    frame->TreeRestoreAction()->trigger();
    QCOMPARE(ReadAll(out + "/Sub/hidden.txt"), QByteArray("hidden"));
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"Sub"});
    QCOMPARE(l.app->CurrentFolder(), QStringLiteral("C:\\Data\\Sub"));
    QCOMPARE(l.app->Set()->Tree().GetRoots().front()->GetData().GetCheckedFileCount(), 0);
  }

  void startNeedsAsManyFreeBytesAsTheSelectionHolds() {
    Loaded l;
    ModalWatcher watcher;
    const IncrementalBackup::RestoreSelection chosen =
        app::SelectEntries(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("packed.bin")});
    QVERIFY(!chosen.empty());
    const uint64_t needed = 300000;
    {
      // The backed-up computer's folder is no folder here: nothing chosen yet.
      app::CRestoreProgressDlg dialog(*l.app, chosen);
      QCOMPARE(dialog.TargetFolder(), QString());
      QCOMPARE(dialog.FreeEdit()->text(), QStringLiteral("(未選択)"));
      QCOMPARE(dialog.NeededEdit()->text(), QStringLiteral("292"));
      QVERIFY(!dialog.StartButton()->isEnabled());
      QCOMPARE(dialog.StatusText(), QString::fromUtf8(app::RestoreFixedText::kInvalidDrive).remove(u'\r'));
      QVERIFY(dialog.OpenAfterBox()->isChecked());
      QCOMPARE(dialog.windowTitle(), QStringLiteral("Tessera - 選択されたファイル・フォルダの復元"));
    }
    {
      FakeFreeSpace tight(needed - 1);
      app::CRestoreProgressDlg dialog(*l.app, chosen);
      dialog.SetTargetFolder(l.Target());
      QCOMPARE(dialog.TargetEdit()->text(), l.Target());
      QCOMPARE(dialog.FreeEdit()->text(), QStringLiteral("292"));
      QVERIFY(!dialog.StartButton()->isEnabled());
      QCOMPARE(dialog.StatusText(), QString::fromUtf8(app::RestoreFixedText::kNoSpace).remove(u'\r'));
    }
    {
      FakeFreeSpace exact(needed);
      app::CRestoreProgressDlg dialog(*l.app, chosen);
      dialog.SetTargetFolder(l.Target());
      QVERIFY(dialog.StartButton()->isEnabled());
      QCOMPARE(dialog.StatusText(), QString::fromUtf8(app::RestoreFixedText::kReady).remove(u'\r'));
    }
    {
      app::SetFreeSpaceQuery([](const QString&, uint64_t&) { return false; });
      app::CRestoreProgressDlg dialog(*l.app, chosen);
      dialog.SetTargetFolder(l.Target());
      app::SetFreeSpaceQuery({});
      QCOMPARE(dialog.FreeEdit()->text(), QStringLiteral("(取得失敗)"));
      QVERIFY(!dialog.StartButton()->isEnabled());
    }
    {
      app::CRestoreProgressDlg dialog(*l.app, chosen);
      dialog.SetTargetFolder(QStringLiteral("//server/share"));
      QVERIFY(!dialog.StartButton()->isEnabled());
      QCOMPARE(dialog.StatusText(), QString::fromUtf8(app::RestoreFixedText::kNetworkTarget).remove(u'\r'));
    }
    QVERIFY(watcher.Texts().isEmpty());
  }

  void mailDataIsPointedOutOnceWhenTheDialogOpens() {
    for (const uint16_t code : {uint16_t(1), uint16_t(3)}) {
      testsupport::BackupSetSpec set = RestoreSet();
      set.generations[0].categoryItems = {{u"Mail", u"Outlook", code}};
      Loaded l(set);
      ModalWatcher watcher;
      const IncrementalBackup::RestoreSelection chosen =
          app::SelectEntries(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt")});
      QVERIFY(!chosen.empty());
      app::CRestoreProgressDlg dialog(*l.app, chosen);
      dialog.show();
      QTest::qWait(100);
      dialog.hide();
      dialog.show();
      QTest::qWait(100);
      const QStringList expected = code == 1 ? QStringList{apptest::Txt(240)} : QStringList{};
      QCOMPARE(watcher.Texts(), expected);
      dialog.close();
    }
  }

  void folderChoicesThatCannotBeTargetsAreRefused() {
    Loaded l;
    ModalWatcher watcher;
    const IncrementalBackup::RestoreSelection chosen =
        app::SelectEntries(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt")});
    QVERIFY(!chosen.empty());
    app::CRestoreProgressDlg dialog(*l.app, chosen);
    dialog.SetTargetFolder(l.Target());
    QString next;
    app::CRestoreProgressDlg::SetFolderChooser([&](QWidget*, const QString& title, const QString& start) {
      [&] {
        QCOMPARE(title, apptest::Txt(168));
        QCOMPARE(start, l.Target());
      }();
      return next;
    });
    struct {
      QString chosen;
      int message;
    } cases[] = {{QStringLiteral("smb://server/share/folder"), 170},
                 {QStringLiteral("//server/share"), 170},
                 {QStringLiteral("/") + QString(4095, u'x'), 169},
                 {QStringLiteral("relative/folder"), 171}};
    for (const auto& c : cases) {
      watcher.Clear();
      next = c.chosen;
      dialog.OnBrowse();
      QCOMPARE(watcher.Texts(), QStringList{apptest::Txt(c.message)});
      QCOMPARE(dialog.TargetFolder(), l.Target());
    }
    watcher.Clear();
    next.clear();  // cancelled
    dialog.OnBrowse();
    QVERIFY(watcher.Texts().isEmpty());
    QCOMPARE(dialog.TargetFolder(), l.Target());
    next = l.Target(QStringLiteral("elsewhere"));
    dialog.OnBrowse();
    QCOMPARE(dialog.TargetFolder(), next);
    QCOMPARE(dialog.TargetEdit()->text(), next);
  }

  void cancelAnsweredNoGoesOnAndYesStops() {
    for (const bool yes : {false, true}) {
      Loaded l;
      ModalWatcher watcher;
      UrlCatcher urls;
      const QString out = l.Target();
      QVERIFY(QDir().mkpath(out));
      // The file is there already: its question holds the run while the
      // user asks to stop.
      QVERIFY(QFile(out + "/plain.txt").open(QIODevice::WriteOnly));
      const IncrementalBackup::RestoreSelection chosen = app::SelectEntries(
          *l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt"), QStringLiteral("packed.bin")});
      QVERIFY(!chosen.empty());
      watcher.SetAnswer(yes ? QMessageBox::Yes : QMessageBox::No);
      DialogDriver driver(watcher, out);
      driver.answers = {206};
      driver.onFirstQuestion = [](app::CRestoreProgressDlg& dialog) { dialog.reject(); };
      app::CRestoreProgressDlg dialog(*l.app, chosen);
      dialog.exec();
      QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("復元処理を中断しますか？")});
      QCOMPARE(driver.questions.size(), 1);
      QCOMPARE(driver.titleWhileAsked, apptest::Txt(175));
      if (!yes) {
        QVERIFY(dialog.Succeeded());
        QCOMPARE(ReadAll(out + "/plain.txt"), QByteArray("plain contents\r\n"));
        QVERIFY(QFileInfo::exists(out + "/packed.bin"));
        QVERIFY(!driver.logText.contains(apptest::Txt(178)));
        QCOMPARE(dialog.windowTitle(), apptest::Txt(184));
      } else {
        QVERIFY(!dialog.Succeeded());
        QCOMPARE(driver.finalStatus, QStringLiteral("ユーザーにより処理が中止されました。"));
        QCOMPARE(driver.finalTitle, apptest::Txt(179));
        QVERIFY(driver.logText.contains(apptest::Txt(178)));
        QVERIFY(!QFileInfo::exists(out + "/packed.bin"));
        QVERIFY(urls.urls.isEmpty());
      }
    }
  }

  void automaticRestoreWritesTheMarkedEntriesWithTheirTimesAndAttributes() {
    Loaded l;
    ModalWatcher watcher;
    const IncrementalBackup::RestoreSelection chosen =
        app::SelectEntries(*l.app, QStringLiteral("C:\\Data"),
                           {QStringLiteral("plain.txt"), QStringLiteral("packed.bin"), QStringLiteral("Sub")});
    QVERIFY(!chosen.empty());
    const QString out = l.Target();
    app::CAutoRestoreDlg dialog(*l.app, chosen, out);
    // The percent shown only ever grows, to 100.
    QList<int> shown;
    connect(dialog.ProgressBar(), &QProgressBar::valueChanged, [&] {
      const int percent = dialog.PercentLabel()->text().toInt();
      if (shown.isEmpty() || shown.back() != percent) shown << percent;
    });
    dialog.exec();
    QVERIFY(dialog.Succeeded());
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown.back(), 100);
    QVERIFY2(std::is_sorted(shown.begin(), shown.end()), qPrintable(QString::number(shown.size())));
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
    QVERIFY(!dialog.Run().IsBusy());
    QCOMPARE(l.app->Set()->Tree().GetRoots().front()->GetData().GetCheckedFileCount(), 0);
  }

  void quietAutomaticRestoreStaysOffScreen() {
    Loaded l;
    ModalWatcher watcher;
    const IncrementalBackup::RestoreSelection chosen =
        app::SelectEntries(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt")});
    QVERIFY(!chosen.empty());
    app::CAutoRestoreDlg dialog(*l.app, chosen, l.Target(QStringLiteral("tmp/TesseraRestore")));
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
    const IncrementalBackup::RestoreSelection chosen =
        app::SelectEntries(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt")});
    QVERIFY(!chosen.empty());
    {
      app::CAutoRestoreDlg dialog(*l.app, chosen, QStringLiteral("//server/share/tmp"));
      QCOMPARE(dialog.exec(), int(QDialog::Accepted));
      QVERIFY(!dialog.Succeeded());
    }
    QCOMPARE(watcher.Texts(), QStringList{QString::fromUtf8(app::RestoreFixedText::kAutoNetworkTarget)});
    watcher.Clear();
    {
      // "plain contents\r\n" is 16 bytes: 15 free bytes are one too few.
      FakeFreeSpace full(15);
      app::CAutoRestoreDlg dialog(*l.app, chosen, l.Target());
      dialog.exec();
      QVERIFY(!dialog.Succeeded());
    }
    QCOMPARE(watcher.Texts(), QStringList{apptest::Txt(246)});
    QVERIFY(!QFileInfo::exists(l.Target() + "/plain.txt"));
    watcher.Clear();
    {
      FakeFreeSpace exact(16);
      app::CAutoRestoreDlg dialog(*l.app, chosen, l.Target());
      dialog.exec();
      QVERIFY(dialog.Succeeded());
    }
    QVERIFY(watcher.Texts().isEmpty());
  }

  void entriesTheirArchiveLacksFailTheRestoreAndSaySo() {
    testsupport::BackupSetSpec set = RestoreSet();
    set.gaps = {{0, u"C:\\Data\\plain.txt"}};
    Loaded l(set);
    ModalWatcher watcher;
    const IncrementalBackup::RestoreSelection chosen =
        app::SelectEntries(*l.app, QStringLiteral("C:\\Data"), {QStringLiteral("plain.txt")});
    QVERIFY(!chosen.empty());
    app::CAutoRestoreDlg automatic(*l.app, chosen, l.Target());
    automatic.exec();
    QVERIFY(!automatic.Succeeded());
    QCOMPARE(watcher.Texts(), QStringList{apptest::Txt(181)});
    watcher.Clear();
    FakeFreeSpace room(1 << 20);
    app::CRestoreProgressDlg dialog(*l.app, chosen);
    dialog.SetTargetFolder(l.Target());
    dialog.OnStart();
    QVERIFY(!dialog.IsRunning());
    QCOMPARE(watcher.Texts(), QStringList{apptest::Txt(181)});
    QVERIFY(QDir(l.Target()).isEmpty());
  }
};

QTEST_MAIN(RestoreTest)
#include "restore_test.moc"
