#include "generations/incremental_manager.h"

#include <new>
#include <stdexcept>

#include "archive/qpx_file_extend.h"
#include "archive/qpx_file_factory.h"

namespace IncrementalBackup {

CIncrementalManager::CIncrementalManager() = default;

CIncrementalManager::~CIncrementalManager() { Reset(); }

void CIncrementalManager::ReportError(int32_t id) {
  lastError_ = id;
  Error(id);
}

bool CIncrementalManager::Rebuild(const std::u16string& archivePath) {
  // The damaged file's reader is of no further use; after the rebuild the
  // management path is the one the file would have beside the archive.
  management_.Reset();
  if (!management_.RebuildFromArchive(archivePath, &rebuiltFrom_)) {
    failed_ = FailedArchive{ManagerText::kRebuildFailed, 0, archivePath, management_.GetRebuildFault()};
    ReportError(ManagerText::kRebuildFailed);
    return false;
  }
  rebuilt_ = true;
  return true;
}

bool CIncrementalManager::LoadGenerations(const std::u16string& archivePath, const std::u16string& managementPath) {
  Reset();
  rebuilt_ = false;
  cutShort_ = false;
  lastError_ = -1;
  failed_ = FailedArchive{};

  Message(ManagerText::kReadingManagement);
  if (!CanContinue()) return false;

  if (!management_.Open(managementPath)) {
    if (user_) user_->Notice(ManagerText::kNoManagement);
    if (!Rebuild(archivePath)) return false;
  } else if (!management_.Load() || management_.GetArchiveCount() == 0) {
    // A file that lists no archive leaves nothing to show, so it is offered
    // the same rebuild as a damaged one.
    if (user_ == nullptr || !user_->AskYesNo(ManagerText::kDamagedRebuild)) {
      ReportError(ManagerText::kLoadCancelled);
      return false;
    }
    Message(ManagerText::kRebuilding);
    if (!Rebuild(archivePath)) return false;
  }

  Message(ManagerText::kUpdatingVersion);
  for (long i = 0; i < management_.GetArchiveCount(); ++i) {
    Message(ManagerText::kReadingGeneration);
    if (!CanContinue()) return false;
    const QPMFile::CQPMQPXFileInfo& record = *management_.GetArchive(i);
    const bool opened = rebuiltFrom_ && i == 0 ? AppendChecked(std::move(rebuiltFrom_), record) : OpenGeneration(record);
    if (!opened) {
      if (failed_.errorId == -1) failed_ = FailedArchive{ManagerText::kGenerationFailed, i, record.Path, failed_.fault};
      failed_.generation = i;
      failed_.path = record.Path;
      // The generations before a damaged or missing one are whole: the user
      // may keep them rather than lose the whole set.
      if (i > 0 && user_ != nullptr && user_->AskShowEarlier(failed_)) {
        cutShort_ = true;
        management_.KeepGenerations(i);
        break;
      }
      if (lastError_ == -1) ReportError(failed_.errorId);
      return false;
    }
  }
  return true;
}

bool CIncrementalManager::OpenGeneration(const QPMFile::CQPMQPXFileInfo& record) {
  // Running out of memory is not this generation's failure: it goes on to
  // the load's boundary, which tells it as such.
  QPXFile::OpenResult opened = QPXFile::OpenArchive(record.Path);
  if (!opened.archive) {
    failed_.fault = QPXFile::ArchiveFault::Of(opened);
    return false;
  }
  return AppendChecked(std::move(opened.archive), record);
}

bool CIncrementalManager::AppendChecked(std::unique_ptr<QPXFile::CQPXFile> archive,
                                        const QPMFile::CQPMQPXFileInfo& record) {
  if (archive->GetHeader() == nullptr || archive->GetHeader()->GetCreationTime() != record.CreationTime) {
    failed_.errorId = ManagerText::kOverwritten;
    return false;
  }
  archives_.push_back(std::move(archive));
  return true;
}

void CIncrementalManager::CheckGeneration(long generation) const {
  if (generation < 0 || generation >= GetGenerationCount())
    throw std::out_of_range("generation " + std::to_string(generation) + " of " +
                            std::to_string(GetGenerationCount()));
}

QPXFile::CQPXFile* CIncrementalManager::GetGenerationArchive(long generation) const {
  if (generation < 0 || generation >= GetGenerationCount()) return nullptr;
  return archives_[static_cast<size_t>(generation)].get();
}

QPXFile::IQPXBackupedFile* CIncrementalManager::FindGenerationEntry(long generation,
                                                                   std::u16string_view fullPath) const {
  CheckGeneration(generation);
  QPXFile::CQPXFile* archive = archives_[static_cast<size_t>(generation)].get();
  if (archive == nullptr) return nullptr;
  // The tree asks for each archive's entries in that archive's order, so the
  // archive's own hint (the entry after the last one found) answers nearly
  // every lookup with one comparison.
  const long index = archive->FindEntry(std::u16string(fullPath));
  return index < 0 ? nullptr : archive->GetEntry(index);
}

bool CIncrementalManager::GetFolderAttributes(long generation, std::u16string_view folderPath,
                                              CAttributes& out) const {
  CheckGeneration(generation);
  auto* archive = dynamic_cast<QPXFile::CQPXFileExtend*>(archives_[static_cast<size_t>(generation)].get());
  if (archive == nullptr || archive->GetFolderList() == nullptr) return false;
  const QPXFile::CQPXFolderList& folders = *archive->GetFolderList();
  const int index = folders.FindFolder(folderPath);
  if (index < 0) return false;
  CAttributes found;
  if (!folders.GetFolder(index, nullptr, &found.CreationTime, &found.Attributes, &found.LastAccessTime,
                         &found.LastWriteTime))
    return false;
  out = found;
  return true;
}

void CIncrementalManager::Reset() {
  archives_.clear();
  rebuiltFrom_.reset();
  management_.Reset();
}

}  // namespace IncrementalBackup
