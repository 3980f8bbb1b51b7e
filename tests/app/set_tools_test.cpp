// The ツール menu's tools over a loaded set: the integrity test of the shown
// generation or of every stored version, and the differences between two
// generations with a filter for each kind, and the search across every
// generation; pictures of each.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

#include "app/compare_dialog.h"
#include "app/generation_input_bar.h"
#include "app/integrity_test_dialog.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_view.h"
#include "app/search_pane.h"
#include "app_fixture.h"
#include "support/corrupt.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

void Shoot(QWidget* widget, const char* name) {
  widget->show();
  QApplication::processEvents();
  QVERIFY(widget->grab().save(QStringLiteral(TESSERA_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name))));
}

}  // namespace

class SetToolsTest : public QObject {
  Q_OBJECT

 private slots:
  void menuOpensEachToolOnceASetIsLoaded() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    QStringList titles;
    watcher.SetOtherHandler([&titles](QWidget* modal) {
      titles << modal->windowTitle();
      qobject_cast<QDialog*>(modal)->reject();
    });
    app::CQPXManagerApp& app = h.Start();
    app::CMainFrame* frame = app.MainFrame();
    QVERIFY(!frame->IntegrityTestAction()->isEnabled());
    app.OpenBackupFile(Q(files.archives[0]));
    QVERIFY(frame->IntegrityTestAction()->isEnabled());
    frame->IntegrityTestAction()->trigger();
    frame->CompareAction()->trigger();
    QCOMPARE(titles, (QStringList{QStringLiteral("整合性テスト"), QStringLiteral("世代の比較")}));
  }

  void integrityTestListsTheDamagedVersionWithItsGenerationAndReason() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    // a.txt as generation 2 stored it.
    const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(files.archives[1]);
    testsupport::FlipBits(files.archives[1], std::string(bytes.begin(), bytes.end()).find("a1"), 0x01);
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QVERIFY(app.Set() != nullptr);

    app::CIntegrityTestDialog dialog(*app.Set(), app.MainFrame());
    QSignalSpy ended(&dialog, &app::CIntegrityTestDialog::testEnded);
    // Generation 1 does not hold the damaged version.
    dialog.StartButton()->click();
    QVERIFY(ended.wait());
    QCOMPARE(dialog.Results()->topLevelItemCount(), 0);
    QVERIFY2(dialog.Summary()->text().contains(QStringLiteral("テストしたファイル: 3　損傷: 0")),
             qPrintable(dialog.Summary()->text()));

    dialog.WholeSetChoice()->setChecked(true);
    dialog.StartButton()->click();
    QVERIFY(!dialog.StartButton()->isEnabled());
    QVERIFY(ended.wait());
    QCOMPARE(dialog.Results()->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = dialog.Results()->topLevelItem(0);
    QCOMPARE(row->text(0), QStringLiteral("C:\\Data\\a.txt"));
    QCOMPARE(row->text(1), QStringLiteral("2"));
    QVERIFY2(row->text(2).startsWith(QStringLiteral("CRC が違います")), qPrintable(row->text(2)));
    QVERIFY(row->text(2).contains(Q(files.archives[1])));
    QVERIFY2(dialog.Summary()->text().contains(QStringLiteral("テストしたファイル: 8　損傷: 1")),
             qPrintable(dialog.Summary()->text()));
    QVERIFY(dialog.StartButton()->isEnabled());
    Shoot(&dialog, "integrity-test");

    // Closing while it runs stops the worker and returns.
    dialog.StartButton()->click();
    dialog.reject();
    QVERIFY(!dialog.IsRunning());
  }

  void compareShowsEachKindAndFiltersIt() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QVERIFY(app.SelectGeneration(1));

    QList<QPair<long, QStringList>> restores;
    app::CCompareDialog dialog(*app.Set(), app.MainFrame(), [&restores](long generation, const QStringList& paths, QWidget*) {
      restores.append({generation, paths});
    });
    QSignalSpy compared(&dialog, &app::CCompareDialog::compared);
    QCOMPARE(dialog.FromCombo()->currentIndex(), 0);
    QCOMPARE(dialog.ToCombo()->currentIndex(), 1);
    QVERIFY(compared.wait());
    QTableView* table = dialog.Table();
    auto shown = [table] {
      QStringList rows;
      for (int r = 0; r < table->model()->rowCount(); ++r)
        rows << table->model()->index(r, app::CCompareModel::kState).data().toString() + u' ' +
                    table->model()->index(r, app::CCompareModel::kPath).data().toString();
      return rows;
    };
    QCOMPARE(shown(), (QStringList{QStringLiteral("変更 C:\\Data\\a.txt"), QStringLiteral("追加 C:\\Data\\c.txt"),
                                   QStringLiteral("削除 C:\\Data\\Old\\b.txt")}));
    dialog.KindBox(app::CompareRow::kAdded)->setChecked(false);
    dialog.KindBox(app::CompareRow::kChanged)->setChecked(false);
    QCOMPARE(shown(), (QStringList{QStringLiteral("削除 C:\\Data\\Old\\b.txt")}));
    dialog.KindBox(app::CompareRow::kAdded)->setChecked(true);
    dialog.KindBox(app::CompareRow::kChanged)->setChecked(true);

    // 1 -> 4: New came with d.txt; b.txt went and came back with other data.
    dialog.ToCombo()->setCurrentIndex(3);
    QVERIFY(compared.wait());
    QCOMPARE(shown(), (QStringList{QStringLiteral("変更 C:\\Data\\a.txt"), QStringLiteral("追加 C:\\Data\\New"),
                                   QStringLiteral("追加 C:\\Data\\New\\d.txt"),
                                   QStringLiteral("変更 C:\\Data\\Old\\b.txt")}));

    // Each side restores what it holds, as its own generation has it; the
    // folder only the newest generation holds is not had while 2 is shown.
    table->selectAll();
    dialog.RestoreButton(true)->click();
    dialog.RestoreButton(false)->click();
    QCOMPARE(restores.size(), 2);
    QCOMPARE(restores[0].first, 1);
    QCOMPARE(restores[0].second, (QStringList{QStringLiteral("C:\\Data\\a.txt"), QStringLiteral("C:\\Data\\Old\\b.txt")}));
    QCOMPARE(restores[1].first, 4);
    QCOMPARE(restores[1].second, (QStringList{QStringLiteral("C:\\Data\\a.txt"), QStringLiteral("C:\\Data\\New\\d.txt"),
                                              QStringLiteral("C:\\Data\\Old\\b.txt")}));
    table->selectRow(1);
    QVERIFY(!dialog.RestoreButton(true)->isEnabled());
    QVERIFY(!dialog.RestoreButton(false)->isEnabled());
    table->selectRow(0);
    Shoot(&dialog, "compare-generations");
  }

  void searchFindsEveryGenerationsFilesAndShowsOneWhereItIs() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CMainFrame* frame = app.MainFrame();
    frame->resize(900, 600);
    frame->show();
    frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frame));
    QVERIFY(app.SelectGeneration(1));
    // Pictured as the package's screenshot: the details view beside the results.
    frame->DetailsAction()->trigger();
    frame->TreePane()->expandAll();
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    app::CSearchPane* pane = frame->SearchPane();
    QLineEdit* field = pane->Field();
    QVERIFY(!pane->isVisible());

    QTest::keyClick(frame, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(field->hasFocus());
    QSignalSpy ended(pane, &app::CSearchPane::searchEnded);
    field->setText(QStringLiteral("?.TXT"));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(ended.wait());
    QVERIFY(pane->isVisible());
    QStringList rows;
    for (int r = 0; r < pane->Model().rowCount(); ++r) {
      QStringList cells;
      for (int c : {0, 1, 2, 5}) cells << pane->Model().index(r, c).data().toString();
      rows << cells.join(u'|');
    }
    rows.sort();
    QCOMPARE(rows, (QStringList{QStringLiteral("a.txt|C:\\Data|1–4|3"), QStringLiteral("b.txt|C:\\Data\\Old|1, 4|2"),
                                QStringLiteral("c.txt|C:\\Data|2–3|1"), QStringLiteral("d.txt|C:\\Data\\New|3–4|1")}));
    Shoot(frame, "search-results");

    // b.txt is not in generation 2: the newest that holds it is shown.
    int row = 0;
    while (pane->Model().Hit(row).name != QStringLiteral("b.txt")) ++row;
    QVERIFY(pane->Activate(row));
    QCOMPARE(frame->GenerationBar()->Combo()->currentIndex(), 3);
    QCOMPARE(frame->ListPane()->CurrentFolder(), QStringLiteral("C:\\Data\\Old"));
    QCOMPARE(frame->ListPane()->SelectedNames(), QStringList{QStringLiteral("b.txt")});
    // a.txt is in generation 4 too: the generation stays.
    row = 0;
    while (pane->Model().Hit(row).name != QStringLiteral("a.txt")) ++row;
    QVERIFY(pane->Activate(row));
    QCOMPARE(frame->GenerationBar()->Combo()->currentIndex(), 3);
    QCOMPARE(frame->ListPane()->SelectedNames(), QStringList{QStringLiteral("a.txt")});

    // Restoring a result is the list's restore of the entry it shows.
    QStringList restoring;
    watcher.SetOtherHandler([&](QWidget* modal) {
      restoring << frame->ListPane()->SelectedNames();
      qobject_cast<QDialog*>(modal)->reject();
    });
    pane->Results()->setCurrentIndex(pane->Model().index(row == 0 ? 1 : 0, 0));
    const QString other = pane->Model().Hit(pane->Results()->currentIndex().row()).name;
    pane->Results()->actions().at(1)->trigger();
    QCOMPARE(restoring, QStringList{other});

    // Dragging a result drags the list's entry it shows.
    QTreeView* results = pane->Results();
    row = 0;
    while (pane->Model().Hit(row).name != QStringLiteral("d.txt")) ++row;
    const QPoint from = results->visualRect(pane->Model().index(row, 0)).center();
    QTest::mousePress(results->viewport(), Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step) {
      QMouseEvent move(QEvent::MouseMove, from + QPoint(step * 10, step * 10), results->viewport()->mapToGlobal(from),
                       Qt::LeftButton, Qt::LeftButton, {});
      QApplication::sendEvent(results->viewport(), &move);
    }
    QTest::mouseRelease(results->viewport(), Qt::LeftButton, {}, from + QPoint(40, 40));
    QVERIFY(frame->ListPane()->LastDrag() != nullptr);
    QCOMPARE(frame->ListPane()->CurrentFolder(), QStringLiteral("C:\\Data\\New"));
    QCOMPARE(frame->ListPane()->SelectedNames(), QStringList{QStringLiteral("d.txt")});

    pane->Results()->setFocus();
    QTest::keyClick(pane->Results(), Qt::Key_Escape);
    QVERIFY(!pane->isVisible());

    // A whole-path pattern; none found is said so.
    field->setText(QStringLiteral("c:\\data\\*\\*"));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(ended.wait());
    QCOMPARE(pane->Model().rowCount(), 2);  // Old\b.txt and New\d.txt: a star spans folders
    field->setText(QStringLiteral("nothing*"));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(ended.wait());
    QCOMPARE(pane->Model().rowCount(), 0);
  }
};

QTEST_MAIN(SetToolsTest)
#include "set_tools_test.moc"
