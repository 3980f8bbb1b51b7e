// A destination that keeps nothing: integrity tests decode every entry and
// compare its CRC without writing the result anywhere. It is also the base
// of other sinks (tests, fuzz targets), which override only what they watch,
// usually Write.
#pragma once

#include "io/io.h"

namespace QPXFile {

class CNullFileIO : public CFileIO {
 public:
  bool Read(void*, uint32_t, uint32_t* bytesRead) override {
    if (bytesRead) *bytesRead = 0;
    return false;
  }
  bool Write(const void* buffer, uint32_t length) override {
    if (buffer == nullptr) return false;
    position_ += length;
    if (position_ > length_) length_ = position_;
    return true;
  }
  bool Open(const std::u16string&, uint16_t) override { return open_ = true; }
  bool Close() override {
    open_ = false;
    return true;
  }
  bool Seek(const uint64_t& distance, int origin, bool forward) override {
    uint64_t base = origin == kSeekBegin ? 0 : origin == kSeekCurrent ? position_ : length_;
    if (origin < kSeekBegin || origin > kSeekEnd) return false;
    if (!forward && distance > base) return false;
    position_ = forward ? base + distance : base - distance;
    return true;
  }
  bool Flush() override { return true; }
  bool GetPathName(std::u16string& out) override {
    out.clear();
    return true;
  }
  bool IsOpen() override { return open_; }
  uint16_t GetOpenMode() override { return open_ ? kModeCreate : kModeClosed; }
  bool GetLength(uint64_t& out) override {
    out = length_;
    return true;
  }
  bool GetPosition(uint64_t& out) override {
    out = position_;
    return true;
  }
  bool IsEOF() override { return false; }
  uint32_t GetLastError() override { return kErrorNone; }

  // Bytes written since the last seek to 0 count as the written size.
  uint64_t WrittenLength() const { return length_; }
  void Rewind() { position_ = length_ = 0; }

 private:
  bool open_ = true;
  uint64_t position_ = 0;
  uint64_t length_ = 0;
};

}  // namespace QPXFile
