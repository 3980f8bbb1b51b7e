#include "cli/skipped_records.h"

#include <iostream>

#include "cli/open.h"
#include "host/text.h"

namespace cli {
namespace {

// A hostile management file can hold millions; the count says the rest.
constexpr size_t kNamedRecords = 20;

bool AtOrBelow(std::u16string_view path, std::u16string_view chosen) {
  if (path.size() < chosen.size() || !host::EqualsNoCase(path.substr(0, chosen.size()), chosen)) return false;
  return path.size() == chosen.size() || path[chosen.size()] == u'\\';
}

}  // namespace

std::vector<std::u16string> UnheldRecords(const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator,
                                          const std::vector<std::string>& chosen) {
  std::vector<std::u16string> out;
  for (const std::u16string& record : creator.GetSkippedRecords()) {
    bool wanted = chosen.empty();
    for (size_t i = 0; i < chosen.size() && !wanted; ++i)
      wanted = AtOrBelow(record, paths::StoredPathArgument(chosen[i]));
    if (wanted) out.push_back(record);
  }
  return out;
}

void ReportUnheldRecords(const std::string& archive, const std::vector<std::u16string>& records) {
  for (size_t i = 0; i < records.size() && i < kNamedRecords; ++i)
    PrintError(archive, "skipped " + Printable(records[i]) +
                            ": it is a file in one generation and a folder in another, which the merged view "
                            "cannot show");
  if (records.size() > kNamedRecords)
    PrintError(archive, "skipped " + std::to_string(records.size() - kNamedRecords) + " more such records");
}

}  // namespace cli
