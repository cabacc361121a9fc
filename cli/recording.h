// What burn checks and does around the engine's recording, so that nothing
// is written by surprise and nothing written is lost to readers: a test
// write only where the disc can simulate one, data that fits, an image
// only where it was made to start; and a burn cut short leaves its data in
// a closed session, so that readers find the next one.
#pragma once
#include <cstdint>
#include <string>

#include "drive_job.h"

namespace qvcli {

// The disc before the recording.
struct DiscState {
  QV_ULONG type = 0;
  QUORVANE_DISC_INFORMATION disc{};
  QUORVANE_TRACK_INFORMATION next{};  // the invisible track: where new data goes
  // Where a new volume must be built to start: the next writable address.
  // On DVD+RW and DVD-RAM that is the end of the volume the disc holds.
  uint32_t start() const;
};

// Reads the disc's state; 0 or the exit code, having said why.
int ReadDiscState(DriveJob& job, DiscState* state);

// Opens the drive for a burn: a failure leaves the disc in unless `eject`,
// the disc's state is read, and the write speed set where one is given.
// 0 or the exit code, having said why.
int OpenForBurn(DriveJob& job, const std::string& drive, bool json, bool eject, uint32_t speed, DiscState* before);

// What is to be recorded.
struct Recording {
  uint64_t bytes = 0;
  bool test = false;
  bool multisession = false;
  bool imageAsIs = false;  // an image made elsewhere, for an address we cannot know
};

// Refuses, before anything is sent that changes the disc, a test write
// where the disc or the drive cannot simulate one, data larger than the
// free space, and an image as it is onto an overwritable disc that holds a
// volume already. 0, or the exit code having said why.
int CheckRecording(DriveJob& job, const DiscState& before, const Recording& recording);

// After a recording that failed or was cancelled: when it left data in an
// open session of a disc written in sequence, closes that session (the
// disc stays open for another one where the burn asked for that). Returns
// what became of the disc, for the user, or "" when nothing was to close.
// Best effort: a close that fails is told, not retried.
std::string CloseInterruptedSession(DriveJob& job, const DiscState& before);

// After the burn call that wrote `what`: a failure is told (with what
// became of a partly written session); otherwise the session is closed
// unless it was a test, the speed restored and the disc ejected when
// asked. Returns the exit code when the command ends here: a failure or
// a cancel; -1 when the burn went through.
int EndBurn(DriveJob& job, const DiscState& before, const CallStatus& burn, const std::string& what, bool test,
            bool eject);

}  // namespace qvcli
