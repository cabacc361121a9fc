#include <windows.h>

#include "platform/sysinfo.h"

namespace qv::plat {

OsVersion OsGetOsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  OsVersion v;
  if (!GetVersionExA(&info)) return v;
  v.major = info.dwMajorVersion;
  v.minor = info.dwMinorVersion;
  v.build = info.dwBuildNumber;
  v.platformId = info.dwPlatformId;
  return v;
}

}  // namespace qv::plat
