// Pictures of what a user sees, saved in the build folder to be looked at:
// the main window with the sample set loaded (tree expanded, the list in
// each of its views) and the task-progress dialog. Each picture is also
// checked for what can be checked without eyes: its size, and that the
// Japanese font is there to draw the texts.
#include <QFontDatabase>
#include <QImage>
#include <QProgressBar>
#include <QtTest>

#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_view.h"
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
                 {frame->ListAction(), "main-list"}};
    for (const auto& v : views) {
      v.action->trigger();
      Save(frame, v.name);
    }
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
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
