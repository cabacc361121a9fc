#include "common.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "qvdrive.h"

namespace qvcli {

std::vector<Command>& CommandTable() {
  static std::vector<Command> table;
  return table;
}

int ExitCodeForException(uint32_t n) {
  switch (n) {
    case EN_SUCCESS: return kExitOk;
    case EN_INVALID_PARAMETER:
    case EN_INVALID_RANGE:
    case EN_PATH_TOO_LONG: return kExitUsage;
    case EN_NOT_FOUND: return kExitNotFound;
    case EN_DEVICE_BUSY: return kExitDeviceBusy;
    case EN_CDB_CALL_FAILED:
    case EN_POSITIONING_ERROR:
    case EN_UNRECOVERED_READ_ERROR:
    case EN_ILLEGAL_OPERATION_FOR_TRACK:
    case EN_EDC_ECC_MISMATCH:
    case EN_RESERVE_TRACK_REFUSED: return kExitDriveError;
    case EN_SYSTEM_CALL_FAILED: return kExitSystemError;
    case EN_DEVICE_TYPE_UNSUPPORTED:
    case EN_NOT_IMPLEMENTED:
    case EN_UNDER_CONSTRUCTION:
    case EN_UNSUPPORTED_AUDIO_FORMAT:
    case EN_READ_MODE_UNSUPPORTED:
    case EN_FILE_TOO_BIG:
    case EN_UNSUPPORTED_OS_VERSION: return kExitUnsupported;
    case EN_USER_EXCEPTION: return kExitCancelled;
    default: return kExitFailure;
  }
}

const char* DiscTypeName(QV_ULONG type) {
  static const char* const kNames[] = {"unknown",  "CD-ROM",  "CD-R",     "CD-RW",   "DVD-ROM",
                                       "DVD-R",    "DVD-RAM", "DVD-RW (restricted overwrite)",
                                       "DVD-RW (sequential)", "DVD+RW", "DDCD-ROM", "DDCD-R",
                                       "DDCD-RW",  "DVD+R",   "unknown",  "DVD+R DL"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "unknown";
}

EngineSession::EngineSession() : status_(Quorvane_UpStartEx()) {}
EngineSession::~EngineSession() { Quorvane_DownShut(); }

int ReportFailure(const std::string& what, uint32_t n, const char* text, uint32_t systemError,
                  const CDB_FAILURE_INFORMATION* failure) {
  std::fprintf(stderr, "quorvane: %s failed: %s (exception %u)\n", what.c_str(),
               text && *text ? text : (Quorvane_GetExceptionText(n) ? Quorvane_GetExceptionText(n) : "unknown"), n);
  if (n == EN_SYSTEM_CALL_FAILED) std::fprintf(stderr, "quorvane: system error %u\n", systemError);
  if (n == EN_CDB_CALL_FAILED && failure && failure->m__UCHAR__IsValid) {
    std::fprintf(stderr, "quorvane: command %02X failed, sense %X/%02X/%02X, status %02X\n",
                 failure->m__UCHAR__CDB[0], failure->m__UCHAR__Sense[2] & 0x0F, failure->m__UCHAR__Sense[12],
                 failure->m__UCHAR__Sense[13], failure->m__UCHAR__TargetStatus);
  }
  return ExitCodeForException(n);
}

void PrintJson(const nlohmann::json& value) { std::cout << value.dump(2) << std::endl; }

bool DescribeVirtualDrive(const std::string& name, nlohmann::json* out) {
  uint32_t needed = 0;
  std::string text(4096, '\0');
  uint32_t err = QvDrive_Describe(name.c_str(), text.data(), static_cast<uint32_t>(text.size()), &needed);
  if (err == 122) {
    text.resize(needed);
    err = QvDrive_Describe(name.c_str(), text.data(), needed, &needed);
  }
  if (err != 0) return false;
  *out = nlohmann::json::parse(text.c_str(), nullptr, false);
  return !out->is_discarded();
}

std::vector<std::string> VirtualDriveNames(uint32_t* error) {
  uint32_t needed = 0;
  std::string names(1024, '\0');
  uint32_t err = QvDrive_List(names.data(), static_cast<uint32_t>(names.size()), &needed);
  if (err == 122) {
    names.resize(needed);
    err = QvDrive_List(names.data(), needed, &needed);
  }
  std::vector<std::string> list;
  if (error) *error = err;
  if (err != 0) return list;
  for (const char* p = names.c_str(); *p != '\0'; p += std::strlen(p) + 1) list.emplace_back(p);
  return list;
}

bool ResolveDrive(const std::string& drive, std::string* deviceName, std::string* error) {
  const std::string name = drive.empty() ? kDefaultVirtualDrive : drive;
  nlohmann::json d;
  if (DescribeVirtualDrive(name, &d)) {
    *deviceName = d.value("deviceName", "");
    return true;
  }
  if (!drive.empty()) {
    *deviceName = drive;
    return true;
  }
  const uint32_t err = QvDrive_Create(name.c_str(), kDefaultVirtualDriveMedia, nullptr);
  if (err != 0 || !DescribeVirtualDrive(name, &d)) {
    char text[1024] = {};
    QvDrive_LastErrorText(text, sizeof text);
    *error = "cannot make the default virtual drive '" + name + "': " + (*text ? text : "error " + std::to_string(err));
    return false;
  }
  std::fprintf(stderr, "quorvane: made the default virtual drive '%s' with a blank %s ('quorvane vdrive insert %s "
                       "--media ...' changes the disc)\n",
               name.c_str(), kDefaultVirtualDriveMedia, name.c_str());
  *deviceName = d.value("deviceName", "");
  return true;
}

namespace {
double NowSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}
std::string FormatDuration(double seconds) {
  if (seconds < 0 || seconds > 359999) return "--:--";
  const auto s = static_cast<unsigned>(seconds + 0.5);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%u:%02u:%02u", s / 3600, (s / 60) % 60, s % 60);
  else std::snprintf(text, sizeof text, "%02u:%02u", s / 60, s % 60);
  return text;
}
}  // namespace

ProgressBar::ProgressBar(std::string label, bool enabled)
    : label_(std::move(label)), enabled_(enabled), tty_(isatty(STDERR_FILENO) != 0), start_(NowSeconds()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(uint64_t done, uint64_t total, int driveBuffer, int hostBuffer) {
  if (!enabled_ || finished_) return;
  const double now = NowSeconds();
  // Redraw at most 10 times a second on a terminal, once every 5 s otherwise.
  if (lastDraw_ >= 0 && now - lastDraw_ < (tty_ ? 0.1 : 5.0) && done < total) return;
  lastDraw_ = now;
  const double elapsed = now - start_;
  const double percent = total ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0.0;
  const double speed = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;  // bytes per second
  const double left = speed > 0 && total >= done ? static_cast<double>(total - done) / speed : -1;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(percent * kWidth / 100.0);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  char line[256];
  int n = std::snprintf(line, sizeof line, "%s [%s] %5.1f%%  %7.1f kB/s", label_.c_str(), bar.c_str(), percent,
                        speed / 1000.0);
  if (driveBuffer >= 0 && n > 0 && n < static_cast<int>(sizeof line))
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  drive %3d%%", driveBuffer);
  if (hostBuffer >= 0 && n > 0 && n < static_cast<int>(sizeof line))
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  host %3d%%", hostBuffer);
  if (n > 0 && n < static_cast<int>(sizeof line))
    std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  left %s", FormatDuration(left).c_str());
  std::fprintf(stderr, tty_ ? "\r%s\033[K" : "%s\n", line);
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_ || finished_) return;
  finished_ = true;
  if (tty_ && lastDraw_ >= 0) std::fputc('\n', stderr);
}

bool RootEntries(const std::string& path, std::vector<std::string>* entries, std::string* why) {
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) {
    entries->push_back(path);
    return true;
  }
  std::filesystem::directory_iterator it(path, ec), end;
  for (; !ec && it != end; it.increment(ec)) entries->push_back(it->path().string());
  if (ec) {
    *why = ec.message();
    return false;
  }
  std::sort(entries->begin(), entries->end());
  return true;
}

}  // namespace qvcli
