#include "restore/error_history.h"

#include <new>
#include <stdexcept>
#include <utility>

#include "host/string_table.h"
#include "restore/log.h"

namespace QPXFile {

bool CErrorDescription::GetText(std::u16string& out) const {
  out.clear();
  try {
    std::u16string pattern;
    if (!host::LoadString(messageId, pattern)) return false;
    out = FormatWithText(pattern, text);
    return true;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

CErrorHistory::~CErrorHistory() { RemoveAll(); }

int CErrorHistory::Add(const CErrorDescription& description) {
  try {
    descriptions_.push_back(std::make_unique<CErrorDescription>(description));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return static_cast<int>(descriptions_.size() - 1);
}

void CErrorHistory::RemoveAll() {
  while (!descriptions_.empty()) descriptions_.pop_back();
  descriptions_.shrink_to_fit();
}

const CErrorDescription& CErrorHistory::GetAt(size_t index) const {
  if (index >= descriptions_.size()) throw std::invalid_argument("error history index out of range");
  return *descriptions_[index];
}

}  // namespace QPXFile
