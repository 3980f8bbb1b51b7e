// The versions of one file: a row per generation that stored or removed it,
// the same data folded into one row, and each row opened and restored from
// its own generation while the window goes on showing another.
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QPlainTextEdit>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "app/auto_restore_dlg.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_view.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_selection.h"
#include "app/show_log_dlg.h"
#include "app/versions_dialog.h"
#include "app_fixture.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::OpenedUrls;
using apptest::ReadAll;
using apptest::Q;

namespace {

void SelectInList(app::CQPXManagerView* list, const QString& name) {
  list->clearSelection();
  for (int row = 0; row < list->model()->rowCount(); ++row) {
    const QModelIndex index = list->model()->index(row, 0);
    if (index.data().toString() == name) list->selectionModel()->select(index, QItemSelectionModel::Select);
  }
}

// Generation and note of each row.
QStringList Rows(const app::CVersionsDialog& dialog) {
  QStringList rows;
  for (int r = 0; r < dialog.Table()->rowCount(); ++r)
    rows << (dialog.Table()->item(r, app::CVersionsDialog::kGeneration)->text() + u'|' +
             dialog.Table()->item(r, app::CVersionsDialog::kNote)->text());
  return rows;
}

}  // namespace

class VersionsTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsFoldTheSameDataAndActOnTheirOwnGeneration() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    OpenedUrls opened;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app.Config().SetTempFolder(h.Path(QStringLiteral("temp")));
    app::CMainFrame* frame = app.MainFrame();
    frame->GenerationBar()->ChooseGeneration(3);
    QCOMPARE(app.Set()->SelectedShown(), 4L);
    app::CQPXManagerView* list = frame->ListPane();

    // Only one file at a time has versions.
    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    list->selectAll();
    QVERIFY(!frame->VersionsAction()->isEnabled());
    SelectInList(list, QStringLiteral("Old"));
    QVERIFY(!frame->VersionsAction()->isEnabled());
    SelectInList(list, QStringLiteral("keep.txt"));
    QVERIFY(frame->VersionsAction()->isEnabled());
    {
      app::CVersionsDialog keep(*app.Set(), QStringLiteral("C:\\Data\\keep.txt"), {}, {});
      QCOMPARE(Rows(keep), QStringList{QStringLiteral("1|2–4 変更なし")});
      keep.show();
      QVERIFY(keep.grab().save(QStringLiteral(TESSERA_SCREENSHOT_DIR "/versions-folded.png")));
    }

    QVERIFY(frame->TreePane()->SelectFolder(QStringLiteral("C:\\Data\\Old")));
    SelectInList(list, QStringLiteral("b.txt"));
    QStringList rows;
    QString restoreFailure, logText;
    bool restoreStarted = false;
    const QString out = h.Path(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    bool removedRowUsable = true;
    watcher.SetOtherHandler([&](QWidget* modal) {
      if (qobject_cast<app::CAutoRestoreDlg*>(modal) != nullptr) return;
      if (auto* restore = qobject_cast<app::CRestoreProgressDlg*>(modal)) {
        if (restore->IsRunning() || restore->Succeeded()) return;
        if (restoreStarted) {
          restoreFailure = restore->StatusText();
          QTimer::singleShot(0, restore, [restore] { restore->CancelButton()->click(); });
          return;
        }
        restoreStarted = true;
        restore->SetTargetFolder(out);
        QTimer::singleShot(0, restore, [restore] { restore->StartButton()->click(); });
        return;
      }
      if (auto* log = qobject_cast<app::CShowLogDlg*>(modal)) {
        logText = log->TextBox()->toPlainText();
        QTimer::singleShot(0, log, [log] { log->OkButton()->click(); });
        return;
      }
      auto* dialog = qobject_cast<app::CVersionsDialog*>(modal);
      if (dialog == nullptr || !rows.isEmpty()) return;
      rows = Rows(*dialog);
      // Driven from its own event loop: the restores it starts are modal too.
      QTimer::singleShot(0, dialog, [&, dialog] {
        dialog->Table()->selectRow(1);
        removedRowUsable = dialog->OpenButton()->isEnabled() || dialog->RestoreButton()->isEnabled();
        dialog->Table()->selectRow(0);
        dialog->grab().save(QStringLiteral(TESSERA_SCREENSHOT_DIR "/versions.png"));
        dialog->OpenButton()->click();
        dialog->RestoreButton()->click();
        dialog->reject();
      });
    });
    frame->VersionsAction()->trigger();

    QCOMPARE(rows, (QStringList{QStringLiteral("1|"), QStringLiteral("2|削除"), QStringLiteral("4|")}));
    QVERIFY(!removedRowUsable);
    // Generation 1's data, in generation 1's copies, and restored as it;
    // the restore then shows its target.
    QCOMPARE(opened.paths.size(), 2);
    QVERIFY2(opened.paths[0].endsWith(QStringLiteral("/1/C/Data/Old/b.txt")), qPrintable(opened.paths[0]));
    QCOMPARE(ReadAll(opened.paths[0]), QByteArray("b0"));
    QVERIFY(restoreStarted);
    QVERIFY2(restoreFailure.isEmpty(), qPrintable(restoreFailure));
    QCOMPARE(ReadAll(out + QStringLiteral("/b.txt")), QByteArray("b0"));
    QVERIFY2(logText.contains(QStringLiteral("(1世代目)")), qPrintable(logText));
    QCOMPARE(app.Set()->SelectedShown(), 4L);
    QCOMPARE(frame->GenerationBar()->Combo()->currentIndex(), 3);

    // What the restore dialog is given: the file as that generation has it,
    // nothing where it is removed.
    const IncrementalBackup::RestoreSelection old = app::SelectEntries(app, QStringLiteral("C:\\Data\\Old"), {"b.txt"}, 1);
    QCOMPARE(old.size(), size_t{1});
    QCOMPARE(old[0].generation, 1L);
    QVERIFY(app::SelectEntries(app, QStringLiteral("C:\\Data\\Old"), {"b.txt"}, 2).empty());
    QVERIFY2(watcher.Texts().isEmpty(), qPrintable(watcher.Texts().join(u'\n')));
  }
};

QTEST_MAIN(VersionsTest)
#include "versions_test.moc"
