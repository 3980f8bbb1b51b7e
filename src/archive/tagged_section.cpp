#include "archive/tagged_section.h"

#include <vector>

#include "host/text.h"

namespace QPXFile {

CQPXTaggedSection::CQPXTaggedSection(const char* tag) : expectedTag_(tag), tag_(tag) {
  storedLength_ = TagLength() + 8;
}

bool CQPXTaggedSection::GetSize(uint64_t& out) {
  if (!hasTag_) return false;
  out = static_cast<uint64_t>(storedLength_) + 4;
  return true;
}

bool CQPXTaggedSection::GetReadEnd(uint64_t& out) const {
  if (!hasReadEnd_) return false;
  out = readEnd_;
  return true;
}

bool CQPXTaggedSection::ReadHead(CFileIO& stream) {
  hasTag_ = false;
  hasReadEnd_ = false;
  uint32_t length = 0, tagLength = 0;
  if (!ReadU32(stream, length) || !ReadU32(stream, tagLength)) return false;
  if (tagLength > kMaxTagLength || !CountFits(stream, tagLength, 1)) return false;
  std::string bytes(tagLength, '\0');
  if (!ReadExact(stream, bytes.data(), tagLength)) return false;
  std::u16string tag, expected;
  if (!host::AnsiToWide(bytes, tag) || !host::AnsiToWide(expectedTag_, expected)) return false;
  if (tag != expected) return false;
  storedLength_ = length;
  tag_ = std::move(bytes);
  hasTag_ = true;
  return true;
}

bool CQPXTaggedSection::FinishRead(CFileIO& stream) {
  if (!stream.GetPosition(readEnd_)) return false;
  hasReadEnd_ = true;
  return true;
}

void CQPXTaggedSection::CopyHeadFrom(const CQPXTaggedSection& other) {
  tag_ = other.tag_;
  hasTag_ = other.hasTag_;
}

bool CountFits(CFileIO& stream, uint32_t count, uint32_t minRecordBytes) {
  uint64_t remaining = 0;
  if (!RemainingBytes(stream, remaining)) return false;
  return static_cast<uint64_t>(count) * minRecordBytes <= remaining;
}

bool ReadAnsiText(CFileIO& stream, uint16_t byteLength, std::u16string& out) {
  std::string bytes(byteLength, '\0');
  if (!ReadExact(stream, bytes.data(), byteLength)) return false;
  return host::AnsiToWide(bytes, out);
}

bool ReadUtf16Text(CFileIO& stream, uint16_t byteLength, std::u16string& out) {
  std::vector<uint8_t> bytes(byteLength);
  if (!ReadExact(stream, bytes.data(), byteLength)) return false;
  out = Utf16LeToWide(bytes.data(), bytes.size());
  return true;
}

bool AnsiByteLength(std::u16string_view text, uint16_t& out) {
  std::string bytes;
  if (!host::WideToAnsi(text, bytes) || bytes.size() > UINT16_MAX) return false;
  out = static_cast<uint16_t>(bytes.size());
  return true;
}

bool Utf16ByteLength(std::u16string_view text, uint16_t& out) {
  if (text.size() > UINT16_MAX / 2) return false;
  out = static_cast<uint16_t>(text.size() * 2);
  return true;
}

}  // namespace QPXFile
