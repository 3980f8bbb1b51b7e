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

// Format notes: code page 932 as Windows decodes it never fails. Single
// bytes are ASCII, half-width katakana (0xA1-0xDF) and five bytes Windows maps
// to code points of its own: 0x80 to U+0080, 0xA0 to U+F8F0, 0xFD-0xFF to
// U+F8F1-U+F8F3. Bytes 0x81-0x9F and 0xE0-0xFC lead a pair; a pair with no
// character, and a lead byte with nothing after it, becomes the code page's
// default character. Lead bytes 0xF0-0xF9 are the user-defined area, mapped
// in order onto U+E000-U+E757.
constexpr char16_t kCp932DefaultChar = 0x30FB;
constexpr int kCp932LeadCount = 31 + 29;

int LeadSlot(unsigned char c) {
  if (c >= 0x81 && c <= 0x9F) return c - 0x81;
  if (c >= 0xE0 && c <= 0xFC) return 31 + (c - 0xE0);
  return -1;
}

bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// The user-defined character of a pair, or 0.
char16_t UserDefined(unsigned char lead, unsigned char trail) {
  if (lead < 0xF0 || lead > 0xF9 || !IsTrailByte(trail)) return 0;
  const unsigned trailIndex = trail < 0x7F ? trail - 0x40 : trail - 0x41;
  return static_cast<char16_t>(0xE000 + (lead - 0xF0) * 188 + trailIndex);
}

struct Cp932Table {
  char16_t single[256];
  char16_t pairs[kCp932LeadCount][256];
};

// Built once from glibc's table, one pair at a time, so that a pair glibc
// does not know cannot spoil its neighbours.
const Cp932Table& Cp932() {
  static const Cp932Table table = [] {
    Cp932Table t{};
    iconv_t cd = iconv_open("UTF-16LE", kAnsiCodePage);
    auto decode = [&](const char* in, size_t length) -> char16_t {
      std::string utf16;
      if (!Convert(cd, in, length, utf16) || utf16.size() != 2) return kCp932DefaultChar;
      return static_cast<char16_t>(static_cast<unsigned char>(utf16[0]) |
                                   (static_cast<unsigned char>(utf16[1]) << 8));
    };
    for (unsigned c = 0; c < 256; ++c) {
      const char byte = static_cast<char>(c);
      t.single[c] = c < 0x80 ? static_cast<char16_t>(c) : (c >= 0xA1 && c <= 0xDF) ? decode(&byte, 1) : 0;
    }
    t.single[0x80] = 0x0080;
    t.single[0xA0] = 0xF8F0;
    t.single[0xFD] = 0xF8F1;
    t.single[0xFE] = 0xF8F2;
    t.single[0xFF] = 0xF8F3;
    for (unsigned lead = 0; lead < 256; ++lead) {
      const int slot = LeadSlot(static_cast<unsigned char>(lead));
      if (slot < 0) continue;
      for (unsigned trail = 0; trail < 256; ++trail) {
        char16_t& cell = t.pairs[slot][trail];
        cell = kCp932DefaultChar;
        if (!IsTrailByte(static_cast<unsigned char>(trail))) continue;
        if (char16_t user = UserDefined(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail))) {
          cell = user;
          continue;
        }
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        cell = decode(pair, 2);
      }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return t;
  }();
  return table;
}

// The bytes of a character that only Windows' mapping gives a code point;
// false for every other character.
bool WindowsOnlyToAnsi(char16_t c, std::string& bytes) {
  switch (c) {
    case 0x0080: bytes = "\x80"; return true;
    case 0xF8F0: bytes = "\xA0"; return true;
    case 0xF8F1: bytes = "\xFD"; return true;
    case 0xF8F2: bytes = "\xFE"; return true;
    case 0xF8F3: bytes = "\xFF"; return true;
    default: break;
  }
  if (c < 0xE000 || c > 0xE757) return false;
  const unsigned index = c - 0xE000;
  const unsigned trailIndex = index % 188;
  bytes.assign(1, static_cast<char>(0xF0 + index / 188));
  bytes.push_back(static_cast<char>(trailIndex < 0x3F ? 0x40 + trailIndex : 0x41 + trailIndex));
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

}  // namespace

bool AnsiToWide(std::string_view bytes, std::u16string& out) {
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
  const Cp932Table& table = Cp932();
  std::u16string result;
  result.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    const int lead = LeadSlot(c);
    if (lead < 0) {
      result.push_back(table.single[c]);
    } else if (i + 1 < bytes.size()) {
      // The trail byte belongs to the character whatever it is, so a 0x5C
      // there never becomes a separator.
      result.push_back(table.pairs[lead][static_cast<unsigned char>(bytes[++i])]);
    } else {
      result.push_back(kCp932DefaultChar);
    }
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
  // The characters Windows gives the code points of its own (the single bytes
  // 0x80, 0xA0, 0xFD to 0xFF and the user-defined area) go back to their
  // bytes here; glibc's table knows all the others.
  std::string result;
  size_t runStart = 0;
  auto flushRun = [&](size_t end) {
    if (end == runStart) return true;
    std::string utf16((end - runStart) * 2, '\0');
    for (size_t i = runStart; i < end; ++i) {
      utf16[2 * (i - runStart)] = static_cast<char>(text[i] & 0xFF);
      utf16[2 * (i - runStart) + 1] = static_cast<char>(text[i] >> 8);
    }
    std::string bytes;
    if (!Convert(Utf16ToAnsi(), utf16.data(), utf16.size(), bytes)) return false;
    result += bytes;
    return true;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    std::string special;
    if (!WindowsOnlyToAnsi(text[i], special)) continue;
    if (!flushRun(i)) return false;
    result += special;
    runStart = i + 1;
  }
  if (!flushRun(text.size())) return false;
  out = std::move(result);
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
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

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

size_t DecodeUtf8(std::string_view text, size_t at, char32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(text[at]);
  size_t extra;
  char32_t value;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    value = c & 0x1F;
    extra = 1;
  } else if ((c & 0xF0) == 0xE0) {
    value = c & 0x0F;
    extra = 2;
  } else if ((c & 0xF8) == 0xF0) {
    value = c & 0x07;
    extra = 3;
  } else {
    return 0;
  }
  for (size_t k = 1; k <= extra; ++k) {
    if (at + k >= text.size() || (static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
  }
  // An overlong form ("\xC0\xAF" for "/") would let one character hide
  // behind another.
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  cp = value;
  return extra + 1;
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
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t length = DecodeUtf8(text, i, cp);
    if (length == 0) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendUtf16(out, cp);
    i += length;
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
