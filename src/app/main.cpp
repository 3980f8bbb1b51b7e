// tessera: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "app/main_frame.h"
#include "app/qpx_manager_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessera"));
  QApplication::setOrganizationName(QStringLiteral("Tessera"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Views and restores backup archives (.qpx, .qpi)."));
  parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("archive"), QStringLiteral("A backup archive (.qpx or .qpi) to open."));
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Saves a picture of the main window to FILE (PNG) once it is shown, and ends."),
                                      QStringLiteral("FILE"));
  parser.addOption(screenshot);
  parser.process(application);

  app::CQPXManagerApp tessera;
  if (!tessera.InitInstance(parser.positionalArguments())) return 1;
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
