#include "app/restore_tree_access.h"

namespace app {

const IncrementalBackup::CFolder* RestoreTreeAccess::FindFolder(const QString& path) const {
  if (!IsValid() || path.isEmpty()) return nullptr;
  // The creator finds the children of large folders by hash.
  const IncrementalBackup::CFSObject* node = creator_->FindNode(path.toStdU16String());
  return node != nullptr && node->IsFolder() ? static_cast<const IncrementalBackup::CFolder*>(node) : nullptr;
}

}  // namespace app
