// The outcome of a finished run as both front ends tell it.
#include "restore/restore_summary.h"

#include <gtest/gtest.h>

using namespace QPXFile;

TEST(RestoreSummary, FailuresAreNeverHiddenBehindPlainDone) {
  RestoreCounts clean;
  clean.restored = 5;
  clean.skipped = 2;
  EXPECT_EQ(DoneText(u"復元完了", clean), u"復元完了");
  EXPECT_TRUE(ShouldOpenTarget(clean));

  // Folders that an obstacle kept from being made are failures as well.
  RestoreCounts partial;
  partial.restored = 512;
  partial.failed = 86;
  partial.foldersNotRestored = 2;
  EXPECT_EQ(DoneText(u"復元完了", partial), u"復元完了（失敗 88 件）");
  EXPECT_EQ(SummaryLine(partial, u"/home/u/out"), u"復元 512 件、スキップ 0 件、失敗 88 件（復元先: /home/u/out）");
  EXPECT_TRUE(ShouldOpenTarget(partial));

  // A read-only target: nothing there to look at.
  RestoreCounts none;
  none.failed = 5;
  EXPECT_EQ(DoneText(u"Tessera - 復元が完了しました", none), u"Tessera - 復元が完了しました（失敗 5 件）");
  EXPECT_FALSE(ShouldOpenTarget(none));
}
