// Text shown by tessera-cli: times, sizes, paths.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

// A FILETIME as "YYYY-MM-DD HH:MM:SS" (the archive's own clock, no zone
// applied); "-" for 0.
std::string FormatFileTime(uint64_t fileTime);

// Engine path (Z:\...) as the host path users know; other text as UTF-8.
std::string HostPathText(const std::u16string& enginePath);

std::string Utf8(const std::u16string& text);

}  // namespace cli
