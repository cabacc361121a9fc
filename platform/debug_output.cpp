#include "platform/debug_output.h"

#include <mutex>

namespace qv::plat {

void OsDebuggerOutput(const char* text);  // per OS

namespace {
std::mutex g_sink_mutex;
DebugSink& Sink() {
  static DebugSink sink;
  return sink;
}
}  // namespace

void DebuggerOutput(const char* text) {
  {
    std::lock_guard<std::mutex> lock(g_sink_mutex);
    if (Sink()) {
      Sink()(text);
      return;
    }
  }
  OsDebuggerOutput(text);
}

void SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(g_sink_mutex);
  Sink() = std::move(sink);
}

}  // namespace qv::plat
