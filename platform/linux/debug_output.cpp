#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"

namespace qv::plat {

bool OsDebuggerListening() {
  static const bool enabled = [] {
    const char* v = std::getenv("QUORVANE_DEBUG_STDERR");
    return v != nullptr && *v != '\0' && *v != '0';
  }();
  return enabled;
}

void OsDebuggerOutput(const char* text) {
  if (OsDebuggerListening()) std::fputs(text, stderr);
}

}  // namespace qv::plat
