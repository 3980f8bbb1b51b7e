// The property dialogs, reached the way a user reaches them: the panes'
// properties command on a loaded set. What each dialog shows for a file, a
// file whose entry is missing from its generation's archive, a folder and a
// selection, the number and time formats, and pictures of the three dialogs.
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPushButton>
#include <QtTest>
#include <ctime>

#include "app/app_texts.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/property_dialog.h"
#include "app/qpx_manager_view.h"
#include "app_fixture.h"
#include "generations/backup_set.h"

using apptest::AppHarness;
using apptest::ModalWatcher;
using apptest::Q;

namespace {

constexpr uint64_t kSecond = 10000000ull;
constexpr uint64_t kT0 = 132000000000000000ull;  // 2019-04-17 18:40:00 UTC

std::vector<uint8_t> Filled(size_t size, const char* text) {
  std::vector<uint8_t> bytes(size);
  const size_t length = std::strlen(text);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(text[i % length]);
  return bytes;
}

// C:\Data with three files (one imploded, one without an extension) and two
// folders (Sub with two files and Deep with one; Empty). The second
// generation stores report.txt again, but its archive lacks the entry.
testsupport::BackupSetSpec PropertiesSet() {
  testsupport::BackupSetSpec set;
  set.generations.resize(2);
  auto& g = set.generations[0];
  g.folders = {{u"C:\\Data"},
               {u"C:\\Data\\Sub", 0x12, kT0 + 3661 * kSecond, kT0, kT0},
               {u"C:\\Data\\Sub\\Deep"},
               {u"C:\\Data\\Empty"}};
  g.files = {{u"C:\\Data\\report.txt", Filled(1234, "report "), testsupport::Method::Stored, 0x23, kT0,
              kT0 + 86400 * kSecond, kT0 + 3661 * kSecond},
             {u"C:\\Data\\notes.log", Filled(5000, "log line\n"), testsupport::Method::Imploded, 0x820},
             {u"C:\\Data\\README", Filled(999, "r")},
             {u"C:\\Data\\Sub\\s1.txt", Filled(200, "s")},
             {u"C:\\Data\\Sub\\s2.txt", Filled(300, "s")},
             {u"C:\\Data\\Sub\\Deep\\d.txt", Filled(50, "d")}};
  set.generations[1] = g;
  set.generations[1].files[0].storeAgain = true;
  set.gaps = {{1, u"C:\\Data\\report.txt"}};
  return set;
}

uint64_t ImplodedSize(size_t size, const char* text) {
  return testsupport::PreparePayload(Filled(size, text), testsupport::Method::Imploded)->bytes.size();
}

// What a property dialog showed, read while it was open.
struct Shown {
  QString objectName, title, name;
  QMap<QString, QString> fields;
  QList<bool> boxes;  // checked
  bool boxesEnabled = false;
  bool hasIcon = false;
};

Shown Read(app::PropertyDialogBase& dialog) {
  Shown shown;
  shown.objectName = dialog.objectName();
  shown.title = dialog.windowTitle();
  shown.name = dialog.NameField()->text();
  for (QLineEdit* field : dialog.findChildren<QLineEdit*>())
    if (field != dialog.NameField()) shown.fields[field->accessibleName()] = field->text();
  for (QCheckBox* box : dialog.AttributeBoxes()) {
    shown.boxes << box->isChecked();
    shown.boxesEnabled |= box->isEnabled();
  }
  shown.hasIcon = !dialog.Icon()->pixmap().isNull();
  return shown;
}

// Runs `command` and reads the property dialog it opens; empty objectName when none opened.
Shown Open(ModalWatcher& watcher, const std::function<void()>& command, const char* screenshot = nullptr) {
  Shown shown;
  watcher.SetOtherHandler([&](QWidget* modal) {
    auto* dialog = qobject_cast<app::PropertyDialogBase*>(modal);
    if (dialog == nullptr) return;
    shown = Read(*dialog);
    if (screenshot != nullptr) {
      const QImage image = dialog->grab().toImage();
      image.save(QStringLiteral(TESSERA_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(screenshot)));
      // The separator lines are drawn in grey across the dialog.
      for (int y : dialog->Lines()) QCOMPARE(image.pixelColor(dialog->LineEnd() / 2, y), QColor(128, 128, 128));
    }
    dialog->CloseButton()->click();
  });
  command();
  watcher.SetOtherHandler(nullptr);
  return shown;
}

QString FullPath(const char16_t* path) { return QString::fromUtf16(path); }

void SelectInList(app::CQPXManagerApp& app, const QStringList& names) {
  app::CQPXManagerView* list = app.MainFrame()->ListPane();
  list->clearSelection();
  for (int row = 0; row < list->Model().rowCount(); ++row)
    if (names.contains(list->Model().EntryAt(row)->Name()))
      list->selectionModel()->select(list->Model().index(row), QItemSelectionModel::Select);
}

// Files marked for a restore below C:\Data.
int MarkedFiles(app::CQPXManagerApp& app) {
  const auto* data = app.Set()->Tree().Find(u"C:\\Data");
  return data != nullptr && data->IsFolder()
             ? static_cast<const IncrementalBackup::CFolder*>(data)->GetData().GetCheckedFileCount()
             : -1;
}

QAction* PropertiesAction(QWidget* pane) {
  for (QAction* action : pane->actions())
    if (action->text() == QStringLiteral("プロパティ(&P)")) return action;
  return nullptr;
}

}  // namespace

class PropertiesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Times are shown in local time: nine hours ahead of the stored UTC here.
    qputenv("TZ", "JST-9");
    tzset();
  }

  void numbersAndTimesAreFormattedAsTheDialogsShowThem() {
    QCOMPARE(app::SizeText(0), QStringLiteral("0 バイト"));
    QCOMPARE(app::SizeText(999), QStringLiteral("999 バイト"));
    QCOMPARE(app::SizeText(1000), QStringLiteral("1,000 バイト"));
    QCOMPARE(app::SizeText(1234567), QStringLiteral("1,234,567 バイト"));
    QCOMPARE(app::SizeText(UINT64_MAX), QStringLiteral("18,446,744,073,709,551,615 バイト"));

    QCOMPARE(app::TimeText(kT0 + 3661 * kSecond), QStringLiteral("2019年04月18日、04:41:01"));
    QCOMPARE(app::TimeText(0), QStringLiteral("1601年01月01日、09:00:00"));
    // Beyond what a calendar date can be made of: the field stays empty.
    QCOMPARE(app::TimeText(UINT64_MAX), QString());
    QCOMPARE(app::TimeText(0x8000000000000000ull), QString());

    QCOMPARE(app::CountsText(3, 2), QStringLiteral("ファイル数: 3、フォルダ数: 2"));
    QCOMPARE(app::FormatNumbers(QStringLiteral("%I64u|%5d|%%|%d"), {42, 7}), QStringLiteral("42|    7|%|%d"));
  }

  void fileShowsItsEntryRecord() {
    AppHarness h;
    const auto files = h.WriteSet(PropertiesSet(), "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});

    const Shown report = Open(watcher, [&] { app.ShowProperties({FullPath(u"C:\\Data\\report.txt")}); }, "properties-file");
    QCOMPARE(report.objectName, QStringLiteral("fileProperties"));
    QCOMPARE(report.title, QStringLiteral("report.txt のプロパティ"));
    QCOMPARE(report.name, QStringLiteral("report.txt"));
    const QString textType = QMimeDatabase().mimeTypeForFile(QStringLiteral("report.txt"), QMimeDatabase::MatchExtension).comment();
    QVERIFY(!textType.isEmpty());
    QCOMPARE(report.fields["種類"], textType + QStringLiteral(" (.txt)"));
    QCOMPARE(report.fields["バックアップ時の場所"], QStringLiteral("C:\\Data\\report.txt"));
    QCOMPARE(report.fields["サイズ"], QStringLiteral("1,234 バイト"));
    QCOMPARE(report.fields["圧縮サイズ"], QStringLiteral("1,234 バイト"));
    QCOMPARE(report.fields["作成日時"], QStringLiteral("2019年04月18日、03:40:00"));
    QCOMPARE(report.fields["更新日時"], QStringLiteral("2019年04月18日、04:41:01"));
    QCOMPARE(report.fields["アクセス日時"], QStringLiteral("2019年04月19日、03:40:00"));
    QCOMPARE(report.boxes, (QList<bool>{true, true, false, false}));  // read only, hidden
    QVERIFY(!report.boxesEnabled);
    QVERIFY(report.hasIcon);

    const Shown notes = Open(watcher, [&] { app.ShowProperties({FullPath(u"C:\\Data\\notes.log")}); });
    QCOMPARE(notes.fields["サイズ"], QStringLiteral("5,000 バイト"));
    QCOMPARE(notes.fields["圧縮サイズ"], app::SizeText(ImplodedSize(5000, "log line\n")));
    QVERIFY(notes.fields["種類"].endsWith(QStringLiteral(" (.log)")));
    QCOMPARE(notes.boxes, (QList<bool>{false, false, true, false}));  // compressed

    // Without an extension the type name stands alone.
    const Shown readme = Open(watcher, [&] { app.ShowProperties({FullPath(u"C:\\Data\\README")}); });
    QCOMPARE(readme.fields["種類"],
             QMimeDatabase().mimeTypeForFile(QStringLiteral("README"), QMimeDatabase::MatchExtension).comment());
    QCOMPARE(readme.fields["サイズ"], QStringLiteral("999 バイト"));

    // A path the tree does not hold opens nothing.
    QCOMPARE(Open(watcher, [&] { app.ShowProperties({FullPath(u"C:\\Data\\none.txt")}); }).objectName, QString());
    QCOMPARE(Open(watcher, [&] { app.ShowProperties({}); }).objectName, QString());
    QVERIFY(watcher.Texts().isEmpty());
  }

  void fileMissingFromItsGenerationsArchiveShowsNoRecord() {
    AppHarness h;
    const auto files = h.WriteSet(PropertiesSet(), "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QVERIFY(app.SelectGeneration(1));
    const Shown report =
        Open(watcher, [&] { app.ShowProperties({FullPath(u"C:\\Data\\report.txt")}); }, "properties-file-missing-entry");
    QCOMPARE(report.objectName, QStringLiteral("fileProperties"));
    QCOMPARE(report.fields["バックアップ時の場所"], QStringLiteral("C:\\Data\\report.txt"));
    QCOMPARE(report.fields["サイズ"], QStringLiteral("0 バイト"));
    QCOMPARE(report.fields["圧縮サイズ"], QStringLiteral("0 バイト"));
    QCOMPARE(report.fields["作成日時"], QString());
    QCOMPARE(report.fields["更新日時"], QString());
    QCOMPARE(report.fields["アクセス日時"], QString());
    QCOMPARE(report.boxes, (QList<bool>{false, false, false, false}));
  }

  void folderShowsItsTotalsFromTheTreePane() {
    AppHarness h;
    const auto files = h.WriteSet(PropertiesSet(), "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    app::CLeftView* tree = app.MainFrame()->TreePane();
    QVERIFY(tree->SelectFolder(QStringLiteral("C:\\Data\\Sub")));
    QAction* properties = PropertiesAction(tree);
    QVERIFY(properties != nullptr && properties->isEnabled());

    const Shown sub = Open(watcher, [&] { properties->trigger(); }, "properties-folder");
    QCOMPARE(sub.objectName, QStringLiteral("folderProperties"));
    QCOMPARE(sub.title, QStringLiteral("Sub のプロパティ"));
    QCOMPARE(sub.name, QStringLiteral("Sub"));
    QCOMPARE(sub.fields["種類"], QStringLiteral("ファイル フォルダ"));
    QCOMPARE(sub.fields["バックアップ時の場所"], QStringLiteral("C:\\Data\\Sub"));
    // The totals count everything below the folder, though nothing is marked for a restore.
    QCOMPARE(sub.fields["サイズ"], QStringLiteral("550 バイト"));
    QCOMPARE(sub.fields["圧縮サイズ"], QStringLiteral("550 バイト"));
    QCOMPARE(sub.fields["内容"], QStringLiteral("ファイル数: 3、フォルダ数: 1"));
    QCOMPARE(sub.fields["作成日時"], QStringLiteral("2019年04月18日、04:41:01"));
    QCOMPARE(sub.boxes, (QList<bool>{false, true, false, false}));
    QVERIFY(!sub.boxesEnabled);
    // Nothing was marked to count.
    QCOMPARE(MarkedFiles(app), 0);
    // Nor is a mark the user made taken away by reading the totals.
    app.MutableSet()->Creator().SetChecked(u"C:\\Data\\Sub", true);
    const Shown marked = Open(watcher, [&] { app.ShowProperties({FullPath(u"C:\\Data\\Sub")}); });
    QCOMPARE(marked.fields["内容"], QStringLiteral("ファイル数: 3、フォルダ数: 1"));
    QCOMPARE(MarkedFiles(app), 3);
    app.MutableSet()->Creator().SetChecked(u"C:\\Data\\Sub", false);

    // A drive item counts the whole drive.
    const Shown drive = Open(watcher, [&] { app.ShowProperties({FullPath(u"C:")}); });
    QCOMPARE(drive.title, QStringLiteral("C: のプロパティ"));
    QCOMPARE(drive.fields["内容"], QStringLiteral("ファイル数: 6、フォルダ数: 4"));
    QCOMPARE(drive.fields["サイズ"], QStringLiteral("7,783 バイト"));
    QCOMPARE(drive.fields["作成日時"], QString());

    const Shown empty = Open(watcher, [&] { app.ShowProperties({FullPath(u"C:\\Data\\Empty")}); });
    QCOMPARE(empty.fields["内容"], QStringLiteral("ファイル数: 0、フォルダ数: 0"));
    QCOMPARE(empty.fields["サイズ"], QStringLiteral("0 バイト"));
  }

  void selectionOfThreeFilesAndTwoFoldersAddsUpFromTheListPane() {
    AppHarness h;
    const auto files = h.WriteSet(PropertiesSet(), "set");
    ModalWatcher watcher;
    app::CQPXManagerApp& app = h.Start({Q(files.archives[0])});
    QVERIFY(app.MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data")));
    app::CQPXManagerView* list = app.MainFrame()->ListPane();
    SelectInList(app, {"report.txt", "notes.log", "README", "Sub", "Empty"});
    QAction* properties = PropertiesAction(list);
    QVERIFY(properties != nullptr);

    const Shown all = Open(watcher, [&] { properties->trigger(); }, "properties-selection");
    QCOMPARE(all.objectName, QStringLiteral("selectionProperties"));
    QCOMPARE(all.title, QStringLiteral("ファイル・フォルダのプロパティ"));
    // Three files and the three below Sub; the two folders and Deep below Sub.
    QCOMPARE(all.name, QStringLiteral("ファイル数: 6、フォルダ数: 3"));
    QCOMPARE(all.fields["種類"], QStringLiteral("複数の種類"));
    QCOMPARE(all.fields["バックアップ時の場所"], QStringLiteral("すべて C:\\Data"));
    QCOMPARE(all.fields["サイズ"], QStringLiteral("7,783 バイト"));
    QCOMPARE(all.fields["圧縮サイズ"], app::SizeText(1234 + ImplodedSize(5000, "log line\n") + 999 + 550));
    QVERIFY(all.boxes.isEmpty());
    QCOMPARE(MarkedFiles(app), 0);

    // Two empty-handed folders and three files: the counts alone.
    SelectInList(app, {"report.txt", "notes.log", "README", "Empty"});
    const Shown fewer = Open(watcher, [&] { properties->trigger(); });
    QCOMPARE(fewer.name, QStringLiteral("ファイル数: 3、フォルダ数: 1"));
    QCOMPARE(fewer.fields["サイズ"], QStringLiteral("7,233 バイト"));

    // Alt+Enter in the list is the same command; one file selected shows the file's dialog.
    SelectInList(app, {"README"});
    app.MainFrame()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(app.MainFrame()));
    list->setFocus();
    const Shown key = Open(watcher, [&] { QTest::keyClick(list, Qt::Key_Return, Qt::AltModifier); });
    QCOMPARE(key.objectName, QStringLiteral("fileProperties"));
    QCOMPARE(key.name, QStringLiteral("README"));
  }
};

QTEST_MAIN(PropertiesTest)
#include "properties_test.moc"
