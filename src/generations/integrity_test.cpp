#include "generations/integrity_test.h"

#include <cstdio>

#include "generations/set_history.h"
#include "paths/user_text.h"

namespace IncrementalBackup {
namespace {

// Calls `onEntry` with each entry the scope covers, until it returns false.
bool ForEachEntry(const CBackupSet& set, TestScope scope, const std::function<bool(const SetFile&)>& onEntry) {
  if (scope == TestScope::kSelectedGeneration || set.IsArchiveAlone()) {
    bool going = true;
    set.ForEachFile([&](const SetFile& f) {
      if (going) going = onEntry(f);
    });
    return going;
  }
  const long count = set.Count();
  bool going = true;
  SetFile f;
  WalkTree(set.Tree(), [](const CFolder&) {},
           [&](const CFSFile& file) {
             const CGenerationInfo::Updates updates = file.GetData().GetGeneration().GetUpdates();
             if (!going || updates.empty()) return;
             long last = -1;
             for (const QPMFile::CQPMUpdateContents& u : updates) {
               const long g = u.Generation;
               if (g == last || g >= count) continue;
               last = g;
               // The update that applies in g says whether g stored the file.
               const NodeState s = StateAt(updates, g);
               if (!s.present || s.source != g) continue;
               f.path = file.GetPath();
               f.entry = file.GetData().GetEntry(static_cast<uint32_t>(s.index));
               f.source = g;
               if (!(going = onEntry(f))) return;
             }
           });
  return going;
}

std::string Hex(uint64_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(value));
  return buf;
}

std::string JapaneseFault(const QPXFile::EntryFault& fault) {
  using QPXFile::EntryFault;
  switch (fault.kind) {
    case EntryFault::kNone:
      return {};
    case EntryFault::kCutShort:
      return "データが途中で切れています";
    case EntryFault::kBrokenStream:
      return "圧縮データが壊れています";
    case EntryFault::kOutOfMemory:
      return "メモリが足りません";
    case EntryFault::kUnreadable:
      return "データを読み込めません";
    case EntryFault::kSizeDiffers:
      return "サイズが違います（記録 " + std::to_string(fault.recorded) + " バイト、データ " +
             std::to_string(fault.found) + " バイト）";
    case EntryFault::kCrcDiffers:
      return "CRC が違います（記録 " + Hex(fault.recorded) + "、データ " + Hex(fault.found) + "）";
  }
  return {};
}

}  // namespace

long CountEntriesToTest(const CBackupSet& set, TestScope scope) {
  long count = 0;
  ForEachEntry(set, scope, [&](const SetFile&) {
    ++count;
    return true;
  });
  return count;
}

IntegrityCounts TestEntries(const CBackupSet& set, TestScope scope,
                            const std::function<void(const DamagedEntry&)>& onDamaged,
                            const std::function<bool(long tested)>& goOn) {
  IntegrityCounts counts;
  counts.stopped = !ForEachEntry(set, scope, [&](const SetFile& file) {
    if (goOn && !goOn(counts.tested)) return false;
    ++counts.tested;
    DamagedEntry d;
    QPXFile::IQPXBackupedFile* entry = file.entry;
    if (entry == nullptr || entry->GetHeader() == nullptr || entry->GetData() == nullptr)
      d.missing = true;
    else
      d.fault = QPXFile::TestEntry(*entry->GetHeader(), *entry->GetData());
    if (!d.missing && d.fault.kind == QPXFile::EntryFault::kNone) return true;
    ++counts.damaged;
    d.path = file.path;
    d.named = file.named;
    d.source = file.source;
    onDamaged(d);
    return true;
  });
  return counts;
}

std::string DamageText(const CBackupSet& set, const DamagedEntry& entry, QPXFile::Wording wording) {
  const std::string holder = set.IsArchiveAlone() ? std::string() : set.ArchiveText(entry.source);
  if (wording == QPXFile::Wording::kJapanese) {
    if (entry.missing) return holder.empty() ? "アーカイブにありません" : holder + " にありません";
    return holder.empty() ? JapaneseFault(entry.fault) : JapaneseFault(entry.fault) + "（" + holder + "）";
  }
  if (entry.missing) return holder.empty() ? "missing" : "missing from " + holder;
  const std::string problem = QPXFile::DescribeEntryFault(entry.fault);
  return holder.empty() ? problem : problem + " (in " + holder + ")";
}

std::vector<UnopenedArchive> UnopenedArchives(const CBackupSet& set, QPXFile::Wording wording) {
  if (set.IsArchiveAlone() || !set.Manager().IsCutShort()) return {};
  const FailedArchive& failed = set.Manager().GetFailedArchive();
  std::string reason = failed.errorId == ManagerText::kOverwritten
                           ? (wording == QPXFile::Wording::kJapanese ? "作成日時が記録と違います"
                                                                     : "its creation time differs from the record")
                           : QPXFile::DescribeArchiveFault(failed.fault, wording);
  return {{failed.generation, paths::HostPathText(failed.path), std::move(reason)}};
}

}  // namespace IncrementalBackup
