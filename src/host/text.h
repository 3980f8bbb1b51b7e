// Text conversions between the archives' encodings and the program's wide text.
//
// In memory every name is UTF-16 (std::u16string), so lengths count code units
// exactly as the formats count them. ANSI text in archives is code page 932;
// host file names are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace host {

// Code page 932 bytes to UTF-16, as Windows decodes them: this never fails
// (the result is always true). Bytes 0x80, 0xA0 and 0xFD-0xFF become U+0080,
// U+F8F0 and U+F8F1-U+F8F3, the user-defined area 0xF040-0xF9FC becomes
// U+E000-U+E757, and a pair without a character (or a lead byte at the end)
// becomes the default character U+30FB. Conversion happens before any
// splitting at backslashes, so a trail byte 0x5C inside a double-byte
// character never becomes a separator.
bool AnsiToWide(std::string_view bytes, std::u16string& out);

// UTF-16 to code page 932 bytes; the characters above that Windows alone
// gives code points go back to their bytes. Fails for characters the code
// page cannot hold.
bool WideToAnsi(std::u16string_view text, std::string& out);

// UTF-16 <-> UTF-8. Unpaired surrogates and malformed UTF-8 (overlong forms
// included) become U+FFFD.
std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);

// One code point at a time. DecodeUtf8 gives the length of the well-formed
// sequence at `text[at]` and its code point, or 0 for a stray byte, an
// overlong form, a surrogate or a cut-short sequence.
size_t DecodeUtf8(std::string_view text, size_t at, char32_t& cp);
void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(std::u16string& out, char32_t cp);

// Lower-cases per code point, non-ASCII letters included (full-width A to a,
// Greek, Cyrillic, and characters outside the Basic Multilingual Plane).
std::u16string FoldCase(std::u16string_view text);
char16_t FoldCaseUnit(char16_t unit);

// Paths and names are compared this way throughout the program.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);

}  // namespace host
