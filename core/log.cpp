#include "core/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/debug_output.h"
#include "platform/settings.h"

namespace {

std::atomic<uint32_t> g_debugFacility{0};

struct DebugFileName {
  std::mutex mutex;
  char path[kQuorvaneDebugFileNameSize];
  DebugFileName() {
    std::snprintf(path, sizeof path, "%s", qv::plat::DefaultLogFilePath("Quorvane").c_str());
  }
};

DebugFileName& FileName() {
  static DebugFileName name;
  return name;
}

}  // namespace

uint32_t QuorvaneI_GetDebugFacility() { return g_debugFacility.load(std::memory_order_relaxed); }
void QuorvaneI_SetDebugFacility(uint32_t level) { g_debugFacility.store(level, std::memory_order_relaxed); }

std::string QuorvaneI_GetDebugFileName() {
  auto& f = FileName();
  std::lock_guard<std::mutex> lock(f.mutex);
  return f.path;
}

void QuorvaneI_SetDebugFileName(const char* path) {
  auto& f = FileName();
  std::lock_guard<std::mutex> lock(f.mutex);
  std::snprintf(f.path, sizeof f.path, "%s", path ? path : "");
}

void QuorvaneI_AppendToLogFile(const char* text) {
  const std::string path = QuorvaneI_GetDebugFileName();
  if (path.empty()) return;
  FILE* file = std::fopen(path.c_str(), "a+");
  if (file == nullptr) return;  // a log that cannot be opened is skipped
  std::fprintf(file, "%s", text);
  std::fflush(file);
  std::fclose(file);
}

void QuorvaneI_Log(const char* format, ...) {
  const uint32_t level = QuorvaneI_GetDebugFacility();
  // A line nobody reads is not made: trees of many files log per file.
  if (level == 0 && !qv::plat::DebuggerListening()) return;
  char buffer[kQuorvaneLogLineSize] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  qv::plat::DebuggerOutput(buffer);
  if (level >= 1) QuorvaneI_AppendToLogFile(buffer);
  if (level >= 2) {
    std::fputs(buffer, stdout);
    std::fflush(stdout);
  }
}

void QuorvaneI_DebuggerLog(const char* format, ...) {
  char buffer[kQuorvaneDebuggerLineSize] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  qv::plat::DebuggerOutput(buffer);
}
