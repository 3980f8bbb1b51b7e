// The panes' one way into the merged tree of a backup set. Every question
// the folder tree and the file list ask of the engine's tree goes through
// here, so how nodes are found (and later, how parents and rows are known)
// changes in one place.
#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

#include "generations/restore_tree.h"

namespace app {

// A node as the panes see it: its name, whether it is a folder, and whether
// it is present in the selected generation.
struct TreeChild {
  QString name;
  bool folder = false;
  bool present = false;
};

class RestoreTreeAccess {
 public:
  RestoreTreeAccess() = default;
  explicit RestoreTreeAccess(const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator* creator) : creator_(creator) {}

  bool IsValid() const { return Tree() != nullptr; }
  const IncrementalBackup::CFSTree* Tree() const { return creator_ != nullptr ? creator_->GetTree() : nullptr; }
  // The selected generation (0-based), -1 without a tree.
  long Generation() const { return creator_ != nullptr ? creator_->GetSelectedGeneration() : -1; }

  // The folder a pane path ("C:\Data\Old") names, or null.
  const IncrementalBackup::CFolder* FindFolder(const QString& path) const;

  static QString NameText(std::u16string_view name) { return QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())); }

  // The folder's files in the tree's order, then (separately) its subfolders.
  template <class Fn>
  static void ForEachFile(const IncrementalBackup::CFolder& folder, Fn&& fn) {
    const auto& files = folder.GetFiles();
    for (size_t i = 0; i < files.size(); ++i)
      fn(i, TreeChild{NameText(files[i]->GetName()), false, files[i]->Exists()});
  }
  template <class Fn>
  static void ForEachSubfolder(const IncrementalBackup::CFolder& folder, Fn&& fn) {
    const auto& folders = folder.GetFolders();
    for (size_t i = 0; i < folders.size(); ++i)
      fn(i, TreeChild{NameText(folders[i]->GetName()), true, folders[i]->Exists()});
  }

  // The top-level folders (drives), in the tree's order.
  template <class Fn>
  void ForEachRoot(Fn&& fn) const {
    if (!IsValid()) return;
    for (const IncrementalBackup::CFolder* root : Tree()->GetRoots())
      fn(TreeChild{NameText(root->GetName()), true, root->Exists()});
  }

  // Runs the register walk: each present drive's name, then each present
  // folder's path goes to the sink.
  bool VisitPresentFolders(IncrementalBackup::IRestoreTreeFolderSink& sink) const;

 private:
  const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator* creator_ = nullptr;  // not owned
};

}  // namespace app
