// Sections: the regions of an archive stream (header, lists, entry records,
// entry data). Each knows the stream it lives in and its start in that stream.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "io/io.h"

namespace QPXFile {

class CSection {
 public:
  virtual ~CSection() = default;
  virtual bool SeekToStart();
  virtual bool SeekToEnd() = 0;
  // Yields the previous stream.
  virtual CFileIO* AttachIO(CFileIO* stream);
  virtual CFileIO* DetachIO();
  virtual bool MarkStart();
  virtual bool GetSize(uint64_t& out) = 0;
  virtual bool IsValid() = 0;

  CFileIO* GetIO() const { return stream_; }
  bool IsPositioned() const { return positioned_; }
  uint64_t GetStart() const { return start_; }

 protected:
  bool StreamOpen() const { return stream_ != nullptr && stream_->IsOpen(); }

  CFileIO* stream_ = nullptr;  // not owned
  uint64_t start_ = 0;
  bool positioned_ = false;
};

class CQPXHeader : public CSection {
 public:
  bool SeekToEnd() override;
  bool GetSize(uint64_t& out) override = 0;
  bool IsValid() override;

  virtual bool ReadSection();
  virtual bool ProbeSection();
  virtual bool CanGetSize() { return true; }
  virtual bool CheckBody() { return true; }
  virtual bool ReadBody(CFileIO& stream) = 0;
  virtual bool ProbeBody(CFileIO& /*stream*/) { return true; }

  // A section that has never been placed is read at the stream's current
  // position, which becomes its start.
  bool PlaceAndRead();
};

// Reads exactly `length` bytes; a short read is a failure. Every record
// reader goes through this, so a file that ends inside a record never yields
// half-filled fields.
bool ReadExact(CFileIO& stream, void* buffer, uint32_t length);
bool ReadU8(CFileIO& stream, uint8_t& out);
bool ReadU16(CFileIO& stream, uint16_t& out);
bool ReadU32(CFileIO& stream, uint32_t& out);
bool ReadU64(CFileIO& stream, uint64_t& out);

// Bytes between the stream's position and its end; false when either cannot
// be taken. Readers check a declared length against it before allocating, so
// a hostile count never makes a large allocation.
bool RemainingBytes(CFileIO& stream, uint64_t& out);

// Little-endian helpers on memory.
inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadU64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// UTF-16LE bytes <-> wide text; an odd byte count keeps count/2 units.
std::u16string Utf16LeToWide(const uint8_t* bytes, size_t byteCount);
std::string WideToUtf16Le(std::u16string_view text);

}  // namespace QPXFile
