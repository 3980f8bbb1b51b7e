// The integrity test of one stored entry.
#pragma once

#include <string>

#include "entry/backuped_file_data.h"
#include "entry/backuped_file_header.h"

namespace QPXFile {

// Decodes the entry and compares its size and CRC: what is wrong, or empty
// when it is sound.
std::string CheckEntry(CQPXBackupedFileHeader& header, CQPXBackupedFileData& data);

}  // namespace QPXFile
