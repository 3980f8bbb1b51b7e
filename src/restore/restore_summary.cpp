#include "restore/restore_summary.h"

namespace QPXFile {
namespace {

std::u16string Number(long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

long FailedEntries(const RestoreCounts& counts) { return counts.failed + counts.foldersNotRestored; }

std::u16string DoneText(const std::u16string& done, const RestoreCounts& counts) {
  const long failed = FailedEntries(counts);
  if (failed == 0) return done;
  return done + u"（失敗 " + Number(failed) + u" 件）";
}

std::u16string SummaryLine(const RestoreCounts& counts, const std::u16string& target) {
  return u"復元 " + Number(counts.restored) + u" 件、スキップ " + Number(counts.skipped) + u" 件、失敗 " +
         Number(FailedEntries(counts)) + u" 件（復元先: " + target + u"）";
}

bool ShouldOpenTarget(const RestoreCounts& counts) { return counts.restored > 0; }

}  // namespace QPXFile
