#include "control/trace.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

#include "platform/debug_output.h"

namespace qv::control {

void QVX(const char* format, ...) {
  char buffer[kTraceBufferSize] = {};
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  const size_t needed = static_cast<size_t>(length) + 1;
  if (needed <= sizeof buffer) {
    va_end(again);
    qv::plat::DebuggerOutput(buffer);
    return;
  }
  qv::plat::DebuggerOutput("QVX() : Allocating memory!!!\n");
  std::unique_ptr<char[]> heap(new (std::nothrow) char[needed]);
  if (heap) std::vsnprintf(heap.get(), needed, format, again);
  qv::plat::DebuggerOutput(heap ? heap.get() : buffer);  // without memory, at least the start
  va_end(again);
  qv::plat::DebuggerOutput("QVX() : Free memory!!!\n");
}

}  // namespace qv::control
