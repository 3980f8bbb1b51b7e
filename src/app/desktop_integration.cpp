#include "app/desktop_integration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace app {
namespace {

constexpr char kLauncherName[] = "Tessera.desktop";

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

}  // namespace app
