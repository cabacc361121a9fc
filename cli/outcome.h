// What the command tells a person when something fails, and the exit code
// it ends with: the one mapping from an engine result (exception number,
// system error, sense data) or a system error number to a headline in
// words and a code of the README's list. Sense codes and numbers go in a
// detail line, never in the headline.
#pragma once
#include <cstdint>
#include <string>

#include "quorvane.h"

namespace qvcli {

// Exit codes of the command (also in README.md).
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,      // any other engine failure
  kExitUsage = 2,        // bad arguments
  kExitNotFound = 3,     // no such drive, file or parameter
  kExitDeviceBusy = 4,   // the drive is busy, not ready, or holds no disc
  kExitDriveError = 5,   // the drive refused a command
  kExitSystemError = 6,  // an operating-system call failed
  kExitUnsupported = 7,  // the drive, disc or format cannot do what was asked
  kExitDiffers = 8,      // finished, but the disc or image differs from the files on disk
  kExitCancelled = 130,  // cancelled, by Ctrl-C, SIGTERM or otherwise
};

// The failures of one engine call.
struct CallStatus {
  char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
  QV_ULONG systemError = 0;
  CDB_FAILURE_INFORMATION failure{};
  QV_ULONG number = 0;
};
#define QV_CALL_STATUS(s) (s).text, sizeof (s).text, &(s).systemError, &(s).failure

struct Outcome {
  int exit = kExitOk;
  std::string headline;  // the reason in words, and what to do where that is obvious
  std::string detail;    // numbers and codes, for a report
};

// Where a system error number comes from: access denied means a file's
// permissions, but on a drive that another program holds.
enum class About { File, Drive };

Outcome FromSystemError(uint32_t systemError, About about = About::File);
Outcome FromEngine(const CallStatus& status, About about = About::File);
Outcome FromEngine(uint32_t number, const char* text, uint32_t systemError);

// Prints "quorvane: WHAT: HEADLINE" (or the headline alone) and the detail
// on standard error, and with --json an error object on standard output;
// returns the exit code.
int Report(const std::string& what, const Outcome& outcome);
// --json turns on the error object.
void SetJsonErrors(bool on);
// The last failure Report told, for the end of the progress stream.
const Outcome& LastReported();

}  // namespace qvcli
