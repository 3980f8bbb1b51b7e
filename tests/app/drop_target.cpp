// A small program that takes file drops, for the tests that drag entries out
// of the real program under an X server. It behaves as a file manager does
// with a move: on a drop it fetches the file list, moves each file into its
// own folder, and reports what it got.
//
//   tessera_drop_target --out DIR --report FILE [--place X,Y,W,H]
//
// After each drop FILE holds one line per dropped URL, "moved NAME SIZE",
// "moved NAME/" for a folder, or "missing URL", a line "none" when the data
// could not be fetched (Qt stops waiting for it after about five seconds,
// as file managers do), and "fetch-ms N", the time the data took to arrive
// after the drop. A drag that leaves the window without a drop writes
// "left".
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

namespace {

class DropTarget : public QLabel {
 public:
  DropTarget(QString out, QString report) : out_(std::move(out)), report_(std::move(report)) {
    setText(QStringLiteral("drop here"));
    setAlignment(Qt::AlignCenter);
    setAcceptDrops(true);
  }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override { Answer(event); }
  void dragMoveEvent(QDragMoveEvent* event) override { Answer(event); }
  void dragLeaveEvent(QDragLeaveEvent*) override { Report(QStringLiteral("left\n")); }

  void dropEvent(QDropEvent* event) override {
    QElapsedTimer clock;
    clock.start();
    // Asking for the URLs is what fetches the data from the source.
    const QList<QUrl> urls = event->mimeData()->urls();
    const qint64 fetchMs = clock.elapsed();
    QString lines;
    if (urls.isEmpty()) lines += QStringLiteral("none\n");
    for (const QUrl& url : urls) {
      const QFileInfo file(url.toLocalFile());
      if (!url.isLocalFile() || !file.exists()) {
        lines += QStringLiteral("missing ") + url.toString() + u'\n';
        continue;
      }
      const QString moved = QDir(out_).filePath(file.fileName());
      QFile::remove(moved);
      QDir(moved).removeRecursively();
      if (!QFile::rename(file.filePath(), moved)) {
        lines += QStringLiteral("unmovable ") + file.filePath() + u'\n';
        continue;
      }
      const QFileInfo arrived(moved);
      lines += arrived.isDir() ? QStringLiteral("moved %1/\n").arg(file.fileName())
                               : QStringLiteral("moved %1 %2\n").arg(file.fileName()).arg(arrived.size());
    }
    lines += QStringLiteral("fetch-ms %1\n").arg(fetchMs);
    event->setDropAction(Qt::MoveAction);
    event->accept();
    Report(lines);
  }

 private:
  // Whole or not at all, for a reader that waits for the file.
  void Report(const QString& lines) {
    QFile part(report_ + QStringLiteral(".part"));
    if (part.open(QIODevice::WriteOnly) && part.write(lines.toUtf8()) >= 0 && part.flush()) {
      part.close();
      QFile::remove(report_);
      QFile::rename(report_ + QStringLiteral(".part"), report_);
    }
  }

  static void Answer(QDragMoveEvent* event) {
    if (!event->mimeData()->hasUrls()) {
      event->ignore();
      return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
  }

  QString out_;
  QString report_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QCommandLineParser parser;
  const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder the dropped files are moved to."), QStringLiteral("DIR"));
  const QCommandLineOption report(QStringLiteral("report"), QStringLiteral("File written after each drop."), QStringLiteral("FILE"));
  const QCommandLineOption geometry(QStringLiteral("place"), QStringLiteral("Window position and size."), QStringLiteral("X,Y,W,H"));
  parser.addOptions({out, report, geometry});
  parser.addHelpOption();
  parser.process(application);
  if (!parser.isSet(out) || !parser.isSet(report)) parser.showHelp(2);

  DropTarget window(parser.value(out), parser.value(report));
  window.setWindowTitle(QStringLiteral("tessera drop target"));
  const QStringList place = parser.value(geometry).split(u',');
  if (place.size() == 4) window.setGeometry(place[0].toInt(), place[1].toInt(), place[2].toInt(), place[3].toInt());
  else window.resize(200, 200);
  window.show();
  return QApplication::exec();
}
