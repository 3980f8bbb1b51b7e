#include "paths/user_text.h"

#include <cstdio>

#include "host/host_path.h"
#include "host/string_table.h"
#include "host/text.h"

namespace paths {

std::string HostPathText(const std::u16string& enginePath) {
  std::string host;
  if (host::ToHostPath(enginePath, host)) return host;
  return host::WideToUtf8(enginePath);
}

std::string Utf8(const std::u16string& text) { return host::WideToUtf8(text); }

namespace {

// Length of the well-formed UTF-8 sequence at `i` and its code point; 0 when
// the bytes there are not one (overlong forms and surrogates included).
size_t DecodeOne(std::string_view s, size_t i, char32_t& c) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = b(0);
  size_t n = 0;
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    c = lead & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b(k) & 0x3F);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

namespace {

// Characters that change how the text around them is laid out without being
// seen: bidirectional marks, embeddings, overrides and isolates, zero-width
// spaces and joiners, the invisible operators and the byte order mark.
bool IsInvisibleFormat(char32_t c) {
  return c == 0x061C || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

// Appends the escape that stands for `c`; false when `c` is shown as it is.
template <class Out>
bool AppendEscape(Out& out, char32_t c) {
  char code[16];
  if (c < 0x20 || c == 0x7F) {
    std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(c));
  } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || IsInvisibleFormat(c) ||
             (c >= 0xD800 && c <= 0xDFFF)) {
    std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(c));
  } else {
    return false;
  }
  for (const char* p = code; *p != '\0'; ++p) out.push_back(static_cast<typename Out::value_type>(*p));
  return true;
}

// Calls `fn(codePoint, units)` for each code point of wide text; a half of a
// surrogate pair comes as itself, one unit long.
template <class Fn>
void ForEachCodePoint(std::u16string_view text, Fn&& fn) {
  for (size_t i = 0; i < text.size();) {
    const char32_t u = text[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      fn(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00), text.substr(i, 2));
      i += 2;
    } else {
      fn(u, text.substr(i, 1));
      ++i;
    }
  }
}

}  // namespace

std::string Printable(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  char code[16];
  for (size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    const size_t n = DecodeOne(utf8, i, c);
    if (n == 0) {
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>(utf8[i]));
      out += code;
      ++i;
      continue;
    }
    if (!AppendEscape(out, c)) out.append(utf8, i, n);
    i += n;
  }
  return out;
}

std::string Printable(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&out](char32_t c, std::u16string_view) {
    if (!AppendEscape(out, c)) host::AppendUtf8(out, c);
  });
  return out;
}

std::u16string ShownText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&out](char32_t c, std::u16string_view units) {
    if (!AppendEscape(out, c)) out.append(units);
  });
  return out;
}

std::u16string StoredPathArgument(const std::string& argument) {
  std::u16string path = host::Utf8ToWide(argument);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

std::string MessageText(int32_t id) {
  std::u16string text;
  if (!host::LoadString(static_cast<uint32_t>(id), text)) return "(message " + std::to_string(id) + ")";
  return host::WideToUtf8(text);
}

}  // namespace paths
