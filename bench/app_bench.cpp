// The desktop program on large backups, on Qt's offscreen platform: the
// real main window, its panes and the task-progress dialog, driven as File >
// Open and the generation bar drive them.
//
// BM_OpenSet: opening a set of 200,000 files in 10,000 folders (two
//   generations) until both panes are filled and painted. While it loads, the
//   task-progress dialog's repaints are timed: max_gap_ms is the longest time
//   between two of them (from the dialog's showing to its closing), the
//   longest the user would look at a frozen window.
// BM_OpenPlainArchive: a plain archive of 200,000 entries with no management
//   file beside it (its notice is silenced), the same way.
// BM_SwitchGeneration: the set's generation switched 1 -> 2 -> 1, each switch
//   until the panes are painted again; generation 2 drops a tenth of the
//   folders (with their files) and changes a tenth of the other files.
// BM_ShowFolder/mode: a folder of 20,000 files shown in the list, in the
//   large icon (0), small icon (1), list (2) and details (3) views, until
//   painted.
// BM_SortDetails: the same folder in the details view sorted by each of its
//   columns in turn (name, size, modified, type, state), until painted.
// BM_OpenLarge/layout/files: sets of 400,000 and 1,000,000 files in five
//   generations opened until painted, beside `tessera-cli generations` on the
//   same set (a child process); ratio is the program's wall time over the
//   command's, cpu_ratio the same for processor time, over_load_x the
//   program's processor time over that of the engine's load of the set
//   alone (load_cpu_s, in this process), and growth_x the 1,000,000-file
//   time over the 400,000-file one of the same layout. Layout 0 (wide): one folder holds all the
//   folders, 50 files each, thousands of siblings; layout 1 (deep): three
//   levels of folders, no folder holding more than 100 entries. In each
//   later generation about a tenth of the files is stored again or removed
//   and one folder in 40 is gone for that generation.
//
// The sets are written once with the test-support writer into
// $TMPDIR/tessera-appbench (default /tmp; about 60 MB, and some 600 MB more
// for BM_OpenLarge, which takes minutes to write) and removed after the
// run unless TESSERA_APPBENCH_KEEP is set. Each figure is the fastest of its
// runs; load1 is the machine's one-minute load average when it was taken.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_texts.h"
#include "app/generation_input_bar.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_app.h"
#include "app/qpx_manager_view.h"
#include "app/task_progress.h"
#include "bench_util.h"
#include "generations/backup_set.h"
#include "support/backup_set_writer.h"

namespace fs = std::filesystem;
using benchutil::Num;
using namespace testsupport;

namespace {

constexpr size_t kSetFiles = 200000;
constexpr size_t kGroups = 100;
constexpr size_t kSubfoldersPerGroup = 99;  // with its group folder, 100 folders a group: 10,000
constexpr size_t kFolders = kGroups * (kSubfoldersPerGroup + 1);
constexpr size_t kWideFiles = 20000;
constexpr int kRuns = 3;

fs::path DataDir() {
  const char* tmp = std::getenv("TMPDIR");
  return fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / "tessera-appbench";
}

double Load1() {
  std::ifstream in("/proc/loadavg");
  double load = 0;
  in >> load;
  return load;
}

std::u16string FolderPath(size_t k) {
  const size_t group = k / (kSubfoldersPerGroup + 1);
  const size_t within = k % (kSubfoldersPerGroup + 1);
  const std::u16string top = u"C:\\Data\\g" + Num(group);
  return within == 0 ? top : top + u"\\f" + Num(k);
}

// Generation 2 drops every tenth subfolder with its files, removes a
// twentieth of the remaining files and stores another twentieth again.
BackupSetSpec BigSet() {
  BackupSetSpec set;
  set.generations.resize(2);
  const char16_t* extensions[] = {u".txt", u".doc", u".jpg", u".dat", u".xls", u".pdf"};
  for (unsigned g = 0; g < 2; ++g) {
    SetGeneration& gen = set.generations[g];
    gen.folders.push_back({u"C:\\Data"});
    for (size_t k = 0; k < kFolders; ++k) {
      const bool dropped = g == 1 && k % (kSubfoldersPerGroup + 1) != 0 && k % 10 == 5;
      if (!dropped) gen.folders.push_back({FolderPath(k)});
    }
    for (size_t i = 0; i < kSetFiles; ++i) {
      const size_t k = i / (kSetFiles / kFolders);
      const bool dropped = g == 1 && k % (kSubfoldersPerGroup + 1) != 0 && k % 10 == 5;
      if (dropped || (g == 1 && i % 20 == 3)) continue;
      SetFile f;
      f.path = FolderPath(k) + u"\\file" + Num(i) + extensions[i % 6];
      f.storeAgain = g == 1 && i % 20 == 7;
      gen.files.push_back(std::move(f));
    }
  }
  return set;
}

BackupSetSpec PlainSet() {
  BackupSetSpec set = BigSet();
  set.name = "plain";
  set.generations.resize(1);
  set.writeManagement = false;
  return set;
}

BackupSetSpec WideSet() {
  BackupSetSpec set;
  set.name = "wide";
  set.generations.resize(1);
  set.generations[0].folders = {{u"C:\\Wide"}};
  const char16_t* extensions[] = {u".txt", u".doc", u".jpg", u".dat", u".xls", u".pdf", u".png", u".zip"};
  for (size_t i = 0; i < kWideFiles; ++i)
    set.generations[0].files.push_back({u"C:\\Wide\\photo_" + Num(100000 + i) + extensions[i % 8], {}});
  return set;
}

constexpr size_t kFilesPerLeaf = 50;
constexpr unsigned kLargeGenerations = 5;

// Wide: every folder below C:\Data. Deep: C:\Data\aI\bJ\cK, 20 of each
// below the one above (and at most 50 of the first level at 1,000,000 files).
std::u16string LargeFolder(bool wide, size_t k) {
  if (wide) return u"C:\\Data\\d" + Num(k);
  return u"C:\\Data\\a" + Num(k / 400) + u"\\b" + Num(k / 20 % 20) + u"\\c" + Num(k % 20);
}

BackupSetSpec LargeSet(bool wide, size_t files) {
  BackupSetSpec set;
  set.generations.resize(kLargeGenerations);
  const size_t folders = files / kFilesPerLeaf;
  std::vector<bool> present(files, true);
  for (unsigned g = 0; g < kLargeGenerations; ++g) {
    SetGeneration& gen = set.generations[g];
    auto gone = [g](size_t k) { return g > 0 && k % 40 == g * 7; };
    gen.folders.push_back({u"C:\\Data"});
    for (size_t k = 0; k < folders; ++k) {
      if (!wide && k % 400 == 0) gen.folders.push_back({u"C:\\Data\\a" + Num(k / 400)});
      if (!wide && k % 20 == 0) gen.folders.push_back({u"C:\\Data\\a" + Num(k / 400) + u"\\b" + Num(k / 20 % 20)});
      if (!gone(k)) gen.folders.push_back({LargeFolder(wide, k)});
    }
    for (size_t i = 0; i < files; ++i) {
      bool again = false;
      if (g > 0) {
        const uint64_t h = ((i + 1) * 0x9E3779B97F4A7C15ull ^ (g * 0xC2B2AE3D27D4EB4Full)) >> 57;  // 0 .. 127
        if (h < 13) {
          again = present[i];
          present[i] = !present[i] || h < 6;
        }
      }
      if (!present[i] || gone(i / kFilesPerLeaf)) continue;
      SetFile f;
      f.path = LargeFolder(wide, i / kFilesPerLeaf) + u"\\file" + Num(i) + u".dat";
      f.storeAgain = again;
      gen.files.push_back(std::move(f));
    }
  }
  set.name = wide ? "wide" : "deep";
  return set;
}

// The set `make` gives, written into `folder` unless an earlier run did.
template <class Make>
fs::path WrittenOnce(const std::string& folder, const std::string& name, Make make) {
  const fs::path dir = DataDir() / folder;
  if (!fs::exists(dir / (name + ".done"))) {
    fs::remove_all(dir);
    std::fprintf(stderr, "writing %s ...\n", folder.c_str());
    WriteBackupSet(make(), dir);
    std::ofstream(dir / (name + ".done")) << "written\n";
  }
  BackupSetSpec named;
  named.name = name;
  return dir / GenerationFileName(named, 0);
}

fs::path Written(const BackupSetSpec& set, const std::string& folder) {
  return WrittenOnce(folder, set.name, [&set]() -> const BackupSetSpec& { return set; });
}

// Times the repaints of the task-progress dialog's bar while a load runs.
class RepaintClock : public QObject {
 public:
  void Start() {
    times_.clear();
    marks_.clear();
    clock_.start();
  }
  // The longest stretch without a repaint while the dialog was up.
  double MaxGapMs() const {
    double gap = 0;
    for (size_t i = 1; i < times_.size(); ++i) gap = std::max(gap, times_[i] - times_[i - 1]);
    return gap;
  }
  size_t Repaints() const { return times_.size(); }
  // Marks a moment of interest (printed with the repaints under TESSERA_APPBENCH_TRACE).
  void Mark(const char* what) { marks_.push_back({static_cast<double>(clock_.nsecsElapsed()) / 1e6, what}); }
  void Print() const {
    if (std::getenv("TESSERA_APPBENCH_TRACE") == nullptr) return;
    for (double t : times_) std::fprintf(stderr, "  repaint %8.1f ms\n", t);
    for (const auto& [t, what] : marks_) std::fprintf(stderr, "  %-7s %8.1f ms\n", what, t);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Timer && std::getenv("TESSERA_APPBENCH_TRACE") != nullptr) {
      auto* timer = qobject_cast<QTimer*>(watched);
      if (timer != nullptr && timer->interval() == app::CShowTaskProgressDlg::kUpdateIntervalMs) Mark("tick");
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && qobject_cast<app::CShowTaskProgressDlg*>(widget->window()) != nullptr) {
      const bool bar = qobject_cast<QProgressBar*>(widget) != nullptr;
      if ((bar && event->type() == QEvent::Paint) || (widget->isWindow() && (event->type() == QEvent::Show ||
                                                                             event->type() == QEvent::Hide)))
        times_.push_back(static_cast<double>(clock_.nsecsElapsed()) / 1e6);
    }
    return false;
  }

 private:
  QElapsedTimer clock_;
  std::vector<double> times_;
  std::vector<std::pair<double, const char*>> marks_;
};

// One application in a folder of its own, for the whole run.
struct Program {
  Program() {
    app = std::make_unique<app::CQPXManagerApp>(app::AppOptions{.configFile = dir.filePath(QStringLiteral("Tessera.ini")),
                                                                .lockFile = dir.filePath(QStringLiteral("Tessera.lock"))});
    app->InitInstance({});
    app->MainFrame()->resize(1000, 700);
    qApp->installEventFilter(&clock);
    const app::FolderTreeModel& tree = Frame().TreePane()->Model();
    QObject::connect(&tree, &QAbstractItemModel::modelAboutToBeReset, &clock, [this] { clock.Mark("fill"); });
    QObject::connect(&tree, &QAbstractItemModel::modelReset, &clock, [this] { clock.Mark("filled"); });
  }
  ~Program() {
    qApp->removeEventFilter(&clock);
    app->ExitInstance();
  }
  app::CMainFrame& Frame() { return *app->MainFrame(); }
  // Lets queued work run and paints the window as it stands.
  void Paint() {
    QApplication::processEvents();
    Frame().repaint();
  }

  QTemporaryDir dir;
  RepaintClock clock;  // outlives the application, whose end it may still hear
  std::unique_ptr<app::CQPXManagerApp> app;
};

// Made on first use, ended by main() while the application object lives.
std::unique_ptr<Program> program;

Program& TheProgram() {
  if (!program) program = std::make_unique<Program>();
  return *program;
}

// Processor time (user and system) of this process, or of its ended children.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The fastest of the runs, in seconds; open_cpu_s is the least processor
// time of a run, every thread of the program counted.
double Open(benchmark::State& state, const fs::path& archive, size_t expectedDrives, int runs = kRuns) {
  Program& p = TheProgram();
  double best = 1e30, gap = 0, cpu = 1e30;
  size_t repaints = 0;
  for (auto _ : state) {
    for (int run = 0; run < runs; ++run) {
      // Each run opens into an empty window, as a start with the file does.
      p.app->ReleaseLoadedState();
      p.Paint();
      p.clock.Start();
      const double cpuBefore = CpuSeconds(RUSAGE_SELF);
      QElapsedTimer timer;
      timer.start();
      p.app->OpenBackupFile(QString::fromStdString(archive.string()));
      p.Paint();
      const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
      cpu = std::min(cpu, CpuSeconds(RUSAGE_SELF) - cpuBefore);
      if (!p.app->IsOpened() || p.Frame().TreePane()->Model().rowCount() != static_cast<int>(expectedDrives)) {
        state.SkipWithError("the archive did not open");
        return 0;
      }
      p.clock.Print();
      if (seconds < best) {
        best = seconds;
        gap = p.clock.MaxGapMs();
        repaints = p.clock.Repaints();
      }
    }
    state.SetIterationTime(best);
  }
  state.counters["open_s"] = best;
  state.counters["open_cpu_s"] = cpu;
  state.counters["max_gap_ms"] = gap;
  state.counters["repaints"] = static_cast<double>(repaints);
  state.counters["list_entries"] = static_cast<double>(p.Frame().ListPane()->Model().rowCount());
  state.counters["load1"] = Load1();
  return best;
}

void BM_OpenSet(benchmark::State& state) { Open(state, Written(BigSet(), "set"), 1); }
BENCHMARK(BM_OpenSet)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_OpenPlainArchive(benchmark::State& state) {
  // The notice that the management file is missing would wait for a click.
  app::SetQuietMode(true);
  Open(state, Written(PlainSet(), "plain"), 1);
  app::SetQuietMode(false);
}
BENCHMARK(BM_OpenPlainArchive)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// `tessera-cli generations` on the set: the least wall and processor time of
// the runs; none when it failed.
struct CliTimes {
  double wall = 1e30;
  double cpu = 1e30;
};
std::optional<CliTimes> CliGenerations(const fs::path& archive, int runs) {
  CliTimes best;
  for (int run = 0; run < runs; ++run) {
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    cli.start(QStringLiteral(TESSERA_CLI), {QStringLiteral("generations"), QString::fromStdString(archive.string())});
    if (!cli.waitForFinished(-1) || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) return std::nullopt;
    best.wall = std::min(best.wall, static_cast<double>(timer.nsecsElapsed()) / 1e9);
    best.cpu = std::min(best.cpu, CpuSeconds(RUSAGE_CHILDREN) - cpuBefore);
  }
  return best;
}

struct SilentUser : IncrementalBackup::IManagerUser {
  void Notice(int32_t) override {}
  bool AskYesNo(int32_t) override { return false; }
};

// The engine's load of the set alone in this process (what both front ends
// do before anything is shown): the least processor time of the runs.
double EngineLoadCpu(const fs::path& archive, int runs) {
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    IncrementalBackup::CBackupSet set(archive.string());
    SilentUser user;
    QPXFile::Problems problems;
    const double before = CpuSeconds(RUSAGE_SELF);
    if (!set.Load(user, problems)) return 0;
    best = std::min(best, CpuSeconds(RUSAGE_SELF) - before);
  }
  return best;
}

void BM_OpenLarge(benchmark::State& state) {
  const bool wide = state.range(0) == 0;
  const size_t files = static_cast<size_t>(state.range(1));
  const fs::path archive = WrittenOnce((wide ? "wide-" : "deep-") + std::to_string(files), wide ? "wide" : "deep",
                                       [&] { return LargeSet(wide, files); });
  const int runs = files >= 1000000 ? 2 : kRuns;
  const std::optional<CliTimes> cli = CliGenerations(archive, runs);
  if (!cli) {
    state.SkipWithError("tessera-cli generations failed");
    return;
  }
  const double open = Open(state, archive, 1, runs);
  TheProgram().app->ReleaseLoadedState();
  if (open <= 0) return;
  static std::map<std::pair<bool, size_t>, double> opened;
  opened[{wide, files}] = open;
  state.counters["cli_s"] = cli->wall;
  state.counters["ratio"] = open / cli->wall;
  // On a busy machine the wall times follow the load; the processor times do not.
  state.counters["cli_cpu_s"] = cli->cpu;
  state.counters["cpu_ratio"] = state.counters["open_cpu_s"] / cli->cpu;
  const double load = EngineLoadCpu(archive, runs);
  state.counters["load_cpu_s"] = load;
  if (load > 0) state.counters["over_load_x"] = state.counters["open_cpu_s"] / load;
  const auto smaller = opened.find({wide, files * 2 / 5});
  if (smaller != opened.end()) state.counters["growth_x"] = open / smaller->second;
}
BENCHMARK(BM_OpenLarge)
    ->Args({0, 400000})
    ->Args({0, 1000000})
    ->Args({1, 400000})
    ->Args({1, 1000000})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_SwitchGeneration(benchmark::State& state) {
  Program& p = TheProgram();
  const fs::path archive = Written(BigSet(), "set");
  p.app->OpenBackupFile(QString::fromStdString(archive.string()));
  if (p.app->GenerationCount() != 2) {
    state.SkipWithError("the set did not open");
    return;
  }
  app::CLeftView* tree = p.Frame().TreePane();
  if (std::getenv("TESSERA_APPBENCH_COLLAPSED") == nullptr) tree->expandAll();
  tree->SelectFolder(QStringLiteral("C:\\Data\\g3\\f305"));  // dropped in generation 2
  p.Paint();
  double best[2] = {1e30, 1e30};  // to generation 2, back to generation 1
  int items[2] = {0, 0};
  auto countItems = [tree] {
    const app::FolderTreeModel& model = tree->Model();
    int n = 0;
    std::vector<QModelIndex> todo{QModelIndex()};
    while (!todo.empty()) {
      const QModelIndex item = todo.back();
      todo.pop_back();
      const int rows = model.rowCount(item);
      n += rows;
      for (int row = 0; row < rows; ++row) todo.push_back(model.index(row, 0, item));
    }
    return n;
  };
  for (auto _ : state) {
    for (int run = 0; run < kRuns; ++run) {
      for (int g : {1, 0}) {
        QElapsedTimer timer;
        timer.start();
        p.app->SelectGeneration(g);
        p.Paint();
        best[g] = std::min(best[g], static_cast<double>(timer.nsecsElapsed()) / 1e9);
        items[g] = countItems();
      }
    }
    state.SetIterationTime(std::max(best[0], best[1]));
  }
  state.counters["to_gen2_s"] = best[1];
  state.counters["to_gen1_s"] = best[0];
  state.counters["tree_items_gen1"] = items[0];
  state.counters["tree_items_gen2"] = items[1];
  state.counters["load1"] = Load1();
}
BENCHMARK(BM_SwitchGeneration)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ShowFolder(benchmark::State& state) {
  Program& p = TheProgram();
  const fs::path archive = Written(WideSet(), "wide");
  p.app->OpenBackupFile(QString::fromStdString(archive.string()));
  app::CMainFrame& frame = p.Frame();
  QAction* modes[] = {frame.LargeIconsAction(), frame.SmallIconsAction(), frame.ListAction(), frame.DetailsAction()};
  modes[state.range(0)]->trigger();
  app::CQPXManagerView* list = frame.ListPane();
  double best = 1e30;
  for (auto _ : state) {
    for (int run = 0; run < kRuns; ++run) {
      list->ShowFolder(QString());
      list->Model().ClearEntries();
      p.Paint();
      QElapsedTimer timer;
      timer.start();
      list->ShowFolder(QStringLiteral("C:\\Wide"));
      p.Paint();
      best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e9);
      // Painted means laid out: the last entry has its place.
      if (list->Model().rowCount() != static_cast<int>(kWideFiles) ||
          !list->visualRect(list->Model().index(static_cast<int>(kWideFiles) - 1)).isValid()) {
        state.SkipWithError("the folder was not shown");
        return;
      }
    }
    state.SetIterationTime(best);
  }
  state.counters["show_s"] = best;
  state.counters["load1"] = Load1();
}
BENCHMARK(BM_ShowFolder)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SortDetails(benchmark::State& state) {
  Program& p = TheProgram();
  const fs::path archive = Written(WideSet(), "wide");
  p.app->OpenBackupFile(QString::fromStdString(archive.string()));
  app::CMainFrame& frame = p.Frame();
  frame.DetailsAction()->trigger();
  app::CQPXManagerView* list = frame.ListPane();
  list->ShowFolder(QStringLiteral("C:\\Wide"));
  p.Paint();
  double worst = 0;
  for (auto _ : state) {
    for (int column = 0; column < app::FileListModel::kColumnCount; ++column) {
      double best = 1e30;
      for (int run = 0; run < kRuns; ++run) {
        list->Model().sort(-1);
        p.Paint();
        QElapsedTimer timer;
        timer.start();
        list->Header()->setSortIndicator(column, run % 2 == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
        p.Paint();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e9);
      }
      worst = std::max(worst, best);
      state.counters["sort_s_column" + std::to_string(column)] = best;
    }
    state.SetIterationTime(worst);
  }
  if (list->Model().rowCount() != static_cast<int>(kWideFiles)) state.SkipWithError("the folder was not shown");
  state.counters["load1"] = Load1();
}
BENCHMARK(BM_SortDetails)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  program.reset();
  std::error_code ec;
  if (std::getenv("TESSERA_APPBENCH_KEEP") == nullptr) fs::remove_all(DataDir(), ec);
  return 0;
}
