// SG_IO: one CDB on an open /dev/sgN or /dev/srN descriptor, through the
// system-call seam of os.h.
#pragma once
#include "platform/scsi_request.h"

namespace qv::plat::lnx {

// Sends the request and fills the reply. Never throws. A failed ioctl, and a
// host or driver error whatever status and sense came with it, set
// systemError; otherwise sense that reports a failure makes the status
// CHECK CONDITION even where the status byte said GOOD.
void SgExecute(int fd, const ScsiRequest& request, ScsiReply& reply);

// Opens a device for pass-through: read-write first, then read-only, both
// non-blocking. Returns the descriptor or -1 with *systemError set;
// *readOnly tells which mode succeeded.
int OpenScsiDevice(const char* path, bool* readOnly, uint32_t* systemError);

}  // namespace qv::plat::lnx
