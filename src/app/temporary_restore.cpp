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

long CopyGeneration(CQPXManagerApp& app, long generation) {
  if (generation != 0) return generation;
  return app.Set() != nullptr ? app.Set()->SelectedShown() : 1;
}

bool SafeName(const QString& name) {
  return !name.isEmpty() && !name.contains(u'/') && name != QStringLiteral(".") && name != QStringLiteral("..");
}

}  // namespace

QString TemporaryCopyFolder(CQPXManagerApp& app, const QString& folder, long generation) {
  QString path = RootPathFor(app.Config().TempFolder());
  if (path.isEmpty()) return {};
  for (const std::string& name : CopyFolderNames(CopyGeneration(app, generation), folder)) path += u'/' + QString::fromStdString(name);
  return path;
}

bool RunTemporaryRestore(CQPXManagerApp& app, QString folder, QStringList names, bool quiet, long generation) {
  // Made, checked and cleared by descriptor before anything is written: an
  // earlier copy of the same entries goes, so the restore never asks about
  // overwriting a file of the program's own.
  host::RunFolder* root = RootFor(app.Config().TempFolder());
  host::UniqueFd copies;
  if (root != nullptr) copies = host::MakePrivatePath(root->Fd(), CopyFolderNames(CopyGeneration(app, generation), folder));
  bool cleared = copies.Valid();
  for (const QString& name : names) cleared = cleared && SafeName(name) && host::RemoveTreeAt(copies.Get(), name.toStdString());
  if (!cleared) {
    ShowErrorMessage(kTemporaryFolderRefused);
    return false;
  }
  const QString target = TemporaryCopyFolder(app, folder, generation);

  IncrementalBackup::RestoreSelection selection = SelectEntries(app, folder, names, generation);
  if (selection.empty()) return false;
  QWidget* window = app.Window();
  bool succeeded = false;
  if (quiet) {
    CAutoRestoreDlg dialog(app, std::move(selection), target, window);
    dialog.SetQuiet(true);
    dialog.exec();
    succeeded = dialog.Succeeded();
  } else {
    // The user is looking at the target program: show where the wait comes from.
    if (window != nullptr) {
      window->raise();
      window->activateWindow();
    }
    CDropRestoreDlg dialog(app, std::move(selection), target, window);
    dialog.exec();
    succeeded = dialog.Succeeded();
  }
  // A drop that did not deliver leaves nothing half restored behind.
  if (!quiet && !succeeded) {
    for (const QString& name : names) host::RemoveTreeAt(copies.Get(), name.toStdString());
    return false;
  }
  // Copies are for this user only, whatever the umask; the one opened in a
  // viewer is also kept from being changed there, where it would be lost.
  const mode_t files = quiet ? 0400 : 0600;
  const mode_t folders = quiet ? 0500 : 0700;
  for (const QString& name : names) host::NarrowModesAt(copies.Get(), name.toStdString(), files, folders);
  return succeeded;
}

void RemoveTemporaryFolders() {
  std::lock_guard<std::mutex> lock(rootsMutex);
  for (const auto& root : Roots()) root->Remove();
  Roots().clear();
}

}  // namespace app
