// The configuration file "Tessera.ini" (section "config", key "TempPath")
// and the temporary restore folder below the folder it names. Paths in the
// file are host paths.
#pragma once

#include <QString>

namespace app {

inline constexpr char kConfigFileName[] = "Tessera.ini";
inline constexpr char kConfigSection[] = "config";
inline constexpr char kTempPathKey[] = "TempPath";
inline constexpr char kRestoreFolderName[] = "TesseraRestore";
inline constexpr char kLastTargetKey[] = "LastRestoreTarget";

// Where the file lives: beside the executable when that folder can be
// written, otherwise in `fallbackFolder` (the user's configuration folder).
QString ConfigFilePath(const QString& executableFolder, const QString& fallbackFolder);

// The system temporary folder with one trailing separator removed.
QString DefaultTempFolder();

// The temporary-folder setting of one run: read once at start, changed in
// memory by the options dialog, written once at exit when it differs from
// the default (letter case aside). A value equal to the default is never
// written, so an earlier setting in the file stays.
class CAppConfig {
 public:
  explicit CAppConfig(QString filePath, QString defaultTempFolder = DefaultTempFolder());

  void Load();
  // False only when a write was needed and failed.
  bool Save() const;
  bool NeedsSaving() const;

  const QString& FilePath() const { return filePath_; }
  const QString& DefaultTemp() const { return default_; }
  const QString& TempFolder() const { return temp_; }
  void SetTempFolder(const QString& folder) { temp_ = folder; }
  // The setting with one trailing separator removed, then "/TesseraRestore".
  QString RestoreFolder() const;
  // The restore target the user chose last (a host path), or empty: the
  // restore dialog proposes it, and nothing else, next time.
  const QString& LastRestoreTarget() const { return lastTarget_; }
  void SetLastRestoreTarget(const QString& folder);

 private:
  QString filePath_;
  QString default_;
  QString temp_;
  QString lastTarget_;
  bool lastTargetChanged_ = false;
};

// Deletes the temporary restore folder and what it holds. A link in its
// place is removed as a link: what it points to is not the program's to
// delete. A missing folder is no failure.
bool RemoveRestoreFolder(const QString& restoreFolder);

}  // namespace app
