#include "paths/path.h"

#include <stdexcept>

#include "host/text.h"

namespace paths {

CPath::CPath(std::u16string_view text, bool trailingSeparator) { SetPath(text, trailingSeparator); }

bool CPath::IsDriveElement(std::u16string_view piece) {
  if (piece.size() != 2 || piece[1] != u':') return false;
  char16_t c = piece[0];
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

void CPath::AddComponent(std::u16string_view piece) {
  if (piece.find_first_of(u"\\/:*?\"<>|") != std::u16string_view::npos) valid_ = false;
  components_.emplace_back(piece);
}

bool CPath::SetPath(std::u16string_view text, bool trailingSeparator) {
  Clear();
  valid_ = true;
  if (text.empty()) return false;
  size_t cut = text.find(u'\\');
  std::u16string_view first = text.substr(0, cut);
  if (IsDriveElement(first)) {
    components_.emplace_back(first);
    relative_ = false;
  } else {
    // Anything else ending in a colon is no drive; its colon makes it invalid.
    relative_ = true;
    AddComponent(first);
  }
  if (cut != std::u16string_view::npos) {
    std::u16string_view rest = text.substr(cut + 1);
    for (size_t next = rest.find(u'\\'); next != std::u16string_view::npos; next = rest.find(u'\\')) {
      AddComponent(rest.substr(0, next));
      rest = rest.substr(next + 1);
    }
    if (!rest.empty()) AddComponent(rest);
  }
  trailingSeparator_ = trailingSeparator;
  return true;
}

std::u16string CPath::Format(size_t count) const {
  std::u16string out;
  if (count == 0) return out;
  // A relative path that already begins with "." is not given a second one.
  if (relative_ && components_[0] != u".") out = u".\\";
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) out.push_back(u'\\');
    out += components_[i];
  }
  // "C:" alone would name the drive's current folder, not its root.
  if (count == 1 && !relative_) out.push_back(u'\\');
  return out;
}

std::u16string CPath::GetPath() const { return Format(components_.size()); }

std::u16string CPath::GetParentPath() const {
  return components_.empty() ? std::u16string() : Format(components_.size() - 1);
}

std::u16string CPath::GetFileName() const { return components_.empty() ? std::u16string() : components_.back(); }

const std::u16string& CPath::GetComponent(size_t position) const {
  if (position >= components_.size()) throw CReferException();
  return components_[position];
}

bool CPath::Append(const CPath& other) {
  if (!trailingSeparator_ || !other.relative_) return false;
  size_t from = !other.components_.empty() && other.components_[0] == u"." ? 1 : 0;
  components_.insert(components_.end(), other.components_.begin() + static_cast<std::ptrdiff_t>(from),
                     other.components_.end());
  if (components_.size() > 0 && !IsDriveElement(components_[0])) relative_ = true;
  valid_ = valid_ && other.valid_;
  trailingSeparator_ = other.trailingSeparator_;
  return true;
}

bool CPath::RemoveComponent(size_t position) {
  if (position >= components_.size()) return false;
  components_.erase(components_.begin() + static_cast<std::ptrdiff_t>(position));
  if (position == 0) relative_ = !components_.empty() && !IsDriveElement(components_[0]);
  valid_ = true;
  for (const std::u16string& c : components_) {
    if (!IsDriveElement(c) && c.find_first_of(u"\\/:*?\"<>|") != std::u16string::npos) valid_ = false;
  }
  return true;
}

void CPath::Clear() {
  components_.clear();
  relative_ = false;
  trailingSeparator_ = false;
}

bool CPath::IsChildOf(const CPath& parent) const {
  if (!parent.trailingSeparator_ || relative_ != parent.relative_) return false;
  if (components_.size() != parent.components_.size() + 1) return false;
  for (size_t i = 0; i < parent.components_.size(); ++i) {
    if (!host::EqualsNoCase(components_[i], parent.components_[i])) return false;
  }
  return true;
}

bool CPath::ChangeExtension(std::u16string_view extension) {
  if (components_.empty()) return false;
  std::u16string ext;
  if (extension.empty() || extension[0] != u'.') ext = u".";
  ext += extension;
  std::u16string& last = components_.back();
  size_t dot = last.rfind(u'.');
  if (dot != std::u16string::npos) last.resize(dot);
  last += ext;
  return true;
}

void CPathInformationArray::Index(size_t i) {
  const CPathInformation& info = items_[i];
  std::u16string key = host::FoldCase(info.path);
  if (info.kind == CPathInformation::kFile) {
    files_.emplace(std::move(key), i);  // keeps an earlier index for the same path
  } else if (info.kind == CPathInformation::kFolder) {
    if (key.empty() || key.back() != u'\\') key.push_back(u'\\');
    folders_.emplace(std::move(key), i);
  }
}

void CPathInformationArray::Reindex() {
  files_.clear();
  folders_.clear();
  for (size_t i = 0; i < items_.size(); ++i) Index(i);
}

void CPathInformationArray::Add(std::u16string_view path, int kind) {
  items_.push_back(CPathInformation{std::u16string(path), kind});
  Index(items_.size() - 1);
}

bool CPathInformationArray::RemoveAt(size_t index) {
  if (index >= items_.size()) return false;
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  Reindex();
  return true;
}

void CPathInformationArray::Clear() {
  items_.clear();
  files_.clear();
  folders_.clear();
}

const CPathInformation& CPathInformationArray::GetAt(size_t index) const {
  if (index >= items_.size()) throw std::invalid_argument("path information index out of range");
  return items_[index];
}

long CPathInformationArray::FindMatch(std::u16string_view candidate) const {
  if (items_.empty()) return -1;
  std::u16string folded = host::FoldCase(candidate);
  size_t best = items_.size();
  auto file = files_.find(folded);
  if (file != files_.end()) best = file->second;
  // Every folder the candidate can lie below ends at one of its backslashes.
  if (!folders_.empty()) {
    for (size_t pos = folded.find(u'\\'); pos != std::u16string::npos; pos = folded.find(u'\\', pos + 1)) {
      auto folder = folders_.find(folded.substr(0, pos + 1));
      if (folder != folders_.end() && folder->second < best) best = folder->second;
    }
  }
  return best == items_.size() ? -1 : static_cast<long>(best);
}

}  // namespace paths
