#include "archive/file_list.h"

#include <algorithm>
#include <new>
#include <typeinfo>

#include "host/text.h"

namespace QPXFile {
namespace {

constexpr size_t kReserveLimit = 65536;  // grow past this as records arrive

}  // namespace

CQPXFileList::CQPXFileList() : CQPXTaggedSection("FileList") {}

CFoldedIndex::PathAt CQPXFileList::PathAt() const {
  return [this](int32_t i) -> const std::u16string& { return RecordPath(static_cast<size_t>(i)); };
}

void CQPXFileList::IndexLast() {
  size_t i = RecordCount() - 1;
  index_.Add(RecordPath(i), static_cast<int32_t>(i), PathAt());
  if (RecordFlagged(i)) flagged_.Add(RecordPath(i), static_cast<int32_t>(i), PathAt());
}

void CQPXFileList::RebuildIndexes() {
  index_.Clear();
  flagged_.Clear();
  try {
    for (size_t i = 0; i < RecordCount(); ++i) {
      index_.Add(RecordPath(i), static_cast<int32_t>(i), PathAt());
      if (RecordFlagged(i)) flagged_.Add(RecordPath(i), static_cast<int32_t>(i), PathAt());
    }
  } catch (const std::bad_alloc&) {
    index_.Clear();
    flagged_.Clear();
  }
}

void CQPXFileList::Clear() {
  ClearRecords();
  index_.Clear();
  flagged_.Clear();
  storedLength_ = TagLength() + 8;
}

// Running out of memory is left to the load that reads the section, which
// tells it as such rather than as a damaged section.
bool CQPXFileList::ReadBody(CFileIO& stream) {
  Clear();
  if (!ReadHead(stream)) return false;
  uint32_t readLength = storedLength_;
  uint32_t count = 0;
  if (!ReadU32(stream, count)) return false;
  if (count > static_cast<uint32_t>(INT32_MAX) || !CountFits(stream, count, MinRecordBytes())) return false;
  ReserveRecords(std::min<size_t>(count, kReserveLimit));
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadRecord(stream)) return false;
    IndexLast();
  }
  storedLength_ = readLength;
  return FinishRead(stream);
}

bool CQPXFileList::CopyFrom(const CQPXFileList& other) {
  if (&other == this) return true;
  try {
    Clear();
    CopyHeadFrom(other);
    if (CopyRecordsFrom(other)) {
      storedLength_ = other.storedLength_;
    } else {
      for (size_t i = 0; i < other.RecordCount(); ++i) {
        if (!AppendNew(other.RecordPath(i), other.RecordFlagged(i), u"")) {
          Clear();
          return false;
        }
      }
      uint64_t length = ComputeLength();
      storedLength_ = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
    }
    RebuildIndexes();
    return true;
  } catch (const std::bad_alloc&) {
    Clear();
    return false;
  }
}

bool CQPXFileList::AddUnique(std::u16string_view path, bool flag, std::u16string_view second) {
  if (FindFile(path) != -1) return true;
  size_t before = RecordCount();
  try {
    if (!AppendNew(path, flag, second)) return false;
    IndexLast();
  } catch (const std::bad_alloc&) {
    if (RecordCount() > before) EraseRecord(before);
    RebuildIndexes();
    return false;
  }
  storedLength_ += static_cast<uint32_t>(RecordSize(before));
  return true;
}

bool CQPXFileList::AddFile(std::u16string_view path, bool flag) { return AddUnique(path, flag, u""); }

bool CQPXFileList::RemoveFile(int index) {
  if (index < 0 || static_cast<size_t>(index) >= RecordCount()) return false;
  storedLength_ -= static_cast<uint32_t>(RecordSize(static_cast<size_t>(index)));
  EraseRecord(static_cast<size_t>(index));
  RebuildIndexes();
  return true;
}

bool CQPXFileList::RemoveFileByPath(std::u16string_view path) { return RemoveFile(FindFile(path)); }

int CQPXFileList::GetFileCount() const { return static_cast<int>(RecordCount()); }

bool CQPXFileList::GetFile(int index, bool* flag, std::u16string* path, uint16_t* length) const {
  if (index < 0 || static_cast<size_t>(index) >= RecordCount()) return false;
  size_t i = static_cast<size_t>(index);
  try {
    if (path != nullptr) *path = RecordPath(i);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (flag != nullptr) *flag = RecordFlagged(i);
  if (length != nullptr) *length = RecordPathLength(i);
  return true;
}

bool CQPXFileList::GetFileByPath(std::u16string_view path, bool* flag, uint16_t* length) const {
  int index = FindFile(path);
  if (index < 0) return false;
  return GetFile(index, flag, nullptr, length);
}

int CQPXFileList::FindFile(std::u16string_view path) const {
  try {
    return index_.Find(path, PathAt());
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

bool CQPXFileList::FindFlaggedAncestor(std::u16string_view path, std::u16string& found) const {
  try {
    int32_t index = flagged_.FindFirstPrefix(host::FoldCase(path), PathAt());
    if (index < 0) return false;
    found = RecordPath(static_cast<size_t>(index));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

uint64_t CQPXFileList::ComputeLength() const {
  uint64_t length = 4 + static_cast<uint64_t>(TagLength()) + 4;
  for (size_t i = 0; i < RecordCount(); ++i) length += RecordSize(i);
  return length;
}

bool CQPXFileList::ReadRecord(CFileIO& stream) {
  Record record;
  if (!ReadU8(stream, record.flag) || !ReadU16(stream, record.length) ||
      !ReadPath(stream, record.length, record.path)) {
    return false;
  }
  records_.push_back(std::move(record));
  return true;
}

bool CQPXFileList::AppendNew(std::u16string_view path, bool flag, std::u16string_view /*second*/) {
  Record record;
  if (!EncodedLength(path, record.length)) return false;
  record.flag = flag ? 1 : 0;
  record.path.assign(path);
  records_.push_back(std::move(record));
  return true;
}

bool CQPXFileList::CopyRecordsFrom(const CQPXFileList& other) {
  if (typeid(other) != typeid(*this)) return false;
  records_ = other.records_;
  return true;
}

bool CQPXFileList::ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out) {
  return ReadAnsiText(stream, byteLength, out);
}

bool CQPXFileList::EncodedLength(std::u16string_view path, uint16_t& out) const {
  return AnsiByteLength(path, out);
}

bool CUQPXFileList::ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out) {
  return ReadUtf16Text(stream, byteLength, out);
}

bool CUQPXFileList::EncodedLength(std::u16string_view path, uint16_t& out) const {
  return Utf16ByteLength(path, out);
}

bool CQPXUnicodeFileListPathInfo::ReadRecord(CFileIO& stream) {
  uint8_t flag = 0;
  uint16_t pathLength = 0, secondLength = 0;
  std::u16string path, second;
  if (!ReadU8(stream, flag) || !ReadU16(stream, pathLength) || !ReadUtf16Text(stream, pathLength, path) ||
      !ReadU16(stream, secondLength) || !ReadUtf16Text(stream, secondLength, second)) {
    return false;
  }
  flag_ = flag == 1;
  pathLength_ = pathLength;
  path_ = std::move(path);
  secondLength_ = secondLength;
  second_ = std::move(second);
  return true;
}

bool CQPXUnicodeFileListPathInfo::Set(std::u16string_view path, bool flag, std::u16string_view second) {
  uint16_t pathLength = 0, secondLength = 0;
  if (!Utf16ByteLength(path, pathLength) || !Utf16ByteLength(second, secondLength)) return false;
  std::u16string newPath(path), newSecond(second);
  flag_ = flag;
  pathLength_ = pathLength;
  path_ = std::move(newPath);
  secondLength_ = secondLength;
  second_ = std::move(newSecond);
  return true;
}

bool CQPXUnicodeFileList::AddFileEx(std::u16string_view path, bool flag, std::u16string_view second) {
  return AddUnique(path, flag, second);
}

bool CQPXUnicodeFileList::GetPathInfo(int index, const CQPXUnicodeFileListPathInfo*& out) const {
  if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return false;
  out = &infos_[static_cast<size_t>(index)];
  return true;
}

bool CQPXUnicodeFileList::FindPathInfo(std::u16string_view path, const CQPXUnicodeFileListPathInfo*& out) const {
  return GetPathInfo(FindFile(path), out);
}

bool CQPXUnicodeFileList::ReadRecord(CFileIO& stream) {
  CQPXUnicodeFileListPathInfo info;
  if (!info.ReadRecord(stream)) return false;
  infos_.push_back(std::move(info));
  return true;
}

bool CQPXUnicodeFileList::AppendNew(std::u16string_view path, bool flag, std::u16string_view second) {
  CQPXUnicodeFileListPathInfo info;
  if (!info.Set(path, flag, second)) return false;
  infos_.push_back(std::move(info));
  return true;
}

bool CQPXUnicodeFileList::CopyRecordsFrom(const CQPXFileList& other) {
  if (typeid(other) != typeid(*this)) return false;
  infos_ = static_cast<const CQPXUnicodeFileList&>(other).infos_;
  return true;
}

bool CQPXUnicodeFileList::EncodedLength(std::u16string_view path, uint16_t& out) const {
  return Utf16ByteLength(path, out);
}

}  // namespace QPXFile
