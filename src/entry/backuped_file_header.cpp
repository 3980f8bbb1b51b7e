#include "entry/backuped_file_header.h"

#include "host/text.h"
#include "paths/path_helpers.h"

namespace QPXFile {

bool CQPXBackupedFileHeader::SeekToEnd() {
  if (!StreamOpen() || !positioned_ || !loaded_) return false;
  return stream_->SeekTo(start_ + totalSize_);
}

bool CQPXBackupedFileHeader::GetSize(uint64_t& out) {
  if (!loaded_) return false;
  out = totalSize_;
  return true;
}

bool CQPXBackupedFileHeader::ReadBody(CFileIO& stream) {
  // Each piece must arrive whole; the fields change only once all have.
  uint8_t fixed[31];
  if (!ReadExact(stream, fixed, 25) || !ReadExact(stream, fixed + 25, 6)) return false;
  const uint16_t n1 = LoadU16(fixed + 29);
  std::string name(n1, '\0');
  if (n1 > 0 && !ReadExact(stream, name.data(), n1)) return false;
  uint16_t n2 = 0;
  if (!ReadU16(stream, n2)) return false;
  std::string folder(n2, '\0');
  if (n2 > 0 && !ReadExact(stream, folder.data(), n2)) return false;
  uint8_t tail[28];
  if (!ReadExact(stream, tail, 28)) return false;

  recordLength_ = LoadU32(fixed);
  reserved_ = LoadU32(fixed + 4);
  fileSize_ = LoadU64(fixed + 8);
  dataSize_ = LoadU64(fixed + 16);
  compressed_ = fixed[24];
  crc32_ = LoadU32(fixed + 25);
  fileName_ = std::move(name);
  folder_ = std::move(folder);
  creation_ = LoadU64(tail);
  lastAccess_ = LoadU64(tail + 8);
  lastWrite_ = LoadU64(tail + 16);
  attributes_ = LoadU32(tail + 24);
  totalSize_ = recordLength_ + 4;
  loaded_ = true;
  return true;
}

bool CQPXBackupedFileHeader::WriteBody(CFileIO& stream) {
  if (!loaded_) return false;
  uint8_t fixed[31];
  StoreU32(fixed, recordLength_);
  StoreU32(fixed + 4, reserved_);
  StoreU64(fixed + 8, fileSize_);
  StoreU64(fixed + 16, dataSize_);
  fixed[24] = compressed_;
  StoreU32(fixed + 25, crc32_);
  StoreU16(fixed + 29, static_cast<uint16_t>(fileName_.size()));
  uint8_t tail[28];
  StoreU64(tail, creation_);
  StoreU64(tail + 8, lastAccess_);
  StoreU64(tail + 16, lastWrite_);
  StoreU32(tail + 24, attributes_);
  return stream.Write(fixed, 25) && stream.Write(fixed + 25, 6) &&
         (fileName_.empty() || stream.Write(fileName_.data(), static_cast<uint32_t>(fileName_.size()))) &&
         WriteU16(stream, static_cast<uint16_t>(folder_.size())) &&
         (folder_.empty() || stream.Write(folder_.data(), static_cast<uint32_t>(folder_.size()))) &&
         stream.Write(tail, 28);
}

bool CQPXBackupedFileHeader::ProbeBody(CFileIO& stream) {
  uint32_t length = 0;
  if (!ReadU32(stream, length)) return false;
  recordLength_ = length;
  totalSize_ = length + 4;
  loaded_ = true;
  return true;
}

bool CQPXBackupedFileHeader::DecodeName(const std::string& bytes, std::u16string& out) const {
  return host::AnsiToWide(bytes, out);
}

bool CQPXBackupedFileHeader::GetFileName(std::u16string& out) const {
  return loaded_ && DecodeName(fileName_, out);
}

bool CQPXBackupedFileHeader::GetFolderName(std::u16string& out) const {
  return loaded_ && DecodeName(folder_, out);
}

bool CQPXBackupedFileHeader::GetFullPath(std::u16string& out) const {
  std::u16string folder, name;
  if (!GetFolderName(folder) || !GetFileName(name)) return false;
  out = paths::Join(folder, name);
  return true;
}

bool CUQPXBackupedFileHeader::DecodeName(const std::string& bytes, std::u16string& out) const {
  out = Utf16LeToWide(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace QPXFile
