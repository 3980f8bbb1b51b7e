// Dragging entries out of the desktop program: the time from the drop (the
// target's first request for the data after the button was let go) until
// the file list is handed over, which includes restoring the dragged files
// into the temporary restore folder behind the automatic restore dialog.
// The program runs on Qt's offscreen platform; under X11 the list then
// travels to the target in a few milliseconds more (the drag test under
// Xvfb prints that figure).
//
//   BM_DragDelivery/imploded:M   100 files of 100 KiB each (text-like data),
//                                stored (M = 0) or imploded (M = 1)
//
// The set lives in a folder made under $TMPDIR and removed at the end; the
// restored files are removed between runs, outside the timed part.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_data_object.h"
#include "app/qpx_manager_app.h"
#include "app/qpx_manager_view.h"
#include "bench_util.h"
#include "support/backup_set_writer.h"
#include "support/sample_data.h"

namespace {

constexpr size_t kFiles = 100;
constexpr size_t kFileBytes = 100 * 1024;

struct Loaded {
  QTemporaryDir dir;
  std::unique_ptr<app::CQPXManagerApp> app;

  explicit Loaded(bool imploded) {
    testsupport::BackupSetSpec set;
    set.generations.resize(1);
    set.generations[0].folders = {{u"C:\\Data"}};
    for (size_t i = 0; i < kFiles; ++i)
      set.generations[0].files.push_back({u"C:\\Data\\f" + benchutil::Num(i) + u".txt", testsupport::SampleText(kFileBytes, i),
                                          imploded ? testsupport::Method::Imploded : testsupport::Method::Stored});
    const auto files = testsupport::WriteBackupSet(set, dir.path().toStdString() + "/set");
    app = std::make_unique<app::CQPXManagerApp>(
        app::AppOptions{.configFile = dir.filePath(QStringLiteral("Tessera.ini")), .lockFile = dir.filePath(QStringLiteral("Tessera.lock"))});
    if (!app->InitInstance({QString::fromStdString(files.archives[0].string())})) throw std::runtime_error("start-up failed");
    app->Config().SetTempFolder(dir.filePath(QStringLiteral("tmp")));
    app->MainFrame()->TreePane()->SelectFolder(QStringLiteral("C:\\Data"));
    app->MainFrame()->ListPane()->SelectAll();
  }
  ~Loaded() { app->ExitInstance(); }
};

void BM_DragDelivery(benchmark::State& state) {
  Loaded loaded(state.range(0) != 0);
  app::CQPXManagerView* list = loaded.app->MainFrame()->ListPane();
  const QString restored = list->RestoreFolder();
  for (auto _ : state) {
    QDir(restored).removeRecursively();
    std::unique_ptr<app::CQPXDataObject> data(list->MakeDragData());
    data->Dropped();
    const auto start = std::chrono::steady_clock::now();
    const QList<QUrl> urls = data->urls();
    state.SetIterationTime(benchutil::Seconds(start));
    if (urls.size() != static_cast<qsizetype>(kFiles) || QDir(restored).entryList(QDir::Files).size() != static_cast<qsizetype>(kFiles)) {
      state.SkipWithError("the target did not get every file");
      break;
    }
  }
  state.counters["files"] = kFiles;
  state.counters["MiB"] = static_cast<double>(kFiles * kFileBytes) / (1 << 20);
}
BENCHMARK(BM_DragDelivery)->ArgName("imploded")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
