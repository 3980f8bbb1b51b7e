// Restoring from the desktop program beside tessera-cli extract: the same
// selection (a folder of 128 imploded entries of 8 MiB text, 1 GiB of
// output) restored by the restore dialog's run (worker thread, progress
// callback, event callback, the window repainting as the percent grows) and
// by `tessera-cli extract` as a child process, onto the same file system.
//
// Both sides run in every iteration, in alternating order, and the fastest
// run of each is reported, since on a shared machine other work only adds
// time. The dialog's time runs from the press of "復元を開始" to the end of
// the run, the result log included (closed by the benchmark as it opens).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/qpx_manager_app.h"
#include "app/restore_progress_dlg.h"
#include "app/restore_selection.h"
#include "app/show_log_dlg.h"
#include "bench_util.h"
#include "host/host_path.h"
#include "support/archive_writer.h"
#include "support/management_writer.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

using benchutil::Num;
using benchutil::TextBlock;

fs::path BenchDir() {
  static fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / "tessera-app-bench";
    fs::create_directories(d);
    return d;
  }();
  return dir;
}


constexpr size_t kBlock = 8 * 1024 * 1024;
constexpr size_t kEntries = 128;

// The archive with its management file, so that both sides load it as a set.
const fs::path& OneGibSet() {
  static fs::path path;
  if (!path.empty()) return path;
  path = BenchDir() / "gib.qpx";
  const uint64_t created = 132000000000000000ull;
  if (!fs::exists(path) || !fs::exists(BenchDir() / "gib.qpm")) {
    auto payload = PreparePayload(TextBlock(kBlock), Method::Imploded, LiteralMode::Binary, 4096);
    ArchiveSpec plan;
    plan.creationTime = created;
    plan.folders.push_back({u"C:\\Data"});
    ManagementSpec management;
    management.archives.push_back({0, host::ToEnginePath(path.string()), 0, created});
    management.folders1.push_back({u"C:\\Data", {{0, 1}}, {}});
    for (size_t i = 0; i < kEntries; ++i) {
      EntrySpec e;
      e.folder = u"C:\\Data";
      e.name = u"part" + Num(i) + u".txt";
      e.payload = payload;
      plan.entries.push_back(std::move(e));
      management.files1.push_back({u"C:\\Data\\part" + Num(i) + u".txt", {{0, 1}}, {}});
    }
    WriteArchive(plan, path);
    WriteManagement(management, BenchDir() / "gib.qpm");
  }
  return path;
}

double RunCliExtract(const fs::path& archive, const fs::path& destination, int& status) {
  std::string cli = TESSERA_CLI;
  std::vector<std::string> args = {cli, "extract", "--quiet", archive.string(), destination.string(), "C:\\Data"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    FILE* devnull = std::fopen("/dev/null", "w");
    dup2(fileno(devnull), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return benchutil::Seconds(start);
}

// Counts the repaints of the dialog's progress bar.
class PaintCounter : public QObject {
 public:
  long paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

struct DialogRun {
  double seconds = 0;
  long paints = 0;
  bool succeeded = false;
};

DialogRun RunDialog(app::CQPXManagerApp& app, const fs::path& destination) {
  DialogRun result;
  fs::create_directories(destination);
  QElapsedTimer clock;
  {
    app::CRestoreProgressDlg dialog(app, app::SelectEntries(app, QStringLiteral("C:"), {QStringLiteral("Data")}));
    dialog.SetTargetFolder(QString::fromStdString(destination.string()));
    dialog.OpenAfterBox()->setChecked(false);
    PaintCounter counter;
    dialog.ProgressBar()->installEventFilter(&counter);
    // The result log and any box are closed as soon as they show.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* log = qobject_cast<app::CShowLogDlg*>(modal)) log->accept();
      else if (auto* box = qobject_cast<QMessageBox*>(modal)) box->accept();
    });
    closer.start(1);
    bool ended = false;
    QTimer::singleShot(0, &dialog, [&] {
      clock.start();
      dialog.StartButton()->click();
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (!ended && clock.isValid() && !dialog.IsRunning()) {
        ended = true;
        result.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        result.succeeded = dialog.Succeeded();
        dialog.done(QDialog::Accepted);
      }
    });
    watch.start(1);
    dialog.exec();
    result.paints = counter.paints;
  }
  return result;
}

// Loaded once, released before the QApplication ends.
std::unique_ptr<app::CQPXManagerApp> loaded;

void BM_RestoreDialogVsCliExtract(benchmark::State& state) {
  const fs::path& archive = OneGibSet();
  if (!loaded) {
    loaded = std::make_unique<app::CQPXManagerApp>(
        app::AppOptions{.configFile = QString::fromStdString((BenchDir() / "Tessera.ini").string()),
                        .lockFile = QString::fromStdString((BenchDir() / "Tessera.lock").string())});
    if (!loaded->InitInstance({QString::fromStdString(archive.string())}) || !loaded->IsOpened()) {
      state.SkipWithError("the set did not load");
      return;
    }
  }
  const fs::path cliOut = BenchDir() / "out-cli";
  const fs::path appOut = BenchDir() / "out-app";
  double bestCli = 1e9, bestDialog = 1e9;
  long paints = 0;
  bool first = true;
  for (auto _ : state) {
    // Outside the timed parts.
    fs::remove_all(cliOut);
    fs::remove_all(appOut);
    int status = 0;
    DialogRun dialogRun;
    double cli = 0;
    if (first) {
      cli = RunCliExtract(archive, cliOut, status);
      dialogRun = RunDialog(*loaded, appOut);
    } else {
      dialogRun = RunDialog(*loaded, appOut);
      cli = RunCliExtract(archive, cliOut, status);
    }
    first = !first;
    if (status != 0 || !dialogRun.succeeded) {
      state.SkipWithError("a restore failed");
      return;
    }
    bestCli = std::min(bestCli, cli);
    bestDialog = std::min(bestDialog, dialogRun.seconds);
    paints = dialogRun.paints;
    state.SetIterationTime(cli + dialogRun.seconds);
  }
  fs::remove_all(cliOut);
  fs::remove_all(appOut);
  const double bytes = static_cast<double>(kBlock) * kEntries;
  state.counters["cli_s"] = bestCli;
  state.counters["dialog_s"] = bestDialog;
  state.counters["dialog_vs_cli"] = bestDialog / bestCli;
  state.counters["cli_MBps"] = bytes / bestCli / 1e6;
  state.counters["dialog_MBps"] = bytes / bestDialog / 1e6;
  state.counters["bar_repaints"] = static_cast<double>(paints);
}
BENCHMARK(BM_RestoreDialogVsCliExtract)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Windows are drawn, but nowhere on screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (loaded) loaded->ExitInstance();
  loaded.reset();
  std::error_code ec;
  if (std::getenv("TESSERA_BENCH_KEEP") == nullptr) fs::remove_all(BenchDir(), ec);
  return 0;
}
