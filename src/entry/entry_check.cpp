#include "entry/entry_check.h"

#include <cstdio>

#include "io/null_file_io.h"

namespace QPXFile {

std::string CheckEntry(CQPXBackupedFileHeader& h, CQPXBackupedFileData& data) {
  CNullFileIO sink;
  const ExtractProgress noProgress;
  uint32_t crc = 0;
  if (h.IsEncrypted()) {
    // The raw export is kept as is and carries no checked CRC: reading it
    // whole is the test.
    ExtractFailure failure = ExtractFailure::kNone;
    if (data.SeekToStart() && CopySectionBytes(data, h.GetDataSize(), sink, crc, noProgress, failure)) return {};
    return failure == ExtractFailure::kCutShort ? "data cut short" : "data cannot be read";
  }
  if (!data.Extract(sink, crc, noProgress)) {
    switch (data.GetLastFailure()) {
      case ExtractFailure::kCutShort:
        return "data cut short";
      case ExtractFailure::kBrokenStream:
        return "compressed data damaged";
      case ExtractFailure::kOutOfMemory:
        return "not enough memory";
      default:
        return "data cannot be read";
    }
  }
  if (sink.WrittenLength() != h.GetFileSize())
    return "size differs: the record says " + std::to_string(h.GetFileSize()) + " bytes, the data holds " +
           std::to_string(sink.WrittenLength());
  if (crc != h.GetCrc32()) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "CRC differs: the record says %08X, the data gives %08X", h.GetCrc32(), crc);
    return buf;
  }
  return {};
}

}  // namespace QPXFile
