// The outcome of a finished run as both front ends tell it.
#include "restore/restore_summary.h"

#include <gtest/gtest.h>

using namespace QPXFile;

TEST(RestoreSummary, FailuresAreNeverHiddenBehindPlainDone) {
  RestoreSummary clean;
  clean.counts.restored = 5;
  clean.counts.skipped = 2;
  EXPECT_EQ(DoneText(u"復元完了", clean), u"復元完了");
  EXPECT_TRUE(ShouldOpenTarget(clean.counts));

  // Folders that an obstacle kept from being made are failures as well.
  RestoreSummary partial;
  partial.counts.restored = 512;
  partial.counts.failed = 86;
  partial.counts.foldersNotRestored = 2;
  EXPECT_EQ(DoneText(u"復元完了", partial), u"復元完了（失敗 88 件）");
  EXPECT_EQ(SummaryLine(partial, u"/home/u/out"), u"復元 512 件、スキップ 0 件、失敗 88 件（復元先: /home/u/out）");
  EXPECT_TRUE(ShouldOpenTarget(partial.counts));

  // A read-only target: nothing there to look at.
  RestoreSummary none;
  none.counts.failed = 5;
  EXPECT_EQ(DoneText(u"Tessera - 復元が完了しました", none), u"Tessera - 復元が完了しました（失敗 5 件）");
  EXPECT_FALSE(ShouldOpenTarget(none.counts));
}
