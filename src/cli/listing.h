// What list and test show of one entry or folder, shared by the commands on
// one archive and those on a generation of a backup set, so both print the
// same schema and the same words.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/format.h"
#include "entry/backuped_file_header.h"

namespace cli {

const char* MethodName(const QPXFile::CQPXBackupedFileHeader& header);

// The JSON object list prints for an entry and for a folder; dump it with
// `names`.
nlohmann::json EntryJson(JsonNames& names, const std::u16string& path, const QPXFile::CQPXBackupedFileHeader& header);
nlohmann::json FolderJson(JsonNames& names, const std::u16string& path, uint32_t attributes, uint64_t created,
                          uint64_t accessed, uint64_t modified);

// The text line list prints for an entry (size, stored, method, time, then
// the path), without the path.
std::string EntryLineHead(const QPXFile::CQPXBackupedFileHeader& header);

}  // namespace cli
