#include "core/startup.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "core/log.h"
#include "core/status.h"
#include "platform/settings.h"
#include "platform/sysinfo.h"
#include "quorvane.h"

const QuorvaneI_AudioHooks* QuorvaneI_DefaultAudioHooks();  // the audio library's, when it is built in

namespace {

std::atomic<bool> g_started{false};
std::atomic<const QuorvaneI_AudioHooks*> g_audioHooks{nullptr};
std::atomic<bool> g_audioHooksSet{false};

const QuorvaneI_AudioHooks* AudioHooks() {
  return g_audioHooksSet.load() ? g_audioHooks.load() : QuorvaneI_DefaultAudioHooks();
}

constexpr const char* kBanner =
    "Quorvane  CD/DVD Burning, Grabbing and Mastering Toolkit for Windows 95/98/Me/NT/2000/XP/2003  "
    "Version 6.6.30 ( 0x%08X )\n";

// Reads the debug level and log file from the settings source. Returns 0,
// or a system error when the source could not be read.
uint32_t InitDebugSettings() {
  const qv::plat::SettingsKey key = qv::plat::ReadSettingsKey("Quorvane");
  if (!key.exists) return 0;
  if (auto level = qv::plat::SettingAsNumber(key, "DebugFacility")) QuorvaneI_SetDebugFacility(*level);
  auto it = key.values.find("DebugFileName");
  if (it != key.values.end() && !it->second.empty()) QuorvaneI_SetDebugFileName(it->second.c_str());
  return 0;
}

}  // namespace

bool QuorvaneI_IsStarted() { return g_started.load(); }
void QuorvaneI_ResetStarted() { g_started = false; }

const QuorvaneI_AudioHooks* QuorvaneI_SetAudioHooks(const QuorvaneI_AudioHooks* hooks) {
  const QuorvaneI_AudioHooks* old = AudioHooks();
  g_audioHooks = hooks;
  g_audioHooksSet = true;
  return old;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UpStartEx(void) {
  if (g_started.load()) return EN_SUCCESS;
  char banner[kQuorvaneDebuggerLineSize] = {};
  std::snprintf(banner, sizeof banner, kBanner, QUORVANE_ENGINE_VERSION);
  QuorvaneI_DebuggerLog("%s", banner);

  const qv::plat::OsVersion os = qv::plat::GetOsVersion();
  if (os.major < 5) {
    QuorvaneI_Log("\nWindows version 02%d%02d is not supported!\n", static_cast<int>(os.major),
                  static_cast<int>(os.minor));
    return EN_UNSUPPORTED_OS_VERSION;
  }
  if (const QuorvaneI_AudioHooks* audio = AudioHooks(); audio && audio->upStart) {
    const uint32_t status = audio->upStart();
    if (status != 0)
      QuorvaneI_Log("\nQuorvane:Quorvane_UpStartEx(): WARNING! audio library start-up failed, status %d ( 0x%x )\n",
                    static_cast<int>(status), status);
  }
  if (const uint32_t status = InitDebugSettings(); status != 0)
    QuorvaneI_Log("\nQuorvane:Quorvane_UpStartEx(): WARNING! Quorvane_InitDebugSettings() failed, status %d ( 0x%x )\n",
                  static_cast<int>(status), status);
  g_started = true;
  if (QuorvaneI_GetDebugFacility() >= 1) QuorvaneI_AppendToLogFile(banner);
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UpStart(void) {
  QuorvaneI_Log("\nQuorvane:Quorvane_UpStart(): Call is obsolete, please use Quorvane_UpStartEx(...) instead\n");
  return EN_OBSOLETE_CALL;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DownShut(void) {
  if (g_started.load()) {
    if (const QuorvaneI_AudioHooks* audio = AudioHooks(); audio && audio->downShut) audio->downShut();
  }
  g_started = false;
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetVersion(void) { return QUORVANE_ENGINE_VERSION; }

QUORVANE_API const char* QUORVANE_CALL Quorvane_GetBanner(void) {
  static const std::string banner = [] {
    char text[512];
    std::snprintf(text, sizeof text, kBanner, QUORVANE_ENGINE_VERSION);
    return std::string(text);
  }();
  return banner.c_str();
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetDebugFacility(void) { return QuorvaneI_GetDebugFacility(); }

QUORVANE_API const char* QUORVANE_CALL Quorvane_GetDebugFileName(void) {
  static thread_local std::string copy;
  copy = QuorvaneI_GetDebugFileName();
  return copy.c_str();
}

QUORVANE_API void QUORVANE_CALL Quorvane_MutilateExceptionNumber(QV_ULONG* exceptionNumber,
                                                                 const CDB_FAILURE_INFORMATION* failure) {
  if (exceptionNumber == nullptr || failure == nullptr) return;
  if (*exceptionNumber != EN_CDB_CALL_FAILED || failure->m__UCHAR__IsValid != 1) return;
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(failure);
  const uint8_t senseKey = raw[21] & 0x0F, asc = raw[31], ascq = raw[32], opcode = raw[2];
  switch (senseKey) {
    case 1:  // RECOVERED ERROR: the data came
      *exceptionNumber = EN_SUCCESS;
      break;
    case 3:  // MEDIUM ERROR
      if (asc == 0x02 || asc == 0x15) *exceptionNumber = EN_POSITIONING_ERROR;
      else if (asc == 0x06) *exceptionNumber = EN_ILLEGAL_OPERATION_FOR_TRACK;
      else if (asc == 0x11) *exceptionNumber = EN_UNRECOVERED_READ_ERROR;
      break;
    case 5:  // ILLEGAL REQUEST
      if (asc == 0x64) {
        *exceptionNumber = EN_ILLEGAL_OPERATION_FOR_TRACK;
      } else if ((opcode == 0x28 || opcode == 0xBE) && asc == 0x24 && ascq == 0x00) {
        QuorvaneI_Log(
            "\nQuorvane:Quorvane_MutilateExceptionNumber(): Replacing EN_CDB_CALL_FAILED -> "
            "EN_ILLEGAL_OPERATION_FOR_TRACK\n");
        *exceptionNumber = EN_ILLEGAL_OPERATION_FOR_TRACK;
      }
      break;
    default:
      break;
  }
}
