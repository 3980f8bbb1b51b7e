// Small, realistic archives for tests and for trying the tools by hand.
#pragma once

#include "support/archive_writer.h"

namespace testsupport {

// "QPX3.0  ": a user's documents with Japanese names (among them folders
// whose code page 932 bytes hold 0x5C trail bytes), stored, imploded (binary
// and ASCII literals, several dictionary sizes) and empty files, read-only
// and hidden attributes, times, and two category items.
ArchiveSpec SampleArchive();

// "QPX2.0  " with code page 932 names.
ArchiveSpec SampleAnsiArchive();

// SampleArchive with one more, larger file, split into volumes of 4096 bytes.
ArchiveSpec SampleSplitArchive();

// A FILETIME (100-ns units since 1601-01-01) for a calendar time.
uint64_t FileTime(int year, unsigned month, unsigned day, unsigned hour = 0, unsigned minute = 0,
                  unsigned second = 0);

// Deterministic bytes that do not compress.
std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed);

}  // namespace testsupport
