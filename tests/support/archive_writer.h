// Test-only archive writer: a declarative description of an archive and the
// code that turns it into bytes, one stream in memory or files on disk (split
// into volumes when asked). The program itself never writes archives; the
// readers are tested on what this produces.
//
// Example:
//   testsupport::ArchiveSpec plan;                       // "QPX3.0  " by default
//   plan.folders.push_back({u"C:\\Data"});
//   plan.fileList.push_back({u"C:\\Data", 1});
//   plan.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = testsupport::Bytes("hello")});
//   plan.entries.push_back({.folder = u"C:\\Data", .name = u"b.bin", .data = big,
//                           .method = testsupport::Method::Imploded});
//   std::vector<uint8_t> image = testsupport::BuildArchiveImage(plan);
//   plan.volumeSize = 4096;
//   testsupport::WriteArchive(plan, dir / "set.qpx");    // set.qpx, set.qpx.1, ...
//
// Damaged archives, two ways:
// - in the description: entryCount, an entry's fileSize/dataSize/crc/
//   compressedByte, the section tags (e.g. tags.folderList = "folderlist"),
//   divisionFlag/divisionVolumeSize, sectionLevel, a short formatId;
//   for split sets volumeHeadPatches (a foreign volume: time; a broken chain:
//   continued) and missingVolumes;
// - afterwards, with support/corrupt.h on the image or the files, at the
//   positions ArchiveLayout reports (a list section's tag is at its start + 8,
//   an entry's DataSize at its record + 16). For a split set, map an archive
//   position to a file with the volume rule: volume 0 holds [0, S), volume
//   k >= 1 holds [S + (k-1)(S-12), S + k(S-12)) after its 12-byte head.
//
// A description that cannot be written (text the code page cannot hold, a
// field too long for its width, a volume size too small for the sections)
// throws std::invalid_argument; a file that cannot be written throws
// std::runtime_error. Either fails the calling test with the message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/implode_encoder.h"

namespace testsupport {

// How the sections after the header are laid out; by default it follows from
// the format identifier (see ArchiveSpec::formatId).
enum class Layout {
  HeaderOnly,  // the header alone ("F_QPX1.0", "F_QPX2.0", unknown identifiers)
  Ansi,        // code page 932 names: file list, folder list, division info
  Unicode,     // UTF-16 names: file list with second strings, folder list, division info, category info
};

struct FolderSpec {
  std::u16string path;
  uint32_t attributes = 0x10;
  uint64_t created = 0, accessed = 0, modified = 0;
};

// `second` is written only in Unicode archives.
struct FileListRecord {
  std::u16string path;
  uint8_t flag = 1;
  std::u16string second;
};

struct CategoryItem {
  std::u16string name, value;
  uint16_t code = 0;
};

enum class Method {
  Stored,     // the file's bytes as they are
  Imploded,   // one implode stream made by testsupport::Implode
  Encrypted,  // opaque raw stream kept as is; attributes get 0x4000
};

// A data section prepared once and shared by any number of entries, so that a
// large archive costs one compression and little memory.
struct EntryPayload {
  std::vector<uint8_t> bytes;  // the data section exactly as written
  uint64_t fileSize = 0;       // size of the file the section stands for
  uint32_t crc = 0;            // the entry CRC of that file
  bool compressed = false;     // the record's Compressed byte
};

// Encodes `data` the way an entry with that method would hold it.
std::shared_ptr<const EntryPayload> PreparePayload(const std::vector<uint8_t>& data, Method method,
                                                   LiteralMode literal = LiteralMode::Binary,
                                                   unsigned dictionary = 4096);

// Stored file contents produced piece by piece: fills `chunk` and yields
// true, or yields false when the file is complete. The record is written
// first and its sizes and CRC are filled in afterwards.
using ChunkSource = std::function<bool(std::vector<uint8_t>& chunk)>;

struct EntrySpec {
  std::u16string folder;  // everything before the last backslash ("C:" for a root file)
  std::u16string name;
  std::vector<uint8_t> data;
  Method method = Method::Stored;
  LiteralMode literal = LiteralMode::Binary;
  unsigned dictionary = 4096;
  uint32_t attributes = 0x20;
  uint64_t created = 0, accessed = 0, modified = 0;

  // Alternative sources of the data section; when set they replace data/method.
  std::shared_ptr<const EntryPayload> payload;
  ChunkSource source;  // stored contents, streamed

  // Overrides for damaged archives: the record says this, the data stays as made.
  std::optional<uint64_t> fileSize, dataSize;
  std::optional<uint32_t> crc;
  std::optional<uint8_t> compressedByte;
};

// Section tags, changeable so tests can write a wrong one.
struct SectionTags {
  std::string fileList = "FileList";
  std::string folderList = "FolderList";
  std::string divisionInfo = "Division_Info";
  std::string categoryInfo = "CategoryInfo";
};

// Edits to the 12-byte head of following volume k (k >= 1) after the set has
// been written, for foreign volumes and broken chains.
struct VolumeHeadPatch {
  unsigned volume = 1;
  std::optional<uint8_t> continued;
  std::optional<uint64_t> time;  // the creation time the head claims
};

struct ArchiveSpec {
  // Header bytes 0..7. Known identifiers choose the layout and the defaults
  // below; text shorter than 8 bytes is padded with NUL bytes (so "QPX2.0 "
  // gives an identifier with one blank), longer text is refused.
  std::string formatId = "QPX3.0  ";
  std::optional<Layout> layout;            // default: from formatId
  std::optional<uint32_t> sectionLevel;    // default 0 / 3 / 4; 0 omits the file list, 1 the folder list, 2 the division info
  uint64_t creationTime = 132000000000000000ull;  // 2019-04-14, local time as a FILETIME
  std::optional<std::string> versionText;  // header 24..31, default per identifier
  std::optional<std::string> compressionText;  // header 32..39, default per identifier
  std::u16string description;              // 128 ANSI bytes or 64 UTF-16 units, blank-padded

  std::vector<FolderSpec> folders;
  std::vector<FileListRecord> fileList;
  bool categoryFlag = false;
  std::vector<CategoryItem> categoryItems;
  std::vector<EntrySpec> entries;

  // The archive-wide compression option, repeated in the Compressed byte of
  // encrypted entries.
  bool compressionOption = true;

  // 0: one file; otherwise split into volumes of this size. The header and
  // the list sections must fit in the first volume.
  uint64_t volumeSize = 0;

  // Overrides for damaged archives.
  std::optional<uint32_t> entryCount;          // header bytes 20..23
  std::optional<uint16_t> divisionFlag;        // default 1 when split, else 0
  std::optional<uint64_t> divisionVolumeSize;  // default volumeSize
  SectionTags tags;
  std::vector<VolumeHeadPatch> volumeHeadPatches;  // applied by WriteArchive
  std::vector<unsigned> missingVolumes;            // following volumes WriteArchive deletes after writing
};

// Where each part of an archive lies in the image (archive positions, before
// splitting). Absent sections are std::nullopt.
struct ArchiveLayout {
  struct EntryPlace {
    uint64_t record = 0;  // first byte of the entry record
    uint64_t data = 0;    // first byte of the data section
    uint64_t dataSize = 0;
  };
  std::optional<uint64_t> fileList, folderList, divisionInfo, categoryInfo;
  uint64_t entriesStart = 0;  // just after the last section
  std::vector<EntryPlace> entries;
  uint64_t size = 0;
};

// The archive as one byte stream, never split (volumeSize only shapes the
// division info). `layout`, when given, receives the section positions.
std::vector<uint8_t> BuildArchiveImage(const ArchiveSpec& plan, ArchiveLayout* layout = nullptr);

// Writes the archive to `firstVolume`, or to the volumes P, P.1, P.2 ... when
// plan.volumeSize is set. Streams entry by entry: only one entry's data is in
// memory at a time (one chunk for a ChunkSource). A split archive always has
// at least one following volume, the last with continued = 0.
void WriteArchive(const ArchiveSpec& plan, const std::filesystem::path& firstVolume,
                  ArchiveLayout* layout = nullptr);

// Cuts an image into volume files' contents the way WriteArchive does (heads
// carry `creationTime`); no patches are applied.
std::vector<std::vector<uint8_t>> SplitImage(const std::vector<uint8_t>& image, uint64_t volumeSize,
                                             uint64_t creationTime);

// "P.k" for k >= 1, P itself for k = 0.
std::filesystem::path VolumePath(const std::filesystem::path& firstVolume, unsigned k);

// Bytes of a narrow literal ("hello" -> 68 65 6C 6C 6F), for short file contents.
std::vector<uint8_t> Bytes(std::string_view text);

// The entry CRC: the CRC-32 register from 0xFFFFFFFF without final
// inversion, and 0 for an empty file.
uint32_t EntryCrc(const uint8_t* data, size_t size);

// The layout a format identifier implies (HeaderOnly for unknown ones).
Layout DefaultLayout(std::string_view formatId);

}  // namespace testsupport
