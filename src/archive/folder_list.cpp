#include "archive/folder_list.h"

#include <algorithm>
#include <new>

namespace QPXFile {
namespace {

constexpr uint32_t kFolderRecordFixedBytes = 30;
constexpr size_t kReserveLimit = 65536;  // grow past this as records arrive

template <typename T>
void EraseAt(std::vector<T>& v, int index) {
  v.erase(v.begin() + index);
}

}  // namespace

void CQPXFolderTable::Clear() { Truncate(0); }

void CQPXFolderTable::Truncate(size_t count) {
  if (paths.size() > count) paths.resize(count);
  if (pathLengths.size() > count) pathLengths.resize(count);
  if (attributes.size() > count) attributes.resize(count);
  if (creationTimes.size() > count) creationTimes.resize(count);
  if (lastAccessTimes.size() > count) lastAccessTimes.resize(count);
  if (lastWriteTimes.size() > count) lastWriteTimes.resize(count);
}

void CQPXFolderTable::Reserve(size_t count) {
  paths.reserve(count);
  pathLengths.reserve(count);
  attributes.reserve(count);
  creationTimes.reserve(count);
  lastAccessTimes.reserve(count);
  lastWriteTimes.reserve(count);
}

CQPXFolderList::CQPXFolderList() : CQPXTaggedSection("FolderList") {}

CFoldedIndex::PathAt CQPXFolderList::PathAt() const {
  return [this](int32_t i) -> const std::u16string& { return folders_.paths[static_cast<size_t>(i)]; };
}

void CQPXFolderList::Append(std::u16string path, uint16_t encodedLength, uint32_t attributes, uint64_t creationTime,
                            uint64_t lastAccessTime, uint64_t lastWriteTime) {
  const size_t count = folders_.paths.size();
  uint16_t characters = static_cast<uint16_t>(std::min<size_t>(path.size(), UINT16_MAX));
  folders_.paths.push_back(std::move(path));
  folders_.pathLengths.push_back(characters);
  folders_.attributes.push_back(attributes);
  folders_.creationTimes.push_back(creationTime);
  folders_.lastAccessTimes.push_back(lastAccessTime);
  folders_.lastWriteTimes.push_back(lastWriteTime);
  encodedLengths_.push_back(encodedLength);
  index_.Add(folders_.paths.back(), static_cast<int32_t>(count), PathAt());
}

void CQPXFolderList::RebuildIndex() {
  index_.Clear();
  try {
    for (size_t i = 0; i < folders_.paths.size(); ++i) index_.Add(folders_.paths[i], static_cast<int32_t>(i), PathAt());
  } catch (const std::bad_alloc&) {
    index_.Clear();
  }
}

bool CQPXFolderList::AddFolder(std::u16string_view path, uint32_t attributes, uint64_t creationTime,
                               uint64_t lastAccessTime, uint64_t lastWriteTime) {
  uint16_t encoded = 0;
  if (!EncodedLength(path, encoded)) return false;
  const size_t count = folders_.paths.size();
  if (count >= static_cast<size_t>(INT32_MAX)) return false;
  try {
    Append(std::u16string(path), encoded, attributes, creationTime, lastAccessTime, lastWriteTime);
  } catch (const std::bad_alloc&) {
    folders_.Truncate(count);
    if (encodedLengths_.size() > count) encodedLengths_.resize(count);
    RebuildIndex();
    return false;
  }
  storedLength_ += encoded + kFolderRecordFixedBytes;
  return true;
}

bool CQPXFolderList::RemoveFolder(int index) {
  if (index < 0 || index >= GetFolderCount()) return false;
  storedLength_ -= encodedLengths_[static_cast<size_t>(index)] + kFolderRecordFixedBytes;
  EraseAt(folders_.paths, index);
  EraseAt(folders_.pathLengths, index);
  EraseAt(folders_.attributes, index);
  EraseAt(folders_.creationTimes, index);
  EraseAt(folders_.lastAccessTimes, index);
  EraseAt(folders_.lastWriteTimes, index);
  EraseAt(encodedLengths_, index);
  RebuildIndex();
  return true;
}

int CQPXFolderList::FindFolder(std::u16string_view path) const {
  try {
    return index_.Find(path, PathAt());
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

bool CQPXFolderList::GetFolder(int index, std::u16string* path, uint64_t* creationTime, uint32_t* attributes,
                               uint64_t* lastAccessTime, uint64_t* lastWriteTime) const {
  if (index < 0 || index >= GetFolderCount()) return false;
  size_t i = static_cast<size_t>(index);
  try {
    if (path != nullptr) *path = folders_.paths[i];
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (creationTime != nullptr) *creationTime = folders_.creationTimes[i];
  if (attributes != nullptr) *attributes = folders_.attributes[i];
  if (lastAccessTime != nullptr) *lastAccessTime = folders_.lastAccessTimes[i];
  if (lastWriteTime != nullptr) *lastWriteTime = folders_.lastWriteTimes[i];
  return true;
}

void CQPXFolderList::Clear() {
  folders_.Clear();
  encodedLengths_.clear();
  index_.Clear();
  storedLength_ = TagLength() + 8;
}

bool CQPXFolderList::CopyFolders(CQPXFolderTable& out) const {
  try {
    out = folders_;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Running out of memory is left to the load that reads the section, which
// tells it as such rather than as a damaged section.
bool CQPXFolderList::ReadBody(CFileIO& stream) {
  Clear();
  if (!ReadHead(stream)) return false;
  uint32_t readLength = storedLength_;
  uint32_t count = 0;
  if (!ReadU32(stream, count)) return false;
  if (count > static_cast<uint32_t>(INT32_MAX) || !CountFits(stream, count, kFolderRecordFixedBytes)) return false;
  size_t expected = std::min<size_t>(count, kReserveLimit);
  // Every column is reserved: a set holds one such list per archive, and
  // columns grown by doubling would keep up to half again of each.
  folders_.Reserve(expected);
  encodedLengths_.reserve(expected);
  for (uint32_t i = 0; i < count; ++i) {
    uint16_t length = 0;
    std::u16string path;
    uint32_t attributes = 0;
    uint64_t creation = 0, lastAccess = 0, lastWrite = 0;
    if (!ReadU16(stream, length) || !ReadPath(stream, length, path) || !ReadU32(stream, attributes) ||
        !ReadU64(stream, creation) || !ReadU64(stream, lastAccess) || !ReadU64(stream, lastWrite)) {
      return false;
    }
    Append(std::move(path), length, attributes, creation, lastAccess, lastWrite);
  }
  storedLength_ = readLength;
  return FinishRead(stream);
}

bool CQPXFolderList::ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out) {
  return ReadAnsiText(stream, byteLength, out);
}

bool CQPXFolderList::EncodedLength(std::u16string_view path, uint16_t& out) const {
  return AnsiByteLength(path, out);
}

bool CUQPXFolderList::ReadPath(CFileIO& stream, uint16_t byteLength, std::u16string& out) {
  return ReadUtf16Text(stream, byteLength, out);
}

bool CUQPXFolderList::EncodedLength(std::u16string_view path, uint16_t& out) const {
  return Utf16ByteLength(path, out);
}

}  // namespace QPXFile
