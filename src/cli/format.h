// Text shown by tessera-cli: times, sizes, paths.
#pragma once

#include <cstdint>
#include <string>

#include "paths/user_text.h"

namespace cli {

// A FILETIME as "YYYY-MM-DD HH:MM:SS" (the archive's own clock, no zone
// applied); "-" for 0.
std::string FormatFileTime(uint64_t fileTime);

using paths::HostPathText;
using paths::Utf8;

}  // namespace cli
