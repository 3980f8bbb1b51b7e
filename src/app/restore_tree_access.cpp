#include "app/restore_tree_access.h"

namespace app {

const IncrementalBackup::CFolder* RestoreTreeAccess::FindFolder(const QString& path) const {
  if (!IsValid() || path.isEmpty()) return nullptr;
  const IncrementalBackup::CFSObject* node = Tree()->Find(path.toStdU16String());
  return node != nullptr && node->IsFolder() ? static_cast<const IncrementalBackup::CFolder*>(node) : nullptr;
}

bool RestoreTreeAccess::VisitPresentFolders(IncrementalBackup::IRestoreTreeFolderSink& sink) const {
  if (!IsValid()) return false;
  // A drive whose files lie in its root and that has no folder below it is
  // reached by no folder's path: each present drive is given first.
  for (const IncrementalBackup::CFolder* root : Tree()->GetPresentRoots())
    if (!sink.InsertFolderPath(std::u16string(root->GetName()))) return false;
  IncrementalBackup::CRegisterOperator visitor(sink);
  return Tree()->Traverse(visitor);
}

}  // namespace app
