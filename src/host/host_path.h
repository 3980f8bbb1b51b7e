// Mapping between the engine's Windows-form paths and host paths.
//
// The host file system appears to the engine as drive Z:, so Z:\home\me\a.qpx
// is /home/me/a.qpx. No other drive exists. Engine paths stay inside the
// engine; anything shown to a user is a host path.
//
// A host name may hold what a Windows name cannot: a backslash, which is an
// ordinary character in a Linux name, and bytes that are not UTF-8. These
// travel through the engine as private-use code points, so every host path
// comes back from its engine form exactly as it was:
//   "\" (0x5C)                      <-> U+F05C
//   a byte 0x80-0xFF outside UTF-8  <-> U+F080-U+F0FF
//   U+F000, U+F05C, U+F080-U+F0FF   <-> U+F000 followed by the character
// (U+F000 stands for the NUL byte, which no host path holds, so it is free to
// mark the private-use characters that mean themselves.)
#pragma once

#include <string>
#include <string_view>

namespace host {

// Z:\home\me\a.qpx -> /home/me/a.qpx (the drive letter in either case; "/"
// and "\" both separate; the escapes above are undone). Fails, leaving `out`
// unchanged, for another drive, a relative or UNC path, an embedded NUL or an
// unpaired surrogate (which would name a different file once converted).
bool ToHostPath(std::u16string_view windowsPath, std::string& out);

// /home/me/a.qpx -> Z:\home\me\a.qpx. A relative path is made absolute
// against the current directory first. Only "/" separates; whatever else
// the host name holds is carried as above, so ToHostPath gives back the same
// bytes.
std::u16string ToEnginePath(std::string_view hostPath);

}  // namespace host
