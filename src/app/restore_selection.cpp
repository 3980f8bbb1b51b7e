#include "app/restore_selection.h"

#include <optional>

#include "app/qpx_manager_app.h"
#include "generations/set_history.h"

namespace app {

QString EntryPath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return name;
  return folder.endsWith(u'\\') ? folder + name : folder + u'\\' + name;
}

namespace {

const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator* CreatorOf(const CQPXManagerApp& app) {
  const IncrementalBackup::CBackupSet* set = app.Set();
  if (set == nullptr || set->IsArchiveAlone()) return nullptr;
  return &const_cast<IncrementalBackup::CBackupSet*>(set)->Creator();
}

// The bytes of a node as generation `from` (1-based) holds it; none when
// it is absent there. Only a file is had from a generation not shown.
std::optional<uint64_t> SizeIn(const IncrementalBackup::CFSObject& node, long from, long shown) {
  if (from == shown) {
    if (!node.Exists()) return std::nullopt;
    return node.IsFolder() ? IncrementalBackup::TotalsBelow(static_cast<const IncrementalBackup::CFolder&>(node)).fileSize
                           : static_cast<const IncrementalBackup::CFSFile&>(node).GetData().GetFileSize();
  }
  if (node.IsFolder()) return std::nullopt;
  const auto& data = static_cast<const IncrementalBackup::CFSFile&>(node).GetData();
  const IncrementalBackup::NodeState state = IncrementalBackup::StateAt(data.GetGeneration().GetUpdates(), from - 1);
  if (!state.present) return std::nullopt;
  const QPXFile::IQPXBackupedFile* entry = data.GetEntry(static_cast<uint32_t>(state.index));
  return entry != nullptr && entry->GetHeader() != nullptr ? entry->GetHeader()->GetFileSize() : 0;
}

}  // namespace

IncrementalBackup::RestoreSelection SelectEntries(const CQPXManagerApp& app, const QString& folder,
                                                  const QStringList& names, long generation) {
  IncrementalBackup::RestoreSelection selection;
  const auto* creator = CreatorOf(app);
  if (creator == nullptr) return selection;
  const long from = generation != 0 ? generation : app.Set()->SelectedShown();
  for (const QString& name : names) {
    const IncrementalBackup::CFSObject* node = creator->FindNode(EntryPath(folder, name).toStdU16String());
    if (node != nullptr && SizeIn(*node, from, app.Set()->SelectedShown()))
      selection.push_back({node->GetPath(), from, {}});
  }
  return selection;
}

bool HoldsFolder(const CQPXManagerApp& app, const IncrementalBackup::RestoreSelection& selection) {
  const auto* creator = CreatorOf(app);
  if (creator == nullptr) return false;
  for (const IncrementalBackup::ChosenPath& chosen : selection) {
    const IncrementalBackup::CFSObject* node = creator->FindNode(chosen.path);
    if (node != nullptr && node->IsFolder()) return true;
  }
  return false;
}

IncrementalBackup::RestoreSelection MarkedSelection(const CQPXManagerApp& app) {
  IncrementalBackup::RestoreSelection selection;
  const auto* creator = CreatorOf(app);
  if (creator == nullptr) return selection;
  const IncrementalBackup::CFSObject* node = creator->FindNode(app.CurrentFolder().toStdU16String());
  if (node == nullptr || !node->IsFolder()) return selection;
  const auto& folder = static_cast<const IncrementalBackup::CFolder&>(*node);
  const long shown = app.Set()->SelectedShown();
  for (const IncrementalBackup::CFSFile* file : folder.GetFiles())
    if (file->GetData().IsChecked()) selection.push_back({file->GetPath(), shown, {}});
  for (const IncrementalBackup::CFolder* sub : folder.GetFolders())
    if (sub->GetData().IsChecked()) selection.push_back({sub->GetPath(), shown, {}});
  return selection;
}

uint64_t SelectionBytes(const CQPXManagerApp& app, const IncrementalBackup::RestoreSelection& selection) {
  const auto* creator = CreatorOf(app);
  if (creator == nullptr) return 0;
  uint64_t bytes = 0;
  const long shown = app.Set()->SelectedShown();
  for (const IncrementalBackup::ChosenPath& chosen : selection) {
    const IncrementalBackup::CFSObject* node = creator->FindNode(chosen.path);
    if (node != nullptr) bytes += SizeIn(*node, chosen.generation != 0 ? chosen.generation : shown, shown).value_or(0);
  }
  return bytes;
}

bool MarkForRestore(CQPXManagerApp& app, const QString& folder, const QStringList& names) {
  IncrementalBackup::CBackupSet* set = app.MutableSet();
  if (set == nullptr) return false;
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator = set->Creator();
  bool marked = false;
  for (const QString& name : names) {
    IncrementalBackup::CFSObject* node = creator.FindNode(EntryPath(folder, name).toStdU16String());
    if (node == nullptr || !node->Exists()) continue;
    creator.SetChecked(*node, true);
    marked = true;
  }
  app.SetCurrentFolder(folder);
  return marked;
}

void UnmarkFolder(CQPXManagerApp& app, const QString& folder) {
  IncrementalBackup::CBackupSet* set = app.MutableSet();
  if (set == nullptr) return;
  IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator = set->Creator();
  if (IncrementalBackup::CFSObject* node = creator.FindNode(folder.toStdU16String())) creator.SetChecked(*node, false);
}

}  // namespace app
