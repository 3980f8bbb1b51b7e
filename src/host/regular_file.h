// Whether a path names a file that can be opened as an archive.
#pragma once

#include <string>

namespace host {

// True when `hostPath` is a regular file (links followed); otherwise `why`
// says what is there instead, in the words a user is shown.
bool CheckRegularFile(const std::string& hostPath, std::string& why);

}  // namespace host
