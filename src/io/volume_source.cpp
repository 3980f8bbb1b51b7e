#include "io/volume_source.h"

namespace QPXFile {
namespace {

// Per thread, so a loader on a worker thread and the user-interface thread
// never see each other's source.
thread_local const CMemoryVolumes* current = nullptr;

}  // namespace

const std::vector<uint8_t>* CMemoryVolumes::Find(const std::u16string& enginePath) const {
  auto it = files_.find(enginePath);
  return it == files_.end() ? nullptr : &it->second;
}

CScopedVolumeSource::CScopedVolumeSource(const CMemoryVolumes& volumes) : previous_(current) { current = &volumes; }

CScopedVolumeSource::~CScopedVolumeSource() { current = previous_; }

const CMemoryVolumes* CScopedVolumeSource::Current() { return current; }

}  // namespace QPXFile
