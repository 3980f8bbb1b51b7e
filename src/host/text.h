// Text conversions between the archives' encodings and the program's wide text.
//
// In memory every name is UTF-16 (std::u16string), so lengths count code units
// exactly as the formats count them. ANSI text in archives is code page 932;
// host file names are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace host {

// Code page 932 bytes to UTF-16. Fails on bytes that are not valid in the code
// page (a lone lead byte, an unassigned code); `out` is then left unchanged.
// Conversion happens before any splitting at backslashes, so a trail byte 0x5C
// inside a double-byte character never becomes a separator.
bool AnsiToWide(std::string_view bytes, std::u16string& out);

// UTF-16 to code page 932 bytes. Fails for characters the code page cannot hold.
bool WideToAnsi(std::u16string_view text, std::string& out);

// UTF-16 <-> UTF-8. Unpaired surrogates and malformed UTF-8 become U+FFFD.
std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);

// Lower-cases per code point, non-ASCII letters included (full-width A to a,
// Greek, Cyrillic, and characters outside the Basic Multilingual Plane).
std::u16string FoldCase(std::u16string_view text);
char16_t FoldCaseUnit(char16_t unit);

// Paths and names are compared this way throughout the program.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);

}  // namespace host
