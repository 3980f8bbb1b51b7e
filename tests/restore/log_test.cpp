#include "restore/log.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "host/string_table.h"
#include "host/text.h"
#include "io/temp_files.h"
#include "support/bytes.h"
#include "support/memory_io.h"

namespace {

using QPXFile::CFileLog;
using QPXFile::CLogger;
using QPXFile::CMessageLog;
using QPXFile::FormatWithText;
using testsupport::Cp932;

constexpr uint32_t kRunStarted = 186;
constexpr uint32_t kRunEnded = 232;
constexpr uint32_t kOverwritten = 204;
constexpr uint32_t kInUse = 211;        // two lines
constexpr uint32_t kCancelled = 178;
constexpr uint32_t kNoSuchText = 9999;  // no string has this number

std::string ToBytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(FormatWithText, PutsTheTextInTheOnlyArgumentAndReadsNothingBeyondIt) {
  EXPECT_EQ(FormatWithText(u"ファイル %s を上書き", u"C:\\a.txt"), u"ファイル C:\\a.txt を上書き");
  EXPECT_EQ(FormatWithText(u"100%% %s", u"x"), u"100% x");
  // A second argument does not exist, so nothing is put there.
  EXPECT_EQ(FormatWithText(u"%s and %s", u"x"), u"x and ");
  // A path holding "%s" or "%%" is shown as it is, never expanded again.
  EXPECT_EQ(FormatWithText(u"[%s]", u"C:\\%s\\100%%"), u"[C:\\%s\\100%%]");
  EXPECT_EQ(FormatWithText(u"%d %", u"x"), u"%d %");
  EXPECT_EQ(FormatWithText(u"", u"x"), u"");
}

TEST(FileLog, FormatsItsMessageWithTheText) {
  CFileLog entry(u"C:\\Docs\\a.txt", kOverwritten);
  std::u16string text;
  ASSERT_TRUE(entry.GetText(text));
  EXPECT_EQ(text, u"既に存在しているファイル　C:\\Docs\\a.txt　を上書きしました。");

  CFileLog noPath(u"", kRunStarted);
  ASSERT_TRUE(noPath.GetText(text));
  EXPECT_EQ(text, u"バックアップファイル  の復元処理を開始しました。");
}

TEST(FileLog, AnIdWithoutStringGivesAnEmptyLine) {
  CFileLog entry(u"C:\\a.txt", kNoSuchText);
  std::u16string text = u"stale";
  EXPECT_FALSE(entry.GetText(text));
  EXPECT_TRUE(text.empty());
}

TEST(MessageLog, HoldsTheWholeMessageOrNothing) {
  std::u16string text;
  ASSERT_TRUE(CMessageLog(kCancelled).GetText(text));
  EXPECT_EQ(text, u"復元処理が中止されました。");

  text = u"stale";
  EXPECT_FALSE(CMessageLog(kNoSuchText).GetText(text));
  EXPECT_TRUE(text.empty());
}

TEST(LogEntries, ClonesRenderLikeTheirOriginals) {
  CFileLog file(u"C:\\表示\\a.txt", kInUse);
  CMessageLog message(kCancelled);
  for (const QPXFile::CLog* original : {static_cast<const QPXFile::CLog*>(&file),
                                        static_cast<const QPXFile::CLog*>(&message)}) {
    auto copy = original->Clone();
    ASSERT_NE(copy, nullptr);
    std::u16string a, b;
    original->GetText(a);
    copy->GetText(b);
    EXPECT_EQ(a, b);
  }
}

TEST(Logger, AddKeepsACopyInOrderAndClearEmptiesIt) {
  CLogger logger;
  {
    CFileLog first(u"Z:\\a.qpx", kRunStarted);
    EXPECT_EQ(logger.Add(first), 0);
  }  // the caller's entry is gone; the logger's copy must not be
  EXPECT_EQ(logger.Add(CMessageLog(kCancelled)), 1);
  EXPECT_EQ(logger.Add(CFileLog(u"Z:\\a.qpx", kRunEnded)), 2);
  ASSERT_EQ(logger.GetCount(), 3u);

  std::u16string text;
  logger.GetAt(0).GetText(text);
  EXPECT_EQ(text, u"バックアップファイル Z:\\a.qpx の復元処理を開始しました。");
  logger.GetAt(2).GetText(text);
  EXPECT_EQ(text, u"バックアップファイル Z:\\a.qpx の復元処理が終了しました。");
  EXPECT_THROW(logger.GetAt(3), std::invalid_argument);

  logger.Clear();
  EXPECT_EQ(logger.GetCount(), 0u);
  EXPECT_THROW(logger.GetAt(0), std::invalid_argument);
  EXPECT_EQ(logger.Add(CMessageLog(kCancelled)), 0);
}

TEST(Logger, WriteToSendsEveryLineWithCrLfAndATerminatingNul) {
  CLogger logger;
  logger.Add(CFileLog(u"Z:\\a.qpx", kRunStarted));
  logger.Add(CMessageLog(kNoSuchText));  // an empty line
  logger.Add(CMessageLog(kCancelled));

  testsupport::MemoryIO out;
  ASSERT_TRUE(logger.WriteTo(out));
  const std::u16string expected = u"バックアップファイル Z:\\a.qpx の復元処理を開始しました。\r\n"
                                  u"\r\n"
                                  u"復元処理が中止されました。\r\n";
  testsupport::ByteWriter bytes;
  bytes.Utf16(expected).U16(0);
  EXPECT_EQ(out.bytes(), bytes.bytes());
}

TEST(Logger, WriteToOfAnEmptyLogIsTheNulAloneAndFailuresAreReported) {
  CLogger logger;
  testsupport::MemoryIO out;
  ASSERT_TRUE(logger.WriteTo(out));
  EXPECT_EQ(out.bytes(), (std::vector<uint8_t>{0, 0}));

  logger.Add(CMessageLog(kCancelled));
  testsupport::MemoryIO full;
  full.SetWriteLimit(4);
  EXPECT_FALSE(logger.WriteTo(full));
}

class LoggerSave : public ::testing::Test {
 protected:
  iotest::TempDir dir_;
};

TEST_F(LoggerSave, WritesCodePage932LinesEndingInCrLf) {
  // 表 and ソ have 0x5C as their second byte in code page 932: the bytes must
  // pass through untouched, neither doubled nor taken for a separator.
  const std::u16string path = u"C:\\表示\\ソフト.txt";
  CLogger logger;
  logger.Add(CFileLog(u"Z:\\backup.qpx", kRunStarted));
  logger.Add(CFileLog(path, kInUse));
  logger.Add(CMessageLog(kCancelled));
  ASSERT_TRUE(logger.SaveAs(dir_.EnginePath("run.log")));

  const std::string saved = ToBytes(dir_.Read("run.log"));
  const std::string expected = Cp932(u"バックアップファイル Z:\\backup.qpx の復元処理を開始しました。") + "\r\n" +
                               Cp932(u"ファイル　C:\\表示\\ソフト.txt　を復元できませんでした。") + "\r\n" +
                               Cp932(u"ファイルが使用中か、読み取り専用になっている可能性があります。") + "\r\n" +
                               Cp932(u"復元処理が中止されました。") + "\r\n";
  EXPECT_EQ(saved, expected);
  EXPECT_NE(Cp932(path).find("\x95\x5C"), std::string::npos);
  EXPECT_NE(saved.find(Cp932(path)), std::string::npos);
  EXPECT_EQ(saved.find("\r\r"), std::string::npos);
}

TEST_F(LoggerSave, EveryKindOfLineBreakInAnEntryBecomesOneCrLf) {
  // The message-log texts come from the string table; file-log subjects are
  // free text, so line breaks there are the way to reach every case.
  CLogger logger;
  logger.Add(CFileLog(u"a\nb\r\nc", kRunStarted));
  ASSERT_TRUE(logger.SaveAs(dir_.EnginePath("breaks.log")));
  EXPECT_EQ(ToBytes(dir_.Read("breaks.log")),
            Cp932(u"バックアップファイル a") + "\r\n" + "b\r\n" + Cp932(u"c の復元処理を開始しました。") + "\r\n");
}

TEST_F(LoggerSave, AnEmptyLogTruncatesTheFileToNothing) {
  dir_.Write("empty.log", {'o', 'l', 'd'});
  CLogger logger;
  ASSERT_TRUE(logger.SaveAs(dir_.EnginePath("empty.log")));
  EXPECT_TRUE(dir_.Read("empty.log").empty());
}

TEST_F(LoggerSave, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  // A Korean name and a character outside the Basic Multilingual Plane (one
  // surrogate pair, one question mark), from a UTF-16 archive.
  CLogger logger;
  logger.Add(CFileLog(u"C:\\한\U0001F600\\日本.txt", kOverwritten));
  logger.Add(CFileLog(u"C:\\b.txt", kOverwritten));
  ASSERT_TRUE(logger.SaveAs(dir_.EnginePath("foreign.log")));
  EXPECT_EQ(ToBytes(dir_.Read("foreign.log")),
            Cp932(u"既に存在しているファイル　C:\\??\\日本.txt　を上書きしました。") + "\r\n" +
                Cp932(u"既に存在しているファイル　C:\\b.txt　を上書きしました。") + "\r\n");
}

TEST_F(LoggerSave, NamesReadFromAnsiArchivesAreSavedAsTheBytesTheyWereReadFrom) {
  // Names holding 0x80, 0xA0, 0xFD-0xFF and user-defined characters: the saved
  // log gives back exactly their bytes.
  const std::string name = "C:\\\x80\xA0\xFD\xFE\xFF\xF0\x40\xF9\xFC.txt";
  std::u16string wide;
  ASSERT_TRUE(host::AnsiToWide(name, wide));
  CLogger logger;
  logger.Add(CFileLog(wide, kOverwritten));
  ASSERT_TRUE(logger.SaveAs(dir_.EnginePath("odd.log")));
  EXPECT_EQ(ToBytes(dir_.Read("odd.log")),
            Cp932(u"既に存在しているファイル　") + name + Cp932(u"　を上書きしました。") + "\r\n");
}

TEST_F(LoggerSave, FileErrorsAreReported) {
  CLogger logger;
  logger.Add(CMessageLog(kCancelled));
  // Only the host drive exists.
  EXPECT_FALSE(logger.SaveAs(u"C:\\run.log"));
  // A folder that does not exist.
  EXPECT_FALSE(logger.SaveAs(dir_.EnginePath("missing/run.log")));

  testsupport::MemoryIO full;
  ASSERT_TRUE(full.Close());
  full.SetWriteLimit(5);
  EXPECT_FALSE(logger.SaveAs(full, u"Z:\\full.log"));
  EXPECT_FALSE(full.IsOpen());
}

}  // namespace

namespace {

TEST(Logger, PrintedTextEscapesTheNamesButKeepsTheMessagesOwnLineBreaks) {
  CLogger logger;
  logger.Add(CFileLog(u"/tmp/a\n\x1b[2Jb.txt", kOverwritten));
  logger.Add(CFileLog(u"/tmp/c.txt", kInUse));
  std::string printed;
  logger.GetPrintedText(printed);
  std::u16string overwritten, inUse;
  CFileLog(u"/tmp/a\\x0A\\x1B[2Jb.txt", kOverwritten).GetText(overwritten);
  CFileLog(u"/tmp/c.txt", kInUse).GetText(inUse);
  std::string inUseText = host::WideToUtf8(inUse);
  ASSERT_NE(inUseText.find("\r\n"), std::string::npos);
  inUseText.replace(inUseText.find("\r\n"), 2, "\n");
  EXPECT_EQ(printed, host::WideToUtf8(overwritten) + "\n" + inUseText + "\n");
  // The result log's own text is unchanged.
  std::u16string text;
  ASSERT_TRUE(logger.GetText(text));
  EXPECT_NE(text.find(u"a\n\x1b[2Jb.txt"), std::u16string::npos);
}

TEST(Logger, TheShownLogEscapesNamesThatWouldReadOtherwiseAndTheSavedTextKeepsThem) {
  CLogger logger;
  logger.Add(CFileLog(u"/tmp/rtl\u202etxt.exe", kOverwritten));
  testsupport::MemoryIO shown;
  ASSERT_TRUE(logger.WriteTo(shown));
  std::u16string expected;
  CFileLog(u"/tmp/rtl\\u{202E}txt.exe", kOverwritten).GetText(expected);
  testsupport::ByteWriter bytes;
  bytes.Utf16(expected + u"\r\n").U16(0);
  EXPECT_EQ(shown.bytes(), bytes.bytes());
  std::u16string text;
  ASSERT_TRUE(logger.GetText(text));
  EXPECT_NE(text.find(u"rtl\u202etxt.exe"), std::u16string::npos);
}

}  // namespace
