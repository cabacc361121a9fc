// The engine's debug log. Every line goes to the debugger output; from
// debug level 1 it is appended to the log file, from level 2 it is also
// printed on the standard output.
#pragma once
#include <cstdint>
#include <string>

#include "core/exception.h"

// A log line: formatted into 1024 bytes (longer output is cut at 1023).
void QuorvaneI_Log(const char* format, ...) QUORVANE_PRINTF(1, 2);
// A debugger line: formatted into 4096 bytes, debugger output only.
void QuorvaneI_DebuggerLog(const char* format, ...) QUORVANE_PRINTF(1, 2);

// Appends text to the log file as it stands ("a+", flushed, closed).
void QuorvaneI_AppendToLogFile(const char* text);

// The debug settings, process-wide.
uint32_t QuorvaneI_GetDebugFacility();
void QuorvaneI_SetDebugFacility(uint32_t level);
std::string QuorvaneI_GetDebugFileName();
void QuorvaneI_SetDebugFileName(const char* path);  // at most 259 characters are kept

// Size limits of the log buffers and the log file path.
constexpr size_t kQuorvaneLogLineSize = 1024;
constexpr size_t kQuorvaneDebuggerLineSize = 4096;
constexpr size_t kQuorvaneDebugFileNameSize = 260;
