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

std::u16string WithFailures(const std::u16string& done, long failed) {
  if (failed == 0) return done;
  return done + u"（失敗 " + Number(failed) + u" 件）";
}

std::u16string Line(long restored, long skipped, long failed, const std::u16string& target) {
  return u"復元 " + Number(restored) + u" 件、スキップ " + Number(skipped) + u" 件、失敗 " + Number(failed) +
         u" 件（復元先: " + target + u"）";
}

}  // namespace

std::u16string DoneText(const std::u16string& done, const RestoreCounts& counts) {
  return WithFailures(done, FailedEntries(counts));
}

std::u16string DoneText(const std::u16string& done, const RestoreSummary& summary) {
  return WithFailures(done, FailedEntries(summary.counts) + summary.unplaced);
}

std::u16string SummaryLine(const RestoreCounts& counts, const std::u16string& target) {
  return Line(counts.restored, counts.skipped, FailedEntries(counts), target);
}

std::u16string SummaryLine(const RestoreSummary& summary, const std::u16string& target) {
  return Line(summary.counts.restored, SkippedEntries(summary), FailedEntries(summary.counts) + summary.unplaced,
              target);
}

bool ShouldOpenTarget(const RestoreCounts& counts) { return counts.restored > 0; }

}  // namespace QPXFile
