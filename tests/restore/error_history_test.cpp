#include "restore/error_history.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using QPXFile::CErrorDescription;
using QPXFile::CErrorHistory;

CErrorDescription Description(uint32_t id, std::u16string text, int32_t generation) {
  CErrorDescription d;
  d.messageId = id;
  d.text = std::move(text);
  d.generation = generation;
  return d;
}

TEST(ErrorHistory, KeepsCopiesInOrderUntilEmptied) {
  CErrorHistory history;
  EXPECT_TRUE(history.IsEmpty());
  {
    CErrorDescription first = Description(204, u"C:\\a.txt", 0);
    EXPECT_EQ(history.Add(first), 0);
    first.text = u"changed";
  }
  EXPECT_EQ(history.Add(Description(178, u"", CErrorDescription::kNoGeneration)), 1);
  ASSERT_EQ(history.GetCount(), 2u);
  EXPECT_EQ(history.GetAt(0).text, u"C:\\a.txt");
  EXPECT_EQ(history.GetAt(0).generation, 0);
  EXPECT_EQ(history.GetAt(1).messageId, 178u);
  EXPECT_THROW(history.GetAt(2), std::invalid_argument);

  // The generation manager empties the history of a reused manager.
  history.RemoveAll();
  EXPECT_TRUE(history.IsEmpty());
  EXPECT_THROW(history.GetAt(0), std::invalid_argument);
  EXPECT_EQ(history.Add(Description(178, u"", 1)), 0);
}

TEST(ErrorHistory, DescriptionsReadInTheMessagesWords) {
  std::u16string text;
  ASSERT_TRUE(Description(204, u"C:\\a.txt", 0).GetText(text));
  EXPECT_EQ(text, u"既に存在しているファイル　C:\\a.txt　を上書きしました。");
  ASSERT_TRUE(Description(178, u"ignored", 0).GetText(text));
  EXPECT_EQ(text, u"復元処理が中止されました。");
  EXPECT_FALSE(Description(9999, u"x", 0).GetText(text));
  EXPECT_TRUE(text.empty());
}

}  // namespace
