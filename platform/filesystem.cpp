#include "platform/filesystem.h"

#include <atomic>

namespace qv::plat {

namespace {
FileSystem g_real;
std::atomic<FileSystem*> g_fileSystem{nullptr};
}  // namespace

FileSystem& GetFileSystem() {
  FileSystem* fs = g_fileSystem.load(std::memory_order_acquire);
  return fs ? *fs : g_real;
}

FileSystem* SetFileSystem(FileSystem* fileSystem) { return g_fileSystem.exchange(fileSystem, std::memory_order_acq_rel); }

uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
  // 1601-01-01 to 1970-01-01: 369 years with 89 leap days.
  constexpr int64_t kEpochDelta = 11644473600;
  if (seconds < -kEpochDelta) return 0;
  return static_cast<uint64_t>(seconds + kEpochDelta) * 10000000u + nanoseconds / 100u;
}

}  // namespace qv::plat
