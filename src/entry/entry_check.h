// The integrity test of one stored entry.
#pragma once

#include <cstdint>
#include <string>

#include "entry/backuped_file_data.h"
#include "entry/backuped_file_header.h"

namespace QPXFile {

// What is wrong with an entry; the two numbers are those compared when the
// size or the CRC differs (what the record says, what the data gives).
struct EntryFault {
  enum Kind { kNone, kCutShort, kBrokenStream, kOutOfMemory, kUnreadable, kSizeDiffers, kCrcDiffers };
  Kind kind = kNone;
  uint64_t recorded = 0;
  uint64_t found = 0;
};

// Decodes the entry and compares its size and CRC.
EntryFault TestEntry(CQPXBackupedFileHeader& header, CQPXBackupedFileData& data);
// The fault in English; empty for none.
std::string DescribeEntryFault(const EntryFault& fault);

// What is wrong, or empty when it is sound.
inline std::string CheckEntry(CQPXBackupedFileHeader& header, CQPXBackupedFileData& data) {
  return DescribeEntryFault(TestEntry(header, data));
}

}  // namespace QPXFile
