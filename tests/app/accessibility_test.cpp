// What a screen reader and a keyboard user get: every control of the main
// window and of each dialog has an accessible name, the menus open by their
// mnemonics, and Tab reaches the controls of the main window.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QtTest>

#include "app/about_dlg.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/option_dialog.h"
#include "app/property_dialog.h"
#include "app/qpx_manager_view.h"
#include "app/task_progress.h"
#include "app/versions_dialog.h"
#include "app_fixture.h"
#include "generations/backup_set.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

// A control a user works with or reads a value from (scroll bars and the
// insides of item views are the views' own business).
bool IsControl(QWidget* w) {
  if (qobject_cast<QScrollBar*>(w) != nullptr) return false;
  for (QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget())
    if (qobject_cast<QAbstractScrollArea*>(p) != nullptr) return false;
  return (w->focusPolicy() & Qt::TabFocus) != 0 || qobject_cast<QAbstractButton*>(w) != nullptr ||
         qobject_cast<QProgressBar*>(w) != nullptr || qobject_cast<QLineEdit*>(w) != nullptr ||
         qobject_cast<QComboBox*>(w) != nullptr || qobject_cast<QAbstractItemView*>(w) != nullptr;
}

// The controls of `top` (shown, or to be shown with it) that have no accessible name.
QStringList Unnamed(QWidget* top) {
  QStringList unnamed;
  for (QWidget* w : top->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(top) || !IsControl(w)) continue;
    // A button is named by its text; every other control by the name set
    // for it (a combo box would otherwise be read out as its current value).
    QString name = w->accessibleName();
    if (auto* button = qobject_cast<QAbstractButton*>(w); button != nullptr && name.isEmpty()) name = button->text();
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
    if (face == nullptr || name.trimmed().isEmpty())
      unnamed << QStringLiteral("%1 \"%2\" in %3")
                     .arg(QLatin1String(w->metaObject()->className()), w->objectName(), top->objectName());
  }
  return unnamed;
}

}  // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT

 private slots:
  void everyControlOfTheWindowAndItsDialogsHasAName() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    QStringList unnamed = Unnamed(frame);

    app::COptionDialog options(QStringLiteral("/tmp"), frame);
    app::CAboutDlg about(frame);
    apptest::HeldTask task;
    app::CShowTaskProgressDlg progress(frame, task);
    const IncrementalBackup::CFSTree& tree = app.Set()->Tree();
    app::CPropertyDialog file(static_cast<const IncrementalBackup::CFSFile&>(*tree.Find(u"C:\\Data\\a.txt")), frame);
    app::CFolderPropertyDialog folder(static_cast<const IncrementalBackup::CFolder&>(*tree.Find(u"C:\\Data")), frame);
    app::CComplexPropertyDialog selection(QStringLiteral("C:\\Data"), 3, 2, 10, 5, frame);
    app::CVersionsDialog versions(*app.Set(), QStringLiteral("C:\\Data\\a.txt"), {}, {}, frame);
    for (QWidget* dialog :
         std::initializer_list<QWidget*>{&options, &about, &progress, &file, &folder, &selection, &versions}) {
      QVERIFY(!dialog->objectName().isEmpty());
      unnamed << Unnamed(dialog);
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u'\n')));
  }

  void menusOpenByTheirMnemonicsAndTabReachesTheControls() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    for (QAction* menu : frame->menuBar()->actions()) {
      QVERIFY2(menu->text().contains(u'&'), qPrintable(menu->text()));
      for (QAction* command : menu->menu()->actions()) QVERIFY(command->isSeparator() || !command->text().isEmpty());
    }

    frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frame));
    frame->TreePane()->setFocus(Qt::TabFocusReason);
    QSet<QWidget*> reached;
    for (int i = 0; i < 20; ++i) {
      reached.insert(QApplication::focusWidget());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QVERIFY(reached.contains(frame->TreePane()));
    QVERIFY(reached.contains(frame->ListPane()));
    QVERIFY(reached.contains(frame->GenerationBar()->Combo()));

    // The menu key opens a pane's context menu for its selected item (the
    // platform turns the key into a keyboard context-menu event), not for the
    // item that happens to lie at the pane's corner.
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    QStringList commands;
    QTimer::singleShot(200, frame, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (QAction* action : menu->actions()) commands << action->text();
        menu->close();
      }
    });
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0), frame->TreePane()->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(frame->TreePane(), &menuKey);
    QCOMPARE(commands, (QStringList{"開く(&O)", "復元(&R)", "プロパティ(&P)"}));
    QCOMPARE(frame->TreePane()->SelectedFolderPath(), QStringLiteral("C:\\Data"));

    // F6 moves between the panes both ways.
    frame->TreePane()->setFocus();
    QTest::keyClick(frame, Qt::Key_F6);
    QCOMPARE(QApplication::focusWidget(), frame->ListPane());
    QTest::keyClick(frame, Qt::Key_F6, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), frame->TreePane());
  }
};

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
