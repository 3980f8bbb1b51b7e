// Paths and texts as a person sees or types them: engine paths shown as host
// paths, stored paths typed in either separator, string-table texts.
#pragma once

#include <cstdint>
#include <string>

namespace paths {

// Engine path (Z:\...) as the host path users know; other text as UTF-8.
std::string HostPathText(const std::u16string& enginePath);

// Wide text as UTF-8.
std::string Utf8(const std::u16string& text);

// A stored path typed by a user: forward slashes as backslashes, no trailing
// separator.
std::u16string StoredPathArgument(const std::string& argument);

// A string-table text as UTF-8; "(message N)" when the table lacks it, so a
// failure is never reported as nothing.
std::string MessageText(int32_t id);

}  // namespace paths
