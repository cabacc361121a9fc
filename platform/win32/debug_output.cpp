#include <windows.h>

#include "platform/debug_output.h"

namespace qv::plat {

void OsDebuggerOutput(const char* text) { OutputDebugStringA(text); }

}  // namespace qv::plat
