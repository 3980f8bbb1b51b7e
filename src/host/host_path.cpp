#include "host/host_path.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "host/text.h"

namespace host {
namespace {

bool HasUnpairedSurrogate(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return true;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

bool ToHostPath(std::u16string_view windowsPath, std::string& out) {
  if (windowsPath.size() < 2 || (windowsPath[0] != u'Z' && windowsPath[0] != u'z') || windowsPath[1] != u':')
    return false;
  std::u16string_view rest = windowsPath.substr(2);
  // "Z:name" would be relative to a per-drive current folder, which the host
  // file system does not have.
  if (!rest.empty() && !IsSeparator(rest[0])) return false;
  if (rest.find(u'\0') != std::u16string_view::npos || HasUnpairedSurrogate(rest)) return false;
  std::u16string slashed(rest);
  for (char16_t& c : slashed)
    if (c == u'\\') c = u'/';
  if (slashed.empty()) slashed = u"/";
  out = WideToUtf8(slashed);
  return true;
}

std::u16string ToEnginePath(std::string_view hostPath) {
  std::string absolute(hostPath);
  if (absolute.empty() || absolute[0] != '/') {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    std::string base = ec ? std::string("/") : cwd.string();
    if (base.empty() || base.back() != '/') base += '/';
    absolute = base + absolute;
  }
  std::u16string wide = Utf8ToWide(absolute);
  for (char16_t& c : wide)
    if (c == u'/') c = u'\\';
  return u"Z:" + wide;
}

}  // namespace host
