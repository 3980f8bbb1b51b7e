// The data section of a stored file: its bytes as they are, an implode
// stream, or the raw export of an encrypted file.
#pragma once

#include <cstdint>
#include <functional>

#include "io/section.h"

namespace QPXFile {

// Told how many bytes were just processed; returning false stops the work,
// which then fails.
using ExtractProgress = std::function<bool(uint64_t)>;

// Why the last Extract failed, so callers can tell a damaged archive from a
// full disk or a user's cancel.
enum class ExtractFailure : uint8_t {
  kNone,
  kNotReady,        // section or destination not usable
  kArchiveRead,     // the archive stream failed
  kCutShort,        // the archive ended before the section's length
  kDestination,     // writing to the destination failed
  kCancelled,       // the progress callback said stop
  kBrokenStream,    // the implode stream is damaged
  kOutOfMemory,
};

// Imploded data (the kind made when Compressed is non-zero).
class CQPXBackupedFileData : public CSection {
 public:
  bool SeekToEnd() override;
  bool GetSize(uint64_t& out) override;
  bool IsValid() override;
  virtual bool SetSize(uint64_t size);
  // Storing data belongs to writing archives, which this program never does.
  virtual bool Store(CFileIO& /*source*/, uint32_t& /*crc*/, const ExtractProgress& /*progress*/) { return false; }
  // Writes the file's bytes to the destination from its position 0 and hands
  // out the CRC-32 register over them; the caller compares it with the record.
  virtual bool Extract(CFileIO& destination, uint32_t& crc, const ExtractProgress& progress);

  bool HasSize() const { return sized_; }
  ExtractFailure GetLastFailure() const { return failure_; }

 protected:
  bool BeginExtract(CFileIO& destination);
  bool Fail(ExtractFailure why) {
    failure_ = why;
    return false;
  }

  // An archive holds one data section per entry: the two small fields share
  // the section's last word.
  bool sized_ = false;
  ExtractFailure failure_ = ExtractFailure::kNone;
  uint64_t size_ = 0;
};

// The file's bytes as they are.
class CQPXBackupedNoCompressedFileData : public CQPXBackupedFileData {
 public:
  bool Extract(CFileIO& destination, uint32_t& crc, const ExtractProgress& progress) override;
};

// The raw export of an encrypted file, kept as is; a restore streams these
// bytes back to the system instead of decoding them.
class CQPXBackupedEncryptedFileData : public CQPXBackupedFileData {};

// Copies the section's bytes unchanged to the destination (the raw stream of
// an encrypted entry, or any entry's stored bytes), with a CRC over them.
bool CopySectionBytes(CSection& section, uint64_t size, CFileIO& destination, uint32_t& crc,
                      const ExtractProgress& progress, ExtractFailure& failure);

}  // namespace QPXFile
