// The category info of Unicode archives: named pairs of strings with a code,
// and one flag for the whole section.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/tagged_section.h"

namespace QPXFile {

// Format notes: one item record:
//   u16 a      byte length of the name
//   a bytes    name, UTF-16LE, a/2 units
//   u16 b      byte length of the value
//   b bytes    value, UTF-16LE, b/2 units
//   u16 code
// An item is a + b + 6 bytes.
class CQPXCategoryItemInfo {
 public:
  CQPXCategoryItemInfo() = default;
  CQPXCategoryItemInfo(std::u16string_view name, std::u16string_view value, uint16_t code)
      : code_(code), name_(name), value_(value) {}
  virtual ~CQPXCategoryItemInfo() = default;

  // 2 x (name units + value units) + 6.
  virtual uint64_t GetRecordSize() const { return 2 * (static_cast<uint64_t>(name_.size()) + value_.size()) + 6; }
  // Leaves the item unchanged on failure.
  virtual bool ReadRecord(CFileIO& stream);

  uint16_t GetCode() const { return code_; }
  const std::u16string& GetName() const { return name_; }
  const std::u16string& GetValue() const { return value_; }

 private:
  uint16_t code_ = 0;
  std::u16string name_;
  std::u16string value_;
};

// Format notes: after the tag (see CQPXTaggedSection, tag "CategoryInfo"):
//   u8  flag   1 = set, any other value = clear
//   u32 N      number of items
//   N item records, back to back
// Names are compared ignoring case.
class CQPXCategoryInfo : public CQPXTaggedSection {
 public:
  CQPXCategoryInfo();

  // The items read before a failure stay in the list.
  bool ReadBody(CFileIO& stream) override;

  // A name already present succeeds without change.
  virtual bool AddItem(std::u16string_view name, std::u16string_view value, uint16_t code);
  virtual bool RemoveItem(int index);
  virtual bool RemoveItemByName(std::u16string_view name);
  virtual int GetItemCount() const { return static_cast<int>(items_.size()); }
  // code is optional; fails, touching nothing, outside 0..count-1.
  virtual bool GetItem(int index, std::u16string& name, std::u16string& value, uint16_t* code) const;
  virtual bool GetItemByName(std::u16string_view name, std::u16string& value, uint16_t* code) const;
  virtual int FindItem(std::u16string_view name) const;
  // 4 + T + 1 + 4 + the sum of the item sizes.
  virtual uint64_t ComputeLength() const;

  bool GetFlag() const { return flag_; }
  void SetFlag(bool flag) { flag_ = flag; }
  // Empties the list; L becomes T + 9.
  void Clear();

 private:
  bool flag_ = false;                        // the flag byte was 1
  std::vector<CQPXCategoryItemInfo> items_;  // in section order
};

}  // namespace QPXFile
