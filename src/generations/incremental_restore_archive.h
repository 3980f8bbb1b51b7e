// The archive a restore from a backup set runs on: the checked folders of
// the restore tree with their attributes of the selected generation, and the
// stored entries of the checked files, each borrowed from the archive of the
// generation that holds its data. It restores like any archive; the
// generation archives (and so the lookup holding them) must outlive it.
#pragma once

#include "archive/restore_selection.h"

namespace IncrementalBackup {

class CIncrementalRestoreQPXFileExtend : public QPXFile::CRestoreSelectionQPXFileExtend {};

// The name such an archive shows: the management file's name with the
// generation as the user counts it (1 for the first).
std::u16string RestoreArchiveName(std::u16string_view managementPath, long generation);

}  // namespace IncrementalBackup
