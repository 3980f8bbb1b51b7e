// Paths and texts as a person sees or types them: engine paths shown as host
// paths, stored paths typed in either separator, string-table texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paths {

// Engine path (Z:\...) as the host path users know; other text as UTF-8.
std::string HostPathText(const std::u16string& enginePath);

// Wide text as UTF-8.
std::string Utf8(const std::u16string& text);

// UTF-8 text (a name, a path) made safe for one line of a terminal: C0
// controls (line feed, tab, escape ...) and DEL become "\xHH", C1 controls,
// the Unicode line and paragraph separators, the invisible format
// characters (bidirectional embeddings, overrides and isolates, zero-width
// spaces and joiners, the byte order mark) and halves of surrogate pairs
// "\u{HHHH}", and bytes that are not UTF-8 "\xHH". A stored name can hold
// any of these, and printed as it is it would move the cursor, recolour the
// terminal, start a line that looks like one of ours, or show its letters in
// another order ("rtl<U+202E>txt.exe" reads as "rtlexe.txt"). Everything
// else is kept as it is.
std::string Printable(std::string_view utf8);
// The same for wide text; a half of a surrogate pair is shown by its own
// code unit, so two names that differ only there are shown apart.
std::string Printable(const std::u16string& text);

// A name or path as every window shows it: the escapes of Printable, in wide
// text. The true name stays what is restored, compared and saved.
std::u16string ShownText(std::u16string_view text);

// A stored path typed by a user: forward slashes as backslashes, no trailing
// separator.
std::u16string StoredPathArgument(const std::string& argument);

// A string-table text as UTF-8; "(message N)" when the table lacks it, so a
// failure is never reported as nothing.
std::string MessageText(int32_t id);

}  // namespace paths
