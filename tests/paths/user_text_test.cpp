#include "paths/user_text.h"

#include <gtest/gtest.h>

namespace {

using paths::Printable;

TEST(Printable, EscapesEveryControlCharacterAndNothingElse) {
  EXPECT_EQ(Printable(std::string("a\nb\tc\rd\x1b[31me\x7f\x01", 15)), "a\\x0Ab\\x09c\\x0Dd\\x1B[31me\\x7F\\x01");
  EXPECT_EQ(Printable(std::string("nul\0end", 7)), "nul\\x00end");
  // C1 controls (CSI is 0x9B) and the Unicode line breaks.
  EXPECT_EQ(Printable("\xc2\x9b" "2J\xc2\x85\xe2\x80\xa8\xe2\x80\xa9"), "\\u{009B}2J\\u{0085}\\u{2028}\\u{2029}");
  // Text users read is kept: backslashes, Japanese, characters beyond the BMP.
  EXPECT_EQ(Printable("C:\\表\\\xf0\x9f\x98\x80 a.txt"), "C:\\表\\\xf0\x9f\x98\x80 a.txt");
  EXPECT_EQ(Printable(""), "");
}

TEST(Printable, ShowsBytesThatAreNotUtf8AsBytes) {
  // A lone 0x9B would be CSI to an eight-bit terminal.
  EXPECT_EQ(Printable("a\x9b" "b\xff"), "a\\x9Bb\\xFF");
  EXPECT_EQ(Printable("\xe8\xa1"), "\\xE8\\xA1");          // cut short
  EXPECT_EQ(Printable("\xc0\x8a"), "\\xC0\\x8A");          // overlong line feed
  EXPECT_EQ(Printable("\xed\xa0\x80"), "\\xED\\xA0\\x80");  // a surrogate
}

TEST(Printable, WideTextIsEscapedTheSameWay) {
  EXPECT_EQ(Printable(std::u16string(u"C:\\a\nb\x1b\x85")), "C:\\a\\x0Ab\\x1B\\u{0085}");
}

TEST(Printable, InvisibleFormatCharactersCannotReorderOrHideWhatIsShown) {
  // Shown as it is, the first reads "rtlexe.txt".
  EXPECT_EQ(Printable(std::u16string(u"rtl\u202etxt.exe")), "rtl\\u{202E}txt.exe");
  EXPECT_EQ(Printable("a\u2066b\u2069\u200bc\u200f\ufeff"), "a\\u{2066}b\\u{2069}\\u{200B}c\\u{200F}\\u{FEFF}");
  // Their neighbours are ordinary text.
  EXPECT_EQ(Printable("\u2010\u2070\u2029x"), "\u2010\u2070\\u{2029}x");
  EXPECT_EQ(paths::ShownText(u"rtl\u202etxt.exe\n"), u"rtl\\u{202E}txt.exe\\x0A");
}

TEST(Printable, HalvesOfSurrogatePairsKeepTheirOwnCodes) {
  // Two names that differ only in a lone half must never be shown alike.
  const std::u16string a{u'a', char16_t(0xDC80)}, b{u'a', char16_t(0xDC81)}, high{char16_t(0xD83D), u'x'};
  EXPECT_EQ(Printable(a), "a\\u{DC80}");
  EXPECT_EQ(Printable(b), "a\\u{DC81}");
  EXPECT_EQ(Printable(high), "\\u{D83D}x");
  EXPECT_EQ(paths::ShownText(a), u"a\\u{DC80}");
  // A whole pair is one character, kept.
  EXPECT_EQ(Printable(std::u16string(u"\U0001F600")), "\xf0\x9f\x98\x80");
  EXPECT_EQ(paths::ShownText(u"\U0001F600"), u"\U0001F600");
}

}  // namespace
