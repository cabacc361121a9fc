// An open drive, as both doors hand it out: the drive's store, the hold on
// its users lock that makes exclusive opening work across processes, and
// the handle's own sense data.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/file.h"
#include "vdrive/commands.h"
#include "vdrive/qvdrive.h"

namespace qv::vdrive {

struct OpenDrive {
  std::shared_ptr<DriveStore> store;
  plat::File users;
  Initiator initiator;
  std::mutex mutex;  // one command at a time on a handle
};

// Opens a drive by its device name ("CdRom0", also "\\.\CdRom0") or its
// folder name, compared without case. 2 when no drive answers to the
// name, 5 when another user holds it exclusively (or it is held and
// exclusive is asked).
uint32_t OpenDriveByName(const std::string& name, bool exclusive, std::unique_ptr<OpenDrive>* out);

// Runs a door request on an open drive: the door's result, and the
// request's out fields filled.
uint32_t SendRequest(OpenDrive& drive, QVDRIVE_REQUEST* request);

}  // namespace qv::vdrive
