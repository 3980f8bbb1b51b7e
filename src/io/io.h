// The stream interfaces under every read of an archive, a management file or a log.
#pragma once

#include <cstdint>
#include <string>

#include "host/file.h"

namespace QPXFile {

// Open modes passed down from the archive object and the management-file reader.
enum : uint16_t {
  kModeCreate = 1,     // create or truncate, write only, exclusive
  kModeRead = 2,       // read, others may read but not write
  kModeReadWrite = 3,  // read and write an existing file, exclusive
  kModeReadShared = 4, // read, others may read and write
  kModeClosed = 257,
};

// Last-error codes of the file streams.
enum : uint32_t {
  kErrorNone = 0,
  kErrorNotOpen = 2,
  kErrorIo = 3,
  kErrorNullBuffer = 4,
  kErrorWrongMode = 5,
  kErrorEndOfFile = 6,
  kErrorBadOrigin = 8,
  kErrorBadPath = 9,
};

// Seek origins.
enum : int {
  kSeekBegin = 1,
  kSeekCurrent = 2,
  kSeekEnd = 3,
};

class CIO {
 public:
  virtual ~CIO() = default;
  // bytesRead is optional; a short count at the end of a file is no failure.
  virtual bool Read(void* buffer, uint32_t length, uint32_t* bytesRead) = 0;
  virtual bool Write(const void* buffer, uint32_t length) = 0;
};

class CFileIO : public CIO {
 public:
  // path is in the Windows form the engine uses (Z:\home\me\a.qpx).
  virtual bool Open(const std::u16string& path, uint16_t mode) = 0;
  virtual bool Close() = 0;
  // Moves from the origin by distance, towards the end when forward is set.
  virtual bool Seek(const uint64_t& distance, int origin, bool forward) = 0;
  virtual bool Flush() = 0;
  virtual bool GetPathName(std::u16string& out) = 0;
  virtual bool IsOpen() = 0;
  virtual uint16_t GetOpenMode() = 0;
  virtual bool GetLength(uint64_t& out) = 0;
  virtual bool GetPosition(uint64_t& out) = 0;
  virtual bool IsEOF() = 0;
  virtual uint32_t GetLastError() = 0;

  // The host file holding the bytes at the current position, their offset in
  // it and how many of them follow there in one run (to the end of the file
  // or of a volume's window), so that a caller may read them by their
  // offset, from more than one thread at once. False for a stream that is
  // no single readable host file.
  virtual bool HostSpan(const host::PlatformFile*& file, uint64_t& offset, uint64_t& span) {
    (void)file, (void)offset, (void)span;
    return false;
  }

  // A hint that `bytes` more will be written from the current position, so
  // that the file system may set their space aside at once; what the stream
  // holds and its length stay as they are.
  virtual void ReserveAhead(uint64_t bytes) { (void)bytes; }

  // Convenience for absolute positioning, used by every section.
  bool SeekTo(uint64_t position) { return Seek(position, kSeekBegin, true); }
};

}  // namespace QPXFile
