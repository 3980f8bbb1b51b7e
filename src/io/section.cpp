#include "io/section.h"

namespace QPXFile {

bool CSection::SeekToStart() {
  if (!StreamOpen() || !positioned_) return false;
  return stream_->SeekTo(start_);
}

CFileIO* CSection::AttachIO(CFileIO* stream) {
  CFileIO* previous = stream_;
  if (stream != stream_) {
    stream_ = stream;
    start_ = 0;
    positioned_ = false;
  }
  return previous;
}

CFileIO* CSection::DetachIO() {
  CFileIO* previous = stream_;
  stream_ = nullptr;
  start_ = 0;
  positioned_ = false;
  return previous;
}

bool CSection::MarkStart() {
  uint64_t position = 0;
  if (!StreamOpen() || !stream_->GetPosition(position)) {
    start_ = 0;
    positioned_ = false;
    return false;
  }
  start_ = position;
  positioned_ = true;
  return true;
}

bool CQPXHeader::SeekToEnd() {
  uint64_t size = 0;
  if (!StreamOpen() || !positioned_ || !CanGetSize() || !GetSize(size)) return false;
  return stream_->SeekTo(start_ + size);
}

bool CQPXHeader::IsValid() { return StreamOpen() && positioned_ && CheckBody(); }

bool CQPXHeader::ReadSection() {
  if (!StreamOpen() || !SeekToStart()) return false;
  return ReadBody(*stream_);
}

bool CQPXHeader::ProbeSection() {
  if (!StreamOpen()) return false;
  uint64_t position = 0;
  if (!stream_->GetPosition(position)) return false;
  if (SeekToStart()) ProbeBody(*stream_);
  return stream_->SeekTo(position);
}

bool CQPXHeader::PlaceAndRead() {
  if (!positioned_ && !MarkStart()) return false;
  return ReadSection();
}

bool ReadExact(CFileIO& stream, void* buffer, uint32_t length) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    uint32_t got = 0;
    if (!stream.Read(p + done, length - done, &got)) return false;
    if (got == 0) return false;  // end of data before the record was complete
    done += got;
  }
  return true;
}

bool ReadU8(CFileIO& stream, uint8_t& out) { return ReadExact(stream, &out, 1); }

bool ReadU16(CFileIO& stream, uint16_t& out) {
  uint8_t b[2];
  if (!ReadExact(stream, b, 2)) return false;
  out = LoadU16(b);
  return true;
}

bool ReadU32(CFileIO& stream, uint32_t& out) {
  uint8_t b[4];
  if (!ReadExact(stream, b, 4)) return false;
  out = LoadU32(b);
  return true;
}

bool ReadU64(CFileIO& stream, uint64_t& out) {
  uint8_t b[8];
  if (!ReadExact(stream, b, 8)) return false;
  out = LoadU64(b);
  return true;
}

bool RemainingBytes(CFileIO& stream, uint64_t& out) {
  uint64_t position = 0, length = 0;
  if (!stream.GetPosition(position) || !stream.GetLength(length)) return false;
  out = length > position ? length - position : 0;
  return true;
}

std::u16string Utf16LeToWide(const uint8_t* bytes, size_t byteCount) {
  std::u16string out(byteCount / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return out;
}

std::string WideToUtf16Le(std::u16string_view text) {
  std::string out(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<char>(text[i] & 0xFF);
    out[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return out;
}

}  // namespace QPXFile
