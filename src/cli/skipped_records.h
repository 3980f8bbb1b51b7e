// Records of a backup set that its merged tree cannot hold (a path that is a
// file in one generation and a folder in another): list and extract name and
// count them, so that nothing goes missing without a word.
#pragma once

#include <string>
#include <vector>

#include "generations/restore_tree.h"

namespace cli {

// One line on standard error for each (the first few when there are many),
// naming the record and why it is not there.
void ReportUnheldRecords(const std::string& archive, const std::vector<std::u16string>& records);

// The same for the records the tree left out because their paths lead
// outside their drive; nothing when there are none.
void ReportLeftOutRecords(const std::string& archive,
                          const IncrementalBackup::CIncrementalRestoreQPXFileExtendCreator& creator);

}  // namespace cli
