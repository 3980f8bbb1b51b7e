#include "support/section_writers.h"

#include <cstring>
#include <string>

#include "host/text.h"
#include "support/bytes.h"

namespace testsupport {
namespace {

using namespace QPXFile;

constexpr uint32_t kFolderRecordFixedBytes = 30;

bool Flush(CFileIO& stream, const ByteWriter& out) {
  return stream.Write(out.bytes().data(), static_cast<uint32_t>(out.size()));
}

// Text in exactly `byteLength` bytes, padded with blanks; a stored length may
// exceed what the text needs, never fall short of it.
bool AnsiPadded(ByteWriter& out, std::u16string_view text, uint16_t byteLength) {
  std::string bytes;
  if (!host::WideToAnsi(text, bytes) || bytes.size() > byteLength) return false;
  bytes.resize(byteLength, ' ');
  out.Raw(bytes);
  return true;
}

bool Utf16Padded(ByteWriter& out, std::u16string_view text, uint16_t byteLength) {
  if (text.size() * 2 > byteLength) return false;
  std::string bytes = WideToUtf16Le(text);
  while (bytes.size() + 2 <= byteLength) bytes.append(" \0", 2);
  if (bytes.size() < byteLength) bytes.push_back(' ');  // odd stored length
  out.Raw(bytes);
  return true;
}

// A UTF-16 string with its byte length in front.
bool Utf16Prefixed(ByteWriter& out, std::u16string_view text) {
  uint16_t length = 0;
  if (!Utf16ByteLength(text, length)) return false;
  out.U16(length);
  return Utf16Padded(out, text, length);
}

// L, T and the tag; false when no tag is held or L does not fit its field.
bool Head(ByteWriter& out, const CQPXTaggedSection& section, uint64_t length) {
  if (!section.HasTag() || length > UINT32_MAX) return false;
  const std::string& tag = section.GetTag();
  out.U32(static_cast<uint32_t>(length)).U32(static_cast<uint32_t>(tag.size())).Raw(tag);
  return true;
}

bool PutAnsi(uint8_t* field, size_t width, std::u16string_view text) {
  std::string bytes;
  if (!host::WideToAnsi(text, bytes) || bytes.size() > width) return false;
  std::memset(field, ' ', width);
  std::memcpy(field, bytes.data(), bytes.size());
  return true;
}

bool PutUnicodeDescription(uint8_t* record, std::u16string_view text) {
  if (text.size() > kDescriptionUnits) return false;
  std::u16string padded(text);
  padded.resize(kDescriptionUnits, u' ');
  std::memcpy(record + kDescriptionOffset, WideToUtf16Le(padded).data(), kDescriptionBytes);
  return true;
}

}  // namespace

bool WriteSection(CFileIO& stream, const CQPXDivisionInfo& info) {
  ByteWriter out;
  const std::array<uint8_t, 6>& filler = info.GetFiller();
  out.U32(CQPXDivisionInfo::kStandardLength).U32(CQPXDivisionInfo::kTagLength).Raw(CQPXDivisionInfo::kTag);
  out.U16(info.GetSplitFlag()).Raw(std::vector<uint8_t>(filler.begin(), filler.end())).U64(info.GetVolumeSize());
  return Flush(stream, out);
}

bool WriteSection(CFileIO& stream, const CQPXFileHeader& header) {
  std::array<uint8_t, kFileHeaderSize> record;
  std::memcpy(record.data(), header.GetRecord(), kFileHeaderSize);
  if (dynamic_cast<const CUQPXFileHeader*>(&header) != nullptr) {
    std::u16string description;
    if (!header.GetDescription(description) || !PutUnicodeDescription(record.data(), description)) return false;
  }
  return stream.Write(record.data(), kFileHeaderSize);
}

bool WriteSection(CFileIO& stream, const CQPXCategoryInfo& info) {
  ByteWriter out;
  if (!Head(out, info, info.ComputeLength())) return false;
  out.U8(info.GetFlag() ? 1 : 0).U32(static_cast<uint32_t>(info.GetItemCount()));
  for (int i = 0; i < info.GetItemCount(); ++i) {
    std::u16string name, value;
    uint16_t code = 0;
    if (!info.GetItem(i, name, value, &code) || !Utf16Prefixed(out, name) || !Utf16Prefixed(out, value)) return false;
    out.U16(code);
  }
  return Flush(stream, out);
}

bool WriteSection(CFileIO& stream, const CQPXFileList& list) {
  ByteWriter out;
  if (!Head(out, list, list.ComputeLength())) return false;
  out.U32(static_cast<uint32_t>(list.GetFileCount()));
  const auto* unicode = dynamic_cast<const CQPXUnicodeFileList*>(&list);
  const bool wide = dynamic_cast<const CUQPXFileList*>(&list) != nullptr;
  for (int i = 0; i < list.GetFileCount(); ++i) {
    if (unicode != nullptr) {
      const CQPXUnicodeFileListPathInfo* info = nullptr;
      if (!unicode->GetPathInfo(i, info)) return false;
      out.U8(info->GetFlag() ? 1 : 0).U16(info->GetPathLength());
      if (!Utf16Padded(out, info->GetPath(), info->GetPathLength())) return false;
      out.U16(info->GetSecondLength());
      if (!Utf16Padded(out, info->GetSecond(), info->GetSecondLength())) return false;
      continue;
    }
    std::u16string path;
    uint16_t length = 0;
    if (!list.GetFile(i, nullptr, &path, &length)) return false;
    out.U8(list.GetFlagByte(i)).U16(length);
    if (!(wide ? Utf16Padded(out, path, length) : AnsiPadded(out, path, length))) return false;
  }
  return Flush(stream, out);
}

bool WriteSection(CFileIO& stream, const CQPXFolderList& list) {
  uint64_t length = 4 + static_cast<uint64_t>(list.GetTag().size()) + 4;
  for (int i = 0; i < list.GetFolderCount(); ++i) length += list.GetStoredPathLength(i) + kFolderRecordFixedBytes;
  ByteWriter out;
  if (!Head(out, list, length)) return false;
  out.U32(static_cast<uint32_t>(list.GetFolderCount()));
  const bool wide = dynamic_cast<const CUQPXFolderList*>(&list) != nullptr;
  for (int i = 0; i < list.GetFolderCount(); ++i) {
    std::u16string path;
    uint64_t creation = 0, lastAccess = 0, lastWrite = 0;
    uint32_t attributes = 0;
    if (!list.GetFolder(i, &path, &creation, &attributes, &lastAccess, &lastWrite)) return false;
    const uint16_t stored = list.GetStoredPathLength(i);
    out.U16(stored);
    if (!(wide ? Utf16Padded(out, path, stored) : AnsiPadded(out, path, stored))) return false;
    out.U32(attributes).U64(creation).U64(lastAccess).U64(lastWrite);
  }
  return Flush(stream, out);
}

bool WriteSection(CFileIO& stream, const CQPXBackupedFileHeader& record) {
  if (!record.IsLoaded()) return false;
  ByteWriter out;
  out.U32(record.GetRecordSize() - 4).U32(record.GetReserved()).U64(record.GetFileSize()).U64(record.GetDataSize());
  out.U8(record.GetCompressedByte()).U32(record.GetCrc32());
  out.U16(static_cast<uint16_t>(record.FileNameBytes().size())).Raw(record.FileNameBytes());
  out.U16(static_cast<uint16_t>(record.FolderBytes().size())).Raw(record.FolderBytes());
  out.U64(record.GetCreationTime()).U64(record.GetLastAccessTime()).U64(record.GetLastWriteTime());
  out.U32(record.GetAttributes());
  return Flush(stream, out);
}

bool HeaderRecord::SetText(size_t offset, std::u16string_view text) {
  return PutAnsi(bytes_.data() + offset, kHeaderTextWidth, text);
}

bool HeaderRecord::SetDescription(std::u16string_view text) {
  return PutAnsi(bytes_.data() + kDescriptionOffset, kDescriptionBytes, text);
}

bool HeaderRecord::SetUnicodeDescription(std::u16string_view text) {
  return PutUnicodeDescription(bytes_.data(), text);
}

}  // namespace testsupport
