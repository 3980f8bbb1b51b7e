// A yardstick for the explode decompressor: a decoder of the classic
// table-driven kind, as the long-standing public decoders of the stream
// format are built. Used only by the benchmarks, to show what the engine's
// decoder gains over it on the same streams.
//
// What makes it "classic": the whole state lives in one struct in a work
// area; the symbol lookup tables (length, distance, and the four ASCII
// literal tables with their remaining-bits copy) are built from the fixed
// code tables at the start of every stream; the bit buffer holds the next 8
// to 16 bits and takes one input byte whenever a drop runs past them; every
// token is decoded into one value (a literal byte, or 256 + length value)
// before the output is touched; repetitions are copied one byte at a time
// into a window of 4096 history bytes and 4096 new ones, which is written
// out and moved down after every 4096 bytes.
#pragma once

#include "entry/explode.h"

namespace benchref {

// Bytes of the reference's work area.
inline constexpr size_t kReferenceWorkAreaSize = 16384;

// Same contract and result codes as QPXFile::DclExplode.
int ReferenceExplode(QPXFile::DclReadFn read, QPXFile::DclWriteFn write, void* workArea, void* param);

}  // namespace benchref
