#include "entry/entry_check.h"

#include <cstdio>

#include "io/null_file_io.h"

namespace QPXFile {

EntryFault TestEntry(CQPXBackupedFileHeader& h, CQPXBackupedFileData& data) {
  CNullFileIO sink;
  const ExtractProgress noProgress;
  uint32_t crc = 0;
  if (h.IsEncrypted()) {
    // The raw export is kept as is and carries no checked CRC: reading it
    // whole is the test.
    ExtractFailure failure = ExtractFailure::kNone;
    if (data.SeekToStart() && CopySectionBytes(data, h.GetDataSize(), sink, crc, noProgress, failure)) return {};
    return {failure == ExtractFailure::kCutShort ? EntryFault::kCutShort : EntryFault::kUnreadable};
  }
  if (!data.Extract(sink, crc, noProgress)) {
    switch (data.GetLastFailure()) {
      case ExtractFailure::kCutShort:
        return {EntryFault::kCutShort};
      case ExtractFailure::kBrokenStream:
        return {EntryFault::kBrokenStream};
      case ExtractFailure::kOutOfMemory:
        return {EntryFault::kOutOfMemory};
      default:
        return {EntryFault::kUnreadable};
    }
  }
  if (sink.WrittenLength() != h.GetFileSize()) return {EntryFault::kSizeDiffers, h.GetFileSize(), sink.WrittenLength()};
  if (crc != h.GetCrc32()) return {EntryFault::kCrcDiffers, h.GetCrc32(), crc};
  return {};
}

std::string DescribeEntryFault(const EntryFault& fault) {
  switch (fault.kind) {
    case EntryFault::kNone:
      return {};
    case EntryFault::kCutShort:
      return "data cut short";
    case EntryFault::kBrokenStream:
      return "compressed data damaged";
    case EntryFault::kOutOfMemory:
      return "not enough memory";
    case EntryFault::kUnreadable:
      return "data cannot be read";
    case EntryFault::kSizeDiffers:
      return "size differs: the record says " + std::to_string(fault.recorded) + " bytes, the data holds " +
             std::to_string(fault.found);
    case EntryFault::kCrcDiffers: {
      char buf[96];
      std::snprintf(buf, sizeof buf, "CRC differs: the record says %08X, the data gives %08X",
                    static_cast<unsigned>(fault.recorded), static_cast<unsigned>(fault.found));
      return buf;
    }
  }
  return {};
}

}  // namespace QPXFile
