#include "cli/skipped_records.h"

#include <iostream>

#include "cli/open.h"
#include "host/text.h"

namespace cli {
namespace {

// A hostile management file can hold millions; the count says the rest.
constexpr size_t kNamedRecords = 20;

void Report(const std::string& archive, const std::vector<std::u16string>& records, const char* why) {
  for (size_t i = 0; i < records.size() && i < kNamedRecords; ++i)
    PrintError(archive, "skipped " + Printable(records[i]) + ": " + why);
  if (records.size() > kNamedRecords)
    PrintError(archive, "skipped " + std::to_string(records.size() - kNamedRecords) + " more such records");
}

}  // namespace

void ReportUnheldRecords(const std::string& archive, const std::vector<std::u16string>& records) {
  Report(archive, records,
         "it is a file in one generation and a folder in another, which the merged view cannot show");
}

void ReportLeftOutRecords(const std::string& archive,
                          const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator) {
  Report(archive, creator.GetLeftOutRecords(),
         "its path does not lie below a drive (absolute, relative, or with \"..\" or \".\"), so the merged view "
         "leaves it out");
}

}  // namespace cli
