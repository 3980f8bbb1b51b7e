#include "app/temporary_restore.h"

#include <QDir>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/app_texts.h"
#include "app/auto_restore_dlg.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/qpx_manager_view.h"
#include "app/qpx_manager_app.h"
#include "app/restore_selection.h"
#include "host/private_folder.h"

namespace app {
namespace {

// The automatic restore dialog behind a drop. The drop target is waiting
// for the data meanwhile (file managers give up after about five seconds),
// so the dialog closes as soon as the restore has ended rather than at its
// next look.
class CDropRestoreDlg : public CAutoRestoreDlg {
 public:
  using CAutoRestoreDlg::CAutoRestoreDlg;

  void RestoreFinished() override {
    CAutoRestoreDlg::RestoreFinished();
    done(QDialog::Accepted);
  }
};

std::mutex rootsMutex;
// Never destroyed: the clean-up may run from exit() after static objects
// are gone.
std::vector<std::unique_ptr<host::RunFolder>>& Roots() {
  static auto* roots = new std::vector<std::unique_ptr<host::RunFolder>>;
  return *roots;
}

void RemoveAtExit() { RemoveTemporaryFolders(); }

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentPath(const QString& setting) {
  return WithoutTrailingSlashes(QDir::cleanPath(setting).toStdString());
}

host::RunFolder* FindRoot(const std::string& parentPath) {
  for (const auto& root : Roots())
    if (root->ParentPath() == parentPath) return root.get();
  return nullptr;
}

// The temporary restore folder for the setting `setting`, made when this
// run has none there yet; null when it cannot be had or is no longer
// intact.
host::RunFolder* RootFor(const QString& setting) {
  const std::string parentPath = ParentPath(setting);
  if (parentPath.empty() || parentPath[0] != '/') return nullptr;
  std::lock_guard<std::mutex> lock(rootsMutex);
  if (host::RunFolder* found = FindRoot(parentPath)) {
    if (found->Intact()) return found;
    // Removed from outside (a clean-up of temporary folders): made anew.
    // Anything else in its place is refused.
    if (!found->Gone()) return nullptr;
    std::erase_if(Roots(), [found](const auto& root) { return root.get() == found; });
  }
  // The setting may name a folder that is not there yet: it is made, with
  // what is missing above it, as a restore target is.
  QDir().mkpath(QString::fromStdString(parentPath));
  auto root = host::RunFolder::Make(parentPath, kRestoreFolderName);
  if (root == nullptr) return nullptr;
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(RemoveAtExit); });
  Roots().push_back(std::move(root));
  return Roots().back().get();
}

// Where the temporary restore folder for `setting` is or will be. A drag
// offers its files before anything is restored: where the name is known
// beforehand nothing is made yet (a cancelled drag makes nothing); in a
// shared place the folder is made now to learn its name.
QString RootPathFor(const QString& setting) {
  const std::string parentPath = ParentPath(setting);
  if (parentPath.empty() || parentPath[0] != '/') return {};
  {
    std::lock_guard<std::mutex> lock(rootsMutex);
    host::RunFolder* found = FindRoot(parentPath);
    if (found != nullptr && !found->Gone()) return QString::fromStdString(found->Path());
    const std::string known = host::RunFolder::PathIfKnown(parentPath, kRestoreFolderName);
    if (!known.empty()) return QString::fromStdString(known);
  }
  host::RunFolder* root = RootFor(setting);
  return root != nullptr ? QString::fromStdString(root->Path()) : QString();
}

// The folders below the root for one generation and pane folder: "C:\Data"
// of generation 3 is "3", "C", "Data". A name that could step out of its
// folder is replaced; entries never carry one, but the path is built from
// an archive's content.
std::vector<std::string> CopyFolderNames(long generation, const QString& folder) {
  std::vector<std::string> names{std::to_string(generation)};
  for (QString part : folder.split(u'\\', Qt::SkipEmptyParts)) {
    if (part.size() == 2 && part[1] == u':') part.chop(1);
    part.replace(u'/', u'_');
    if (part == QStringLiteral(".") || part == QStringLiteral("..")) part = QStringLiteral("_");
    names.push_back(part.toStdString());
  }
  return names;
}

long ShownGeneration(CQPXManagerApp& app) { return app.Set() != nullptr ? app.Set()->SelectedShown() : 1; }

// The host folder the entries of pane folder `folder` of `generation` are
// restored into below the temporary restore folder for `setting`.
QString CopyFolderPath(const QString& setting, long generation, const QString& folder) {
  QString path = RootPathFor(setting);
  if (path.isEmpty()) return {};
  for (const std::string& name : CopyFolderNames(generation, folder)) path += u'/' + QString::fromStdString(name);
  return path;
}

// The restore job takes a folder only from the generation shown (a file
// from any): folders copied while another one was shown have theirs shown
// for the restore, and the panes are put back as they were after it.
class ShownForRestore {
 public:
  ShownForRestore(CQPXManagerApp& app, long generation) : app_(app), before_(ShownGeneration(app)) {
    if (generation == before_ || app.MainFrame() == nullptr) return;
    folder_ = app.MainFrame()->TreePane()->SelectedFolderPath();
    names_ = app.MainFrame()->ListPane()->SelectedNames();
    switched_ = app.SelectGeneration(static_cast<int>(generation) - 1);
  }
  ~ShownForRestore() {
    if (!switched_ || !app_.SelectGeneration(static_cast<int>(before_) - 1)) return;
    app_.MainFrame()->TreePane()->SelectFolder(folder_);
    app_.MainFrame()->ListPane()->SelectNames(names_);
  }
  ShownForRestore(const ShownForRestore&) = delete;
  ShownForRestore& operator=(const ShownForRestore&) = delete;

 private:
  CQPXManagerApp& app_;
  long before_;
  bool switched_ = false;
  QString folder_;
  QStringList names_;
};

bool SafeName(const QString& name) {
  return !name.isEmpty() && !name.contains(u'/') && name != QStringLiteral(".") && name != QStringLiteral("..");
}

}  // namespace

TemporaryEntries CaptureEntries(CQPXManagerApp& app, QString folder, QStringList names, long generation) {
  TemporaryEntries entries;
  entries.generation = generation != 0 ? generation : ShownGeneration(app);
  entries.selection = SelectEntries(app, folder, names, entries.generation);
  entries.holdsFolder = HoldsFolder(app, entries.selection);
  entries.tempSetting = app.Config().TempFolder();
  entries.copyFolder = CopyFolderPath(entries.tempSetting, entries.generation, folder);
  entries.folder = std::move(folder);
  entries.names = std::move(names);
  return entries;
}

bool RunTemporaryRestore(CQPXManagerApp& app, const TemporaryEntries& entries, bool quiet) {
  // The set the entries were captured from is gone: the caller drops what
  // it captured when the set is released, so this is only a guard.
  if (app.Set() == nullptr) return false;
  // Made, checked and cleared by descriptor before anything is written: an
  // earlier copy of the same entries goes, so the restore never asks about
  // overwriting a file of the program's own.
  host::RunFolder* root = RootFor(entries.tempSetting);
  host::UniqueFd copies;
  if (root != nullptr) copies = host::MakePrivatePath(root->Fd(), CopyFolderNames(entries.generation, entries.folder));
  bool cleared = copies.Valid();
  for (const QString& name : entries.names)
    cleared = cleared && SafeName(name) && host::RemoveTreeAt(copies.Get(), name.toStdString());
  // A temporary folder made anew in a shared place has another name than
  // the one the file list was given.
  const QString target = CopyFolderPath(entries.tempSetting, entries.generation, entries.folder);
  if (!cleared || target.isEmpty() || target != entries.copyFolder) {
    ShowErrorMessage(host::StringId::kTargetFolderNotMade);
    return false;
  }

  if (entries.selection.empty()) return false;
  // Left only once the dialog, and the run it owns, are gone.
  const ShownForRestore shown(app, entries.holdsFolder ? entries.generation : ShownGeneration(app));
  if (entries.holdsFolder && ShownGeneration(app) != entries.generation) return false;
  QWidget* window = app.Window();
  bool succeeded = false;
  if (quiet) {
    CAutoRestoreDlg dialog(app, entries.selection, target, window);
    dialog.SetQuiet(true);
    dialog.exec();
    succeeded = dialog.Succeeded();
  } else {
    // The user is looking at the target program: show where the wait comes from.
    if (window != nullptr) {
      window->raise();
      window->activateWindow();
    }
    CDropRestoreDlg dialog(app, entries.selection, target, window);
    dialog.exec();
    succeeded = dialog.Succeeded();
  }
  // A drop that did not deliver leaves nothing half restored behind.
  if (!quiet && !succeeded) {
    for (const QString& name : entries.names) host::RemoveTreeAt(copies.Get(), name.toStdString());
    return false;
  }
  // Copies are for this user only, whatever the umask; the one opened in a
  // viewer is also kept from being changed there, where it would be lost.
  const mode_t files = quiet ? 0400 : 0600;
  const mode_t folders = quiet ? 0500 : 0700;
  for (const QString& name : entries.names) host::NarrowModesAt(copies.Get(), name.toStdString(), files, folders);
  return succeeded;
}

void RemoveTemporaryFolders() {
  std::lock_guard<std::mutex> lock(rootsMutex);
  for (const auto& root : Roots()) root->Remove();
  Roots().clear();
}

}  // namespace app
