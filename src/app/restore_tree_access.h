// The panes' way from a path into the merged tree of a backup set: the
// folder tree and the file list find folders by path here, so how nodes are
// found changes in one place. Parents, rows and children come from the nodes.
#pragma once

#include <QString>

#include "generations/restore_tree.h"

namespace app {

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

 private:
  const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator* creator_ = nullptr;  // not owned
};

}  // namespace app
