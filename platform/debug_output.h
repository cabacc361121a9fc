// The debugger output: where every log line goes first. On Windows it is
// OutputDebugStringA; on Linux it is quiet unless QUORVANE_DEBUG_STDERR is
// set. Tests capture it by installing a sink.
#pragma once
#include <functional>
#include <string>

namespace qv::plat {

void DebuggerOutput(const char* text);
// Whether a line given to DebuggerOutput goes anywhere, so a caller can
// spare itself formatting lines nobody reads.
bool DebuggerListening();

using DebugSink = std::function<void(const char*)>;
// Installs a sink in place of the OS output (an empty function restores it).
void SetDebugSink(DebugSink sink);

}  // namespace qv::plat
