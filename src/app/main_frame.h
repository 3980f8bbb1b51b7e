// The main window: menus and shortcuts, the generation bar above a splitter
// with the folder tree on the left and the file list on the right.
#pragma once

#include <QMainWindow>

#include "app/frame_owner.h"

class QAction;
class QLabel;
class QMenu;
class QSplitter;

namespace IncrementalBackup {
struct ChosenPath;
}

namespace app {

class CAppConfig;
class CGenerationInputBar;
class CLeftView;
class CQPXManagerView;
class CSearchPane;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(IFrameOwner& owner);
  ~CMainFrame() override;

  CLeftView* TreePane() const { return tree_; }
  CQPXManagerView* ListPane() const { return list_; }
  CGenerationInputBar* GenerationBar() const { return bar_; }
  QSplitter* Splitter() const { return splitter_; }
  CSearchPane* SearchPane() const { return search_; }

  // Commands by their menu position, for the keyboard and for tests.
  QAction* OpenAction() const { return open_; }
  QAction* SelectAllAction() const { return selectAll_; }
  QAction* RestoreAction() const { return restore_; }
  QAction* CopyAction() const { return copy_; }
  QAction* LargeIconsAction() const { return large_; }
  QAction* SmallIconsAction() const { return small_; }
  QAction* ListAction() const { return listView_; }
  QAction* DetailsAction() const { return details_; }
  // The ファイル menu's entries of the archives opened last.
  QList<QAction*> RecentFileActions() const;
  QLabel* FolderStatus() const { return folderStatus_; }
  QLabel* SelectionStatus() const { return selectionStatus_; }
  QAction* OptionsAction() const { return options_; }
  QAction* AboutAction() const { return about_; }
  QAction* ShortcutAction() const { return shortcut_; }
  QAction* HelpAction() const { return help_; }
  QAction* IntegrityTestAction() const { return integrityTest_; }
  QAction* CompareAction() const { return compare_; }
  QAction* VersionsAction() const { return versions_; }

  // Help: the program's HTML help in the desktop's browser.
  void OnHelp();
  // Desktop shortcut: after question 241, "Tessera.desktop" on the user's
  // desktop, starting this executable.
  void OnCreateShortcut();

  // F6 and Shift+F6: the next and the previous pane.
  void NextPane(bool forward);
  // The title "Tessera", or "NAME - Tessera" after an open.
  void SetDocumentTitle(const QString& fileName);
  // Enables what needs a loaded backup.
  void SetOpened(bool opened);
  // The view mode, column widths and recent archives of the configuration,
  // and back into it.
  void ApplySettings(const CAppConfig& config);
  void StoreSettings(CAppConfig& config) const;
  void ShowRecentFiles(const QStringList& paths);

  // "復元": the selected folder of the tree, or the selected entries of the
  // list, whichever pane was used last; each runs the restore dialog.
  void OnRestore();
  void RestoreTreeFolder();
  void RestoreListSelection();
  QAction* TreeRestoreAction() const { return treeRestore_; }
  QAction* ListRestoreAction() const { return listRestore_; }
  // "バージョン履歴": the versions of the one file selected in the list.
  void ShowVersions();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The window takes no drops: files from other programs get the copy
  // cursor, the list's own drags the no-drop cursor, and a drop does nothing.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  void AnswerDrag(QDragMoveEvent* event);
  QMenu* BuildContextMenu(bool forTree);
  void UpdateStatus();
  void UpdateVersionsAction();

  IFrameOwner& owner_;
  CGenerationInputBar* bar_;
  QSplitter* splitter_;
  CLeftView* tree_;
  CQPXManagerView* list_;
  CSearchPane* search_;
  QAction* open_ = nullptr;
  QAction* selectAll_ = nullptr;
  QAction* restore_ = nullptr;
  QAction* copy_ = nullptr;
  QAction* versions_ = nullptr;
  QAction* large_ = nullptr;
  QAction* small_ = nullptr;
  QAction* listView_ = nullptr;
  QAction* details_ = nullptr;
  QMenu* fileMenu_ = nullptr;
  QAction* recentEnd_ = nullptr;  // the separator after the recent archives
  QLabel* folderStatus_ = nullptr;
  QLabel* selectionStatus_ = nullptr;
  QAction* shortcut_ = nullptr;
  QAction* options_ = nullptr;
  QAction* help_ = nullptr;
  QAction* integrityTest_ = nullptr;
  QAction* compare_ = nullptr;
  QAction* about_ = nullptr;
  QAction* properties_ = nullptr;
  QAction* treeRestore_ = nullptr;
  QAction* listRestore_ = nullptr;
  bool treeActive_ = false;
  // Application-wide, so it is cut when the window starts to go: the
  // widgets' own teardown moves the focus while this class is already gone.
  QMetaObject::Connection focusWatch_;
};

}  // namespace app
