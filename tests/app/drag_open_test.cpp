// Opening entries of the list and the data a drag out of it offers, on the
// offscreen platform: a file is restored quietly into the temporary restore
// folder and handed to the desktop's default application, a folder opens in
// the tree, two entries start a restore; a drag's file list is there while
// the pointer moves without anything restored, the restore runs once at the
// first request after the drop (a request while it runs gets nothing yet),
// and a cancelled drag or a failed or stopped restore gives the target
// nothing. The main window takes no drops. Copied entries go on the
// clipboard as files and are restored, as they were when copied, only when
// a program asks for them.
#include <QClipboard>
#include <QDesktopServices>
#include <algorithm>
#include <QDir>
#include <QDragEnterEvent>
#include <QLabel>
#include <QFile>
#include <QMimeData>
#include <QtTest>

#include "app/app_texts.h"
#include "app/ask_to_user_dialog.h"
#include "app/auto_restore_dlg.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_data_object.h"
#include "app/qpx_manager_view.h"
#include "app/restore_progress_dlg.h"
#include "app_fixture.h"
#include "generations/backup_set.h"
#include "support/corrupt.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

// Catches what the program hands to the desktop's default application.
class OpenedUrls : public QObject {
  Q_OBJECT

 public:
  OpenedUrls() {
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open");
  }
  ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  QList<QUrl> urls;

 public slots:
  void Open(const QUrl& url) { urls << url; }
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// The sample set loaded, its C:\Data shown in the list, and the temporary
// folder setting pointing into the test's own folder.
struct Shown {
  AppHarness h;
  app::CQPXManagerApp* app = nullptr;
  app::CQPXManagerView* list = nullptr;

  Shown() {
    const auto files = h.WriteSampleSet();
    app = &h.Start({Q(files.archives[0])});
    app->Config().SetTempFolder(h.Path(QStringLiteral("tmp")));
    list = app->MainFrame()->ListPane();
    app->MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data"));
  }
  // Copies are kept per generation and folder; the first archive shows generation 1.
  QString Restored(const QString& name = {}) const { return h.Path(QStringLiteral("tmp/TesseraRestore/1/C/Data/") + name); }

  void Select(const QStringList& names) {
    list->clearSelection();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      const QModelIndex index = list->model()->index(row, 0);
      if (names.contains(index.data().toString())) list->selectionModel()->select(index, QItemSelectionModel::Select);
    }
  }
  QRect RectOf(const QString& name) const {
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      const QModelIndex index = list->model()->index(row, 0);
      if (index.data().toString() == name) return list->visualRect(index);
    }
    return {};
  }
  // Nothing stays marked once a restore of the list has ended.
  uint64_t MarkedBytes() const { return app->MutableSet()->Creator().GetTotalFileSize(); }
};

// Records the class of every modal window and closes it.
struct ModalSeen {
  QStringList classes;
  QTimer timer;
  ModalSeen() {
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        classes << QString::fromLatin1(modal->metaObject()->className());
        modal->close();
      }
    });
    timer.start(20);
  }
};

}  // namespace

class DragOpenTest : public QObject {
  Q_OBJECT

 private slots:
  void doubleClickOnAFileRestoresItQuietlyAndOpensIt() {
    Shown s;
    ModalWatcher watcher;
    OpenedUrls opened;
    s.app->MainFrame()->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.app->MainFrame()));
    // A real double click: a click, then the second press arrives as a double click.
    const QPoint at = s.RectOf(QStringLiteral("a.txt")).center();
    QTest::mouseClick(s.list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(s.list->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(s.Restored(QStringLiteral("a.txt")))});
    QCOMPARE(ReadAll(s.Restored(QStringLiteral("a.txt"))), QByteArray("a0"));
    // Only the opened file, with no box of any kind, and unmarked again.
    QCOMPARE(QDir(s.Restored()).entryList(QDir::Files), QStringList{QStringLiteral("a.txt")});
    QVERIFY(watcher.Texts().isEmpty());
    QCOMPARE(s.MarkedBytes(), uint64_t{0});
    QVERIFY(!app::IsQuietMode());
  }

  void openingAFolderShowsItAndRestoresNothing() {
    Shown s;
    OpenedUrls opened;
    s.Select({QStringLiteral("Old")});
    s.list->OpenSelection();
    QCOMPARE(s.app->MainFrame()->TreePane()->SelectedFolderPath(), QStringLiteral("C:\\Data\\Old"));
    QCOMPARE(s.list->CurrentFolder(), QStringLiteral("C:\\Data\\Old"));
    QVERIFY(opened.urls.isEmpty());
    QVERIFY(!QFile::exists(s.Restored()));
  }

  void openingTwoEntriesStartsTheRestoreDialog() {
    Shown s;
    OpenedUrls opened;
    ModalSeen modals;
    s.Select({QStringLiteral("a.txt"), QStringLiteral("keep.txt")});
    s.list->OpenSelection();
    QCOMPARE(modals.classes, QStringList{QStringLiteral("app::CRestoreProgressDlg")});
    QVERIFY(opened.urls.isEmpty());
    QVERIFY(!QFile::exists(s.Restored()));
    // Nothing selected: nothing happens.
    s.list->clearSelection();
    s.list->OpenSelection();
    QCOMPARE(modals.classes.size(), 1);
  }

  void dragOffersTheListAtOnceAndRestoresOnceAfterTheDrop() {
    Shown s;
    ModalWatcher watcher;
    s.Select({QStringLiteral("keep.txt"), QStringLiteral("a.txt")});
    std::unique_ptr<app::CQPXDataObject> data(s.list->MakeDragData());
    QVERIFY(data);
    QCOMPARE(data->formats(), QStringList{QStringLiteral("text/uri-list")});
    const QList<QUrl> expected{QUrl::fromLocalFile(s.Restored(QStringLiteral("a.txt"))),
                               QUrl::fromLocalFile(s.Restored(QStringLiteral("keep.txt")))};

    // A target that looks while the pointer moves: the list, nothing restored.
    QCOMPARE(data->urls(), expected);
    QVERIFY(!QFile::exists(s.Restored()));
    QVERIFY(!data->RestoreMade());

    // The selection may change before the target asks: the drag's entries count.
    s.Select({QStringLiteral("Old")});
    data->Dropped();
    QCOMPARE(data->urls(), expected);
    QVERIFY(data->RestoreMade() && data->RestoreSucceeded());
    QCOMPARE(QDir(s.Restored()).entryList(QDir::Files), (QStringList{"a.txt", "keep.txt"}));
    QCOMPARE(ReadAll(s.Restored(QStringLiteral("a.txt"))), QByteArray("a0"));
    QCOMPARE(s.MarkedBytes(), uint64_t{0});

    // Once per drag: the target moved the files away and asks again.
    QVERIFY(QDir(s.Restored()).removeRecursively());
    QCOMPARE(data->urls(), expected);
    QVERIFY(!QFile::exists(s.Restored()));
    QVERIFY(watcher.Texts().isEmpty());
  }

  void requestWhileTheRestoreRunsGetsNothingYet() {
    Shown s;
    s.Select({QStringLiteral("a.txt")});
    std::unique_ptr<app::CQPXDataObject> data(s.list->MakeDragData());
    ModalWatcher watcher;
    QList<QList<QUrl>> early;
    watcher.SetOtherHandler([&](QWidget* modal) {
      if (qobject_cast<app::CAutoRestoreDlg*>(modal) != nullptr && early.isEmpty()) early << data->urls();
    });
    data->Dropped();
    const QList<QUrl> given = data->urls();
    QCOMPARE(early.size(), 1);
    QVERIFY(early[0].isEmpty());
    QCOMPARE(given, QList<QUrl>{QUrl::fromLocalFile(s.Restored(QStringLiteral("a.txt")))});
  }

  void cancelledDragOrFailedRestoreGivesTheTargetNothing() {
    Shown s;
    ModalWatcher watcher;
    s.Select({QStringLiteral("a.txt")});
    std::unique_ptr<app::CQPXDataObject> cancelled(s.list->MakeDragData());
    cancelled->Cancelled();
    cancelled->Dropped();  // a release after Escape is no drop
    QVERIFY(cancelled->urls().isEmpty());
    QVERIFY(!cancelled->RestoreMade());
    QVERIFY(!QFile::exists(s.Restored()));

    // A file where the temporary restore folder should be: it cannot be made.
    QVERIFY(QDir().mkpath(s.h.Path(QStringLiteral("tmp"))));
    QFile blocker(s.h.Path(QStringLiteral("tmp/TesseraRestore")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    std::unique_ptr<app::CQPXDataObject> failed(s.list->MakeDragData());
    failed->Dropped();
    QVERIFY(failed->urls().isEmpty());
    QVERIFY(failed->RestoreMade() && !failed->RestoreSucceeded());
    QCOMPARE(watcher.Texts().size(), 1);
    // Later requests of the same drag fail too, without a second attempt.
    QVERIFY(failed->urls().isEmpty());
    QCOMPARE(watcher.Texts().size(), 1);
    QCOMPARE(s.MarkedBytes(), uint64_t{0});
  }

  void restoreStoppedByTheUserGivesTheTargetNothingAndLeavesNothing() {
    Shown s;
    // Damaged data makes the restore ask whether to go on, which holds the
    // run while the user cancels it from the restore window.
    const std::filesystem::path archive = s.app->ArchivePath().toStdString();
    const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(archive);
    const auto stored = std::search(bytes.begin(), bytes.end(), std::begin("a0"), std::end("a0") - 1);
    QVERIFY(stored != bytes.end());
    testsupport::FlipBits(archive, static_cast<uint64_t>(stored - bytes.begin()), 0x01);
    // Loaded again: a small archive is read whole at the load.
    s.app->OpenBackupFile(s.app->ArchivePath());
    s.app->MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data"));
    ModalWatcher watcher(QMessageBox::Yes);
    int asked = 0;
    watcher.SetOtherHandler([&asked](QWidget* modal) {
      auto* question = qobject_cast<app::CAskToUserDialog*>(modal);
      if (question == nullptr) return;
      ++asked;
      for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<app::CAutoRestoreDlg*>(window); dialog != nullptr && dialog->isVisible()) dialog->reject();
      question->reject();
    });
    s.Select({QStringLiteral("a.txt"), QStringLiteral("keep.txt")});
    std::unique_ptr<app::CQPXDataObject> data(s.list->MakeDragData());
    data->Dropped();
    const QList<QUrl> given = data->urls();
    QCOMPARE(asked, 1);
    QCOMPARE(watcher.Texts(), QStringList{QStringLiteral("復元処理を中断しますか？")});
    QVERIFY(given.isEmpty());
    QVERIFY(data->RestoreMade() && !data->RestoreSucceeded());
    QCOMPARE(s.MarkedBytes(), uint64_t{0});
    // What the stopped drop had written is gone at once.
    QVERIFY(QDir(s.Restored()).isEmpty());
  }

  void dragOffersCopyAndMoveWithMoveFirst() {
    Shown s;
    s.app->MainFrame()->show();
    QVERIFY(QTest::qWaitForWindowExposed(s.app->MainFrame()));
    s.Select({QStringLiteral("a.txt")});
    const QPoint from = s.RectOf(QStringLiteral("a.txt")).center();
    QTest::mousePress(s.list->viewport(), Qt::LeftButton, {}, from);
    // Moves with the button held start the view's drag (no target here).
    for (int step = 1; step <= 4; ++step) {
      QMouseEvent move(QEvent::MouseMove, from + QPoint(step * 10, step * 10), s.list->viewport()->mapToGlobal(from),
                       Qt::LeftButton, Qt::LeftButton, {});
      QApplication::sendEvent(s.list->viewport(), &move);
    }
    QTest::mouseRelease(s.list->viewport(), Qt::LeftButton, {}, from + QPoint(40, 40));
    QDrag* drag = s.list->LastDrag();
    QVERIFY(drag != nullptr);
    QCOMPARE(drag->supportedActions(), Qt::CopyAction | Qt::MoveAction);
    QCOMPARE(drag->defaultAction(), Qt::MoveAction);
  }

  void copiedEntriesAreRestoredAsCopiedOnlyWhenAsked() {
    Shown s;
    ModalWatcher watcher;
    s.app->MainFrame()->show();
    s.app->MainFrame()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(s.app->MainFrame()));
    s.Select({QStringLiteral("a.txt"), QStringLiteral("keep.txt")});
    // Ctrl+C in the list is the command's, not the view's own copy of a name.
    s.list->setFocus();
    QTest::keyClick(s.list, Qt::Key_C, Qt::ControlModifier);
    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(qobject_cast<const app::CQPXDataObject*>(copied) != nullptr);
    QCOMPARE(copied->formats(), (QStringList{"text/uri-list", "x-special/gnome-copied-files"}));

    // Another generation shown and another selection made before the paste:
    // generation 1's a.txt ("a0", not "a1") is what was copied.
    QVERIFY(s.app->SelectGeneration(1));
    s.app->MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data"));
    s.Select({QStringLiteral("c.txt")});
    QVERIFY(!QFile::exists(s.Restored()));

    // A paste while the program is in a dialog gets nothing and restores nothing.
    QDialog busy(s.app->MainFrame());
    busy.setModal(true);
    busy.show();
    QCOMPARE(QApplication::activeModalWidget(), &busy);
    QVERIFY(copied->data(QStringLiteral("text/uri-list")).isEmpty());
    QVERIFY(!QFile::exists(s.Restored()));
    busy.close();

    const QByteArray a = QUrl::fromLocalFile(s.Restored(QStringLiteral("a.txt"))).toEncoded();
    const QByteArray keep = QUrl::fromLocalFile(s.Restored(QStringLiteral("keep.txt"))).toEncoded();
    QCOMPARE(copied->data(QStringLiteral("x-special/gnome-copied-files")), "copy\n" + a + '\n' + keep);
    QCOMPARE(ReadAll(s.Restored(QStringLiteral("a.txt"))), QByteArray("a0"));
    QCOMPARE(ReadAll(s.Restored(QStringLiteral("keep.txt"))), QByteArray("k"));
    QCOMPARE(QDir(s.Restored()).entryList(QDir::Files), (QStringList{"a.txt", "keep.txt"}));
    // The panes are as the user left them.
    QCOMPARE(s.app->Set()->SelectedShown(), 2);
    QCOMPARE(s.list->SelectedNames(), QStringList{QStringLiteral("c.txt")});
    // The other format of the same paste: no second restore.
    QCOMPARE(copied->data(QStringLiteral("text/uri-list")), a + "\r\n" + keep + "\r\n");
    QVERIFY(watcher.Texts().isEmpty());

    // Opening an archive releases the set the copy restores from: off the clipboard.
    s.app->OpenBackupFile(s.app->ArchivePath());
    const QMimeData* left = QGuiApplication::clipboard()->mimeData();
    QVERIFY(left == nullptr || !left->hasUrls());
    // Nothing selected: the clipboard is left as it is.
    s.list->clearSelection();
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    QVERIFY(!s.list->CopySelection());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
  }

  void mainWindowRefusesEveryDrop() {
    Shown s;
    app::CMainFrame* frame = s.app->MainFrame();
    const QPoint inside(frame->width() / 2, frame->height() / 2);

    // Files from another program: the copy cursor, then nothing done.
    QMimeData outside;
    outside.setUrls({QUrl::fromLocalFile(s.h.Path(QStringLiteral("other.qpx")))});
    QDragEnterEvent enter(inside, Qt::CopyAction | Qt::MoveAction, &outside, Qt::LeftButton, {});
    QApplication::sendEvent(frame, &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(inside, Qt::CopyAction | Qt::MoveAction, &outside, Qt::LeftButton, {});
    QApplication::sendEvent(frame, &drop);
    QVERIFY(!drop.isAccepted());
    QCOMPARE(frame->windowTitle(), QStringLiteral("set.qpx - Tessera"));

    // Text is no file: refused.
    QMimeData text;
    text.setText(QStringLiteral("x"));
    QDragEnterEvent textEnter(inside, Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(frame, &textEnter);
    QVERIFY(!textEnter.isAccepted());

    // The list's own drag: the no-drop cursor, and nothing is restored.
    s.Select({QStringLiteral("a.txt")});
    std::unique_ptr<app::CQPXDataObject> own(s.list->MakeDragData());
    QDragEnterEvent ownEnter(inside, Qt::MoveAction, own.get(), Qt::LeftButton, {});
    QApplication::sendEvent(frame, &ownEnter);
    QVERIFY(!ownEnter.isAccepted());
    QVERIFY(!own->RestoreMade());
  }
};

QTEST_MAIN(DragOpenTest)
#include "drag_open_test.moc"
