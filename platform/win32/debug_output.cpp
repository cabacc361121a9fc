#include <windows.h>

#include "platform/debug_output.h"

namespace qv::plat {

void OsDebuggerOutput(const char* text) { OutputDebugStringA(text); }
// A debug viewer may capture the output without a debugger attached.
bool OsDebuggerListening() { return true; }

}  // namespace qv::plat
