// Copies between two open files that the system makes itself, so that the
// bytes never pass through this process (the way cp copies).
#pragma once

#include <cstdint>

#include "host/file.h"

namespace host {

// Copies `length` bytes of `from` at `fromOffset` to `to` at `toOffset`;
// neither file's position moves. `copied` is how many were copied, fewer
// only where `from` ends. False when the system cannot copy between these
// two files (another file system, a kind of file it does not support) or
// reports a failure: the caller then copies by reading and writing, which
// shows a real failure with its cause.
bool CopyFileBytes(PlatformFile& from, uint64_t fromOffset, PlatformFile& to, uint64_t toOffset, uint32_t length,
                   uint32_t& copied);

}  // namespace host
