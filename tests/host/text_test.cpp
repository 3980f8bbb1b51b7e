#include "host/text.h"

#include <gtest/gtest.h>

namespace {

TEST(AnsiText, DoubleByteNamesWithBackslashTrailByteStayWhole) {
  // ソ 表 能 each have 0x5C as their second byte.
  std::string bytes = "\x83\x5c\x95\x5c\x94\x5c\\a";
  std::u16string wide;
  ASSERT_TRUE(host::AnsiToWide(bytes, wide));
  EXPECT_EQ(wide, u"ソ表能\\a");
  std::string back;
  ASSERT_TRUE(host::WideToAnsi(wide, back));
  EXPECT_EQ(back, bytes);
}

TEST(AnsiText, BackslashIsNotAYenSign) {
  std::u16string wide;
  ASSERT_TRUE(host::AnsiToWide("C:\\Docs", wide));
  EXPECT_EQ(wide, u"C:\\Docs");
}

TEST(AnsiText, LoneLeadByteFailsAndLeavesOutput) {
  std::u16string wide = u"keep";
  EXPECT_FALSE(host::AnsiToWide("ab\x83", wide));
  EXPECT_EQ(wide, u"keep");
}

TEST(AnsiText, UnrepresentableCharacterFails) {
  std::string out;
  EXPECT_FALSE(host::WideToAnsi(u"\U0001F600", out));
}

TEST(Utf8Text, RoundTripsOutsideBasicPlane) {
  std::u16string wide = u"a\U0001F600表";
  EXPECT_EQ(host::Utf8ToWide(host::WideToUtf8(wide)), wide);
  EXPECT_EQ(host::WideToUtf8(u"表"), "\xe8\xa1\xa8");
}

TEST(Utf8Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(host::Utf8ToWide("a\xff" "b"), u"a\uFFFDb");
  EXPECT_EQ(host::Utf8ToWide("a\xe8\xa1"), u"a\uFFFD\uFFFD");
  EXPECT_EQ(host::WideToUtf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
}

TEST(CaseInsensitive, CoversNonAsciiLetters) {
  EXPECT_TRUE(host::EqualsNoCase(u"C:\\DOCS\\A.TXT", u"c:\\docs\\a.txt"));
  EXPECT_TRUE(host::EqualsNoCase(u"Ａ", u"ａ"));
  EXPECT_TRUE(host::EqualsNoCase(u"ÄÖÜ", u"äöü"));
  EXPECT_TRUE(host::EqualsNoCase(u"ΣΟΦΙΑ", u"σοφια"));
  EXPECT_TRUE(host::EqualsNoCase(u"\U00010400", u"\U00010428"));  // Deseret, outside the BMP
  EXPECT_FALSE(host::EqualsNoCase(u"a", u"b"));
  EXPECT_FALSE(host::EqualsNoCase(u"ab", u"a"));
  EXPECT_TRUE(host::StartsWithNoCase(u"C:\\Work\\x", u"c:\\WORK"));
}

}  // namespace
