#include "platform/sysinfo.h"

#include <mutex>

namespace qv::plat {

OsVersion OsGetOsVersion();  // per OS

namespace {
std::mutex g_mutex;
std::optional<OsVersion> g_override;
}  // namespace

OsVersion GetOsVersion() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_override) return *g_override;
  }
  return OsGetOsVersion();
}

void SetOsVersionOverride(std::optional<OsVersion> version) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_override = version;
}

}  // namespace qv::plat
