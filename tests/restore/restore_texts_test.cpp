// The texts that restore events and log lines take from the string table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/string_table.h"
#include "host/text.h"

namespace {

size_t CountOf(const std::u16string& text, std::u16string_view what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::u16string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

std::u16string Text(uint32_t id) {
  std::u16string out;
  EXPECT_TRUE(host::LoadString(id, out)) << "no text " << id;
  return out;
}

// Questions, log lines and notices of the restore, and the result log's own texts.
const std::vector<uint32_t> kRestoreTexts = {
    125, 161, 162, 163, 164, 178, 186, 187, 188, 189, 190, 191, 192, 193, 194, 197, 198, 199,
    200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214, 215, 216, 218,
    219, 220, 221, 222, 223, 224, 225, 226, 227, 228, 229, 230, 231, 232, 235, 236, 243, 244, 245};

TEST(RestoreTexts, EveryNumberLoadsAndCanBeSavedInCodePage932) {
  for (uint32_t id : kRestoreTexts) {
    std::u16string text;
    ASSERT_TRUE(host::LoadString(id, text)) << id;
    EXPECT_FALSE(text.empty()) << id;
    std::string ansi;
    EXPECT_TRUE(host::WideToAnsi(text, ansi)) << id;
  }
}

TEST(RestoreTexts, LinesAboutAPathHaveOneArgumentAndWholeMessagesNone) {
  // Questions (other than 187) and every log line of a file or folder carry
  // the path or the file name.
  const std::vector<uint32_t> withPath = {186, 191, 192, 194, 201, 202, 203, 204, 205, 209, 210, 211, 212,
                                          213, 214, 215, 216, 218, 219, 220, 221, 222, 223, 224, 225, 226,
                                          227, 228, 229, 230, 231, 232, 235, 236, 243, 244};
  for (uint32_t id : withPath) EXPECT_EQ(CountOf(Text(id), u"%s"), 1u) << id;
  // Error boxes and the lines logged without a path.
  const std::vector<uint32_t> whole = {178, 187, 193, 197, 198, 199, 200, 245};
  for (uint32_t id : whole) EXPECT_EQ(CountOf(Text(id), u"%"), 0u) << id;
}

TEST(RestoreTexts, TwoLineLogEntriesBreakWithCrLf) {
  for (uint32_t id : {211u, 213u, 215u, 244u}) EXPECT_EQ(CountOf(Text(id), u"\r\n"), 1u) << id;
}

TEST(RestoreTexts, QuotedTextsAreExact) {
  EXPECT_EQ(Text(178), u"復元処理が中止されました。");
  EXPECT_EQ(Text(186), u"バックアップファイル %s の復元処理を開始しました。");
  EXPECT_EQ(Text(188), u"継続(&C)");
  EXPECT_EQ(Text(189), u"すべて継続(&A)");
  EXPECT_EQ(Text(190), u"復元を中止(&E)");
  EXPECT_EQ(Text(204), u"既に存在しているファイル\u3000%s\u3000を上書きしました。");
  EXPECT_EQ(Text(206), u"上書き(&Y)");
  EXPECT_EQ(Text(207), u"すべて上書き(&A)");
  EXPECT_EQ(Text(208), u"スキップ(&S)");
  EXPECT_EQ(Text(232), u"バックアップファイル %s の復元処理が終了しました。");
  EXPECT_EQ(Text(245), u"復元時ログをファイルに保存できませんでした。");
  EXPECT_EQ(Text(162), u"ログファイル (*.log)|*.log|テキストファイル (*.txt)|*.txt||");
}

TEST(RestoreTexts, NumbersWithoutTextAreRefused) {
  std::u16string out = u"kept";
  EXPECT_FALSE(host::LoadString(0, out));
  EXPECT_FALSE(host::LoadString(217, out));
  EXPECT_FALSE(host::LoadString(0xFFFFFFFFu, out));
  EXPECT_EQ(out, u"kept");
  // The table's neighbours of the new texts are still found.
  EXPECT_EQ(Text(107), u"Tessera");
  EXPECT_EQ(Text(126), u"NA      ");
}

}  // namespace
