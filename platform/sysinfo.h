// The operating system's version, as the version gate of start-up sees it.
#pragma once
#include <cstdint>
#include <optional>

namespace qv::plat {

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t platformId = 0;  // 2: an NT-family system
};

OsVersion GetOsVersion();
// Forces a version (tests); std::nullopt restores the real one.
void SetOsVersionOverride(std::optional<OsVersion> version);

}  // namespace qv::plat
