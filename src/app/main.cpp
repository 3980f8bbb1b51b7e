// tessera: the desktop program.
#include <QApplication>
#include <QCommandLineParser>

#include "app/qpx_manager_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessera"));
  QApplication::setOrganizationName(QStringLiteral("Tessera"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Views and restores backup archives (.qpx, .qpi)."));
  parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("archive"), QStringLiteral("A backup archive (.qpx or .qpi) to open."));
  parser.process(application);

  app::CQPXManagerApp tessera;
  if (!tessera.InitInstance(parser.positionalArguments())) return 1;
  const int status = QApplication::exec();
  tessera.ExitInstance();
  return status;
}
