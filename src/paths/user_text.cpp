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
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(c));
      out += code;
    } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      std::snprintf(code, sizeof code, "\\u{%04X}", static_cast<unsigned>(c));
      out += code;
    } else {
      out.append(utf8, i, n);
    }
    i += n;
  }
  return out;
}

std::string Printable(const std::u16string& text) { return Printable(host::WideToUtf8(text)); }

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
