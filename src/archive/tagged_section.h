// The pieces shared by the list sections (file list, folder list, category
// info): the length-and-tag head, record-count checks against the bytes
// actually present, and length-prefixed strings in either encoding.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/section.h"

namespace QPXFile {

// Format notes: a list section opens with
//   u32 L      number of bytes that follow this field
//   u32 T      length of the tag
//   T bytes    the tag, ANSI text without terminator ("FileList", ...)
// and its records follow. L is kept for GetSize only: the records are read by
// their own lengths, so the section really ends where its last record ends,
// which GetReadEnd reports.
class CQPXTaggedSection : public CQPXHeader {
 public:
  // L + 4; false while no tag is held.
  bool GetSize(uint64_t& out) override;

  bool HasTag() const { return hasTag_; }
  uint32_t GetStoredLength() const { return storedLength_; }
  // The tag bytes held.
  const std::string& GetTag() const { return tag_; }
  // The stream position right after the last record of the last successful
  // ReadBody; the next section of the archive starts there.
  bool GetReadEnd(uint64_t& out) const;

 protected:
  // A new section holds its standard tag and no records.
  explicit CQPXTaggedSection(const char* tag);

  // Reads L, T and the tag; fails on a short read, an implausible T or a tag
  // other than the expected one (exact, case-sensitive). The tag is held only
  // once it has been read and accepted.
  bool ReadHead(CFileIO& stream);
  // Records the end of a successful read.
  bool FinishRead(CFileIO& stream);
  void CopyHeadFrom(const CQPXTaggedSection& other);

  uint32_t TagLength() const { return static_cast<uint32_t>(tag_.size()); }

  const char* expectedTag_;   // the tag this class accepts
  uint32_t storedLength_;     // L: as read, or maintained by the writing side
  std::string tag_;           // the tag bytes held
  bool hasTag_ = true;        // tag_ is valid
  uint64_t readEnd_ = 0;      // position after the last record read
  bool hasReadEnd_ = false;   // readEnd_ is valid
};

// A tag longer than this is taken as damage rather than read.
constexpr uint32_t kMaxTagLength = 256;

// Whether `count` records of at least `minRecordBytes` each can still follow
// in the stream. Checked before any allocation or loop sized by a count.
bool CountFits(CFileIO& stream, uint32_t count, uint32_t minRecordBytes);

// n bytes of code page 932 text; fails on a short read or bytes the code page
// cannot convert.
bool ReadAnsiText(CFileIO& stream, uint16_t byteLength, std::u16string& out);
// n bytes of UTF-16LE; an odd count reads all n bytes and keeps n/2 units.
bool ReadUtf16Text(CFileIO& stream, uint16_t byteLength, std::u16string& out);

// Byte length of the text once encoded; false when it cannot be encoded or
// does not fit a 16-bit length field.
bool AnsiByteLength(std::u16string_view text, uint16_t& out);
bool Utf16ByteLength(std::u16string_view text, uint16_t& out);

}  // namespace QPXFile
