// The commands on what an archive holds: info, and list and test of the
// archive alone or of one generation of its set. Each returns the process
// exit status.
#pragma once

#include <string>

#include "cli/open.h"

namespace cli {

int RunInfo(const std::string& archive, bool json);
int RunList(const std::string& archive, bool json, const SetOptions& options);
// Decodes every entry and compares its size and CRC; lists only damaged ones.
int RunTest(const std::string& archive, const SetOptions& options);

}  // namespace cli
