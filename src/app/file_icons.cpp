#include "app/file_icons.h"

#include <QFileInfo>
#include <QMimeType>

// The icons are compiled into the program's static library, whose
// resources are registered only when asked for by name.
static void RegisterBundledIcons() { Q_INIT_RESOURCE(resources); }

namespace app {
namespace {

QIcon Bundled(const char* name) {
  static const bool registered = (RegisterBundledIcons(), true);
  (void)registered;
  QIcon icon;
  for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/tessera/icons/%1-%2.png").arg(QLatin1String(name)).arg(size), QSize(size, size));
  return icon;
}

}  // namespace

FileIcons& FileIcons::Instance() {
  static FileIcons icons;
  return icons;
}

FileIcons::FileIcons()
    : folder_(QIcon::fromTheme(QStringLiteral("folder"), Bundled("folder"))),
      drive_(QIcon::fromTheme(QStringLiteral("drive-harddisk"), Bundled("drive"))),
      file_(Bundled("file")),
      application_(Bundled("tessera")) {}

QIcon FileIcons::ForFile(const QString& name) {
  const QString extension = QFileInfo(name).suffix().toLower();
  const auto it = byExtension_.constFind(extension);
  if (it != byExtension_.constEnd()) return *it;
  const QMimeType type = mimes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
  const QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), file_));
  byExtension_.insert(extension, icon);
  return icon;
}

QString FileIcons::TypeName(const QString& name) {
  // A name without a dot may still match a whole-name pattern ("Makefile");
  // the whole suffix tells "a.tar.gz" from "a.gz".
  const QString extension = QFileInfo(name).completeSuffix().toLower();
  if (extension.isEmpty()) return mimes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension).comment();
  const auto it = typeByExtension_.constFind(extension);
  if (it != typeByExtension_.constEnd()) return *it;
  const QString type = mimes_.mimeTypeForFile(name, QMimeDatabase::MatchExtension).comment();
  typeByExtension_.insert(extension, type);
  return type;
}

}  // namespace app
