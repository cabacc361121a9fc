#include "platform/debug_output.h"

#include <atomic>
#include <mutex>

namespace qv::plat {

void OsDebuggerOutput(const char* text);  // per OS
bool OsDebuggerListening();               // per OS

namespace {
std::mutex g_sink_mutex;
std::atomic<bool> g_has_sink{false};
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

bool DebuggerListening() { return g_has_sink.load(std::memory_order_relaxed) || OsDebuggerListening(); }

void SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(g_sink_mutex);
  g_has_sink.store(static_cast<bool>(sink), std::memory_order_relaxed);
  Sink() = std::move(sink);
}

}  // namespace qv::plat
