#include "archive/category_info.h"

#include <algorithm>
#include <new>

#include "host/text.h"

namespace QPXFile {
namespace {

constexpr uint32_t kItemFixedBytes = 6;
constexpr size_t kReserveLimit = 4096;  // grow past this as items arrive

}  // namespace

bool CQPXCategoryItemInfo::ReadRecord(CFileIO& stream) {
  uint16_t nameLength = 0, valueLength = 0, code = 0;
  std::u16string name, value;
  if (!ReadU16(stream, nameLength) || !ReadUtf16Text(stream, nameLength, name) || !ReadU16(stream, valueLength) ||
      !ReadUtf16Text(stream, valueLength, value) || !ReadU16(stream, code)) {
    return false;
  }
  code_ = code;
  name_ = std::move(name);
  value_ = std::move(value);
  return true;
}

CQPXCategoryInfo::CQPXCategoryInfo() : CQPXTaggedSection("CategoryInfo") { storedLength_ = TagLength() + 9; }

void CQPXCategoryInfo::Clear() {
  items_.clear();
  storedLength_ = TagLength() + 9;
}

// Running out of memory is left to the load that reads the section, which
// tells it as such rather than as a damaged section.
bool CQPXCategoryInfo::ReadBody(CFileIO& stream) {
  Clear();
  flag_ = false;
  if (!ReadHead(stream)) return false;
  uint8_t flag = 0;
  uint32_t count = 0;
  if (!ReadU8(stream, flag) || !ReadU32(stream, count)) return false;
  flag_ = flag == 1;
  if (count > static_cast<uint32_t>(INT32_MAX) || !CountFits(stream, count, kItemFixedBytes)) return false;
  items_.reserve(std::min<size_t>(count, kReserveLimit));
  for (uint32_t i = 0; i < count; ++i) {
    CQPXCategoryItemInfo item;
    if (!item.ReadRecord(stream)) return false;
    items_.push_back(std::move(item));
  }
  return FinishRead(stream);
}

bool CQPXCategoryInfo::AddItem(std::u16string_view name, std::u16string_view value, uint16_t code) {
  if (FindItem(name) != -1) return true;
  uint16_t unused = 0;
  if (!Utf16ByteLength(name, unused) || !Utf16ByteLength(value, unused)) return false;
  try {
    items_.emplace_back(name, value, code);
  } catch (const std::bad_alloc&) {
    return false;
  }
  storedLength_ += static_cast<uint32_t>(items_.back().GetRecordSize());
  return true;
}

bool CQPXCategoryInfo::RemoveItem(int index) {
  if (index < 0 || index >= GetItemCount()) return false;
  storedLength_ -= static_cast<uint32_t>(items_[static_cast<size_t>(index)].GetRecordSize());
  items_.erase(items_.begin() + index);
  return true;
}

bool CQPXCategoryInfo::RemoveItemByName(std::u16string_view name) { return RemoveItem(FindItem(name)); }

bool CQPXCategoryInfo::GetItem(int index, std::u16string& name, std::u16string& value, uint16_t* code) const {
  if (index < 0 || index >= GetItemCount()) return false;
  const CQPXCategoryItemInfo& item = items_[static_cast<size_t>(index)];
  try {
    std::u16string newName = item.GetName(), newValue = item.GetValue();
    name = std::move(newName);
    value = std::move(newValue);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (code != nullptr) *code = item.GetCode();
  return true;
}

bool CQPXCategoryInfo::GetItemByName(std::u16string_view name, std::u16string& value, uint16_t* code) const {
  int index = FindItem(name);
  if (index < 0) return false;
  std::u16string unusedName;
  return GetItem(index, unusedName, value, code);
}

int CQPXCategoryInfo::FindItem(std::u16string_view name) const {
  try {
    for (size_t i = 0; i < items_.size(); ++i) {
      if (host::EqualsNoCase(items_[i].GetName(), name)) return static_cast<int>(i);
    }
  } catch (const std::bad_alloc&) {
  }
  return -1;
}

uint64_t CQPXCategoryInfo::ComputeLength() const {
  uint64_t length = 4 + static_cast<uint64_t>(TagLength()) + 1 + 4;
  for (const CQPXCategoryItemInfo& item : items_) length += item.GetRecordSize();
  return length;
}

}  // namespace QPXFile
