#include "app/app_config.h"

#include <QDir>
#include <QFileInfo>

#include "app/ini_file.h"
#include "host/private_folder.h"

namespace app {
namespace {

QString WithoutOneTrailingSeparator(QString folder) {
  if (folder.endsWith(u'/')) folder.chop(1);
  return folder;
}

}  // namespace

QString ConfigFilePath() {
  const std::string folder = host::UserConfigFolder();
  if (folder.empty()) return {};
  return QString::fromStdString(folder) + QStringLiteral("/tessera/") + QString::fromLatin1(kConfigFileName);
}

QString DefaultTempFolder() {
  const std::string folder = host::UserPrivateFolder();
  return WithoutOneTrailingSeparator(folder.empty() ? QDir::tempPath() : QString::fromStdString(folder));
}

CAppConfig::CAppConfig(QString filePath, QString defaultTempFolder)
    : filePath_(std::move(filePath)), default_(std::move(defaultTempFolder)), temp_(default_) {}

void CAppConfig::Load() {
  // The value is taken as it stands: a trailing separator in the file stays.
  temp_ = ReadIniValue(filePath_, QString::fromLatin1(kConfigSection), QString::fromLatin1(kTempPathKey)).value_or(default_);
  lastTarget_ = ReadIniValue(filePath_, QString::fromLatin1(kConfigSection), QString::fromLatin1(kLastTargetKey)).value_or(QString());
  lastTargetChanged_ = false;
  auto value = [this](const QString& key) {
    return ReadIniValue(filePath_, QString::fromLatin1(kConfigSection), key).value_or(QString());
  };
  openNewest_ = value(QString::fromLatin1(kOpenNewestKey)).trimmed() == u'1';
  bool ok = false;
  const int mode = value(QString::fromLatin1(kViewModeKey)).toInt(&ok);
  viewMode_ = ok && mode >= 0 && mode <= 3 ? mode : 0;
  columnWidths_.clear();
  for (const QString& part : value(QString::fromLatin1(kColumnWidthsKey)).split(u',', Qt::SkipEmptyParts)) {
    const int width = part.trimmed().toInt(&ok);
    if (!ok || width < 0 || width > 10000) {
      columnWidths_.clear();
      break;
    }
    columnWidths_ << width;
  }
  recent_.clear();
  for (int i = 1; i <= kRecentCount; ++i) {
    const QString path = value(QString::fromLatin1(kRecentKeyPrefix) + QString::number(i));
    if (!path.isEmpty() && !recent_.contains(path)) recent_ << path;
  }
  windowChanged_ = false;
}

void CAppConfig::SetOpenNewest(bool newest) {
  windowChanged_ = windowChanged_ || newest != openNewest_;
  openNewest_ = newest;
}

void CAppConfig::SetViewMode(int mode) {
  windowChanged_ = windowChanged_ || mode != viewMode_;
  viewMode_ = mode;
}

void CAppConfig::SetColumnWidths(const QList<int>& widths) {
  windowChanged_ = windowChanged_ || widths != columnWidths_;
  columnWidths_ = widths;
}

void CAppConfig::AddRecentFile(const QString& path) {
  // One line of the file per path.
  if (path.contains(u'\n') || path.contains(u'\r')) return;
  QStringList recent = recent_;
  recent.removeAll(path);
  recent.prepend(path);
  while (recent.size() > kRecentCount) recent.removeLast();
  windowChanged_ = windowChanged_ || recent != recent_;
  recent_ = recent;
}

void CAppConfig::SetLastRestoreTarget(const QString& folder) {
  if (folder == lastTarget_) return;
  lastTarget_ = folder;
  lastTargetChanged_ = true;
}

bool CAppConfig::NeedsSaving() const {
  return temp_.compare(default_, Qt::CaseInsensitive) != 0 || lastTargetChanged_ || windowChanged_;
}

bool CAppConfig::Save() const {
  if (!NeedsSaving()) return true;
  if (filePath_.isEmpty()) return false;
  QDir().mkpath(QFileInfo(filePath_).absolutePath());
  const QString section = QString::fromLatin1(kConfigSection);
  bool saved = true;
  if (temp_.compare(default_, Qt::CaseInsensitive) != 0)
    saved = WriteIniValue(filePath_, section, QString::fromLatin1(kTempPathKey), temp_);
  if (lastTargetChanged_) saved = WriteIniValue(filePath_, section, QString::fromLatin1(kLastTargetKey), lastTarget_) && saved;
  if (windowChanged_) {
    auto write = [&](const QString& key, const QString& value) {
      saved = WriteIniValue(filePath_, section, key, value) && saved;
    };
    write(QString::fromLatin1(kOpenNewestKey), openNewest_ ? QStringLiteral("1") : QStringLiteral("0"));
    write(QString::fromLatin1(kViewModeKey), QString::number(viewMode_));
    QStringList widths;
    for (int width : columnWidths_) widths << QString::number(width);
    write(QString::fromLatin1(kColumnWidthsKey), widths.join(u','));
    for (int i = 0; i < kRecentCount; ++i)
      write(QString::fromLatin1(kRecentKeyPrefix) + QString::number(i + 1), recent_.value(i));
  }
  return saved;
}

QString CAppConfig::RestoreFolder() const {
  return WithoutOneTrailingSeparator(temp_) + u'/' + QString::fromLatin1(kRestoreFolderName);
}

}  // namespace app
