#include "common.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>

#include "platform/terminal.h"
#include "qvdrive.h"

namespace qvcli {

std::vector<Command>& CommandTable() {
  static std::vector<Command> table;
  return table;
}

EngineSession::EngineSession() : status_(Quorvane_UpStartEx()) {}
EngineSession::~EngineSession() { Quorvane_DownShut(); }

const char* DiscTypeName(QV_ULONG type) {
  static const char* const kNames[] = {"unknown",  "CD-ROM",  "CD-R",     "CD-RW",   "DVD-ROM",
                                       "DVD-R",    "DVD-RAM", "DVD-RW (restricted overwrite)",
                                       "DVD-RW (sequential)", "DVD+RW", "DDCD-ROM", "DDCD-R",
                                       "DDCD-RW",  "DVD+R",   "unknown",  "DVD+R DL"};
  return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "unknown";
}

void PrintJson(const nlohmann::json& value) { std::cout << value.dump(2) << std::endl; }

bool DescribeVirtualDrive(const std::string& name, nlohmann::json* out, uint32_t* error) {
  uint32_t needed = 0;
  std::string text(4096, '\0');
  uint32_t err = QvDrive_Describe(name.c_str(), text.data(), static_cast<uint32_t>(text.size()), &needed);
  if (err == 122) {
    text.resize(needed);
    err = QvDrive_Describe(name.c_str(), text.data(), needed, &needed);
  }
  if (error) *error = err;
  if (err != 0) return false;
  *out = nlohmann::json::parse(text.c_str(), nullptr, false);
  return !out->is_discarded();
}

std::string VirtualDriveErrorText() {
  char text[1024] = {};
  QvDrive_LastErrorText(text, sizeof text);
  return text;
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

namespace {

// "a link to TARGET, which does not exist" when path is such a link, else "".
std::string LinkToNothing(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(path, ec)) || fs::exists(fs::status(path, ec))) return "";
  return "a link to " + fs::read_symlink(path, ec).string() + ", which does not exist";
}

// Finds the virtual drive a name stands for, by folder or device name.
// Returns 0 when it is one, kExitNotFound when it is none, or the exit code
// of a damaged drive, having said so.
int FindVirtualDrive(const std::string& name, DriveTarget* target) {
  nlohmann::json d;
  uint32_t err = 0;
  if (!DescribeVirtualDrive(name, &d, &err)) {
    if (err != 2 && err != 123) {
      // As 'vdrive list' tells it.
      std::string why = VirtualDriveErrorText();
      if (why.empty()) why = FromSystemError(err).headline;
      return Report("", {kExitFailure, "damaged: " + why + " ('quorvane vdrive delete " + name + "' removes the drive)",
                         "system error " + std::to_string(err)});
    }
    for (const std::string& folder : VirtualDriveNames()) {
      nlohmann::json other;
      if (!DescribeVirtualDrive(folder, &other)) continue;
      const std::string device = other.value("deviceName", "");
      if (device.size() == name.size() &&
          std::equal(device.begin(), device.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
        d = other;
    }
    if (d.is_discarded() || d.is_null()) return kExitNotFound;
  }
  target->device = d.value("deviceName", "");
  target->isVirtual = true;
  return 0;
}

}  // namespace

int OpenDrive(const std::string& drive, bool exclusive, PQUORVANE_CALLBACK callback, void* context, QV_HANDLE* handle,
              DriveTarget* target) {
  const std::string name = drive.empty() ? kDefaultVirtualDrive : drive;
  target->shown = name;
  int rc = FindVirtualDrive(name, target);
  if (rc == kExitNotFound && drive.empty()) {
    const uint32_t err = QvDrive_Create(name.c_str(), kDefaultVirtualDriveMedia, nullptr);
    if (err != 0)
      return Report("cannot make the default virtual drive '" + name + "'",
                    {kExitFailure, VirtualDriveErrorText(), "system error " + std::to_string(err)});
    std::fprintf(stderr, "quorvane: made the default virtual drive '%s' with a blank %s ('quorvane vdrive insert %s "
                         "--media ...' changes the disc)\n",
                 name.c_str(), kDefaultVirtualDriveMedia, name.c_str());
    rc = FindVirtualDrive(name, target);
  }
  if (rc == kExitNotFound) {
    target->device = name;
  } else if (rc != 0) {
    return rc;
  }
  CallStatus s;
  if (target->isVirtual) {
    // The pass-through library's own open, which can hold the drive alone.
    std::vector<QV_WCHAR> wide(target->device.begin(), target->device.end());
    wide.push_back(0);
    s.number = Quorvane_CdvdBurnerGrabber_CreateExEx(handle, QV_CALL_STATUS(s), callback, context, wide.data(),
                                                      exclusive ? 0 : 1, 0);
  } else {
    s.number = Quorvane_CdvdBurnerGrabber_CreateEx(handle, QV_CALL_STATUS(s), callback, context, name.c_str(), 0);
  }
  if (s.number == 0) return 0;
  const Outcome o = FromEngine(s, About::Drive);
  if (!target->isVirtual && o.exit == kExitNotFound)
    return Report("", {kExitNotFound, "no drive named " + name + " ('quorvane devices' lists the drives)", o.detail});
  const bool held = s.number == EN_SHARING_VIOLATION ||
                    (s.number == EN_SYSTEM_CALL_FAILED && (s.systemError == 5 || s.systemError == 32 || s.systemError == 170));
  if (held)
    return Report("", {kExitDeviceBusy, "the drive " + name + " is busy: another program is using it", o.detail});
  return Report("opening " + name, o);
}

int CheckSource(const std::string& what, const std::string& path, bool folderAllowed) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) return Report(what, {kExitNotFound, path + ": no such file or folder", ""});
  if (const std::string dangling = LinkToNothing(path); !dangling.empty())
    return Report(what, {kExitNotFound, path + ": " + dangling, ""});
  const fs::file_status st = fs::status(path, ec);
  if (fs::is_regular_file(st) || (folderAllowed && fs::is_directory(st))) return 0;
  const char* kind = fs::is_directory(st)      ? "a folder; a file is needed here"
                     : fs::is_character_file(st) ? "a character device, not a file or folder"
                     : fs::is_block_file(st)     ? "a block device, not a file or folder"
                     : fs::is_fifo(st)           ? "a FIFO, not a file or folder"
                                                 : "not a file or folder";
  return Report(what, {kExitUsage, path + " is " + kind, ""});
}

void QUORVANE_CALL SkipNotes::OnTreeEvent(QV_ULONG reason, void* context, void* parameter1, void*) {
  if (reason == CN_FILE_TREE_NODE_SKIPPED && parameter1 != nullptr)
    static_cast<SkipNotes*>(context)->paths.emplace_back(static_cast<const char*>(parameter1));
}

int SkipNotes::Fail(const std::string& what, const std::string& entry, const CallStatus& status) const {
  // The engine quotes the path it failed on, which may lie deep inside the
  // folder added.
  std::string path = entry;
  const std::string text = status.text;
  if (const size_t open = text.find('\''); open != std::string::npos)
    if (const size_t close = text.find('\'', open + 1); close != std::string::npos)
      if (text.compare(open + 1, entry.size(), entry) == 0) path = text.substr(open + 1, close - open - 1);
  Outcome o = FromEngine(status);
  if (const std::string dangling = LinkToNothing(path); !dangling.empty()) o.headline = dangling;
  return Report(what, {o.exit, path + ": " + o.headline, o.detail});
}

void SkipNotes::Warn(const std::string& what) const {
  for (const std::string& path : paths)
    std::fprintf(stderr, "quorvane: %s: left out %s: not a file or folder\n", what.c_str(), path.c_str());
}

InterruptScope::InterruptScope(void (*handler)(int))
    : interrupt_(std::signal(SIGINT, handler)), terminate_(std::signal(SIGTERM, handler)) {}

InterruptScope::~InterruptScope() {
  std::signal(SIGINT, interrupt_);
  std::signal(SIGTERM, terminate_);
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

ProgressStyle g_progressStyle = ProgressStyle::Text;

void SetProgressStyle(ProgressStyle style) { g_progressStyle = style; }
ProgressStyle CurrentProgressStyle() { return g_progressStyle; }

void EndProgress(int exitCode) {
  if (g_progressStyle != ProgressStyle::Json) return;
  nlohmann::json end{{"phase", "end"}, {"exitCode", exitCode}};
  if (exitCode != kExitOk && !LastReported().headline.empty()) {
    end["error"] = LastReported().headline;
    end["detail"] = LastReported().detail;
  }
  std::fprintf(stderr, "%s\n", end.dump().c_str());
  std::fflush(stderr);
}

void TellPhase(const char* phase, const char* text) {
  if (g_progressStyle == ProgressStyle::Json)
    std::fprintf(stderr, "%s\n", nlohmann::json{{"phase", phase}}.dump().c_str());
  else
    std::fprintf(stderr, "quorvane: %s\n", text);
  std::fflush(stderr);
}

// Asked for explicitly, the JSON stream is written even where the command
// would stay quiet (--json, --quiet).
ProgressBar::ProgressBar(std::string label, bool enabled, bool countsBytes)
    : label_(std::move(label)),
      enabled_(enabled || g_progressStyle == ProgressStyle::Json),
      countsBytes_(countsBytes),
      tty_(qv::plat::StandardErrorIsTerminal()),
      start_(NowSeconds()) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(uint64_t done, uint64_t total, int driveBuffer, int hostBuffer, int64_t errors) {
  if (!enabled_ || finished_) return;
  const double now = NowSeconds();
  const bool json = g_progressStyle == ProgressStyle::Json;
  // Redraw at most 10 times a second on a terminal, once every 5 s into a
  // file; a front end gets two objects a second, and always the last.
  if (lastDraw_ >= 0 && now - lastDraw_ < (json ? 0.5 : tty_ ? 0.1 : 5.0) && done < total) return;
  lastDraw_ = now;
  const double elapsed = now - start_;
  const double percent = total ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0.0;
  const double speed = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;  // bytes per second
  // Within the first second the rate says nothing yet (a blank's first
  // report comes at once, whatever part the drive has done).
  const double left = speed > 0 && elapsed >= 1.0 && total >= done ? static_cast<double>(total - done) / speed : -1;
  if (json) {
    const auto orNull = [](double v) { return v < 0 ? nlohmann::json() : nlohmann::json(v); };
    const auto bytes = [this](auto v) { return countsBytes_ ? nlohmann::json(v) : nlohmann::json(); };
    nlohmann::json line{{"phase", label_},
                        {"percent", std::round(percent * 10) / 10},
                        {"bytes", bytes(done)},
                        {"totalBytes", bytes(total)},
                        {"bytesPerSecond", bytes(std::llround(speed))},
                        {"driveBuffer", orNull(driveBuffer)},
                        {"hostBuffer", orNull(hostBuffer)},
                        {"secondsLeft", orNull(left < 0 ? -1 : std::round(left))}};
    if (errors >= 0) line["errors"] = errors;
    std::fprintf(stderr, "%s\n", line.dump().c_str());
    std::fflush(stderr);
    return;
  }
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(percent * kWidth / 100.0);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(kWidth, '.');
  char line[256];
  int n = std::snprintf(line, sizeof line, "%s [%s] %5.1f%%", label_.c_str(), bar.c_str(), percent);
  if (countsBytes_ && n > 0 && n < static_cast<int>(sizeof line))
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  %7.1f kB/s", speed / 1000.0);
  if (driveBuffer >= 0 && n > 0 && n < static_cast<int>(sizeof line))
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  drive %3d%%", driveBuffer);
  if (hostBuffer >= 0 && n > 0 && n < static_cast<int>(sizeof line))
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  host %3d%%", hostBuffer);
  if (errors >= 0 && n > 0 && n < static_cast<int>(sizeof line))
    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  errors %lld", static_cast<long long>(errors));
  if (n > 0 && n < static_cast<int>(sizeof line))
    std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "  left %s", FormatDuration(left).c_str());
  std::fprintf(stderr, tty_ ? "\r%s\033[K" : "%s\n", line);
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_ || finished_) return;
  finished_ = true;
  if (tty_ && lastDraw_ >= 0 && g_progressStyle == ProgressStyle::Text) std::fputc('\n', stderr);
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

Outcome CheckVideoTsFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(folder, ec)) return {kExitNotFound, folder + ": no such folder", ""};
  if (!fs::is_directory(folder, ec)) return {kExitUsage, folder + " is not a folder; a VIDEO_TS folder is needed here", ""};
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    std::string name = e.path().filename().string();
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    names.insert(name);
  }
  if (!names.count("VIDEO_TS.IFO")) return {kExitNotFound, folder + " holds no VIDEO_TS.IFO: not a VIDEO_TS folder", ""};
  for (int set = 0; set <= 99; ++set) {
    char ifo[16];
    std::snprintf(ifo, sizeof ifo, set == 0 ? "VIDEO_TS.IFO" : "VTS_%02d_0.IFO", set);
    if (!names.count(ifo)) break;
    std::string bup(ifo);
    bup.replace(bup.size() - 3, 3, "BUP");
    if (!names.count(bup)) return {kExitNotFound, folder + ": " + bup + " is missing; each IFO file needs its backup copy", ""};
  }
  return {};
}

}  // namespace qvcli
