// What the main window asks of the program that owns it. The window knows
// its owner only through this, so the owner may build and drive the window
// without the two depending on each other.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace IncrementalBackup {
class CBackupSet;
}

namespace app {

class IFrameOwner {
 public:
  virtual void OnFileOpen() = 0;
  // Opens a backup file by host path (the recent-files menu).
  virtual void OpenBackupFile(const QString& path) = 0;
  virtual void OnOptions() = 0;
  // Shows generation `index` (0-based) of the loaded set.
  virtual bool SelectGeneration(int index) = 0;
  virtual void SetCurrentFolder(const QString& folder) = 0;
  // The property dialog for full pane paths.
  virtual void ShowProperties(const QStringList& paths) = 0;
  virtual bool IsOpened() const = 0;
  // The loaded set, or null.
  virtual const IncrementalBackup::CBackupSet* Set() const = 0;
  // The window is going: nothing of the loaded set may outlive it.
  virtual void ReleaseLoadedState() = 0;
  // Restores `names` of pane folder `folder` through the restore dialog.
  virtual void RestoreEntries(const QString& folder, const QStringList& names) = 0;
  // The versions dialog for file `name` of pane folder `folder`.
  virtual void ShowVersions(const QString& folder, const QString& name) = 0;
  // Restores full pane paths as generation `generation` (1-based) holds
  // them, through the restore dialog over `over`; the shown one stays.
  virtual void RestoreFromGeneration(const QStringList& paths, long generation, QWidget* over) = 0;

 protected:
  ~IFrameOwner() = default;
};

}  // namespace app
