// Running out of memory while an archive is read is told as running out of
// memory, wherever in the archive it happens: never as a damaged section.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "generation_set.h"
#include "generations/backup_set.h"
#include "host/string_ids.h"
#include "paths/user_text.h"
#include "support/archive_writer.h"

namespace {

// While set, every allocation of at least this many bytes fails (this test
// program's allocations all pass through the operator below).
std::atomic<size_t> g_failFrom{SIZE_MAX};

}  // namespace

namespace {

void* Allocate(size_t size) {
  if (size >= g_failFrom.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* AllocateOrNull(size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// Every plain form is replaced, so that whatever allocates through one frees
// through its partner here: a sanitizer's own operator paired with free()
// would be a mismatch. Out of line: inlined into a caller, the compiler would
// see free() given a pointer from operator new and warn of that mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

namespace fs = std::filesystem;

class OutOfMemoryTest : public gentest::GenerationTest {};

TEST_F(OutOfMemoryTest, EveryPartOfAnArchiveToldAsOutOfMemory) {
  // Each plan holds one text far longer than anything else the load
  // allocates, in a different part of the archive.
  const std::u16string longText(30000, u'長');
  std::vector<testsupport::ArchiveSpec> plans(4);
  for (testsupport::ArchiveSpec& plan : plans) {
    plan.folders = {{u"C:\\Data"}};
    plan.entries.push_back({.folder = u"C:\\Data", .name = u"a.txt", .data = testsupport::Bytes("a")});
  }
  plans[0].fileList.push_back({u"C:\\" + longText});
  plans[1].folders.push_back({u"C:\\" + longText});
  plans[2].categoryItems.push_back({u"name", longText});
  plans[3].entries.push_back({.folder = u"C:\\Data", .name = longText, .data = testsupport::Bytes("b")});

  for (size_t i = 0; i < plans.size(); ++i) {
    const fs::path path = dir_ / ("plan" + std::to_string(i) + ".qpx");
    testsupport::WriteArchive(plans[i], path);
    QPXFile::Problems problems;
    IncrementalBackup::CBackupSet whole(path.string());
    ASSERT_TRUE(whole.LoadArchiveAlone(problems)) << i;

    IncrementalBackup::CBackupSet starved(path.string());
    g_failFrom = 50000;
    const bool loaded = starved.LoadArchiveAlone(problems);
    g_failFrom = SIZE_MAX;
    EXPECT_FALSE(loaded) << i;
    ASSERT_EQ(problems.size(), 1u) << i;
    EXPECT_EQ(problems[0].message, paths::MessageText(host::StringId::kOutOfMemory)) << i;
  }
}

}  // namespace
