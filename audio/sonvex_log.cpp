// The library's own debug log and settings, kept apart from the engine's:
// an application may use the audio library without the engine.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "audio/sonvex.h"
#include "platform/debug_output.h"
#include "platform/settings.h"

namespace {

constexpr size_t kLineSize = 1024;
constexpr size_t kFileNameSize = 260;

std::atomic<uint32_t> g_facility{0};
std::atomic<uint32_t> g_level{0};

struct FileName {
  std::mutex mutex;
  std::string path = qv::plat::DefaultLogFilePath("Sonvex");
};

FileName& LogFile() {
  static FileName name;
  return name;
}

void Emit(const char* format, va_list args) {
  char buffer[kLineSize] = {};
  std::vsnprintf(buffer, sizeof buffer, format, args);
  qv::plat::DebuggerOutput(buffer);
  const uint32_t facility = g_facility.load(std::memory_order_relaxed);
  if (facility >= 1) {
    const std::string path = SonvexI_DebugFileName();
    if (FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "a+")) {
      std::fputs(buffer, file);
      std::fclose(file);
    }
  }
  if (facility >= 2) {
    std::fputs(buffer, stdout);
    std::fflush(stdout);
  }
}

}  // namespace

void SonvexI_Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Emit(format, args);
  va_end(args);
}

void SonvexI_Detail(const char* format, ...) {
  if (g_level.load(std::memory_order_relaxed) < 1) return;
  va_list args;
  va_start(args, format);
  Emit(format, args);
  va_end(args);
}

uint32_t SonvexI_DebugFacility() { return g_facility.load(); }
uint32_t SonvexI_DebugLevel() { return g_level.load(); }

std::string SonvexI_DebugFileName() {
  auto& f = LogFile();
  std::lock_guard<std::mutex> lock(f.mutex);
  return f.path;
}

void SonvexI_ResetDebugSettings() {
  g_facility = 0;
  g_level = 0;
  auto& f = LogFile();
  std::lock_guard<std::mutex> lock(f.mutex);
  f.path = qv::plat::DefaultLogFilePath("Sonvex");
}

void SonvexI_Fail(uint32_t status, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Emit(format, args);
  va_end(args);
  throw CSonvex_Failure{status};
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_InitDebugSettings(void) {
  const qv::plat::SettingsKey key = qv::plat::ReadSettingsKey("Sonvex");
  if (!key.exists) return 0;
  if (auto level = qv::plat::SettingAsNumber(key, "DebugLevel")) g_level = *level;
  if (auto facility = qv::plat::SettingAsNumber(key, "DebugFacility")) g_facility = *facility;
  auto it = key.values.find("DebugFileName");
  if (it != key.values.end() && !it->second.empty()) {
    auto& f = LogFile();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.path = it->second.substr(0, kFileNameSize - 1);
  }
  return 0;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_UpStart(void) {
  // Settings first, so that the banner reaches the log file they name.
  const uint32_t status = Sonvex_InitDebugSettings();
  SonvexI_Log("\nSonvex  Media Streaming Toolkit for Windows 95/98/Me/NT/2000/XP/2003  Version 6.6.30 ( 0x%08X )\n",
              SONVEX_LIBRARY_VERSION);
  if (status != 0)
    SonvexI_Log("\nSonvex_UpStart(): WARNING! Sonvex_InitDebugSettings() failed, status %d ( 0x%x )\n",
                static_cast<int>(status), status);
  return Sonvex_CoInitialize();
}

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_DownShut(void) {
  SonvexI_Log("\nSonvex_DownShut(): >>> ENTERed\n");
  SonvexI_Log("\nSonvex_DownShut(): <<< EXITing with success\n");
  return 0;
}

// The media decoders of this build are plain libraries: no thread needs
// preparing.
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CoInitialize(void) { return 0; }

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_VersionGet(QV_ULONG* version) {
  if (version == nullptr) {
    SonvexI_Log("\nSonvex_VersionGet(): p__ULONG__Version == NULL, status %d ( 0x%x )\n", 87, 87u);
    return 87;
  }
  *version = SONVEX_LIBRARY_VERSION;
  return 0;
}
