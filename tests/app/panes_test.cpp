// The two panes and the generation bar over a loaded set: a generation
// switch adds and removes folder items and list entries, entries go in at
// their places among all of a folder's entries, and the list's views, its
// selection and the keyboard commands.
#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "app/file_list_model.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/option_dialog.h"
#include "app/qpx_manager_view.h"
#include "app/task_progress.h"
#include "app_fixture.h"
#include "support/archive_writer.h"

using apptest::AppHarness;
using apptest::ListNames;
using apptest::ModalWatcher;
using apptest::Q;
using apptest::TreeChildren;
using apptest::Txt;

namespace {

void ChooseGeneration(app::CQPXManagerApp& app, int index) {
  app.MainFrame()->GenerationBar()->Combo()->setCurrentIndex(index);
}

void ShowFolder(app::CQPXManagerApp& app, const QString& path) {
  QVERIFY2(app.MainFrame()->TreePane()->SelectFolder(path), qPrintable(path));
}

QString Note(app::CQPXManagerApp& app) { return app.MainFrame()->GenerationBar()->NoteLabel()->text(); }

}  // namespace

class PanesTest : public QObject {
  Q_OBJECT

 private slots:
  void generationSwitchAddsAndRemovesItemsAndEntries() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    ShowFolder(app, QStringLiteral("C:\\Data"));
    QCOMPARE(ListNames(app), (QStringList{"Old", "a.txt", "keep.txt"}));

    ChooseGeneration(app, 1);  // b.txt removed, c.txt added
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Data")), QStringList{QStringLiteral("Old")});
    QCOMPARE(ListNames(app), (QStringList{"Old", "a.txt", "keep.txt", "c.txt"}));
    ShowFolder(app, QStringLiteral("C:\\Data\\Old"));
    QCOMPARE(ListNames(app), QStringList());

    ChooseGeneration(app, 2);  // Old removed, New added
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Data")), QStringList{QStringLiteral("New")});
    // The selected folder went away: the tree selects another and the list follows it.
    QVERIFY(app.MainFrame()->TreePane()->SelectedFolderPath() != QStringLiteral("C:\\Data\\Old"));
    ShowFolder(app, QStringLiteral("C:\\Data"));
    // Old, the first folder, is absent: New goes in at its own index, among the files.
    QCOMPARE(ListNames(app), (QStringList{"a.txt", "New", "keep.txt", "c.txt"}));

    ChooseGeneration(app, 3);  // Old back (appended, as a new item), c.txt removed
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Data")), (QStringList{"New", "Old"}));
    QCOMPARE(ListNames(app), (QStringList{"Old", "New", "a.txt", "keep.txt"}));
    QCOMPARE(Note(app), QString());

    ChooseGeneration(app, 0);
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Data")), QStringList{QStringLiteral("Old")});
    QCOMPARE(ListNames(app), (QStringList{"Old", "a.txt", "keep.txt"}));
    QVERIFY(watcher.Texts().isEmpty());
  }

  void switchKeepsExpandedFoldersAndTheSelection() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CLeftView* tree = app.MainFrame()->TreePane();
    ShowFolder(app, QStringLiteral("C:\\Data"));
    const QPersistentModelIndex data = tree->currentIndex();
    tree->expand(data);

    ChooseGeneration(app, 2);  // Old removed, New added below the expanded Data
    QVERIFY(tree->isExpanded(data));
    QCOMPARE(tree->SelectedFolderPath(), QStringLiteral("C:\\Data"));
    // The rows the view shows follow the items, not the rows before the switch.
    QCOMPARE(tree->indexBelow(data).data().toString(), QStringLiteral("New"));
    QVERIFY(!tree->indexBelow(tree->indexBelow(data)).isValid());

    ShowFolder(app, QStringLiteral("C:\\Data\\New"));
    ChooseGeneration(app, 3);  // Old back, appended after New
    QCOMPARE(tree->SelectedFolderPath(), QStringLiteral("C:\\Data\\New"));
    QCOMPARE(tree->indexBelow(tree->currentIndex()).data().toString(), QStringLiteral("Old"));
    QCOMPARE(ListNames(app), QStringList{QStringLiteral("d.txt")});

    ChooseGeneration(app, 0);  // New goes while selected: the first drive is selected instead
    QCOMPARE(tree->SelectedFolderPath(), QStringLiteral("C:"));
    QVERIFY(tree->isExpanded(data));
    QCOMPARE(tree->indexBelow(data).data().toString(), QStringLiteral("Old"));
  }

  // The rows come from the engine's nodes: a switch that takes away the
  // selected folder with its expanded ancestors, and brings them back, must
  // leave the model consistent and the pane's order as the user saw it.
  void switchRemovingAnExpandedBranchAndBringingItBack() {
    AppHarness h;
    testsupport::BackupSetSpec setPlan;
    setPlan.generations.resize(3);
    auto& first = setPlan.generations[0];
    first.folders = {{u"C:\\b"}, {u"C:\\a"}, {u"C:\\a\\deep"}, {u"C:\\a\\deep\\leaf"}};
    first.files = {{u"C:\\b\\1.txt", testsupport::Bytes("1")}, {u"C:\\a\\deep\\leaf\\2.txt", testsupport::Bytes("2")}};
    auto& second = setPlan.generations[1];
    second.folders = {{u"C:\\b"}, {u"C:\\c"}};
    second.files = {first.files[0], {u"C:\\c\\3.txt", testsupport::Bytes("3")}};
    setPlan.generations[2] = first;
    setPlan.generations[2].folders.push_back({u"C:\\c"});
    const auto files = h.WriteSet(setPlan, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CLeftView* tree = app.MainFrame()->TreePane();
    QAbstractItemModelTester tester(&tree->Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(TreeChildren(app, QStringLiteral("C:")), (QStringList{"a", "b"}));
    ShowFolder(app, QStringLiteral("C:\\a\\deep\\leaf"));
    const QPersistentModelIndex b = tree->Model().IndexOf(tree->Model().FindFolder(QStringLiteral("C:\\b")));
    tree->expandAll();
    const QPersistentModelIndex a = tree->currentIndex().parent().parent();
    QVERIFY(tree->isExpanded(a));

    ChooseGeneration(app, 1);  // a goes with everything below it, c comes after b
    QVERIFY(!a.isValid());
    QCOMPARE(tree->SelectedFolderPath(), QStringLiteral("C:"));
    QCOMPARE(TreeChildren(app, QStringLiteral("C:")), (QStringList{"b", "c"}));
    QVERIFY(tree->isExpanded(b.parent()));
    QCOMPARE(tree->indexBelow(b).data().toString(), QStringLiteral("c"));

    ChooseGeneration(app, 2);  // a returns after the folders that stayed
    QCOMPARE(TreeChildren(app, QStringLiteral("C:")), (QStringList{"b", "c", "a"}));
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\a\\deep")), QStringList{QStringLiteral("leaf")});
    QVERIFY(tree->SelectFolder(QStringLiteral("c:\\A\\DEEP\\leaf")));
    QCOMPARE(tree->SelectedFolderPath(), QStringLiteral("C:\\a\\deep\\leaf"));
    QCOMPARE(ListNames(app), QStringList{QStringLiteral("2.txt")});

    ChooseGeneration(app, 0);  // c goes; the rows kept for b and a stay as shown
    QCOMPARE(TreeChildren(app, QStringLiteral("C:")), (QStringList{"b", "a"}));
    QCOMPARE(tree->SelectedFolderPath(), QStringLiteral("C:\\a\\deep\\leaf"));
    QVERIFY(watcher.Texts().isEmpty());
  }

  void generationWithoutFilesShowsTheNote() {
    AppHarness h;
    testsupport::BackupSetSpec setPlan;
    setPlan.generations.resize(3);
    setPlan.generations[0].folders = {{u"C:\\Data"}};
    setPlan.generations[0].files = {{u"C:\\Data\\a.txt", testsupport::Bytes("a")}};
    setPlan.generations[2] = setPlan.generations[0];
    setPlan.generations[2].files[0].data = testsupport::Bytes("again");
    const auto files = h.WriteSet(setPlan, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});

    ChooseGeneration(app, 1);
    QCOMPARE(TreeChildren(app), QStringList());
    QCOMPARE(ListNames(app), QStringList());
    QCOMPARE(Note(app), QStringLiteral("※この世代にはバックアップされたファイルがありません。"));

    ChooseGeneration(app, 2);
    QCOMPARE(TreeChildren(app), QStringList{QStringLiteral("C:")});
    QCOMPARE(TreeChildren(app, QStringLiteral("C:")), QStringList{QStringLiteral("Data")});
    QCOMPARE(Note(app), QString());
  }

  void onlyTheFirstDriveIsSorted() {
    AppHarness h;
    testsupport::BackupSetSpec setPlan;
    setPlan.generations.resize(1);
    setPlan.generations[0].folders = {{u"C:\\b"}, {u"C:\\A"}, {u"C:\\c"}, {u"D:\\z"}, {u"D:\\y"}};
    setPlan.generations[0].files = {{u"C:\\b\\1.txt", testsupport::Bytes("1")}, {u"D:\\z\\2.txt", testsupport::Bytes("2")}};
    const auto files = h.WriteSet(setPlan, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QCOMPARE(TreeChildren(app), (QStringList{"C:", "D:"}));
    QCOMPARE(TreeChildren(app, QStringLiteral("C:")), (QStringList{"A", "b", "c"}));
    QCOMPARE(TreeChildren(app, QStringLiteral("D:")), (QStringList{"z", "y"}));
    // Paths are found without regard to case.
    ShowFolder(app, QStringLiteral("d:\\Z"));
    QCOMPARE(ListNames(app), QStringList{QStringLiteral("2.txt")});
  }

  void hostileNamesAreShownEscapedAndOnlyTheirRecordsAreLeftOut() {
    AppHarness h;
    testsupport::BackupSetSpec setPlan;
    setPlan.generations.resize(2);
    auto& first = setPlan.generations[0];
    first.folders = {{u"C:\\Data"}};
    // E: and later D: have files in their roots and no folder records.
    first.files = {{u"C:\\Data\\rtl\u202etxt.exe", testsupport::Bytes("1")},
                   {u"C:\\Data\\..\\..\\..\\evil.txt", testsupport::Bytes("2")},
                   {u"E:\\first.txt", testsupport::Bytes("3")}};
    setPlan.generations[1] = first;
    setPlan.generations[1].files.push_back({u"D:\\only.txt", testsupport::Bytes("4")});
    const auto files = h.WriteSet(setPlan, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});

    // Told once, naming the record; the rest is shown.
    QCOMPARE(watcher.Texts().size(), 1);
    QVERIFY2(watcher.Texts()[0].contains(QStringLiteral("C:\\Data\\..\\..\\..\\evil.txt")), qPrintable(watcher.Texts()[0]));
    QVERIFY(watcher.Texts()[0].contains(QStringLiteral("1 件")));
    QCOMPARE(TreeChildren(app), (QStringList{"C:", "E:"}));
    QCOMPARE(TreeChildren(app, QStringLiteral("C:")), QStringList{QStringLiteral("Data")});
    ShowFolder(app, QStringLiteral("E:"));
    QCOMPARE(ListNames(app), QStringList{QStringLiteral("first.txt")});

    ShowFolder(app, QStringLiteral("C:\\Data"));
    const app::FileListModel& list = app.MainFrame()->ListPane()->Model();
    QCOMPARE(list.rowCount(), 1);
    QCOMPARE(list.data(list.index(0), Qt::DisplayRole).toString(), QStringLiteral("rtl\\u{202E}txt.exe"));
    QCOMPARE(ListNames(app), QStringList{QStringLiteral("rtl\u202etxt.exe")});

    ChooseGeneration(app, 1);
    QCOMPARE(TreeChildren(app), (QStringList{"C:", "E:", "D:"}));
    ShowFolder(app, QStringLiteral("D:"));
    QCOMPARE(ListNames(app), QStringList{QStringLiteral("only.txt")});
    QCOMPARE(watcher.Texts().size(), 1);

    app.MainFrame()->SetDocumentTitle(QStringLiteral("a\u202eb.qpx"));
    QVERIFY2(app.MainFrame()->windowTitle().startsWith(QStringLiteral("a\\u{202E}b.qpx - ")),
             qPrintable(app.MainFrame()->windowTitle()));
  }

  void viewsKeepSelectionAndIcons() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CQPXManagerView* list = app.MainFrame()->ListPane();
    ShowFolder(app, QStringLiteral("C:\\Data"));
    list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
    list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select);

    const struct {
      QAction* action;
      app::CQPXManagerView::Mode mode;
      QListView::ViewMode view;
      int icon;
    } views[] = {
        {app.MainFrame()->SmallIconsAction(), app::CQPXManagerView::Mode::SmallIcons, QListView::ListMode, 16},
        {app.MainFrame()->ListAction(), app::CQPXManagerView::Mode::List, QListView::ListMode, 16},
        {app.MainFrame()->LargeIconsAction(), app::CQPXManagerView::Mode::LargeIcons, QListView::IconMode, 32},
    };
    for (const auto& v : views) {
      v.action->trigger();
      QCOMPARE(list->GetViewMode(), v.mode);
      QCOMPARE(list->viewMode(), v.view);
      QCOMPARE(list->iconSize(), QSize(v.icon, v.icon));
      QCOMPARE(list->SelectedNames(), (QStringList{"Old", "keep.txt"}));
      for (int row = 0; row < list->model()->rowCount(); ++row) {
        const QIcon icon = list->model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!icon.pixmap(v.icon, v.icon).isNull());
      }
    }
  }

  void keyboardCommands() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    QApplication::setActiveWindow(frame);
    QVERIFY(QTest::qWaitForWindowActive(frame));
    ShowFolder(app, QStringLiteral("C:\\Data"));

    frame->TreePane()->setFocus();
    QTest::keyClick(frame, Qt::Key_F6);
    QVERIFY(frame->ListPane()->hasFocus());
    QTest::keyClick(frame, Qt::Key_F6, Qt::ShiftModifier);
    QVERIFY(frame->TreePane()->hasFocus());

    QTest::keyClick(frame, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(frame->ListPane()->SelectedNames(), (QStringList{"Old", "a.txt", "keep.txt"}));
    QVERIFY(frame->ListPane()->hasFocus());

    // Opening a folder entry selects it in the tree.
    frame->ListPane()->clearSelection();
    frame->ListPane()->setCurrentIndex(frame->ListPane()->model()->index(0, 0));
    QTest::keyClick(frame->ListPane(), Qt::Key_Return);
    QCOMPARE(frame->TreePane()->SelectedFolderPath(), QStringLiteral("C:\\Data\\Old"));

    // A loaded set can be restored from the menu, the bar and both panes.
    QVERIFY(frame->RestoreAction()->isEnabled());
    QVERIFY(frame->GenerationBar()->RestoreButton()->isEnabled());
    QVERIFY(frame->TreeRestoreAction()->isEnabled());
    QVERIFY(frame->ListRestoreAction()->isEnabled());
  }

  // The highlight and the folder the restore command takes never part.
  void clicksAwayFromItemsKeepTheHighlightedFolder() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CLeftView* tree = app.MainFrame()->TreePane();
    app.MainFrame()->resize(800, 600);
    ShowFolder(app, QStringLiteral("C:\\Data"));
    const QModelIndex current = tree->currentIndex();
    const QPoint empty(5, tree->viewport()->height() - 5);
    QVERIFY(!tree->indexAt(empty).isValid());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, empty);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier, tree->visualRect(current).center());
    QCOMPARE(tree->currentIndex(), current);
    QCOMPARE(tree->selectionModel()->selectedIndexes(), QModelIndexList{current});
    QCOMPARE(app.CurrentFolder(), QStringLiteral("C:\\Data"));
  }

  void listInsertionPositionsFollowEachEntrysIndex() {
    // Files f0..f3 and folders d0..d2 of one folder; absent entries leave
    // gaps that later entries do not close.
    AppHarness h;
    testsupport::BackupSetSpec setPlan;
    setPlan.generations.resize(2);
    auto& g0 = setPlan.generations[0];
    g0.folders = {{u"C:\\F"}, {u"C:\\F\\d0"}, {u"C:\\F\\d1"}, {u"C:\\F\\d2"}};
    for (const char16_t* f : {u"C:\\F\\f0", u"C:\\F\\f1", u"C:\\F\\f2", u"C:\\F\\f3"})
      g0.files.push_back({f, testsupport::Bytes("x")});
    setPlan.generations[1] = g0;
    auto& g1 = setPlan.generations[1];
    g1.folders.erase(g1.folders.begin() + 1);      // d0 gone
    g1.files.erase(g1.files.begin(), g1.files.begin() + 2);  // f0, f1 gone
    const auto files = h.WriteSet(setPlan, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    ShowFolder(app, QStringLiteral("C:\\F"));
    QCOMPARE(ListNames(app), (QStringList{"d0", "d1", "d2", "f0", "f1", "f2", "f3"}));
    ChooseGeneration(app, 1);
    ShowFolder(app, QStringLiteral("C:\\F"));
    // f2 at 2 and f3 at 3 append; d1 goes in at 1, d2 at 2.
    QCOMPARE(ListNames(app), (QStringList{"f2", "d1", "d2", "f3"}));
  }

  void maskEditFiltersTypedCharacters() {
    app::CMaskEdit edit;
    edit.SetCharacters(QStringLiteral("0123456789"), true);
    edit.show();
    QTest::keyClicks(&edit, QStringLiteral("1a2Z[b]3"));
    // Up to "[" everything passes; above it only listed characters.
    QCOMPARE(edit.text(), QStringLiteral("12Z[3"));
    QInputMethodEvent wide;
    wide.setCommitString(QStringLiteral("４5世"));
    QApplication::sendEvent(&edit, &wide);
    QCOMPARE(edit.text(), QStringLiteral("12Z[35"));

    QVERIFY(!app::CMaskEdit::Passes(u'a', QString(), true));
    QVERIFY(app::CMaskEdit::Passes(u'a', QStringLiteral("abc"), true));
    // Mask off: listed characters are dropped, all others pass.
    QVERIFY(!app::CMaskEdit::Passes(u'1', QStringLiteral("0123456789"), false));
    QVERIFY(app::CMaskEdit::Passes(u'x', QStringLiteral("0123456789"), false));
  }

  void optionsDialogRefusesAFolderThatDoesNotExist() {
    AppHarness h;
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start();
    const QString start = app.Config().TempFolder();
    const QString existing = h.Path(QStringLiteral("elsewhere"));
    QDir().mkpath(existing);

    QString answer, titleSeen;
    watcher.SetOtherHandler([&](QWidget* modal) {
      auto* dialog = qobject_cast<app::COptionDialog*>(modal);
      if (dialog == nullptr) return;
      dialog->SetFolderChooser([&](QWidget*, const QString& title, const QString&) {
        titleSeen = title;
        return answer;
      });
      answer = h.Path(QStringLiteral("missing"));
      dialog->Browse();
      QCOMPARE(dialog->Folder(), start);
      answer = QString();  // cancelled
      dialog->Browse();
      QCOMPARE(dialog->Folder(), start);
      answer = existing;
      dialog->Browse();
      QCOMPARE(dialog->Folder(), existing);
      dialog->accept();
    });
    app.MainFrame()->OptionsAction()->trigger();
    QCOMPARE(watcher.Texts(), QStringList{Txt(169)});
    QCOMPARE(titleSeen, Txt(168));
    QCOMPARE(app.Config().TempFolder(), existing);
  }

  void progressDialogStaysUntilTheTaskEnds() {
    apptest::HeldTask task(7);
    app::CShowTaskProgressDlg dialog(nullptr, task);
    QTimer::singleShot(50, &dialog, [&] {
      QCOMPARE(dialog.windowTitle(), Txt(127));
      dialog.reject();
      QTest::keyClick(&dialog, Qt::Key_Escape);
      dialog.close();
      QVERIFY(dialog.isVisible());
      // The indeterminate bar steps once a tick and starts again after the end.
      auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progress"));
      bar->setValue(99);
      dialog.Refresh();
      QCOMPARE(bar->value(), 100);
      dialog.Refresh();
      QCOMPARE(bar->value(), 0);
      dialog.Refresh();
      QCOMPARE(bar->value(), 1);
      task.release = true;
    });
    dialog.exec();
    QVERIFY(dialog.IsFinished());
    QCOMPARE(dialog.GetTaskResult(), 7);
  }
};

QTEST_MAIN(PanesTest)
#include "panes_test.moc"
