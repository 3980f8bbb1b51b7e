// The open flow: File > Open and the command line take a path to a loaded
// backup set, with the generation manager's notice and question answered
// by the user, and every path the flow turns away.
#include <QComboBox>
#include <QLabel>
#include <QtTest>

#include "app/app_texts.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_view.h"
#include "app_fixture.h"
#include "support/archive_writer.h"
#include "support/corrupt.h"

using apptest::AppHarness;
using apptest::ListNames;
using apptest::ModalWatcher;
using apptest::Q;
using apptest::TreeChildren;
using apptest::Txt;
namespace fs = std::filesystem;

namespace {

QStringList ComboItems(app::CQPXManagerApp& app) {
  QStringList items;
  QComboBox* combo = app.MainFrame()->GenerationBar()->Combo();
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

testsupport::BackupSetSpec OneGeneration() {
  testsupport::BackupSetSpec set;
  set.name = "one";
  set.generations.resize(1);
  set.generations[0].folders = {{u"C:\\Docs"}, {u"C:\\Docs\\写真"}};
  set.generations[0].files = {{u"C:\\Docs\\memo.txt", testsupport::Bytes("memo")},
                              {u"C:\\Docs\\写真\\a.jpg", testsupport::Bytes("jpeg")}};
  return set;
}

}  // namespace

class OpenFlowTest : public QObject {
  Q_OBJECT

 private slots:
  void oneGenerationFromTheCommandLine() {
    AppHarness h;
    const auto files = h.WriteSet(OneGeneration(), "one");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});

    QVERIFY2(watcher.Texts().isEmpty(), qPrintable(watcher.Texts().join(u'|')));
    QVERIFY(app.IsOpened());
    QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("one.qpx - Tessera"));
    // The number and when the archive was written, as its header records it.
    QCOMPARE(ComboItems(app), QStringList{QStringLiteral("1  2019/04/17 18:40")});
    QCOMPARE(app.MainFrame()->GenerationBar()->Combo()->currentIndex(), 0);
    QCOMPARE(app.MainFrame()->GenerationBar()->RangeLabel()->text(), QStringLiteral("(1～1 まで)"));
    QCOMPARE(TreeChildren(app), QStringList{QStringLiteral("C:")});
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Docs")), QStringList{QStringLiteral("写真")});
    // The first drive is selected and the list shows it.
    QCOMPARE(app.MainFrame()->TreePane()->SelectedFolderPath(), QStringLiteral("C:"));
    QCOMPARE(ListNames(app), QStringList{QStringLiteral("Docs")});
    QCOMPARE(app.CurrentFolder(), QStringLiteral("C:"));
    QCOMPARE(app.ManagementPath(), Q(files.management));
  }

  void severalGenerationsThroughFileOpen() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start();
    QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("Tessera"));
    QString filterSeen, suffixSeen;
    app.SetFileChooser([&](QWidget*, const QString& filter, const QString& suffix) {
      filterSeen = filter;
      suffixSeen = suffix;
      return Q(files.archives[0]);
    });
    app.MainFrame()->OpenAction()->trigger();

    QCOMPARE(filterSeen, QStringLiteral("バックアップファイル(*.qpx);;世代バックアップファイル(*.qpi);;すべてのファイル (*)"));
    QCOMPARE(suffixSeen, QStringLiteral("qpx"));
    QVERIFY(watcher.Texts().isEmpty());
    QVERIFY(app.IsOpened());
    QCOMPARE(app.GenerationCount(), 4L);
    QCOMPARE(ComboItems(app), (QStringList{"1  2019/04/17 18:40", "2  2019/04/18 18:40", "3  2019/04/19 18:40",
                                           "4  2019/04/20 18:40"}));
    QCOMPARE(app.MainFrame()->GenerationBar()->RangeLabel()->text(), QStringLiteral("(1～4 まで)"));
    QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("set.qpx - Tessera"));
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Data")), QStringList{QStringLiteral("Old")});

    // A cancelled dialog changes nothing.
    app.SetFileChooser([](QWidget*, const QString&, const QString&) { return QString(); });
    app.MainFrame()->OpenAction()->trigger();
    QVERIFY(app.IsOpened());
    QCOMPARE(app.GenerationCount(), 4L);
  }

  void missingManagementFileIsNoticedAndTheArchiveShownAlone() {
    AppHarness h;
    auto setPlan = testsupport::SampleBackupSet();
    setPlan.writeManagement = false;
    const auto files = h.WriteSet(setPlan, "set");
    ModalWatcher watcher(QMessageBox::Cancel);  // the answer changes nothing
    app::CQPXManagerApp& app = h.Start({Q(files.archives[1])});

    QCOMPARE(watcher.Texts(), QStringList{Txt(247)});
    QVERIFY(app.IsOpened());
    QCOMPARE(app.GenerationCount(), 1L);
    // The management file looked for keeps the generation suffix of the name.
    QCOMPARE(app.ManagementPath(), h.Path(QStringLiteral("set/set_2.qpm")));
    QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("set_2.qpi - Tessera"));
    QCOMPARE(ComboItems(app), QStringList{QStringLiteral("1  2019/04/18 18:40")});
  }

  void damagedManagementFileIsRebuiltOnlyOnYes() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    testsupport::TruncateFile(files.management, 40);

    {
      ModalWatcher no(QMessageBox::No);
      app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
      // The user's "no" ends the load without a further box. The question
      // names the management file and what is wrong with it.
      QCOMPARE(no.Texts().size(), 1);
      QVERIFY(no.Texts()[0].startsWith(Txt(139) + u'\n' + Q(files.management) + QStringLiteral("：")));
      QVERIFY(!app.IsOpened());
      QCOMPARE(TreeChildren(app), QStringList());
      QCOMPARE(ComboItems(app), QStringList());
      QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("Tessera"));
    }
    {
      ModalWatcher yes(QMessageBox::Yes);
      app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
      QCOMPARE(yes.Texts().size(), 1);
      QVERIFY(yes.Texts()[0].startsWith(Txt(139)));
      QVERIFY(app.IsOpened());
      QCOMPARE(app.GenerationCount(), 1L);
      QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Data")), QStringList{QStringLiteral("Old")});
    }
  }

  void turnedAwayPaths() {
    AppHarness h;
    const auto files = h.WriteSampleSet();
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start();

    // A path that does not exist, and a folder.
    app.OpenBackupFile(h.Path(QStringLiteral("nothing.qpx")));
    QCOMPARE(watcher.Texts(), QStringList{Txt(105)});
    watcher.Clear();
    app.OpenBackupFile(h.Path(QStringLiteral("set")));
    QCOMPARE(watcher.Texts(), QStringList{Txt(105)});
    watcher.Clear();

    // Extensions are taken exactly as written: capitals and others do nothing.
    for (const char* name : {"SET.QPX", "set.Qpi", "set.zip", "qpx"}) {
      fs::copy_file(files.archives[0], h.Dir() / "set" / name);
      app.OpenBackupFile(h.Path(QStringLiteral("set/") + QString::fromLatin1(name)));
      QVERIFY2(watcher.Texts().isEmpty(), name);
      QVERIFY(!app.IsOpened());
      QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("Tessera"));
    }
    QCOMPARE(TreeChildren(app), QStringList());
  }

  void laterArchiveWithoutFilesShowsNothing() {
    AppHarness h;
    auto setPlan = testsupport::SampleBackupSet();
    setPlan.generations.resize(2);
    setPlan.generations[1] = setPlan.generations[0];  // nothing changed: generation 2 stores no file
    const auto files = h.WriteSet(setPlan, "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QVERIFY(app.IsOpened());
    watcher.Clear();

    app.OpenBackupFile(Q(files.archives[1]));
    QCOMPARE(watcher.Texts(), QStringList{Txt(105)});
    // Nothing else changes: the set opened before stays loaded.
    QVERIFY(app.IsOpened());
    QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("set.qpx - Tessera"));
    QCOMPARE(TreeChildren(app, QStringLiteral("C:\\Data")), QStringList{QStringLiteral("Old")});
  }

  void failedLoadAfterASuccessfulOneClearsThePanes() {
    AppHarness h;
    const auto good = h.WriteSampleSet("good");
    auto setPlan = testsupport::SampleBackupSet();
    setPlan.missingArchives = {2};
    const auto broken = h.WriteSet(setPlan, "broken");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(good.archives[0])});
    QVERIFY(app.IsOpened());
    QVERIFY(!ListNames(app).isEmpty());

    watcher.Clear();
    watcher.SetAnswer(QMessageBox::No);
    app.OpenBackupFile(Q(broken.archives[0]));
    // A generation archive that cannot be read is told, not passed over in
    // silence: which one and why, first with the offer to show the
    // generations before it, then, declined, as the load's error.
    const QString named = Q(broken.archives[2]) + QStringLiteral("：開けません: ");
    QCOMPARE(watcher.Texts().size(), 2);
    QVERIFY(watcher.Texts()[0].startsWith(Txt(133) + u'\n' + named));
    QVERIFY(watcher.Texts()[0].endsWith(Txt(248).replace(QStringLiteral("%s"), QStringLiteral("3"))));
    QVERIFY(watcher.Texts()[1].startsWith(Txt(133) + u'\n' + named));
    QVERIFY(!app.IsOpened());
    QCOMPARE(TreeChildren(app), QStringList());
    QCOMPARE(ListNames(app), QStringList());
    QCOMPARE(ComboItems(app), QStringList());
    QCOMPARE(app.MainFrame()->GenerationBar()->RangeLabel()->text(), QString());
    QCOMPARE(app.MainFrame()->windowTitle(), QStringLiteral("Tessera"));

    // And the next good open works as the first did.
    app.OpenBackupFile(Q(good.archives[0]));
    QVERIFY(app.IsOpened());
    QCOMPARE(app.GenerationCount(), 4L);

    // Accepted, the generations before the missing archive are shown.
    watcher.Clear();
    watcher.SetAnswer(QMessageBox::Yes);
    app.OpenBackupFile(Q(broken.archives[0]));
    QCOMPARE(watcher.Texts().size(), 1);
    QVERIFY(app.IsOpened());
    QCOMPARE(app.GenerationCount(), 2L);
    QVERIFY(!TreeChildren(app).isEmpty());
  }
};

QTEST_MAIN(OpenFlowTest)
#include "open_flow_test.moc"
