// The automation layer's trace: always on, to the debugger output only,
// separate from the engine's debug log.
#pragma once
#include <cstddef>

#include "core/exception.h"  // QUORVANE_PRINTF

namespace qv::control {

inline constexpr size_t kTraceBufferSize = 4096;

// Formats like printf and writes the text to the debugger output. Text
// that does not fit the 4096-byte buffer goes out whole from the heap,
// between two messages saying so.
void QVX(const char* format, ...) QUORVANE_PRINTF(1, 2);

}  // namespace qv::control
