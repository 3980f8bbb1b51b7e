#include "paths/path_helpers.h"

#include "host/text.h"

namespace paths {

std::u16string Join(std::u16string_view folder, std::u16string_view name) {
  std::u16string out(folder);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  out.append(name);
  return out;
}

std::u16string FolderPart(std::u16string_view path) {
  size_t pos = path.rfind(u'\\');
  return pos == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, pos));
}

std::u16string NamePart(std::u16string_view path) {
  size_t pos = path.rfind(u'\\');
  return std::u16string(pos == std::u16string_view::npos ? path : path.substr(pos + 1));
}

long FindNoCase(std::u16string_view text, std::u16string_view what, size_t start) {
  std::u16string t = host::FoldCase(text), w = host::FoldCase(what);
  if (start > t.size()) return -1;
  size_t pos = t.find(w, start);
  return pos == std::u16string::npos ? -1 : static_cast<long>(pos);
}

bool IsBelow(std::u16string_view folder, std::u16string_view path) {
  std::u16string prefix(folder);
  if (prefix.empty() || prefix.back() != u'\\') prefix.push_back(u'\\');
  return host::StartsWithNoCase(path, prefix);
}

}  // namespace paths
