#include "generations/incremental_restore_archive.h"

#include <new>

#include "archive/qpx_file_extend.h"
#include "entry/backuped_file.h"
#include "generations/restore_tree.h"
#include "host/string_ids.h"
#include "host/string_table.h"
#include "paths/path_helpers.h"

namespace IncrementalBackup {

std::u16string RestoreArchiveName(std::u16string_view managementPath, long generation) {
  std::u16string pattern;
  if (!host::LoadString(host::StringId::kGenerationName, pattern)) pattern = u"%s(%d)";
  const std::u16string name = paths::NamePart(managementPath);
  const std::u16string number = [generation] {
    const std::string digits = std::to_string(generation + 1);
    return std::u16string(digits.begin(), digits.end());
  }();
  std::u16string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size()) {
      const char16_t kind = pattern[i + 1];
      if (kind == u's' || kind == u'd' || kind == u'%') {
        out += kind == u's' ? name : kind == u'd' ? number : u"%";
        ++i;
        continue;
      }
    }
    out.push_back(pattern[i]);
  }
  return out;
}

bool CRegisterToQPXOperator::Taken(const CFSObject& node, bool checked) const {
  if (chosen_ == nullptr) return checked;
  if (!node.Exists()) return false;
  for (const CFSObject* at = &node; at != nullptr; at = at->GetParent())
    if (at == chosen_) return true;
  if (!node.IsFolder()) return false;
  for (const CFSObject* at = chosen_->GetParent(); at != nullptr; at = at->GetParent())
    if (at == &node) return true;
  return false;
}

bool CRegisterToQPXOperator::VisitFile(CFSFile& file, CIncrementalRestoreTreeFileData& data) {
  if (!Taken(file, data.IsChecked())) return true;
  QPXFile::IQPXBackupedFile* entry = data.GetCurrentEntry();
  // A checked file whose archive lacks its entry cannot be restored as asked.
  if (entry == nullptr) return false;
  return archive_.AddStoredEntry(entry);
}

bool CRegisterToQPXOperator::VisitFolder(CFolder& folder, CIncrementalRestoreTreeFolderData& data) {
  // A folder no record names has no attributes to give; its checked
  // children still enter the archive.
  if (!Taken(folder, data.IsChecked()) || data.IsAncestorOnly()) return true;
  CAttributes a;
  if (!data.GetCurrentAttributes(a)) a = CAttributes();
  return archive_.AddFolder(folder.GetPath(), a.Attributes, a.CreationTime, a.LastAccessTime, a.LastWriteTime);
}

std::unique_ptr<CIncrementalRestoreQPXFileExtend> CIncrementalRestoreQPXFileExtendCreator::CreateRestoreArchive()
    const {
  return MakeRestoreArchive(nullptr);
}

std::unique_ptr<CIncrementalRestoreQPXFileExtend> CIncrementalRestoreQPXFileExtendCreator::CreateRestoreArchive(
    const CFSObject& chosen) const {
  return MakeRestoreArchive(&chosen);
}

std::unique_ptr<CIncrementalRestoreQPXFileExtend> CIncrementalRestoreQPXFileExtendCreator::CreateRestoreArchive(
    const CFSFile& file, long g) const {
  try {
    if (!lookup_ || !tree_ || g < 0 || g >= lookup_->GetGenerationCount()) return nullptr;
    CGenerationInfo at;
    at.Attach(file.GetData().GetGeneration().GetUpdates());
    if (!at.SelectGeneration(g) || !at.Exists() || at.GetApplyingIndex() < 0) return nullptr;
    QPXFile::IQPXBackupedFile* entry = file.GetData().GetEntry(static_cast<uint32_t>(at.GetApplyingIndex()));
    if (entry == nullptr) return nullptr;

    auto archive = std::make_unique<CIncrementalRestoreQPXFileExtend>();
    QPXFile::CQPXFile* first = lookup_->GetGenerationArchive(0);
    if (auto* extend = dynamic_cast<QPXFile::CQPXFileExtend*>(first)) archive->LendFileList(extend->GetFileList());
    std::vector<const CFolder*> above;
    for (const CFolder* folder = file.GetParent(); folder != nullptr; folder = folder->GetParent()) above.push_back(folder);
    for (auto it = above.rbegin(); it != above.rend(); ++it) {
      const CIncrementalRestoreTreeFolderData& data = (*it)->GetData();
      if (data.IsAncestorOnly()) continue;
      CAttributes a;
      CGenerationInfo folderAt;
      folderAt.Attach(data.GetGeneration().GetUpdates());
      if (folderAt.SelectGeneration(g) && folderAt.Exists() && folderAt.GetApplyingIndex() >= 0 &&
          static_cast<uint32_t>(folderAt.GetApplyingIndex()) < data.attributes_.size())
        a = data.attributes_[static_cast<uint32_t>(folderAt.GetApplyingIndex())];
      if (!archive->AddFolder((*it)->GetPath(), a.Attributes, a.CreationTime, a.LastAccessTime, a.LastWriteTime))
        return nullptr;
    }
    if (!archive->AddStoredEntry(entry)) return nullptr;
    archive->SetName(RestoreArchiveName(lookup_->GetManagement().GetManagementPath(), g));
    return archive;
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::unique_ptr<CIncrementalRestoreQPXFileExtend> CIncrementalRestoreQPXFileExtendCreator::MakeRestoreArchive(
    const CFSObject* chosen) const {
  try {
    auto archive = std::make_unique<CIncrementalRestoreQPXFileExtend>();
    if (!lookup_ || !tree_ || lookup_->GetGenerationCount() <= 0) return nullptr;
    QPXFile::CQPXFile* first = lookup_->GetGenerationArchive(0);
    if (auto* extend = dynamic_cast<QPXFile::CQPXFileExtend*>(first)) archive->LendFileList(extend->GetFileList());
    CRegisterToQPXOperator op(*archive, chosen);
    if (!tree_->Traverse(op)) return nullptr;
    archive->SetName(RestoreArchiveName(lookup_->GetManagement().GetManagementPath(), selected_));
    return archive;
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace IncrementalBackup
