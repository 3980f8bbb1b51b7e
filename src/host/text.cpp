#include "host/text.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>

namespace host {
namespace {

// glibc's "CP932" keeps 0x5C as a backslash; its "SHIFT_JIS" would turn it into a
// yen sign and break every path.
constexpr const char* kAnsiCodePage = "CP932";

// iconv descriptors are costly to open and a listing converts every name, so
// each thread keeps one per direction.
struct Converter {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
};

iconv_t AnsiToUtf16() {
  thread_local Converter c("UTF-16LE", kAnsiCodePage);
  return c.cd;
}

iconv_t Utf16ToAnsi() {
  thread_local Converter c(kAnsiCodePage, "UTF-16LE");
  return c.cd;
}

bool Convert(iconv_t cd, const char* in, size_t inBytes, std::string& out) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string result;
  result.resize(inBytes * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t srcLeft = inBytes;
  char* dst = result.data();
  size_t dstLeft = result.size();
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        size_t used = static_cast<size_t>(dst - result.data());
        result.resize(result.size() * 2);
        dst = result.data() + used;
        dstLeft = result.size() - used;
        continue;
      }
      return false;
    }
  }
  if (iconv(cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
  result.resize(static_cast<size_t>(dst - result.data()));
  out = std::move(result);
  return true;
}

locale_t Utf8Locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (l == static_cast<locale_t>(0)) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

char32_t FoldCodePoint(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  locale_t loc = Utf8Locale();
  if (loc == static_cast<locale_t>(0)) return cp;
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc));
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

}  // namespace

bool AnsiToWide(std::string_view bytes, std::u16string& out) {
  if (bytes.empty()) {
    out.clear();
    return true;
  }
  // Plain ASCII needs no table; most names in real archives are.
  bool ascii = true;
  for (unsigned char c : bytes) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    out.assign(bytes.begin(), bytes.end());
    return true;
  }
  std::string utf16;
  if (!Convert(AnsiToUtf16(), bytes.data(), bytes.size(), utf16)) return false;
  std::u16string result(utf16.size() / 2, u'\0');
  for (size_t i = 0; i < result.size(); ++i) {
    result[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * i]) |
                                      (static_cast<unsigned char>(utf16[2 * i + 1]) << 8));
  }
  out = std::move(result);
  return true;
}

bool WideToAnsi(std::u16string_view text, std::string& out) {
  bool ascii = true;
  for (char16_t c : text) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    out.assign(text.begin(), text.end());
    return true;
  }
  std::string utf16(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    utf16[2 * i] = static_cast<char>(text[i] & 0xFF);
    utf16[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return Convert(Utf16ToAnsi(), utf16.data(), utf16.size(), out);
}

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp;
    size_t extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = true;
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += extra + 1;
  }
  return out;
}

char16_t FoldCaseUnit(char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  char32_t folded = FoldCodePoint(unit);
  return folded < 0x10000 ? static_cast<char16_t>(folded) : unit;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u < 0x80) {
      out.push_back((u >= 'A' && u <= 'Z') ? static_cast<char16_t>(u + 32) : u);
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      AppendUtf16(out, FoldCodePoint(cp));
      ++i;
    } else {
      AppendUtf16(out, FoldCodePoint(u));
    }
  }
  return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() == b.size()) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
      char16_t x = a[i], y = b[i];
      if (x == y) continue;
      if (x < 0x80 && y < 0x80) {
        if ((x | 0x20) == (y | 0x20) && (x | 0x20) >= 'a' && (x | 0x20) <= 'z') continue;
        return false;
      }
      break;
    }
    if (i == a.size()) return true;
  }
  return FoldCase(a) == FoldCase(b);
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  std::u16string t = FoldCase(text), p = FoldCase(prefix);
  return t.size() >= p.size() && t.compare(0, p.size(), p) == 0;
}

}  // namespace host
