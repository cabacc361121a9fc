#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"

namespace qv::plat {

void OsDebuggerOutput(const char* text) {
  static const bool enabled = [] {
    const char* v = std::getenv("QUORVANE_DEBUG_STDERR");
    return v != nullptr && *v != '\0' && *v != '0';
  }();
  if (enabled) std::fputs(text, stderr);
}

}  // namespace qv::plat
