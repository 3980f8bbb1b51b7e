// The window's views of time: the generation bar with the archives' dates
// and its keys, opening at the newest generation, the details view's
// columns, sorting and status bar, and what the window keeps between runs.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QtTest>

#include "app/app_config.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/option_dialog.h"
#include "app/qpx_manager_view.h"
#include "app_fixture.h"

using apptest::AppHarness;
using apptest::ListNames;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

QStringList Column(app::CQPXManagerApp& app, int column) {
  QStringList texts;
  const app::FileListModel& model = app.MainFrame()->ListPane()->Model();
  for (int row = 0; row < model.rowCount(); ++row)
    texts << model.data(model.index(row), app::FileListModel::kColumnTextRole + column).toString();
  return texts;
}

void ClickHeader(app::CQPXManagerView* list, int column) {
  QHeaderView* header = list->Header();
  const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

}  // namespace

class DetailsViewTest : public QObject {
  Q_OBJECT

 private slots:
  void homeAndEndChooseTheOldestAndNewestGeneration() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QComboBox* combo = app.MainFrame()->GenerationBar()->Combo();
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_End);
    QCOMPARE(combo->currentIndex(), 3);
    QCOMPARE(app.Set()->SelectedShown(), 4L);
    QTest::keyClick(combo, Qt::Key_Home);
    QCOMPARE(app.Set()->SelectedShown(), 1L);
    QVERIFY(watcher.Texts().isEmpty());
  }

  void theOptionOpensAtTheNewestGenerationAndIsKept() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start();
    QVERIFY(!app.Config().OpenNewest());
    watcher.SetOtherHandler([](QWidget* modal) {
      auto* dialog = qobject_cast<app::COptionDialog*>(modal);
      if (dialog == nullptr) return;
      QVERIFY(!dialog->OpenNewestBox()->isChecked());
      dialog->OpenNewestBox()->setChecked(true);
      dialog->accept();
    });
    app.MainFrame()->OptionsAction()->trigger();
    QVERIFY(app.Config().OpenNewest());
    h.Stop();

    // The next run opens the set where its last backup left it.
    app::CQPXManagerApp& again = h.Start({Q(files.archives[0])});
    QCOMPARE(again.Set()->SelectedShown(), 4L);
    QCOMPARE(again.MainFrame()->GenerationBar()->Combo()->currentIndex(), 3);
    QVERIFY(again.MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    QCOMPARE(ListNames(again), (QStringList{"Old", "New", "a.txt", "keep.txt"}));
  }

  void detailsColumnsCompareWithThePreviousGenerationAndSort() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    frame->DetailsAction()->trigger();
    app::CQPXManagerView* list = frame->ListPane();
    QCOMPARE(list->GetViewMode(), app::CQPXManagerView::Mode::Details);
    QVERIFY(!list->Header()->isHidden());
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));

    // The first generation adds everything.
    QCOMPARE(Column(app, app::FileListModel::kState), (QStringList{"追加", "追加", "追加"}));
    QVERIFY(app.SelectGeneration(1));
    QCOMPARE(ListNames(app), (QStringList{"Old", "a.txt", "keep.txt", "c.txt"}));
    QCOMPARE(Column(app, app::FileListModel::kState), (QStringList{"変更なし", "変更", "変更なし", "追加"}));
    QCOMPARE(Column(app, app::FileListModel::kType).first(), QStringLiteral("フォルダ"));
    QCOMPARE(Column(app, app::FileListModel::kSize), (QStringList{"", "1 KB", "1 KB", "1 KB"}));
    // Gone in generation 3, back in 4: added again.
    QVERIFY(app.SelectGeneration(3));
    QCOMPARE(ListNames(app).first(), QStringLiteral("Old"));
    QCOMPARE(Column(app, app::FileListModel::kState).first(), QStringLiteral("追加"));

    // A click sorts by the column, folders first; a second click reverses.
    QVERIFY(app.SelectGeneration(1));
    ClickHeader(list, app::FileListModel::kState);
    QCOMPARE(ListNames(app), (QStringList{"Old", "c.txt", "a.txt", "keep.txt"}));
    ClickHeader(list, app::FileListModel::kName);
    QCOMPARE(ListNames(app), (QStringList{"Old", "a.txt", "c.txt", "keep.txt"}));
    ClickHeader(list, app::FileListModel::kName);
    QCOMPARE(ListNames(app), (QStringList{"Old", "keep.txt", "c.txt", "a.txt"}));
    // The sort holds for the next folder and generation shown.
    QVERIFY(app.SelectGeneration(3));
    QCOMPARE(ListNames(app), (QStringList{"Old", "New", "keep.txt", "a.txt"}));
    list->SortBy(-1);
    QCOMPARE(ListNames(app), (QStringList{"Old", "New", "a.txt", "keep.txt"}));
    list->SortBy(app::FileListModel::kName);
    list->SortBy(app::FileListModel::kName);
    QCOMPARE(ListNames(app), (QStringList{"Old", "New", "keep.txt", "a.txt"}));
    QVERIFY(watcher.Texts().isEmpty());
  }

  void statusBarCountsTheFolderAndTheSelection() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    QVERIFY(app.SelectGeneration(2));
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    QCOMPARE(frame->FolderStatus()->text(), QStringLiteral("フォルダ 1 個、ファイル 3 個"));
    QVERIFY(frame->SelectionStatus()->text().isEmpty());
    frame->SelectAllAction()->trigger();
    QCOMPARE(frame->SelectionStatus()->text(), QStringLiteral("選択: フォルダ 1 個、ファイル 3 個 (1 KB)"));
    // Only the folder's own entries count, not what lies below.
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data\\New")));
    QCOMPARE(frame->FolderStatus()->text(), QStringLiteral("フォルダ 0 個、ファイル 1 個"));
    frame->SelectAllAction()->trigger();
    QCOMPARE(frame->SelectionStatus()->text(), QStringLiteral("選択: フォルダ 0 個、ファイル 1 個 (3 KB)"));
  }

  void viewColumnsAndRecentArchivesAreKeptBetweenRuns() {
    AppHarness h;
    const auto first = h.WriteSampleSet("one");
    const auto second = h.WriteSampleSet("two");
    ModalWatcher watcher;
    {
      app::CQPXManagerApp& app = h.Start();
      QCOMPARE(app.MainFrame()->RecentFileActions().size(), 0);
      h.Stop();
      // Nothing the user changed, nothing written.
      QVERIFY(!QFile::exists(h.ConfigFile()));
    }
    {
      app::CQPXManagerApp& app = h.Start({Q(first.archives[0])});
      app.OpenBackupFile(Q(second.archives[0]));
      app.OpenBackupFile(Q(first.archives[0]));
      app.MainFrame()->DetailsAction()->trigger();
      app.MainFrame()->ListPane()->Header()->resizeSection(app::FileListModel::kName, 321);
      h.Stop();
    }
    app::CQPXManagerApp& app = h.Start();
    app::CMainFrame* frame = app.MainFrame();
    QVERIFY(frame->DetailsAction()->isChecked());
    QCOMPARE(frame->ListPane()->GetViewMode(), app::CQPXManagerView::Mode::Details);
    QCOMPARE(frame->ListPane()->Header()->sectionSize(app::FileListModel::kName), 321);
    // The newest first, each once, numbered for the keyboard.
    const QList<QAction*> recent = frame->RecentFileActions();
    QCOMPARE(recent.size(), 2);
    QCOMPARE(recent[0]->text(), QStringLiteral("&1 set.qpx"));
    QCOMPARE(recent[0]->toolTip(), Q(first.archives[0]));
    QCOMPARE(recent[1]->toolTip(), Q(second.archives[0]));
    recent[1]->trigger();
    QVERIFY(app.IsOpened());
    QCOMPARE(app.ArchivePath(), Q(second.archives[0]));
    QCOMPARE(frame->RecentFileActions().first()->toolTip(), Q(second.archives[0]));
    QVERIFY(watcher.Texts().isEmpty());
  }

  void aRecentListHoldsFourArchives() {
    app::CAppConfig config(QString(), QStringLiteral("/tmp"));
    for (const char* path : {"/a.qpx", "/b.qpx", "/c.qpx", "/d.qpx", "/e.qpx", "/c.qpx"})
      config.AddRecentFile(QString::fromLatin1(path));
    QCOMPARE(config.RecentFiles(), (QStringList{"/c.qpx", "/e.qpx", "/d.qpx", "/b.qpx"}));
  }
};

QTEST_MAIN(DetailsViewTest)
#include "details_view_test.moc"
