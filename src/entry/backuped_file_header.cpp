#include "entry/backuped_file_header.h"

#include <cstring>
#include <vector>

#include "entry/entry_names.h"
#include "host/text.h"
#include "paths/path_helpers.h"

namespace QPXFile {

bool CQPXBackupedFileHeader::SeekToEnd() {
  if (!StreamOpen() || !positioned_ || !loaded_) return false;
  return stream_->SeekTo(start_ + GetRecordSize());
}

bool CQPXBackupedFileHeader::GetSize(uint64_t& out) {
  if (!loaded_) return false;
  out = GetRecordSize();
  return true;
}

void CQPXBackupedFileHeader::FreeNames() {
  if (ownsNames_) delete[] name_;
  ownsNames_ = false;
  name_ = nullptr;
  folder_ = nullptr;
}

void CQPXBackupedFileHeader::SetNames(std::string_view name, std::string_view folder) {
  uint8_t* block = nullptr;
  if (!name.empty() || !folder.empty()) {
    block = new uint8_t[name.size() + folder.size()];
    if (!name.empty()) std::memcpy(block, name.data(), name.size());
    if (!folder.empty()) std::memcpy(block + name.size(), folder.data(), folder.size());
  }
  FreeNames();
  name_ = block;
  folder_ = block != nullptr ? block + name.size() : nullptr;
  ownsNames_ = block != nullptr;
  nameLength_ = static_cast<uint16_t>(name.size());
  folderLength_ = static_cast<uint16_t>(folder.size());
}

bool CQPXBackupedFileHeader::ReadBody(CFileIO& stream) { return Parse(stream, nullptr); }

bool CQPXBackupedFileHeader::ReadSectionInto(CEntryNameStore& names) {
  return StreamOpen() && SeekToStart() && Parse(*stream_, &names);
}

bool CQPXBackupedFileHeader::Parse(CFileIO& stream, CEntryNameStore* names) {
  // Each piece must arrive whole; the fields change only once all have.
  uint8_t fixed[31];
  if (!ReadExact(stream, fixed, 25) || !ReadExact(stream, fixed + 25, 6)) return false;
  const uint16_t n1 = LoadU16(fixed + 29);
  std::vector<uint8_t> own;
  std::vector<uint8_t>& bytes = names != nullptr ? names->Scratch() : own;
  bytes.resize(n1);
  if (n1 > 0 && !ReadExact(stream, bytes.data(), n1)) return false;
  uint16_t n2 = 0;
  if (!ReadU16(stream, n2)) return false;
  bytes.resize(size_t{n1} + n2);
  if (n2 > 0 && !ReadExact(stream, bytes.data() + n1, n2)) return false;
  uint8_t tail[28];
  if (!ReadExact(stream, tail, 28)) return false;

  const std::string_view name(reinterpret_cast<const char*>(bytes.data()), n1);
  const std::string_view folder(reinterpret_cast<const char*>(bytes.data()) + n1, n2);
  if (names != nullptr) {
    const uint8_t* nameCopy = names->Add(name);
    const uint8_t* folderCopy = names->AddFolder(folder);
    FreeNames();
    name_ = nameCopy;
    folder_ = folderCopy;
    nameLength_ = n1;
    folderLength_ = n2;
  } else {
    SetNames(name, folder);
  }

  recordLength_ = LoadU32(fixed);
  reserved_ = LoadU32(fixed + 4);
  fileSize_ = LoadU64(fixed + 8);
  dataSize_ = LoadU64(fixed + 16);
  compressed_ = fixed[24];
  crc32_ = LoadU32(fixed + 25);
  creation_ = LoadU64(tail);
  lastAccess_ = LoadU64(tail + 8);
  lastWrite_ = LoadU64(tail + 16);
  attributes_ = LoadU32(tail + 24);
  loaded_ = true;
  return true;
}

bool CQPXBackupedFileHeader::ProbeBody(CFileIO& stream) {
  uint32_t length = 0;
  if (!ReadU32(stream, length)) return false;
  recordLength_ = length;
  loaded_ = true;
  return true;
}

bool CQPXBackupedFileHeader::DecodeName(std::string_view bytes, std::u16string& out) const {
  return host::AnsiToWide(bytes, out);
}

bool CQPXBackupedFileHeader::GetFileName(std::u16string& out) const {
  return loaded_ && DecodeName(FileNameBytes(), out);
}

bool CQPXBackupedFileHeader::GetFolderName(std::u16string& out) const {
  return loaded_ && DecodeName(FolderBytes(), out);
}

bool CQPXBackupedFileHeader::GetFullPath(std::u16string& out) const {
  std::u16string folder, name;
  if (!GetFolderName(folder) || !GetFileName(name)) return false;
  out = paths::Join(folder, name);
  return true;
}

bool CUQPXBackupedFileHeader::DecodeName(std::string_view bytes, std::u16string& out) const {
  out = Utf16LeToWide(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace QPXFile
