#include "archive/file_header.h"

#include <cstring>

#include "host/text.h"

namespace QPXFile {

bool WritePaddedAnsiField(uint8_t* field, size_t width, std::u16string_view text) {
  std::string bytes;
  if (!host::WideToAnsi(text, bytes) || bytes.size() > width) return false;
  std::memset(field, ' ', width);
  std::memcpy(field, bytes.data(), bytes.size());
  return true;
}

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

bool CQPXFileHeader::WriteBody(CFileIO& stream) { return stream.Write(record_, kFileHeaderSize); }

bool CQPXFileHeader::SetDescription(std::u16string_view text) {
  return WritePaddedAnsiField(record_ + kDescriptionOffset, kDescriptionBytes, text);
}

bool CQPXFileHeader::GetDescription(std::u16string& out) {
  return ReadPaddedAnsiField(record_ + kDescriptionOffset, kDescriptionBytes, out);
}

bool CQPXFileHeader::GetTextField(size_t offset, std::u16string& out) const {
  return ReadPaddedAnsiField(record_ + offset, kHeaderTextWidth, out);
}

bool CQPXFileHeader::SetTextField(size_t offset, std::u16string_view text) {
  return WritePaddedAnsiField(record_ + offset, kHeaderTextWidth, text);
}

bool CUQPXFileHeader::ReadBody(CFileIO& stream) {
  if (!CQPXFileHeader::ReadBody(stream)) return false;
  std::u16string units = Utf16LeToWide(record_ + kDescriptionOffset, kDescriptionBytes);
  size_t nul = units.find(u'\0');
  if (nul != std::u16string::npos) units.resize(nul);
  description_ = std::move(units);
  return true;
}

bool CUQPXFileHeader::WriteBody(CFileIO& stream) {
  if (description_.size() > kDescriptionUnits) return false;
  std::u16string padded = description_;
  padded.resize(kDescriptionUnits, u' ');
  std::string bytes = WideToUtf16Le(padded);
  std::memcpy(record_ + kDescriptionOffset, bytes.data(), kDescriptionBytes);
  return CQPXFileHeader::WriteBody(stream);
}

bool CUQPXFileHeader::SetDescription(std::u16string_view text) {
  description_.assign(text);
  return true;
}

bool CUQPXFileHeader::GetDescription(std::u16string& out) {
  out = description_;
  return true;
}

}  // namespace QPXFile
