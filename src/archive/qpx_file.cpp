#include "archive/qpx_file.h"

#include <cerrno>
#include <new>

#include "entry/stream_crc.h"
#include "host/string_table.h"
#include "host/text.h"

namespace QPXFile {
namespace {

bool LoadText(uint32_t id, std::u16string& out) { return host::LoadString(id, out); }

}  // namespace

CQPXFile::~CQPXFile() {
  if (IsOpen()) {
    DetachSections();
    ReleaseIO(io_);
    io_ = nullptr;
  }
  DiscardEntries();
}

bool CQPXFile::FailLoad(LoadFailure failure) {
  error_.failure = failure;
  return false;
}

std::unique_ptr<CQPXFileHeader> CQPXFile::NewHeader() const { return std::make_unique<CQPXFileHeader>(); }

CQPXBackupedFileHeader* CQPXFile::NewEntryHeader() const {
  if (UnicodeEntryNames()) return new (std::nothrow) CUQPXBackupedFileHeader();
  return new (std::nothrow) CQPXBackupedFileHeader();
}

void CQPXReadEntryTable::Reset(size_t slots) {
  Clear();
  if (slots == 0) return;
  block_ = std::allocator<CQPXReadBackupedFile>().allocate(slots);
  slots_ = slots;
}

CQPXReadBackupedFile& CQPXReadEntryTable::MakeNext(bool unicodeNames) {
  CQPXReadBackupedFile* entry = new (block_ + made_) CQPXReadBackupedFile(unicodeNames);
  ++made_;
  return *entry;
}

void CQPXReadEntryTable::DropLast() {
  if (made_ > 0) block_[--made_].~CQPXReadBackupedFile();
}

void CQPXReadEntryTable::Clear() {
  while (made_ > 0) block_[--made_].~CQPXReadBackupedFile();
  if (block_ != nullptr) std::allocator<CQPXReadBackupedFile>().deallocate(block_, slots_);
  block_ = nullptr;
  slots_ = 0;
}

bool CQPXFile::AcceptsFormatId(const std::u16string&) const { return false; }

bool CQPXFile::Open(const std::u16string& path, uint16_t mode) {
  error_ = LoadError{};
  if (IsOpen()) return false;
  if (mode != kModeCreate && mode != kModeRead && mode != kModeReadWrite) return false;
  std::unique_ptr<CQPXFileHeader> header;
  try {
    header = NewHeader();
  } catch (const std::bad_alloc&) {
    return FailLoad(LoadFailure::kOutOfMemory);
  }
  CDividedFileIO* io = CreateIO(path, mode);
  if (io == nullptr || !io->IsOpen()) {
    ReleaseIO(io);
    return FailLoad(LoadFailure::kOpenFailed);
  }
  header->AttachIO(io);
  if (!AttachSections(io)) {
    DetachSections();
    ReleaseIO(io);
    return FailLoad(LoadFailure::kOutOfMemory);
  }
  io_ = io;
  openMode_ = mode;
  path_ = path;
  header_ = std::move(header);
  loaded_ = false;
  return true;
}

bool CQPXFile::Close() {
  if (!IsOpen()) return true;
  DetachSections();
  if (!ReleaseIO(io_)) return false;
  io_ = nullptr;
  DiscardEntries();
  header_.reset();
  openMode_ = 0;
  path_.clear();
  loaded_ = false;
  return true;
}

void CQPXFile::DiscardEntries() {
  if (ownsEntries_) {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) delete *it;
  }
  entries_.clear();
  read_.Clear();
  names_.Clear();
}

bool CQPXFile::GetPathName(std::u16string& out) const {
  out = path_;
  return true;
}

CDividedFileIO* CQPXFile::CreateIO(const std::u16string& path, uint16_t mode) {
  auto* io = new (std::nothrow) CDividedFileIO();
  if (io == nullptr) return nullptr;
  if (!io->Open(path, mode)) {
    error_.systemError = errno;
    error_.division = io->GetDivisionError();
    delete io;
    return nullptr;
  }
  return io;
}

bool CQPXFile::ReleaseIO(CDividedFileIO* io) {
  if (io == nullptr) return true;
  // The stream is gone either way; the result says whether it closed cleanly.
  const bool closed = io->Close();
  delete io;
  return closed;
}

bool CQPXFile::AttachSections(CDividedFileIO*) { return true; }

bool CQPXFile::HasContent() const { return IsCreateMode() && io_ != nullptr && GetEntryCount() > 0; }

bool CQPXFile::GetVersionText(std::u16string& out) const { return LoadText(VersionTextString(), out); }
bool CQPXFile::GetCompressionText(std::u16string& out) const { return LoadText(CompressionTextString(), out); }
bool CQPXFile::GetFormatId(std::u16string& out) const { return LoadText(FormatIdString(), out); }

bool CQPXFile::GetSectionLevel(uint32_t& out) const {
  out = SectionLevelValue();
  return true;
}

bool CQPXFile::GetReservedLevel(uint32_t& out) const {
  out = 0;
  return true;
}

bool CQPXFile::CheckFormatId() {
  if (!header_) return false;
  std::u16string id, own;
  if (!header_->GetFormatId(id)) return false;
  if (!GetFormatId(own)) return FailLoad(LoadFailure::kStrings);
  return id == own || AcceptsFormatId(id);
}

bool CQPXFile::ReadHeader() {
  if (!header_->IsPositioned() && !header_->MarkStart()) return false;
  return header_->ReadSection();
}

bool CQPXFile::Load() {
  error_ = LoadError{};
  if (!IsOpen() || IsCreateMode()) return FailLoad(LoadFailure::kNotOpen);
  if (loaded_) return true;
  if (!io_->SeekTo(0)) return FailLoad(LoadFailure::kHeader);
  if (!ReadHeader()) return FailLoad(LoadFailure::kHeader);
  if (!CheckFormatId()) return error_.failure == LoadFailure::kNone ? FailLoad(LoadFailure::kFormatId) : false;
  if (!ReadSections()) return error_.failure == LoadFailure::kNone ? FailLoad(LoadFailure::kSection) : false;

  // Every entry takes at least its fixed record bytes, so a count the rest of
  // the file cannot hold is refused before the table is sized for it.
  const uint32_t count = header_->GetEntryCount();
  uint64_t remaining = 0;
  if (!RemainingBytes(*io_, remaining)) return FailLoad(LoadFailure::kEntryCount);
  if (static_cast<uint64_t>(count) * CQPXBackupedFileHeader::kFixedSize > remaining) {
    error_.entryIndex = count;
    return FailLoad(LoadFailure::kEntryCount);
  }
  try {
    DiscardEntries();
    read_.Reset(count);
  } catch (const std::bad_alloc&) {
    return FailLoad(LoadFailure::kOutOfMemory);
  }
  if (!ReadEntries()) return error_.failure == LoadFailure::kNone ? FailLoad(LoadFailure::kEntry) : false;
  loaded_ = true;
  return true;
}

bool CQPXFile::PrepareEntries() {
  if (GetEntryCount() > 0 || !header_ || io_ == nullptr) return true;
  const uint32_t count = header_->GetEntryCount();
  try {
    entries_.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      auto header = std::unique_ptr<CQPXBackupedFileHeader>(NewEntryHeader());
      auto data = std::make_unique<CQPXBackupedFileData>();
      auto entry = std::make_unique<CQPXBackupedFile>();
      if (!header) throw std::bad_alloc();
      header->AttachIO(io_);
      data->AttachIO(io_);
      entry->Attach(header.release(), data.release());
      entries_.push_back(entry.release());
    }
  } catch (const std::bad_alloc&) {
    DiscardEntries();
    return false;
  }
  return true;
}

bool CQPXFile::ReadEntries() {
  const bool unicode = UnicodeEntryNames();
  for (uint32_t i = static_cast<uint32_t>(read_.Made()); i < read_.Slots(); ++i) {
    uint64_t position = 0;
    io_->GetPosition(position);
    error_.entryIndex = i;
    error_.offset = position;
    CQPXReadBackupedFile& entry = read_.MakeNext(unicode);
    CQPXBackupedFileHeader& header = *entry.GetHeader();
    header.AttachIO(io_);
    if (!header.MarkStart() || !header.ReadSectionInto(names_) || !OnReadEntry(i)) return FailRead();
    entry.ChooseDataKind();
    CQPXBackupedFileData& data = *entry.GetData();
    data.AttachIO(io_);
    if (!data.SetSize(header.GetDataSize()) || !data.MarkStart() || !data.SeekToEnd()) return FailRead();
  }
  names_.EndLoading();
  error_.entryIndex = 0;
  error_.offset = 0;
  return true;
}

bool CQPXFile::FailRead() {
  // The entry that failed is not part of the table; its slot stays empty.
  read_.DropLast();
  names_.EndLoading();
  return FailLoad(LoadFailure::kEntry);
}

IQPXBackupedFile* CQPXFile::GetEntry(long index) const {
  if (index < 0) return nullptr;
  const size_t i = static_cast<size_t>(index);
  if (i < read_.Slots()) return read_.At(i);
  return i - read_.Slots() < entries_.size() ? entries_[i - read_.Slots()] : nullptr;
}

CQPXBackupedFileHeader* CQPXFile::GetEntryHeader(long index) const {
  IQPXBackupedFile* entry = GetEntry(index);
  return entry ? entry->GetHeader() : nullptr;
}

CQPXBackupedFileData* CQPXFile::GetEntryData(long index) const {
  IQPXBackupedFile* entry = GetEntry(index);
  return entry ? entry->GetData() : nullptr;
}

bool CQPXFile::GetEntryPath(std::u16string& out, long index) const {
  if (!IsOpen()) return false;
  CQPXBackupedFileHeader* header = GetEntryHeader(index);
  return header != nullptr && header->GetFullPath(out);
}

long CQPXFile::FindEntry(const std::u16string& path) const {
  const long count = GetEntryCount();
  std::u16string candidate;
  const long next = findHint_.load(std::memory_order_relaxed) + 1;
  if (next >= 0 && next < count && GetEntryPath(candidate, next) && host::EqualsNoCase(candidate, path)) {
    findHint_.store(next, std::memory_order_relaxed);
    return next;
  }
  for (long i = 0; i < count; ++i) {
    if (!GetEntryPath(candidate, i)) return -1;
    if (host::EqualsNoCase(candidate, path)) {
      findHint_.store(i, std::memory_order_relaxed);
      return i;
    }
  }
  return -1;
}

bool CQPXFile::GetTotalFileSize(uint64_t& out) const {
  if (!IsOpen()) return false;
  uint64_t total = 0;
  for (long i = 0; i < GetEntryCount(); ++i)
    if (const CQPXBackupedFileHeader* header = GetEntryHeader(i)) total += header->GetFileSize();
  out = total;
  return true;
}

bool CQPXFile::GetTotalStoredSize(uint64_t& out) const {
  if (!IsOpen()) return false;
  uint64_t total = 0;
  for (long i = 0; i < GetEntryCount(); ++i)
    if (const CQPXBackupedFileHeader* header = GetEntryHeader(i)) total += header->GetDataSize();
  out = total;
  return true;
}

uint32_t CQPXFile::ComputeCRC() {
  if (openMode_ != kModeRead || io_ == nullptr) return 0;
  return Crc32OverStream(*io_, 0);
}

bool CQPXFile::AppendEntry(IQPXBackupedFile* entry) {
  if (entry == nullptr || !entry->IsValid()) return false;
  std::u16string path;
  if (!entry->GetHeader()->GetFullPath(path)) return false;
  try {
    entries_.push_back(entry);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace QPXFile
