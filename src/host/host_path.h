// Mapping between the engine's Windows-form paths and host paths.
//
// The host file system appears to the engine as drive Z:, so Z:\home\me\a.qpx
// is /home/me/a.qpx. No other drive exists. Engine paths stay inside the
// engine; anything shown to a user is a host path.
#pragma once

#include <string>
#include <string_view>

namespace host {

// Z:\home\me\a.qpx -> /home/me/a.qpx (the drive letter in either case; "/"
// and "\" both separate). Fails, leaving `out` unchanged, for another drive, a
// relative or UNC path, an embedded NUL or an unpaired surrogate (which would
// name a different file once converted).
bool ToHostPath(std::u16string_view windowsPath, std::string& out);

// /home/me/a.qpx -> Z:\home\me\a.qpx. A relative path is made absolute
// against the current directory first. A host name that contains a backslash
// cannot be told apart from a separator once mapped.
std::u16string ToEnginePath(std::string_view hostPath);

}  // namespace host
