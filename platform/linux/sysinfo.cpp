#include <sys/utsname.h>

#include <cstdio>

#include "platform/sysinfo.h"

namespace qv::plat {

// Linux offers every service the engine needs, so it presents itself as a
// current NT-family system; the build number carries the kernel release.
OsVersion OsGetOsVersion() {
  OsVersion v;
  v.major = 10;
  v.minor = 0;
  v.platformId = 2;
  utsname u{};
  if (uname(&u) == 0) {
    unsigned a = 0, b = 0;
    if (std::sscanf(u.release, "%u.%u", &a, &b) == 2) v.build = a * 1000u + b;
  }
  return v;
}

}  // namespace qv::plat
