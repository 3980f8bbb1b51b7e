#include "host/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace host {

bool CopyFileBytes(PlatformFile& from, uint64_t fromOffset, PlatformFile& to, uint64_t toOffset, uint32_t length,
                   uint32_t& copied) {
  copied = 0;
  if (from.fd_ < 0 || to.fd_ < 0) return false;
  if (fromOffset > static_cast<uint64_t>(LLONG_MAX) - length || toOffset > static_cast<uint64_t>(LLONG_MAX) - length)
    return false;
  loff_t in = static_cast<loff_t>(fromOffset), out = static_cast<loff_t>(toOffset);
  while (copied < length) {
    const ssize_t n = ::copy_file_range(from.fd_, &in, to.fd_, &out, length - copied, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return copied > 0;
    }
    if (n == 0) break;  // the end of `from`
    copied += static_cast<uint32_t>(n);
  }
  // What the destination's read-ahead held may have been overwritten.
  to.cacheLength_ = 0;
  return true;
}

}  // namespace host
