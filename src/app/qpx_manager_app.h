// The application object: start-up and exit, the configuration, and
// everything a loaded backup leaves behind (the generation manager, the
// merged tree, the folder-tree adapter and the folder tree's model the pane
// shows), with the open flow that loads a backup behind the task-progress
// dialog.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "app/app_config.h"
#include "app/file_list_model.h"
#include "app/folder_tree_model.h"
#include "app/frame_owner.h"
#include "app/task_progress.h"
#include "generations/backup_set.h"

namespace IncrementalBackup {
class CDirTreeCtrl;
}

namespace app {

class CMainFrame;

struct AppOptions {
  // The configuration file; empty: "tessera/Tessera.ini" in the user's
  // configuration folder.
  QString configFile;
  // The single-instance lock; empty: "Tessera.lock" in the user's runtime
  // folder, else in "tessera" in the user's cache folder.
  QString lockFile;
  // Nobody looks at the screen (a screenshot run): what would be a message
  // box at start-up goes to standard error only.
  bool unattended = false;
};

class CQPXManagerApp : public QObject,
                       public IFrameOwner,
                       public CShowTaskProgressDlgConnector,
                       public IncrementalBackup::IManagerUser {
  Q_OBJECT

 public:
  explicit CQPXManagerApp(AppOptions options = {});
  ~CQPXManagerApp() override;

  // Start-up: the single-instance check (a second start shows 242 and
  // fails), the main window, the configuration, then the command line's
  // archive, loaded as File > Open loads one. False: the process ends.
  bool InitInstance(const QStringList& arguments);
  // Exit: deletes the temporary restore folders, writes the configuration
  // when it changed (a failed write is told).
  void ExitInstance();

  // The open flow. Reports nothing to its caller: its effects are the loaded
  // state, the panes, the generation bar and the title.
  void OpenBackupFile(const QString& path) override;
  // File > Open: the open-file dialog, then OpenBackupFile.
  void OnFileOpen() override;
  // Shows generation `index` (0-based) of the loaded set.
  bool SelectGeneration(int index) override;
  // The options dialog.
  void OnOptions() override;
  // The property dialog for full pane paths (one folder, one file, or a
  // selection); nothing without a loaded backup.
  void ShowProperties(const QStringList& paths) override;
  void RestoreEntries(const QString& folder, const QStringList& names) override;
  void ShowVersions(const QString& folder, const QString& name) override;
  void RestoreFromGeneration(const QStringList& paths, long generation, QWidget* over) override;

  // Asks the user for an archive to open; a null string means cancelled.
  using FileChooser = std::function<QString(QWidget* parent, const QString& filter, const QString& suffix)>;
  void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }

  CMainFrame* MainFrame() const { return frame_.get(); }
  // The main window as the owner of the dialogs, or null before start-up.
  QWidget* Window() const;
  CAppConfig& Config() { return *config_; }
  bool IsOpened() const override { return opened_; }
  const QString& ArchivePath() const { return archivePath_; }
  const QString& ManagementPath() const { return managementPath_; }
  const QString& CurrentFolder() const { return currentFolder_; }
  void SetCurrentFolder(const QString& folder) override { currentFolder_ = folder; }
  long GenerationCount() const;
  // The loaded set, or null.
  const IncrementalBackup::CBackupSet* Set() const override { return set_.get(); }
  // The same for marking entries for a restore.
  IncrementalBackup::CBackupSet* MutableSet() { return set_.get(); }
  // The folder tree's adapter of the loaded set, or null.
  IncrementalBackup::CDirTreeCtrl* DirTree() const { return dirTree_.get(); }

  // CShowTaskProgressDlgConnector.
  int32_t RunTask(CShowTaskProgressDlg& dialog) override;
  int32_t GetCaptionId() override;
  int32_t GetMessageId() override { return progress_.GetMessageId(); }
  QString GetMessageText() override { return {}; }
  bool IsDeterminate() override { return false; }
  int32_t GetPercent() override { return 0; }
  QString GetSubText() override { return {}; }

  // IManagerUser: the manager's notice, question and errors, shown by the
  // user-interface thread while the load waits.
  void Notice(int32_t id) override;
  bool AskYesNo(int32_t id) override;
  bool AskShowEarlier(const IncrementalBackup::FailedArchive& failed) override;

  // The main window releases the loaded state when it is destroyed.
  void ReleaseLoadedState() override;

 private:
  void ResetLoadedState();
  void ClearPanes();
  bool FillFolderTree();
  // Tells once, after a load, which records the tree left out.
  void TellLeftOutRecords();
  void OnUserInterface(const std::function<void()>& work);

  AppOptions options_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<CAppConfig> config_;
  // Over the loaded set's tree; the window's panes show them, so they outlive the window.
  FolderTreeModel folderModel_;
  FileListModel listModel_;
  std::unique_ptr<CMainFrame> frame_;
  // Written by the load on the worker thread, read by the dialog's refresh.
  IncrementalBackup::CProgressInfo progress_;
  // The adapter and the panes borrow the set's tree, so they are released first.
  std::unique_ptr<IncrementalBackup::CBackupSet> set_;
  // The set being loaded on the task thread, for the questions it raises.
  const IncrementalBackup::CBackupSet* loading_ = nullptr;
  std::unique_ptr<IncrementalBackup::CDirTreeCtrl> dirTree_;
  // The path being opened and what the engine decided for it: written by
  // the load task, read once the dialog has closed.
  std::string opening_;
  IncrementalBackup::OpenVerdict verdict_ = IncrementalBackup::OpenVerdict::kLoad;
  QString archivePath_;
  QString managementPath_;
  QString currentFolder_;
  std::atomic<bool> opened_{false};
  CShowTaskProgressDlg* dialog_ = nullptr;  // while a load runs
  FileChooser fileChooser_;
};

}  // namespace app
