#include "archive/file_header.h"

#include <cstring>

#include "host/text.h"

namespace QPXFile {

bool ReadPaddedAnsiField(const uint8_t* field, size_t width, std::u16string& out) {
  const char* text = reinterpret_cast<const char*>(field);
  size_t length = 0;
  while (length < width && text[length] != '\0') ++length;
  return host::AnsiToWide(std::string_view(text, length), out);
}

bool CQPXFileHeader::GetSize(uint64_t& out) {
  out = kFileHeaderSize;
  return true;
}

bool CQPXFileHeader::ReadBody(CFileIO& stream) {
  uint8_t bytes[kFileHeaderSize];
  if (!ReadExact(stream, bytes, kFileHeaderSize)) return false;
  std::memcpy(record_, bytes, kFileHeaderSize);
  return true;
}

bool CQPXFileHeader::GetDescription(std::u16string& out) const {
  return ReadPaddedAnsiField(record_ + kDescriptionOffset, kDescriptionBytes, out);
}

bool CQPXFileHeader::GetTextField(size_t offset, std::u16string& out) const {
  return ReadPaddedAnsiField(record_ + offset, kHeaderTextWidth, out);
}

bool CUQPXFileHeader::ReadBody(CFileIO& stream) {
  if (!CQPXFileHeader::ReadBody(stream)) return false;
  std::u16string units = Utf16LeToWide(record_ + kDescriptionOffset, kDescriptionBytes);
  size_t nul = units.find(u'\0');
  if (nul != std::u16string::npos) units.resize(nul);
  description_ = std::move(units);
  return true;
}

bool CUQPXFileHeader::GetDescription(std::u16string& out) const {
  out = description_;
  return true;
}

}  // namespace QPXFile
