// Pictures of what a user sees, saved in the build folder to be looked at:
// the main window with the sample set loaded (tree expanded, the list in
// each of its views) and the task-progress dialog. Each picture is also
// checked for what can be checked without eyes: its size, and that the
// Japanese font is there to draw the texts.
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QMenu>
#include <QtTest>

#include "app/ask_to_user_dialog.h"
#include "app/auto_restore_dlg.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/option_dialog.h"
#include "app/qpx_manager_view.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_selection.h"
#include "app/show_log_dlg.h"
#include "app/task_progress.h"
#include "app_fixture.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

QString ShotPath(const char* name) { return QStringLiteral(TESSERA_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name)); }

void Save(QWidget* widget, const char* name) {
  QApplication::processEvents();
  const QImage image = widget->grab().toImage();
  QVERIFY(!image.isNull());
  QVERIFY(image.save(ShotPath(name)));
  QVERIFY(image.width() >= widget->minimumSizeHint().width());
}

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Without a Japanese font every kana is a box.
    QVERIFY2(QFontDatabase::families(QFontDatabase::Japanese).size() > 0, "no Japanese font installed");
  }

  void mainWindowWithTheSampleSet() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    frame->resize(900, 560);
    frame->TreePane()->expandAll();
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    struct {
      QAction* action;
      const char* name;
    } views[] = {{frame->LargeIconsAction(), "main-large-icons"},
                 {frame->SmallIconsAction(), "main-small-icons"},
                 {frame->ListAction(), "main-list"},
                 {frame->DetailsAction(), "main-details"}};
    for (const auto& v : views) {
      v.action->trigger();
      Save(frame, v.name);
    }
    frame->ListPane()->selectAll();
    Save(frame, "main-details-selected");
    frame->GenerationBar()->Combo()->showPopup();
    Save(frame->GenerationBar()->Combo()->view()->window(), "generation-list");
    frame->GenerationBar()->Combo()->hidePopup();
    app::COptionDialog options(QStringLiteral("/tmp"), frame);
    Save(&options, "options");
    // The edit menu, with コピー; the menu is the first the action was added to.
    QMenu* edit = qobject_cast<QMenu*>(frame->CopyAction()->associatedObjects().value(0));
    QVERIFY(edit != nullptr);
    edit->popup(frame->mapToGlobal(QPoint(0, 0)));
    Save(edit, "edit-menu");
    edit->hide();
  }

  // Long names in large icons: wrapped over three lines, cut after them.
  void largeIconsWithLongNames() {
    AppHarness h;
    testsupport::BackupSetSpec set;
    set.generations.resize(1);
    set.generations[0].folders = {{u"C:\\Long"}};
    set.generations[0].files = {{u"C:\\Long\\2019年度_営業部_月次報告書_最終版_確認済み.xlsx", {}},
                                {u"C:\\Long\\quarterly-summary-of-accounts-receivable-final.pdf", {}},
                                {u"C:\\Long\\short.txt", {}}};
    const auto files = h.WriteSet(set, "long");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    frame->resize(700, 400);
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Long")));
    frame->LargeIconsAction()->trigger();
    Save(frame, "main-large-icons-long-names");
  }

  void taskProgressDialog() {
    apptest::HeldTask task;
    app::CShowTaskProgressDlg dialog(nullptr, task);
    QTimer::singleShot(350, &dialog, [&] {
      Save(&dialog, "task-progress");
      task.release = true;
    });
    dialog.exec();
  }

  // The restore dialog before a start and while a question holds its run,
  // the question dialog of both kinds, the automatic restore dialog while a
  // question holds its run, and the result log at the end.
  void restoreDialogs() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    const QString out = h.Path(QStringLiteral("restored"));
    QVERIFY(QDir().mkpath(out));
    // Already there: the run stops at the question for it, near its end.
    QVERIFY(QDir().mkpath(out + "/Old"));
    QVERIFY(QFile(out + "/Old/b.txt").open(QIODevice::WriteOnly));
    const IncrementalBackup::RestoreSelection chosen = app::SelectEntries(
        app, QStringLiteral("C:\\Data"), {QStringLiteral("a.txt"), QStringLiteral("keep.txt"), QStringLiteral("Old")});
    QVERIFY(!chosen.empty());

    int shots = 0;
    watcher.SetOtherHandler([&](QWidget* modal) {
      if (auto* restore = qobject_cast<app::CRestoreProgressDlg*>(modal)) {
        if (restore->IsRunning()) return;
        if (restore->TargetFolder() != out) {
          restore->SetTargetFolder(out);
          Save(restore, "restore-dialog");
          ++shots;
          QTimer::singleShot(0, restore, [restore] { restore->StartButton()->click(); });
        }
        return;
      }
      if (auto* ask = qobject_cast<app::CAskToUserDialog*>(modal)) {
        if (!ask->isVisible()) return;
        QWidget* owner = ask->parentWidget();
        Save(owner, qobject_cast<app::CAutoRestoreDlg*>(owner) != nullptr ? "auto-restore" : "restore-dialog-running");
        Save(ask, qobject_cast<app::CAutoRestoreDlg*>(owner) != nullptr ? "ask-to-user-overwrite" : "ask-to-user");
        shots += 2;
        QTimer::singleShot(0, ask, [ask] { ask->Button(0)->click(); });
        return;
      }
      if (auto* log = qobject_cast<app::CShowLogDlg*>(modal)) {
        log->resize(640, 300);
        Save(log, "show-log");
        ++shots;
        QTimer::singleShot(0, log, [log] { log->OkButton()->click(); });
      }
    });
    {
      app::CRestoreProgressDlg dialog(app, chosen, app.MainFrame());
      dialog.exec();
    }
    QCOMPARE(shots, 4);
    {
      app::CAutoRestoreDlg dialog(app, chosen, out, app.MainFrame());
      dialog.exec();
      QVERIFY(dialog.Succeeded());
    }
    QVERIFY(shots >= 6);  // every file of the run is there by now

    // A question with the information icon and a message of three lines.
    app::CAskToUserDialog info(apptest::Txt(210).replace(QStringLiteral("%s"), QStringLiteral("report.xlsx")),
                               {188, 189, 190}, app::CAskToUserDialog::Icon::Information);
    info.show();
    Save(&info, "ask-to-user-information");
  }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
