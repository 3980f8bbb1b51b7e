// tessera: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFontDatabase>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "app/folder_tree_model.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_app.h"
#include "app/qpx_manager_view.h"

namespace {

// For the end-to-end test, which drives the real program under an X
// server: once the window is up, the title, the folder tree's first two
// levels and where on the screen each entry of the list lies are written to
// the file TESSERA_TEST_STATE names.
void WriteStateForTests(app::CQPXManagerApp& tessera) {
  const QString path = qEnvironmentVariable("TESSERA_TEST_STATE");
  if (path.isEmpty()) return;
  QTimer::singleShot(300, tessera.MainFrame(), [&tessera, path] {
    QString state = QStringLiteral("title=") + tessera.MainFrame()->windowTitle() + u'\n';
    const app::FolderTreeModel& tree = tessera.MainFrame()->TreePane()->Model();
    for (int d = 0; d < tree.rowCount(); ++d) {
      const QModelIndex drive = tree.index(d, 0);
      state += QStringLiteral("tree=") + app::FolderTreeModel::PathOf(tree.FolderOf(drive)) + u'\n';
      for (int f = 0; f < tree.rowCount(drive); ++f)
        state += QStringLiteral("tree=") + app::FolderTreeModel::PathOf(tree.FolderOf(tree.index(f, 0, drive))) + u'\n';
    }
    app::CQPXManagerView* list = tessera.MainFrame()->ListPane();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      const QModelIndex index = list->model()->index(row, 0);
      const QPoint centre = list->viewport()->mapToGlobal(list->visualRect(index).center());
      state += QStringLiteral("entry=%1@%2,%3\n").arg(index.data().toString()).arg(centre.x()).arg(centre.y());
    }
    QFile file(path + QStringLiteral(".part"));
    if (file.open(QIODevice::WriteOnly) && file.write(state.toUtf8()) >= 0 && file.flush()) {
      file.close();
      QFile::rename(path + QStringLiteral(".part"), path);
    }
  });
}

// Names, version and the options, shared by the windowed start and by
// --help and --version, which must work without a display.
void Describe(QCommandLineParser& parser, const QCommandLineOption& screenshot) {
  QCoreApplication::setApplicationName(QStringLiteral("Tessera"));
  QCoreApplication::setOrganizationName(QStringLiteral("Tessera"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TESSERA_VERSION));
  parser.setApplicationDescription(QStringLiteral("Views and restores backup archives (.qpx, .qpi)."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("archive"), QStringLiteral("A backup archive (.qpx or .qpi) to open."),
                               QStringLiteral("[archive]"));
  parser.addOption(screenshot);
}

// Every text of the window is Japanese; without a font that covers it they
// are empty boxes, which looks like a broken program, not a missing package.
void WarnWithoutJapaneseFont() {
  if (!QFontDatabase::families(QFontDatabase::Japanese).isEmpty()) return;
  std::fputs("tessera: no installed font can show Japanese, so the window's texts are empty boxes; "
             "install fonts-vlgothic, fonts-ipafont-gothic or fonts-noto-cjk\n",
             stderr);
}

int quitPipe[2] = {-1, -1};

void OnQuitSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(quitPipe[1], &byte, 1);
  // A second signal ends the process as it would without this handler.
  std::signal(signal, SIG_DFL);
  errno = saved;
}

// SIGTERM, SIGHUP (the session ends) and SIGINT end the program through its
// normal exit, so that the temporary restore folder is removed and the
// configuration saved. The handler only writes to a pipe; the event loop
// reads it and quits.
void QuitOnSignals(QApplication& application) {
  if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &application);
  QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
    char bytes[16];
    while (::read(quitPipe[0], bytes, sizeof bytes) > 0) {
    }
    // Every event loop ends at once, a restore dialog's and its question's
    // too (quit() would first ask the windows, and a running restore
    // dialog asks the user back); the dialog then stops its run, answers
    // its open question as a cancel and joins it.
    QCoreApplication::exit(0);
  });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigset_t handled;
  sigemptyset(&handled);
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    ::sigaction(signal, &action, nullptr);
    sigaddset(&handled, signal);
  }
  // Some launchers start programs with these blocked; the main thread takes them.
  ::pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
}

bool AsksOnlyForInformation(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "-h" || argument == "--help" || argument == "--help-all" || argument == "-v" ||
        argument == "--version" || argument == "-?")
      return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Saves a picture of the main window to FILE (PNG) once it is shown, and ends."),
                                      QStringLiteral("FILE"));
  if (AsksOnlyForInformation(argc, argv)) {
    QCoreApplication information(argc, argv);
    QCommandLineParser parser;
    Describe(parser, screenshot);
    // Qt's own options (-platform NAME ...) are no error here: they only
    // have a meaning for the windowed start.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp();
    parser.process(information);  // --help-all, or an error
  }

  // Whatever follows "--" is a file name (the desktop entry passes files so):
  // Qt reads its own options (-platform, -reverse, ...) anywhere on the
  // command line, so they never reach it.
  QStringList files;
  int qtArgc = argc;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) != "--") continue;
    qtArgc = i;
    for (int k = i + 1; k < argc; ++k) files << QString::fromLocal8Bit(argv[k]);
    break;
  }
  QApplication application(qtArgc, argv);
  QuitOnSignals(application);
  QCommandLineParser parser;
  Describe(parser, screenshot);
  parser.process(application);
  WarnWithoutJapaneseFont();

  app::AppOptions options;
  options.unattended = parser.isSet(screenshot);
  app::CQPXManagerApp tessera(std::move(options));
  if (!tessera.InitInstance(parser.positionalArguments() + files)) return 1;
  WriteStateForTests(tessera);
  int status = 0;
  if (parser.isSet(screenshot)) {
    // Rendered once layouts have settled; works on the offscreen platform too.
    QTimer::singleShot(500, &application, [&] {
      const QString file = parser.value(screenshot);
      if (tessera.MainFrame()->grab().save(file, "PNG")) {
        std::printf("%s\n", qPrintable(file));
      } else {
        std::fprintf(stderr, "tessera: cannot write %s\n", qPrintable(file));
        status = 1;
      }
      QApplication::quit();
    });
  }
  const int loop = QApplication::exec();
  tessera.ExitInstance();
  return status != 0 ? status : loop;
}
