#include "host/host_path.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "host/text.h"

namespace host {
namespace {

constexpr char16_t kEscapeBase = 0xF000;  // also the mark of a literal private-use character
constexpr char16_t kEscapedBackslash = kEscapeBase + u'\\';

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool HasUnpairedSurrogate(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i])) {
      if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1])) return true;
      ++i;
    } else if (IsLowSurrogate(text[i])) {
      return true;
    }
  }
  return false;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The private-use characters that stand for a host byte, and so need the mark
// when a host name holds them as characters.
bool IsReserved(char32_t c) { return c == kEscapeBase || c == kEscapedBackslash || (c >= 0xF080 && c <= 0xF0FF); }

}  // namespace

bool ToHostPath(std::u16string_view windowsPath, std::string& out) {
  if (windowsPath.size() < 2 || (windowsPath[0] != u'Z' && windowsPath[0] != u'z') || windowsPath[1] != u':')
    return false;
  std::u16string_view rest = windowsPath.substr(2);
  // "Z:name" would be relative to a per-drive current folder, which the host
  // file system does not have.
  if (!rest.empty() && !IsSeparator(rest[0])) return false;
  if (rest.find(u'\0') != std::u16string_view::npos || HasUnpairedSurrogate(rest)) return false;
  std::string host;
  host.reserve(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    const char16_t c = rest[i];
    if (IsSeparator(c)) {
      host.push_back('/');
    } else if (c == kEscapeBase && i + 1 < rest.size() && IsReserved(rest[i + 1])) {
      AppendUtf8(host, rest[++i]);
    } else if (c == kEscapedBackslash || (c >= 0xF080 && c <= 0xF0FF)) {
      host.push_back(static_cast<char>(c - kEscapeBase));
    } else if (IsHighSurrogate(c)) {
      AppendUtf8(host, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (rest[++i] - 0xDC00));
    } else {
      AppendUtf8(host, c);
    }
  }
  if (host.empty()) host.push_back('/');  // not = "/": GCC 12 takes that for an overlapping copy (-Wrestrict)
  out = std::move(host);
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
  std::u16string engine = u"Z:";
  engine.reserve(absolute.size() + 2);
  for (size_t i = 0; i < absolute.size();) {
    char32_t cp = 0;
    const size_t length = DecodeUtf8(absolute, i, cp);
    if (length == 0) {
      engine.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(absolute[i])));
      ++i;
      continue;
    }
    i += length;
    if (cp == u'/') {
      engine.push_back(u'\\');
    } else if (cp == u'\\') {
      engine.push_back(kEscapedBackslash);
    } else {
      if (IsReserved(cp)) engine.push_back(kEscapeBase);
      AppendUtf16(engine, cp);
    }
  }
  return engine;
}

}  // namespace host
