#include "restore/restore_summary.h"

namespace QPXFile {
namespace {

std::u16string Number(long value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

long FailedEntries(const RestoreCounts& counts) { return counts.failed + counts.foldersNotRestored; }

long SkippedEntries(const RestoreSummary& summary) {
  return summary.counts.skipped + summary.unheld + summary.leftOut;
}

long FailedFiles(const RestoreSummary& summary) { return summary.counts.failed + summary.unplaced; }

int ExitStatus(const RestoreSummary& summary) {
  switch (summary.outcome) {
    case CRestoreSession::Outcome::kComplete:
      return summary.unplaced > 0 || summary.unheld > 0 || summary.leftOut > 0 ? 1 : 0;
    case CRestoreSession::Outcome::kIncomplete:
      return 1;
    case CRestoreSession::Outcome::kStopped:
      break;
  }
  return 2;
}

namespace {

// What the desktop program tells as failed: entries, and files no run placed.
long FailedInAll(const RestoreSummary& summary) { return FailedEntries(summary.counts) + summary.unplaced; }

}  // namespace

std::u16string DoneText(const std::u16string& done, const RestoreSummary& summary) {
  const long failed = FailedInAll(summary);
  if (failed == 0) return done;
  return done + u"（失敗 " + Number(failed) + u" 件）";
}

std::u16string SummaryLine(const RestoreSummary& summary, const std::u16string& target) {
  return u"復元 " + Number(summary.counts.restored) + u" 件、スキップ " + Number(SkippedEntries(summary)) +
         u" 件、失敗 " + Number(FailedInAll(summary)) + u" 件（復元先: " + target + u"）";
}

bool ShouldOpenTarget(const RestoreCounts& counts) { return counts.restored > 0; }

}  // namespace QPXFile
