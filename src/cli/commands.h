// The commands of tessera-cli. Each returns the process exit status.
#pragma once

#include <string>

namespace cli {

int RunInfo(const std::string& archive, bool json);
int RunList(const std::string& archive, bool json);
// Decodes every entry and compares its size and CRC; lists only damaged ones.
int RunTest(const std::string& archive);

}  // namespace cli
