#include "outcome.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

namespace qvcli {
namespace {

bool g_jsonErrors = false;
Outcome g_last;

// System error numbers (the engine's Windows numbering on every system).
struct SystemRow {
  uint32_t code;
  int fileExit, driveExit;
  const char* words;
};
constexpr SystemRow kSystemErrors[] = {
    {2, kExitNotFound, kExitNotFound, "no such file or folder"},
    {3, kExitNotFound, kExitNotFound, "no such folder"},
    {5, kExitSystemError, kExitDeviceBusy, "permission denied"},
    {13, kExitFailure, kExitFailure, "the data is not valid"},
    {19, kExitSystemError, kExitUnsupported, "write-protected"},
    {21, kExitDeviceBusy, kExitDeviceBusy, "not ready"},
    {29, kExitSystemError, kExitSystemError, "write error"},
    {30, kExitSystemError, kExitSystemError, "read error"},
    {32, kExitDeviceBusy, kExitDeviceBusy, "in use by another program"},
    {50, kExitUnsupported, kExitUnsupported, "not a supported format"},
    {80, kExitUsage, kExitUsage, "already exists"},
    {87, kExitUsage, kExitUsage, "invalid argument"},
    {109, kExitSystemError, kExitSystemError, "the reader went away (broken pipe)"},
    {112, kExitSystemError, kExitSystemError, "no space left on the device"},
    {123, kExitUsage, kExitUsage, "not a valid name"},
    {126, kExitUnsupported, kExitUnsupported, "a library it needs is not installed"},
    {170, kExitDeviceBusy, kExitDeviceBusy, "busy"},
    {183, kExitUsage, kExitUsage, "already exists"},
    {206, kExitUsage, kExitUsage, "the name is too long"},
    {223, kExitUnsupported, kExitUnsupported, "too large"},
    {1006, kExitFailure, kExitFailure, "the file changed while it was read"},
    {1112, kExitDeviceBusy, kExitDeviceBusy, "no disc in the drive"},
    {1117, kExitSystemError, kExitSystemError, "input/output error"},
    {1167, kExitDeviceBusy, kExitDeviceBusy, "the device is gone"},
    {1223, kExitCancelled, kExitCancelled, "cancelled"},
    {1921, kExitSystemError, kExitSystemError, "a link that leads in a circle"},
    {SONVEX_STATUS_STREAM_SHAPE, kExitUnsupported, kExitUnsupported,
     "only 2 channels at 44100 Hz are accepted for this format"},
};

// A drive's refusal by its sense key, ASC and ASCQ (-1: any).
struct SenseRow {
  int key, asc, ascq;
  int exit;
  const char* words;
};
constexpr SenseRow kSenses[] = {
    {2, 0x3A, -1, kExitDeviceBusy, "no disc in the drive; insert one"},
    {2, 0x04, 0x08, kExitDeviceBusy, "the drive is busy writing; try again when it is done"},
    {2, 0x04, -1, kExitDeviceBusy, "the drive is not ready; try again in a moment"},
    {2, -1, -1, kExitDeviceBusy, "the drive is not ready"},
    {6, 0x28, -1, kExitDeviceBusy, "the disc was changed; try again"},
    {6, 0x29, -1, kExitDeviceBusy, "the drive was reset; try again"},
    {6, -1, -1, kExitDeviceBusy, "the drive's state changed; try again"},
    {7, 0x27, -1, kExitUnsupported, "the disc is write-protected"},
    {7, -1, -1, kExitUnsupported, "the disc cannot be written"},
    {5, 0x30, 0x06, kExitUnsupported, "this disc cannot be formatted or erased"},
    {5, 0x30, -1, kExitUnsupported, "the disc does not suit this operation"},
    {5, 0x20, -1, kExitUnsupported, "the drive does not know a command it was sent"},
    {5, 0x21, -1, kExitDriveError, "an address beyond the end of the disc"},
    {5, 0x63, -1, kExitDriveError, "the end of the disc was reached"},
    {5, 0x64, -1, kExitDriveError, "the track does not take this kind of write"},
    {5, 0x2C, -1, kExitDriveError, "the drive refused a command in its present state"},
    {3, -1, -1, kExitDriveError, "the disc could not be read or written (medium error)"},
    {4, -1, -1, kExitDriveError, "the drive reported a hardware failure"},
    {-1, -1, -1, kExitDriveError, "the drive refused a command"},
};

bool Matches(int want, int have) { return want < 0 || want == have; }

// An engine text without the "Class::Method(): " it begins with, in the
// lower case that follows "quorvane: what: ".
std::string EngineWords(const char* text, uint32_t number) {
  std::string s = text != nullptr && *text ? text : "";
  if (s.empty()) {
    const char* table = Quorvane_GetExceptionText(number);
    s = table != nullptr ? table : "failed";
  }
  if (const size_t at = s.find("(): "); at != std::string::npos && s.find(' ') > at) s.erase(0, at + 4);
  while (!s.empty() && (s.back() == '!' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
  if (s.size() > 1 && s[0] >= 'A' && s[0] <= 'Z' && s[1] >= 'a' && s[1] <= 'z') s[0] = static_cast<char>(s[0] - 'A' + 'a');
  return s;
}

}  // namespace

void SetJsonErrors(bool on) { g_jsonErrors = on; }

const Outcome& LastReported() { return g_last; }

Outcome FromSystemError(uint32_t code, About about) {
  const std::string detail = "system error " + std::to_string(code);
  for (const SystemRow& r : kSystemErrors)
    if (r.code == code) return {about == About::Drive ? r.driveExit : r.fileExit, r.words, detail};
  return {kExitSystemError, "a system call failed", detail};
}

Outcome FromEngine(const CallStatus& s, About about) {
  const std::string exception = "exception " + std::to_string(s.number);
  if (s.number == EN_SYSTEM_CALL_FAILED) {
    Outcome o = FromSystemError(s.systemError, about);
    o.detail = exception + ", " + o.detail;
    return o;
  }
  if (s.number == EN_CDB_CALL_FAILED && s.failure.m__UCHAR__IsValid) {
    const CDB_FAILURE_INFORMATION& f = s.failure;
    const int key = f.m__UCHAR__Sense[2] & 0x0F, asc = f.m__UCHAR__Sense[12], ascq = f.m__UCHAR__Sense[13];
    char sense[64];
    std::snprintf(sense, sizeof sense, ", command %02Xh, sense %X/%02X/%02X, status %02Xh", f.m__UCHAR__CDB[0], key,
                  asc, ascq, f.m__UCHAR__TargetStatus);
    // BUSY and RESERVATION CONFLICT come without sense.
    if (f.m__UCHAR__TargetStatus == 0x08 || f.m__UCHAR__TargetStatus == 0x18)
      return {kExitDeviceBusy, "the drive is busy", exception + sense};
    for (const SenseRow& r : kSenses)
      if (Matches(r.key, key) && Matches(r.asc, asc) && Matches(r.ascq, ascq)) return {r.exit, r.words, exception + sense};
  }
  switch (s.number) {
    case EN_SUCCESS: return {};
    case EN_USER_EXCEPTION: return {kExitCancelled, "cancelled", exception};
    case EN_DEVICE_BUSY: return {kExitDeviceBusy, "the drive stayed busy or not ready; try again later", exception};
    case EN_SHARING_VIOLATION: return {kExitDeviceBusy, "the drive is busy: another program is using it", exception};
    case EN_MEMORY_ALLOCATION_FAILED: return {kExitFailure, "out of memory", exception};
    default: break;
  }
  int exit = kExitFailure;
  switch (s.number) {
    case EN_INVALID_PARAMETER:
    case EN_INVALID_RANGE:
    case EN_PATH_TOO_LONG: exit = kExitUsage; break;
    case EN_NOT_FOUND: exit = kExitNotFound; break;
    case EN_CDB_CALL_FAILED:
    case EN_POSITIONING_ERROR:
    case EN_UNRECOVERED_READ_ERROR:
    case EN_ILLEGAL_OPERATION_FOR_TRACK:
    case EN_EDC_ECC_MISMATCH:
    case EN_RESERVE_TRACK_REFUSED: exit = kExitDriveError; break;
    // The state the engine refuses is the disc's: finished or pressed.
    case EN_INVALID_STATE:
    case EN_DEVICE_TYPE_UNSUPPORTED:
    case EN_NOT_IMPLEMENTED:
    case EN_UNDER_CONSTRUCTION:
    case EN_UNSUPPORTED_AUDIO_FORMAT:
    case EN_READ_MODE_UNSUPPORTED:
    case EN_FILE_TOO_BIG:
    case EN_UNSUPPORTED_OS_VERSION: exit = kExitUnsupported; break;
    default: break;
  }
  return {exit, EngineWords(s.text, s.number), exception};
}

Outcome FromEngine(uint32_t number, const char* text, uint32_t systemError) {
  CallStatus s;
  s.number = number;
  s.systemError = systemError;
  if (text != nullptr) std::snprintf(s.text, sizeof s.text, "%s", text);
  return FromEngine(s);
}

int Report(const std::string& what, const Outcome& o) {
  const std::string line = what.empty() ? o.headline : what + ": " + o.headline;
  g_last = {o.exit, line, o.detail};
  std::fprintf(stderr, "quorvane: %s\n", line.c_str());
  if (!o.detail.empty()) std::fprintf(stderr, "quorvane:   (%s)\n", o.detail.c_str());
  if (g_jsonErrors)
    std::cout << nlohmann::json{{"error", line}, {"detail", o.detail}, {"exitCode", o.exit}}.dump(2) << std::endl;
  return o.exit;
}

}  // namespace qvcli
