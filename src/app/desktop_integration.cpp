#include "app/desktop_integration.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "app/app_texts.h"

namespace app {
namespace {

constexpr char kLauncherName[] = "Tessera.desktop";

ApplicationQuery& QueryOverride() {
  static ApplicationQuery query;
  return query;
}

// Asks the desktop's own tool; a desktop without it is taken to have one,
// and the opening itself then says whether it worked.
bool DesktopHasApplication(const QString& mimeType) {
  const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (tool.isEmpty()) return true;
  QProcess query;
  query.setProcessChannelMode(QProcess::SeparateChannels);
  query.start(tool, {QStringLiteral("query"), QStringLiteral("default"), mimeType});
  if (!query.waitForFinished(5000)) {
    query.kill();
    query.waitForFinished();
    return true;
  }
  return query.exitCode() == 0 && !query.readAllStandardOutput().trimmed().isEmpty();
}

// An Exec argument that holds any reserved character goes in double quotes,
// with ", `, $ and \ escaped inside them.
QString QuoteExecArgument(const QString& argument) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool needsQuotes = argument.isEmpty();
  for (QChar c : argument) needsQuotes = needsQuotes || reserved.contains(c);
  QString out;
  for (QChar c : argument) {
    if (c == u'%') out += QStringLiteral("%%");
    else if (needsQuotes && (c == u'"' || c == u'`' || c == u'$' || c == u'\\')) out += u'\\' + QString(c);
    else out += c;
  }
  return needsQuotes ? u'"' + out + u'"' : out;
}

// The escapes of a string value, applied over the Exec quoting.
QString EscapeValue(const QString& value) {
  QString out;
  for (QChar c : value) {
    if (c == u'\\') out += QStringLiteral("\\\\");
    else if (c == u'\n') out += QStringLiteral("\\n");
    else if (c == u'\t') out += QStringLiteral("\\t");
    else if (c == u'\r') out += QStringLiteral("\\r");
    else out += c;
  }
  return out;
}

}  // namespace

QString HelpFilePath(const QString& executableFolder) {
  const QString installed =
      QDir::cleanPath(executableFolder + QStringLiteral("/../share/tessera/help/index.html"));
  if (QFileInfo::exists(installed)) return installed;
#ifdef TESSERA_HELP_SOURCE_DIR
  const QString source = QStringLiteral(TESSERA_HELP_SOURCE_DIR "/index.html");
  if (QFileInfo::exists(source)) return source;
#endif
  return installed;
}

QString LauncherText(const QString& executable) {
  const QString exec = EscapeValue(QuoteExecArgument(executable) + QStringLiteral(" -- %f"));
  return QStringLiteral(
             "[Desktop Entry]\n"
             "Type=Application\n"
             "Version=1.0\n"
             "Name=Tessera\n"
             "Comment=Browse and restore backup archives (.qpx, .qpi)\n"
             "Comment[ja]=バックアップファイル(*.qpx, *.qpi)を閲覧し、復元します\n"
             "Exec=%1\n"
             "TryExec=%2\n"
             "Icon=tessera\n"
             "Terminal=false\n"
             "MimeType=application/x-tessera-backup;\n"
             "Categories=Utility;Archiving;Qt;\n")
      .arg(exec, EscapeValue(executable));
}

bool WriteDesktopLauncher(const QString& desktopFolder, const QString& executable) {
  if (desktopFolder.isEmpty() || executable.isEmpty() || !QDir().mkpath(desktopFolder)) return false;
  const QString path = QDir(desktopFolder).filePath(QString::fromLatin1(kLauncherName));
  // Saving through a link would write wherever it points.
  const QFileInfo existing(path);
  if (existing.isSymLink() && !QFile::remove(path)) return false;
  if (existing.isDir()) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray text = LauncherText(executable).toUtf8();
  if (file.write(text) != text.size() || !file.commit()) return false;
  return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                         QFileDevice::ExeOther);
}

QString DesktopFolder() { return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation); }

void SetApplicationQuery(ApplicationQuery query) { QueryOverride() = std::move(query); }

bool OpenWithDesktop(const QString& hostPath) {
  const QMimeType type = QMimeDatabase().mimeTypeForFile(hostPath);
  const bool registered = QueryOverride() ? QueryOverride()(type.name()) : DesktopHasApplication(type.name());
  if (registered && QDesktopServices::openUrl(QUrl::fromLocalFile(hostPath))) return true;
  ShowErrorText(QStringLiteral("開くアプリケーションが登録されていないため、次の項目を開けません。\n%1\n(種類: %2)")
                    .arg(hostPath, type.comment().isEmpty() ? type.name() : type.comment()));
  return false;
}

}  // namespace app
