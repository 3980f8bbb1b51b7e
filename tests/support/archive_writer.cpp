#include "support/archive_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "entry/crc32.h"
#include "host/text.h"
#include "support/bytes.h"

namespace testsupport {
namespace {

[[noreturn]] void Refuse(const std::string& what) { throw std::invalid_argument("archive writer: " + what); }

constexpr uint32_t kHeaderSize = 168;
constexpr uint64_t kVolumeHeadSize = 12;
constexpr uint32_t kEncryptedAttribute = 0x4000;

// What a format identifier implies when the description does not say otherwise.
struct KindDefaults {
  Layout layout;
  uint32_t sectionLevel;
  const char* versionText;
  const char* compressionText;
  bool unicodeDescription;
};

KindDefaults DefaultsFor(std::string_view formatId) {
  if (formatId == "QPX1.0  ") return {Layout::Ansi, 0, "QPX1.0  ", "PKWARE  ", false};
  if (formatId == "QPX2.0  ") return {Layout::Ansi, 3, "QPX2.0  ", "PKWARE  ", false};
  if (formatId == "QPX3.0  ") return {Layout::Unicode, 4, "QPX3.0  ", "PKWARE  ", true};
  if (formatId == "F_QPX1.0") return {Layout::HeaderOnly, 0, "QPX2.0  ", "PKWARE  ", false};
  if (formatId == "F_QPX2.0") return {Layout::HeaderOnly, 0, "QPX3.0  ", "NA      ", true};
  return {Layout::HeaderOnly, 0, "QPX2.0  ", "PKWARE  ", false};
}

std::string AnsiBytes(std::u16string_view text, const char* what) {
  std::string out;
  if (!host::WideToAnsi(text, out)) Refuse(std::string(what) + " cannot be written in code page 932");
  return out;
}

// An 8-byte header text: NUL-padded, so a shorter identifier stays distinct
// from the blank-padded constants.
void FixedText(ByteWriter& out, std::string_view text, const char* what) {
  if (text.size() > 8) Refuse(std::string(what) + " is longer than 8 bytes");
  out.Raw(text);
  for (size_t i = text.size(); i < 8; ++i) out.U8(0);
}

void Description(ByteWriter& out, std::u16string_view text, bool unicode) {
  if (unicode) {
    if (text.size() > 64) Refuse("description is longer than 64 UTF-16 units");
    out.Utf16(text);
    for (size_t i = text.size(); i < 64; ++i) out.U16(0x20);
  } else {
    std::string bytes = AnsiBytes(text, "description");
    if (bytes.size() > 128) Refuse("description is longer than 128 bytes");
    out.Raw(bytes);
    for (size_t i = bytes.size(); i < 128; ++i) out.U8(0x20);
  }
}

// A string with its 16-bit byte length in front.
void LengthPrefixed(ByteWriter& out, std::u16string_view text, bool unicode, const char* what) {
  if (unicode) {
    if (text.size() > 0x7FFF) Refuse(std::string(what) + " is too long");
    out.U16(static_cast<uint16_t>(text.size() * 2)).Utf16(text);
  } else {
    std::string bytes = AnsiBytes(text, what);
    if (bytes.size() > 0xFFFF) Refuse(std::string(what) + " is too long");
    out.U16(static_cast<uint16_t>(bytes.size())).Raw(bytes);
  }
}

// Every list section opens with L (the bytes after it), T and the ANSI tag.
ByteWriter BeginList(std::string_view tag) {
  ByteWriter out;
  out.U32(0).U32(static_cast<uint32_t>(tag.size())).Raw(tag);
  return out;
}

std::vector<uint8_t> EndList(ByteWriter& out) {
  out.PatchU32(0, static_cast<uint32_t>(out.size() - 4));
  return out.take();
}

// Format note, file list: L, T, "FileList", N, then N records. ANSI record:
// flag, n, n path bytes. Unicode record: flag, a, path (UTF-16LE), b, second
// string (UTF-16LE).
std::vector<uint8_t> FileListSection(const ArchiveSpec& plan, bool unicode) {
  ByteWriter out = BeginList(plan.tags.fileList);
  out.U32(static_cast<uint32_t>(plan.fileList.size()));
  for (const FileListRecord& record : plan.fileList) {
    out.U8(record.flag);
    LengthPrefixed(out, record.path, unicode, "file list path");
    if (unicode) LengthPrefixed(out, record.second, true, "file list second string");
  }
  return EndList(out);
}

// Format note, folder list: L, T, "FolderList", N, then N records of n, the
// path, attributes and the creation, last-access and last-write times.
std::vector<uint8_t> FolderListSection(const ArchiveSpec& plan, bool unicode) {
  ByteWriter out = BeginList(plan.tags.folderList);
  out.U32(static_cast<uint32_t>(plan.folders.size()));
  for (const FolderSpec& folder : plan.folders) {
    LengthPrefixed(out, folder.path, unicode, "folder path");
    out.U32(folder.attributes).U64(folder.created).U64(folder.accessed).U64(folder.modified);
  }
  return EndList(out);
}

// Format note, division info: L (33), T (13), "Division_Info", a 16-bit split
// flag, six unused bytes (written as zero) and the 64-bit volume size.
std::vector<uint8_t> DivisionInfoSection(const ArchiveSpec& plan) {
  const bool split = plan.volumeSize != 0;
  ByteWriter out = BeginList(plan.tags.divisionInfo);
  out.U16(plan.divisionFlag.value_or(split ? 1 : 0));
  for (int i = 0; i < 6; ++i) out.U8(0);
  out.U64(plan.divisionVolumeSize.value_or(plan.volumeSize));
  return EndList(out);
}

// Format note, category info: L, T, "CategoryInfo", a flag byte, N, then N
// items of a, name, b, value (both UTF-16LE) and a 16-bit code.
std::vector<uint8_t> CategoryInfoSection(const ArchiveSpec& plan) {
  ByteWriter out = BeginList(plan.tags.categoryInfo);
  out.U8(plan.categoryFlag ? 1 : 0).U32(static_cast<uint32_t>(plan.categoryItems.size()));
  for (const CategoryItem& item : plan.categoryItems) {
    LengthPrefixed(out, item.name, true, "category name");
    LengthPrefixed(out, item.value, true, "category value");
    out.U16(item.code);
  }
  return EndList(out);
}

// Receives the archive stream in order; Patch rewrites bytes already passed
// (the sizes and CRC of a streamed entry).
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Append(const uint8_t* data, size_t size) = 0;
  virtual void Patch(uint64_t offset, const uint8_t* data, size_t size) = 0;
  void Append(const std::vector<uint8_t>& bytes) { Append(bytes.data(), bytes.size()); }
  uint64_t Position() const { return position_; }

 protected:
  uint64_t position_ = 0;
};

class MemorySink : public Sink {
 public:
  explicit MemorySink(std::vector<uint8_t>& image) : image_(image) {}
  void Append(const uint8_t* data, size_t size) override {
    image_.insert(image_.end(), data, data + size);
    position_ += size;
  }
  void Patch(uint64_t offset, const uint8_t* data, size_t size) override {
    std::copy(data, data + size, image_.begin() + static_cast<std::ptrdiff_t>(offset));
  }

 private:
  std::vector<uint8_t>& image_;
};

// Where archive position p lies in a split set with volume size S and
// W = S - 12: volume 0 holds [0, S), volume k >= 1 holds
// [S + (k-1)W, S + kW) after its 12-byte head.
struct VolumePlace {
  unsigned volume;
  uint64_t filePosition;
  uint64_t room;  // bytes of this volume from the position on
};

VolumePlace PlaceInSet(uint64_t position, uint64_t volumeSize) {
  if (volumeSize == 0) return {0, position, UINT64_MAX};
  if (position < volumeSize) return {0, position, volumeSize - position};
  const uint64_t window = volumeSize - kVolumeHeadSize;
  const uint64_t q = position - volumeSize;
  const uint64_t offset = q % window;
  return {static_cast<unsigned>(q / window + 1), kVolumeHeadSize + offset, window - offset};
}

std::array<uint8_t, kVolumeHeadSize> VolumeHead(bool continued, uint64_t time) {
  std::array<uint8_t, kVolumeHeadSize> head{};
  head[0] = continued ? 1 : 0;
  for (int i = 0; i < 8; ++i) head[4 + i] = static_cast<uint8_t>(time >> (8 * i));
  return head;
}

[[noreturn]] void FileFailure(const std::filesystem::path& path, const char* what) {
  throw std::runtime_error(std::string("archive writer: cannot ") + what + " " + path.string());
}

void OverwriteInFile(const std::filesystem::path& path, uint64_t offset, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) FileFailure(path, "open");
  const bool ok = std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
                  std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !ok) FileFailure(path, "patch");
}

// Writes the stream to one file, or to a chain of volumes as it goes.
class VolumeSink : public Sink {
 public:
  VolumeSink(std::filesystem::path first, uint64_t volumeSize, uint64_t creationTime)
      : first_(std::move(first)), volumeSize_(volumeSize), creationTime_(creationTime) {
    OpenVolume(0);
  }
  ~VolumeSink() override {
    if (file_ != nullptr) std::fclose(file_);
  }

  void Append(const uint8_t* data, size_t size) override {
    while (size > 0) {
      const VolumePlace place = PlaceInSet(position_, volumeSize_);
      if (place.volume != current_) OpenVolume(place.volume);
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, place.room));
      if (std::fwrite(data, 1, piece, file_) != piece) FileFailure(VolumePath(first_, current_), "write");
      data += piece;
      size -= piece;
      position_ += piece;
    }
  }

  void Patch(uint64_t offset, const uint8_t* data, size_t size) override {
    if (std::fflush(file_) != 0) FileFailure(VolumePath(first_, current_), "flush");
    while (size > 0) {
      const VolumePlace place = PlaceInSet(offset, volumeSize_);
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, place.room));
      OverwriteInFile(VolumePath(first_, place.volume), place.filePosition, data, piece);
      data += piece;
      size -= piece;
      offset += piece;
    }
  }

  // Closes the set: a split archive gets at least one following volume (the
  // reader always looks for one), and the last head says no more follow.
  // Yields the number of files.
  unsigned Finish() {
    if (volumeSize_ != 0 && current_ == 0) OpenVolume(1);
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) FileFailure(VolumePath(first_, current_), "close");
    if (current_ > 0) {
      const auto head = VolumeHead(false, creationTime_);
      OverwriteInFile(VolumePath(first_, current_), 0, head.data(), head.size());
    }
    return current_ + 1;
  }

 private:
  void OpenVolume(unsigned k) {
    if (file_ != nullptr && std::fclose(file_) != 0) FileFailure(VolumePath(first_, current_), "close");
    const std::filesystem::path path = VolumePath(first_, k);
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) FileFailure(path, "create");
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    current_ = k;
    if (k > 0) {
      const auto head = VolumeHead(true, creationTime_);
      if (std::fwrite(head.data(), 1, head.size(), file_) != head.size()) FileFailure(path, "write");
    }
  }

  std::filesystem::path first_;
  uint64_t volumeSize_;
  uint64_t creationTime_;
  std::FILE* file_ = nullptr;
  unsigned current_ = 0;
};

// Format note, entry record: RecordLength (57 + N1 + N2), a reserved word (0),
// FileSize, DataSize, the Compressed byte, the CRC, N1 and the file name, N2
// and the folder, the creation, last-access and last-write times and the
// attributes; the data section of DataSize bytes follows directly.
constexpr uint64_t kFileSizeAt = 8, kDataSizeAt = 16, kCrcAt = 25;

std::vector<uint8_t> EntryRecord(const EntrySpec& entry, bool unicode, uint64_t fileSize, uint64_t dataSize,
                                 uint8_t compressed, uint32_t crc, uint32_t attributes) {
  ByteWriter names;
  LengthPrefixed(names, entry.name, unicode, "entry name");
  LengthPrefixed(names, entry.folder, unicode, "entry folder");
  ByteWriter out;
  out.U32(static_cast<uint32_t>(57 + names.size() - 4)).U32(0);
  out.U64(entry.fileSize.value_or(fileSize)).U64(entry.dataSize.value_or(dataSize));
  out.U8(entry.compressedByte.value_or(compressed)).U32(entry.crc.value_or(crc));
  out.Raw(names.bytes());
  out.U64(entry.created).U64(entry.accessed).U64(entry.modified).U32(attributes);
  return out.take();
}

void EmitStreamedEntry(const EntrySpec& entry, bool unicode, Sink& sink, ArchiveLayout::EntryPlace& place) {
  const uint64_t recordAt = sink.Position();
  sink.Append(EntryRecord(entry, unicode, 0, 0, 0, 0, entry.attributes));
  place.data = sink.Position();
  uint64_t size = 0;
  uint32_t reg = 0xFFFFFFFFu;
  std::vector<uint8_t> chunk;
  for (;;) {
    chunk.clear();
    if (!entry.source(chunk)) break;
    reg = QPXFile::Crc32Update(chunk.data(), chunk.size(), reg);
    sink.Append(chunk);
    size += chunk.size();
  }
  place.dataSize = size;
  uint8_t field[8];
  for (int i = 0; i < 8; ++i) field[i] = static_cast<uint8_t>(size >> (8 * i));
  if (!entry.fileSize) sink.Patch(recordAt + kFileSizeAt, field, 8);
  if (!entry.dataSize) sink.Patch(recordAt + kDataSizeAt, field, 8);
  if (!entry.crc) {
    const uint32_t crc = size == 0 ? 0 : reg;
    for (int i = 0; i < 4; ++i) field[i] = static_cast<uint8_t>(crc >> (8 * i));
    sink.Patch(recordAt + kCrcAt, field, 4);
  }
}

void EmitEntry(const ArchiveSpec& plan, const EntrySpec& entry, bool unicode, Sink& sink,
               ArchiveLayout::EntryPlace& place) {
  place.record = sink.Position();
  if (entry.source) {
    EmitStreamedEntry(entry, unicode, sink, place);
    return;
  }
  std::shared_ptr<const EntryPayload> made;
  const EntryPayload* payload = entry.payload.get();
  if (payload == nullptr) {
    made = PreparePayload(entry.data, entry.method, entry.literal, entry.dictionary);
    payload = made.get();
  }
  uint32_t attributes = entry.attributes;
  uint8_t compressed = payload->compressed ? 1 : 0;
  if (entry.method == Method::Encrypted && !entry.payload) {
    attributes |= kEncryptedAttribute;
    compressed = plan.compressionOption ? 1 : 0;
  }
  sink.Append(EntryRecord(entry, unicode, payload->fileSize, payload->bytes.size(), compressed, payload->crc,
                          attributes));
  place.data = sink.Position();
  place.dataSize = payload->bytes.size();
  sink.Append(payload->bytes);
}

void Emit(const ArchiveSpec& plan, Sink& sink, ArchiveLayout* layout) {
  if (plan.volumeSize != 0 && plan.volumeSize <= kVolumeHeadSize) Refuse("volume size must exceed 12 bytes");
  const KindDefaults defaults = DefaultsFor(plan.formatId);
  const Layout kind = plan.layout.value_or(defaults.layout);
  const bool unicode = kind == Layout::Unicode;
  const uint32_t level = plan.sectionLevel.value_or(defaults.sectionLevel);
  const uint32_t entryCount = plan.entryCount.value_or(static_cast<uint32_t>(plan.entries.size()));

  // Format note, header (168 bytes): FormatId, SectionLevel, CreationTime
  // (low word first), EntryCount, VersionText, CompressionText, Description.
  ByteWriter header;
  FixedText(header, plan.formatId, "format identifier");
  header.U32(level).U64(plan.creationTime).U32(entryCount);
  FixedText(header, plan.versionText.value_or(defaults.versionText), "version text");
  FixedText(header, plan.compressionText.value_or(defaults.compressionText), "compression text");
  Description(header, plan.description, plan.layout ? unicode : defaults.unicodeDescription);
  sink.Append(header.bytes());

  ArchiveLayout local;
  ArchiveLayout& where = layout != nullptr ? *layout : local;
  where = ArchiveLayout{};
  if (kind != Layout::HeaderOnly) {
    if (level != 0) {
      where.fileList = sink.Position();
      sink.Append(FileListSection(plan, unicode));
    }
    if (level != 1) {
      where.folderList = sink.Position();
      sink.Append(FolderListSection(plan, unicode));
    }
    if (level != 2) {
      where.divisionInfo = sink.Position();
      sink.Append(DivisionInfoSection(plan));
    }
    if (unicode) {
      where.categoryInfo = sink.Position();
      sink.Append(CategoryInfoSection(plan));
    }
  }
  where.entriesStart = sink.Position();
  // The reader maps the volumes only after the division info, so every
  // section must be readable from the first file.
  if (plan.volumeSize != 0 && where.entriesStart > plan.volumeSize)
    Refuse("the header and the list sections do not fit in the first volume");

  if (layout != nullptr) where.entries.resize(plan.entries.size());
  ArchiveLayout::EntryPlace scratch;
  for (size_t i = 0; i < plan.entries.size(); ++i)
    EmitEntry(plan, plan.entries[i], unicode, sink, layout != nullptr ? where.entries[i] : scratch);
  where.size = sink.Position();
}

}  // namespace

std::shared_ptr<const EntryPayload> PreparePayload(const std::vector<uint8_t>& data, Method method,
                                                   LiteralMode literal, unsigned dictionary) {
  auto payload = std::make_shared<EntryPayload>();
  payload->fileSize = data.size();
  switch (method) {
    case Method::Stored:
      payload->bytes = data;
      payload->crc = EntryCrc(data.data(), data.size());
      break;
    case Method::Imploded:
      // An empty file keeps an empty data section, as the reader expects.
      if (!data.empty()) payload->bytes = Implode(data.data(), data.size(), literal, dictionary);
      payload->crc = EntryCrc(data.data(), data.size());
      payload->compressed = true;
      break;
    case Method::Encrypted:
      // The raw stream is opaque and its CRC is never checked.
      payload->bytes = data;
      payload->crc = 0;
      break;
  }
  return payload;
}

std::vector<uint8_t> BuildArchiveImage(const ArchiveSpec& plan, ArchiveLayout* layout) {
  std::vector<uint8_t> image;
  MemorySink sink(image);
  Emit(plan, sink, layout);
  return image;
}

void WriteArchive(const ArchiveSpec& plan, const std::filesystem::path& firstVolume, ArchiveLayout* layout) {
  unsigned files = 0;
  {
    VolumeSink sink(firstVolume, plan.volumeSize, plan.creationTime);
    Emit(plan, sink, layout);
    files = sink.Finish();
  }
  for (const VolumeHeadPatch& patch : plan.volumeHeadPatches) {
    if (patch.volume == 0 || patch.volume >= files) Refuse("head patch for a volume that was not written");
    const std::filesystem::path path = VolumePath(firstVolume, patch.volume);
    if (patch.continued) OverwriteInFile(path, 0, &*patch.continued, 1);
    if (patch.time) {
      const auto head = VolumeHead(false, *patch.time);
      OverwriteInFile(path, 4, head.data() + 4, 8);
    }
  }
  for (unsigned k : plan.missingVolumes) {
    if (k == 0 || k >= files) Refuse("missing volume that was not written");
    std::filesystem::remove(VolumePath(firstVolume, k));
  }
}

std::vector<std::vector<uint8_t>> SplitImage(const std::vector<uint8_t>& image, uint64_t volumeSize,
                                             uint64_t creationTime) {
  if (volumeSize <= kVolumeHeadSize) Refuse("volume size must exceed 12 bytes");
  std::vector<std::vector<uint8_t>> volumes;
  const size_t firstSize = static_cast<size_t>(std::min<uint64_t>(image.size(), volumeSize));
  volumes.emplace_back(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(firstSize));
  size_t at = firstSize;
  const size_t window = static_cast<size_t>(volumeSize - kVolumeHeadSize);
  do {
    const size_t piece = std::min(window, image.size() - at);
    const auto head = VolumeHead(true, creationTime);
    std::vector<uint8_t> volume(head.begin(), head.end());
    volume.insert(volume.end(), image.begin() + static_cast<std::ptrdiff_t>(at),
                  image.begin() + static_cast<std::ptrdiff_t>(at + piece));
    volumes.push_back(std::move(volume));
    at += piece;
  } while (at < image.size());
  volumes.back()[0] = 0;
  return volumes;
}

std::filesystem::path VolumePath(const std::filesystem::path& firstVolume, unsigned k) {
  if (k == 0) return firstVolume;
  std::filesystem::path path = firstVolume;
  // Two appends: GCC 12 takes "." + string for an overlapping copy (-Wrestrict).
  path += ".";
  path += std::to_string(k);
  return path;
}

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

uint32_t EntryCrc(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  return QPXFile::Crc32Update(data, size, 0xFFFFFFFFu);
}

Layout DefaultLayout(std::string_view formatId) { return DefaultsFor(formatId).layout; }

}  // namespace testsupport
