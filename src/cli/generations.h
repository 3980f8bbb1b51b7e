// The commands over the generations of a backup set. Each returns the
// process exit status.
#pragma once

#include <string>

#include "cli/open.h"

namespace cli {

int RunGenerations(const std::string& archive, bool json, const SetOptions& options);
int RunHistory(const std::string& archive, const std::string& path, bool json, const SetOptions& options);
int RunDiff(const std::string& archive, long from, long to, bool json, const SetOptions& options);

}  // namespace cli
