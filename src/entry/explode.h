// The explode decompressor for imploded entry data.
//
// The routine talks to its caller only through a read callback, a write
// callback and an opaque caller value, and keeps all its state in a work area
// that the caller allocates (kExplodeWorkAreaSize bytes, any alignment, no
// initialisation needed). It allocates nothing itself, so a file of any size
// is decompressed in constant memory, and distinct work areas may be used on
// different threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "entry/implode_tables.h"

namespace QPXFile {

// Places up to *size bytes (always 2048) in `buffer` and returns how many it
// placed; 0 means there is no more input. A caller that must abort returns 0.
using DclReadFn = unsigned (*)(char* buffer, unsigned* size, void* param);
// Takes all *size bytes of `buffer`. Output arrives in blocks of 4096 bytes
// and, at the end, one block with the remainder (0 to 4095 bytes, so an
// output that is an exact multiple of 4096 ends with a write of 0 bytes).
using DclWriteFn = void (*)(char* buffer, unsigned* size, void* param);

// Results of DclExplode.
enum : int {
  kDclOk = 0,
  kDclBadDictionary = 1,   // header byte 1 is not 4, 5 or 6
  kDclBadLiteralMode = 2,  // header byte 0 is not 0 or 1
  kDclTooShort = 3,        // the first read delivered 4 bytes or fewer
  kDclBroken = 4,          // input ran out before the end marker, or a code is invalid
};

// Sizes of the parts of the work area (see explode.cpp for their use).
inline constexpr size_t kExplodeHistoryBytes = 4096;     // the farthest a repetition reaches back
inline constexpr size_t kExplodeBlockBytes = 4096;       // size of each full write
inline constexpr size_t kExplodeWindowBlocks = 15;       // blocks decoded before the window shifts down
inline constexpr size_t kExplodeWindowSlack = 518 + 64;  // longest repetition plus wide-copy overrun
inline constexpr size_t kExplodeInputBytes = 2048;       // size of each read request
inline constexpr size_t kExplodeInputSlack = 16;         // room for carrying unread bytes over a refill

inline constexpr size_t kExplodeWindowBytes =
    kExplodeHistoryBytes + kExplodeWindowBlocks * kExplodeBlockBytes + kExplodeWindowSlack;

// Bytes the caller allocates for DclExplode's work area.
inline constexpr size_t kExplodeWorkAreaSize = 128 + kExplodeInputSlack + kExplodeInputBytes + kExplodeWindowBytes;

// Decompresses one implode stream from `read` to `write`; `param` is handed
// to both callbacks. Returns one of the kDcl codes. After kDclBroken the bytes
// decoded before the fault have been written.
int DclExplode(DclReadFn read, DclWriteFn write, void* workArea, void* param);

}  // namespace QPXFile
