// An entry record with just what a restore's event handling reads from it
// (name, sizes, attributes), for tests that send restore events without an
// archive behind them.
#pragma once

#include <cstdint>
#include <string>

#include "entry/backuped_file_header.h"

namespace testsupport {

class EntryRecord : public QPXFile::CQPXBackupedFileHeader {
 public:
  EntryRecord(std::string name, uint64_t size, uint32_t attributes = 0x20) {
    SetNames(name, "");
    fileSize_ = size;
    dataSize_ = size;
    attributes_ = attributes;
    loaded_ = true;
  }
};

}  // namespace testsupport
