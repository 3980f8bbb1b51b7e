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

TEST(AnsiText, DecodesAsWindowsDoesAndNeverFails) {
  struct Case {
    std::string bytes;
    std::u16string wide;
  };
  const Case cases[] = {
      {"a\x80" "b", u"a\u0080b"},
      {"\xA0", u"\uF8F0"},
      {"\xFD\xFE\xFF", u"\uF8F1\uF8F2\uF8F3"},
      {"\xA1\xDF", u"\uFF61\uFF9F"},                   // half-width katakana
      {"\xF0\x40", u"\uE000"},                           // first user-defined character
      {"\xF0\x7E\xF0\x80", u"\uE03E\uE03F"},          // 0x7F is no trail byte
      {"\xF1\x40", u"\uE0BC"},                           // 188 characters a lead byte
      {"\xF9\xFC", u"\uE757"},                           // last user-defined character
      {"\x81\xAD", u"\u30FB"},                           // a pair without a character
      {"\x85\x40" "x", u"\u30FBx"},                      // a lead byte without characters
      {"\xFC\x4C", u"\u30FB"},                           // past the last IBM extension
      {"\x81\x20" "x", u"\u30FBx"},                      // not a trail byte: still one pair
      {"ab\x83", u"ab\u30FB"},                            // a lead byte at the end
      {"\x87\x54\xFA\x4A\xED\x40", u"\u2160\u2160\u7E8A"},  // NEC and IBM extensions
      {"\x81\x5F\x81\x60", u"\uFF3C\uFF5E"},
  };
  for (const Case& c : cases) {
    std::u16string wide = u"old";
    EXPECT_TRUE(host::AnsiToWide(c.bytes, wide)) << testing::PrintToString(c.bytes);
    EXPECT_EQ(wide, c.wide) << testing::PrintToString(c.bytes);
  }
}

TEST(AnsiText, CharactersOnlyWindowsMapsGoBackToTheirBytes) {
  // Saved logs and written names must give back the bytes they were read from.
  const std::string bytes =
      "\x80\xA0\xFD\xFE\xFF\xF0\x40\xF0\x7E\xF0\x80\xF0\xFC\xF5\x9E\xF9\xFC" "C:\\\x83\x5c\xB1";
  std::u16string wide;
  ASSERT_TRUE(host::AnsiToWide(bytes, wide));
  std::string back;
  ASSERT_TRUE(host::WideToAnsi(wide, back));
  EXPECT_EQ(back, bytes);
  // Every user-defined character, in order.
  std::u16string area;
  for (char16_t c = 0xE000; c <= 0xE757; ++c) area.push_back(c);
  ASSERT_TRUE(host::WideToAnsi(area, back));
  ASSERT_EQ(back.size(), 2 * area.size());
  std::u16string again;
  ASSERT_TRUE(host::AnsiToWide(back, again));
  EXPECT_EQ(again, area);
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
  EXPECT_EQ(host::Utf8ToWide("\xC0\xAF"), u"\uFFFD\uFFFD") << "an overlong slash is no slash";
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
