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
}

void CAppConfig::SetLastRestoreTarget(const QString& folder) {
  if (folder == lastTarget_) return;
  lastTarget_ = folder;
  lastTargetChanged_ = true;
}

bool CAppConfig::NeedsSaving() const { return temp_.compare(default_, Qt::CaseInsensitive) != 0 || lastTargetChanged_; }

bool CAppConfig::Save() const {
  if (!NeedsSaving()) return true;
  if (filePath_.isEmpty()) return false;
  QDir().mkpath(QFileInfo(filePath_).absolutePath());
  const QString section = QString::fromLatin1(kConfigSection);
  bool saved = true;
  if (temp_.compare(default_, Qt::CaseInsensitive) != 0)
    saved = WriteIniValue(filePath_, section, QString::fromLatin1(kTempPathKey), temp_);
  if (lastTargetChanged_) saved = WriteIniValue(filePath_, section, QString::fromLatin1(kLastTargetKey), lastTarget_) && saved;
  return saved;
}

QString CAppConfig::RestoreFolder() const {
  return WithoutOneTrailingSeparator(temp_) + u'/' + QString::fromLatin1(kRestoreFolderName);
}

}  // namespace app
