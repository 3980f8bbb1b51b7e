#include "archive/restore_selection.h"

#include <new>

#include "host/text.h"
#include "paths/path_helpers.h"

namespace QPXFile {
namespace {

// "C:\Docs\" and "C:\" name the same folders as "C:\Docs" and "C:"; the
// stored lists never end in a backslash.
std::u16string WithoutTrailingSeparators(std::u16string_view path) {
  std::u16string out(path);
  while (!out.empty() && (out.back() == u'\\' || out.back() == u'/')) out.pop_back();
  return out;
}

bool AtOrBelow(std::u16string_view folder, std::u16string_view candidate) {
  return host::EqualsNoCase(folder, candidate) || paths::IsBelow(folder, candidate);
}

}  // namespace

CRestoreSelectionQPXFileExtend::CRestoreSelectionQPXFileExtend() {
  // The entries belong to the archives they were taken from.
  ownsEntries_ = false;
  // Whatever the sources' encodings, UTF-16 paths hold every folder name.
  folderList_ = std::make_unique<CUQPXFolderList>();
  // A selection exists only to be restored, with the options the desktop
  // program sets before every restore.
  restoreFlagA_ = 1;
  restoreFlagB_ = 1;
}

CRestoreSelectionQPXFileExtend::~CRestoreSelectionQPXFileExtend() {
  // Nothing here was attached to a stream; the lent list is not ours.
  lentFileList_ = nullptr;
}

bool CRestoreSelectionQPXFileExtend::AddFolder(std::u16string_view path, uint32_t attributes, uint64_t creation,
                                               uint64_t lastAccess, uint64_t lastWrite) {
  if (!folderList_) return false;
  return folderList_->AddFolder(path, attributes, creation, lastAccess, lastWrite);
}

bool SelectFromArchive(CQPXFileExtend& source, std::u16string_view path, CRestoreSelectionQPXFileExtend& out) {
  const std::u16string wanted = WithoutTrailingSeparators(path);
  if (wanted.empty()) return false;
  bool found = false;

  if (const CQPXFolderList* folders = source.GetFolderList()) {
    for (int i = 0; i < folders->GetFolderCount(); ++i) {
      std::u16string folder;
      uint32_t attributes = 0;
      uint64_t creation = 0, lastAccess = 0, lastWrite = 0;
      if (!folders->GetFolder(i, &folder, &creation, &attributes, &lastAccess, &lastWrite)) continue;
      if (!AtOrBelow(wanted, folder)) continue;
      if (!out.AddFolder(folder, attributes, creation, lastAccess, lastWrite)) return false;
      found = true;
    }
  }

  // The folder of a file chosen alone stays out of the folder list: its
  // destination is the folder the user restores into, whose attributes and
  // times are not the stored folder's to give.
  std::u16string folder, fullPath;
  for (long i = 0; i < source.GetEntryCount(); ++i) {
    IQPXBackupedFile* entry = source.GetEntry(i);
    if (entry == nullptr || !entry->IsValid()) continue;
    const CQPXBackupedFileHeader* header = entry->GetHeader();
    if (!header->GetFolderName(folder) || !header->GetFullPath(fullPath)) continue;
    if (!AtOrBelow(wanted, folder) && !host::EqualsNoCase(wanted, fullPath)) continue;
    if (!out.AddStoredEntry(entry)) return false;
    found = true;
  }

  if (found && out.GetLentFileList() == nullptr) out.LendFileList(source.GetFileList());
  return found;
}

}  // namespace QPXFile
