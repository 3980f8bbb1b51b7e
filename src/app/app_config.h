// The configuration file "Tessera.ini" (section "config", key "TempPath")
// and the temporary restore folder below the folder it names. Paths in the
// file are host paths. The file is the user's: it lives in the user's
// configuration folder, never beside the executable.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace app {

inline constexpr char kConfigFileName[] = "Tessera.ini";
inline constexpr char kConfigSection[] = "config";
inline constexpr char kTempPathKey[] = "TempPath";
inline constexpr char kRestoreFolderName[] = "TesseraRestore";
inline constexpr char kLastTargetKey[] = "LastRestoreTarget";
// The window's own settings, kept as the user left them.
inline constexpr char kOpenNewestKey[] = "OpenNewest";          // 1: open at the newest generation
inline constexpr char kViewModeKey[] = "ViewMode";              // 0 large icons ... 3 details
inline constexpr char kColumnWidthsKey[] = "DetailsColumns";    // pixels, comma-separated
inline constexpr char kRecentKeyPrefix[] = "Recent";            // Recent1 (newest) to Recent4
inline constexpr int kRecentCount = 4;

// Where the file lives: "tessera/Tessera.ini" in the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config); empty when there is none.
QString ConfigFilePath();

// A folder only this user may use (the runtime folder, else "tessera" in the
// cache folder); the shared system temporary folder only when neither can be
// had, which the temporary restore then treats as shared.
QString DefaultTempFolder();

// Told when the configuration cannot be saved at exit.
inline constexpr char kConfigSaveFailed[] = "設定ファイルを保存できませんでした。\n%1";

// The temporary-folder setting of one run: read once at start, changed in
// memory by the options dialog, written once at exit when it differs from
// the default (letter case aside). A value equal to the default is never
// written, so an earlier setting in the file stays.
class CAppConfig {
 public:
  explicit CAppConfig(QString filePath, QString defaultTempFolder = DefaultTempFolder());

  // A file that is not a regular file of at most 1 MiB is not read.
  void Load();
  // False only when a write was needed and failed (a file that could not be
  // read is not replaced either).
  bool Save() const;
  bool NeedsSaving() const;

  const QString& FilePath() const { return filePath_; }
  const QString& DefaultTemp() const { return default_; }
  const QString& TempFolder() const { return temp_; }
  void SetTempFolder(const QString& folder) { temp_ = folder; }
  // The setting with one trailing separator removed, then "/TesseraRestore":
  // the temporary restore folder's name where nobody else can add names.
  // Where the copies of a pane folder really go is what CaptureEntries
  // finds (temporary_restore.h).
  QString RestoreFolder() const;
  // The restore target the user chose last (a host path), or empty: the
  // restore dialog proposes it, and nothing else, next time.
  const QString& LastRestoreTarget() const { return lastTarget_; }
  void SetLastRestoreTarget(const QString& folder);

  bool OpenNewest() const { return openNewest_; }
  void SetOpenNewest(bool newest);
  int ViewMode() const { return viewMode_; }
  void SetViewMode(int mode);
  // The details view's column widths; empty: the view's own.
  const QList<int>& ColumnWidths() const { return columnWidths_; }
  void SetColumnWidths(const QList<int>& widths);
  // The archives opened last, the newest first, at most kRecentCount.
  const QStringList& RecentFiles() const { return recent_; }
  void AddRecentFile(const QString& path);

 private:
  QString filePath_;
  QString default_;
  QString temp_;
  QString lastTarget_;
  bool lastTargetChanged_ = false;
  bool openNewest_ = false;
  int viewMode_ = 0;
  QList<int> columnWidths_;
  QStringList recent_;
  bool windowChanged_ = false;
};

}  // namespace app
