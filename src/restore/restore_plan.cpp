#include "restore/restore_plan.h"

#include <cerrno>

#include "host/file.h"
#include "host/file_attributes.h"
#include "host/host_path.h"
#include "paths/path_helpers.h"
#include "paths/user_text.h"

namespace QPXFile {


uint64_t RestorePlan::TotalFileSize() const {
  uint64_t total = 0;
  for (const RestoreRun& run : runs) {
    uint64_t size = 0;
    if (run.selection->GetTotalFileSize(size)) total += size;
  }
  return total;
}

bool IsDrive(std::u16string_view text) {
  return text.size() == 2 && text[1] == u':' &&
         ((text[0] >= u'A' && text[0] <= u'Z') || (text[0] >= u'a' && text[0] <= u'z'));
}

char16_t DriveLetter(std::u16string_view drive) {
  return drive[0] >= u'a' ? static_cast<char16_t>(drive[0] - u'a' + u'A') : drive[0];
}

RestoreTarget DriveTarget(const std::u16string& destination, std::u16string_view drive) {
  return {true, paths::Join(destination, std::u16string(1, DriveLetter(drive))),
          std::u16string(1, DriveLetter(drive)) + u":"};
}

RestoreTarget ChosenTarget(const std::u16string& destination, const std::u16string& storedPath) {
  return IsDrive(storedPath) ? DriveTarget(destination, storedPath)
                             : RestoreTarget{true, destination, paths::FolderPart(storedPath)};
}

std::set<char16_t> DrivesOf(const CQPXFileExtend& archive) {
  std::set<char16_t> drives;
  auto add = [&](std::u16string_view path) {
    if (path.size() >= 2 && IsDrive(path.substr(0, 2)) && (path.size() == 2 || path[2] == u'\\'))
      drives.insert(DriveLetter(path));
  };
  if (const CQPXFolderList* folders = archive.GetFolderList()) {
    for (int i = 0; i < folders->GetFolderCount(); ++i) {
      std::u16string path;
      if (folders->GetFolder(i, &path, nullptr, nullptr, nullptr, nullptr)) add(path);
    }
  }
  std::u16string folder;
  for (long i = 0; i < archive.GetEntryCount(); ++i) {
    const CQPXBackupedFileHeader* header = archive.GetEntryHeader(i);
    if (header != nullptr && header->GetFolderName(folder)) add(folder);
  }
  return drives;
}

// The destination and its parents are the user's own path, so links on the
// way are followed.
bool MakeFolders(const std::u16string& path, std::string& why) {
  std::string hostPath, failedAt;
  int error = 0;
  if (!host::ToHostPath(path, hostPath)) hostPath = paths::HostPathText(path);
  if (host::MakeFolderPath(hostPath, error, failedAt)) return true;
  if (error == ENOTDIR)
    why = failedAt == hostPath ? "not a folder" : "cannot create the folder: " + failedAt + " is not a folder";
  else
    why = "cannot create the folder: " + (failedAt == hostPath ? std::string() : failedAt + ": ") +
          host::SystemErrorText(error);
  return false;
}

bool PlanArchiveRuns(CQPXFileExtend& source, const std::u16string& archivePath, const std::string& archiveText,
                     const std::u16string& destination, const std::vector<std::string>& chosen, RestorePlan& plan,
                     Problems& problems) {
  long selected = 0;
  auto add = [&](std::u16string_view path, RestoreTarget target) {
    RestoreRun run{std::make_unique<CRestoreSelectionQPXFileExtend>(), std::move(target)};
    run.selection->SetName(archivePath);
    if (!SelectFromArchive(source, path, *run.selection)) return false;
    selected += run.selection->GetEntryCount();
    plan.runs.push_back(std::move(run));
    return true;
  };
  if (chosen.empty()) {
    for (char16_t letter : DrivesOf(source)) {
      const std::u16string drive{letter, u':'};
      add(drive, DriveTarget(destination, drive));
    }
  } else {
    for (const std::string& argument : chosen) {
      const std::u16string path = paths::StoredPathArgument(argument);
      if (!add(path, ChosenTarget(destination, path))) {
        problems.push_back({archiveText, "nothing is stored at " + argument});
        return false;
      }
    }
  }
  // Entries stored without a drive in their folder belong to no drive and
  // would be lost without a word.
  plan.unplaced = chosen.empty() ? source.GetEntryCount() - selected : 0;
  plan.name = archivePath;
  return true;
}

}  // namespace QPXFile
