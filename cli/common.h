// What every subcommand of the quorvane command shares: the command table,
// the engine session, exit codes, JSON output and the progress bar.
#pragma once
#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "outcome.h"
#include "quorvane.h"

namespace qvcli {

// Options every subcommand can see.
struct GlobalOptions {
  bool json = false;
};

// A subcommand: registers its options and returns the function that runs
// it. The function returns the exit code.
struct Command {
  const char* name;
  const char* description;
  std::function<std::function<int()>(CLI::App& sub, const GlobalOptions& global)> setup;
};

// Each cmd_*.cpp registers its command at static initialisation.
std::vector<Command>& CommandTable();
struct RegisterCommand {
  explicit RegisterCommand(Command c) { CommandTable().push_back(std::move(c)); }
};

// Starts the engine for the life of the command.
class EngineSession {
 public:
  EngineSession();
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;
  uint32_t status() const { return status_; }

 private:
  uint32_t status_;
};

void PrintJson(const nlohmann::json& value);

// "CD-R", "DVD+RW", ...: a disc type number as people name it.
const char* DiscTypeName(QV_ULONG type);

// The virtual drive a command uses when none is named; made, with a blank
// disc, the first time it is needed.
inline constexpr const char* kDefaultVirtualDrive = "default";
inline constexpr const char* kDefaultVirtualDriveMedia = "dvd+rw";

// What a path given to master puts at the root of the image: a folder's
// entries, sorted by name, as paths; anything else, the path itself.
bool RootEntries(const std::string& path, std::vector<std::string>* entries, std::string* why);

// The drive a --drive argument names: a virtual drive's folder or device
// name, or a device of the system (CdRom0, /dev/sr0); empty stands for the
// default virtual drive, made the first time it is needed.
struct DriveTarget {
  std::string shown;   // as the user named it
  std::string device;  // the device name opened
  bool isVirtual = false;
};
// Finds and opens the drive. exclusive keeps other programs off a virtual
// drive while the command runs, as recording software holds a real one.
// Returns 0, or the exit code having said why.
int OpenDrive(const std::string& drive, bool exclusive, PQUORVANE_CALLBACK callback, void* context, QV_HANDLE* handle,
              DriveTarget* target);
// A virtual drive's description as the drive library gives it.
// *error, when asked for, is the library's error number.
bool DescribeVirtualDrive(const std::string& name, nlohmann::json* out, uint32_t* error = nullptr);
// The library's reason for the calling thread's last failure.
std::string VirtualDriveErrorText();
// The names of the virtual drives; *error, when asked for, says why the
// list could not be read.
std::vector<std::string> VirtualDriveNames(uint32_t* error = nullptr);

// Refuses, having said why, a path that cannot be read as a source:
// missing, a link to nothing, a device, FIFO or socket, or a folder unless
// folderAllowed. Returns 0 or the exit code.
int CheckSource(const std::string& what, const std::string& path, bool folderAllowed);

// A VIDEO_TS folder as the DVD-Video builder takes it: VIDEO_TS.IFO, the
// title sets' IFO files up to the first gap, each with its backup copy.
// Checked here because the engine's refusal names only the system error.
Outcome CheckVideoTsFolder(const std::string& folder);

// What a file tree left out while adding paths (devices, FIFOs, sockets),
// kept to be told once the additions went through.
struct SkipNotes {
  std::vector<std::string> paths;
  // The tree callback, with a SkipNotes as its context.
  static void QUORVANE_CALL OnTreeEvent(QV_ULONG reason, void* context, void* parameter1, void* parameter2);
  // After a failed addition of entry: one message, naming the path the
  // tree failed on.
  int Fail(const std::string& what, const std::string& entry, const CallStatus& status) const;
  // After the additions: each path left out, as a warning.
  void Warn(const std::string& what) const;
};

// Ctrl-C and SIGTERM call handler while the object lives; handler may only
// raise a flag or cancel. The handlers before are put back afterwards.
class InterruptScope {
 public:
  explicit InterruptScope(void (*handler)(int));
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  void (*interrupt_)(int);
  void (*terminate_)(int);
};

// How progress is shown: a line for people, redrawn in place on a
// terminal, or one JSON object per line for front ends (--progress=json),
// ended by EndProgress's object with the result.
enum class ProgressStyle { Text, Json };
void SetProgressStyle(ProgressStyle style);
ProgressStyle CurrentProgressStyle();
void EndProgress(int exitCode);
// A step of a long job: {"phase": phase} in the JSON stream, else text.
void TellPhase(const char* phase, const char* text);

// One line of progress on standard error.
class ProgressBar {
 public:
  // A bar that does not count bytes (blanking, formatting) shows the
  // percent and the time left alone.
  explicit ProgressBar(std::string label, bool enabled = true, bool countsBytes = true);
  ~ProgressBar();
  // done and total in bytes (or parts of a whole); buffer fills in percent,
  // or negative when unknown; errors met so far, or negative where there
  // are none to count.
  void Update(uint64_t done, uint64_t total, int driveBufferPercent = -1, int hostBufferPercent = -1,
              int64_t errors = -1);
  void Finish();

 private:
  std::string label_;
  bool enabled_;
  bool countsBytes_;
  bool tty_;
  bool finished_ = false;
  double start_;
  double lastDraw_ = -1;
};

}  // namespace qvcli
