// What every subcommand of the quorvane command shares: the command table,
// the engine session, exit codes, JSON output and the progress bar.
#pragma once
#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "quorvane.h"

namespace qvcli {

// Exit codes of the command (also in README.md).
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,      // any other engine failure
  kExitUsage = 2,        // bad arguments
  kExitNotFound = 3,     // no such drive, file or parameter
  kExitDeviceBusy = 4,   // the drive stayed busy or not ready
  kExitDriveError = 5,   // the drive refused a command
  kExitSystemError = 6,  // an operating-system call failed
  kExitUnsupported = 7,  // the drive, disc or format is not supported
  kExitDiffers = 8,      // finished, but the disc or image differs from the files on disk (a file changed while read)
  kExitCancelled = 130,  // cancelled, by Ctrl-C or otherwise
};

// Maps an engine exception number to the command's exit code.
int ExitCodeForException(uint32_t exceptionNumber);

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

// An engine failure, as a person reads it, on standard error; returns the exit code.
int ReportFailure(const std::string& what, uint32_t exceptionNumber, const char* text, uint32_t systemError,
                  const CDB_FAILURE_INFORMATION* failure);

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

// The device name to open for a --drive argument: a virtual drive's folder
// name gives the device name it serves; anything else (CdRom0, /dev/sr0)
// is taken as it is. An empty argument stands for the default virtual
// drive. Returns false with a message in *error when that cannot be had.
bool ResolveDrive(const std::string& drive, std::string* deviceName, std::string* error);
// A virtual drive's description as the drive library gives it.
bool DescribeVirtualDrive(const std::string& name, nlohmann::json* out);
// The names of the virtual drives; *error, when asked for, says why the
// list could not be read.
std::vector<std::string> VirtualDriveNames(uint32_t* error = nullptr);

// One line of progress on standard error, redrawn in place on a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(std::string label, bool enabled = true);
  ~ProgressBar();
  // done and total in bytes; fills in percent, or negative when unknown.
  void Update(uint64_t done, uint64_t total, int driveBufferPercent = -1, int hostBufferPercent = -1);
  void Finish();

 private:
  std::string label_;
  bool enabled_;
  bool tty_;
  bool finished_ = false;
  double start_;
  double lastDraw_ = -1;
};

}  // namespace qvcli
