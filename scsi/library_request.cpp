#include "scsi/library_request.h"

#include <algorithm>
#include <cstring>

#include "platform/scsi_request.h"

void QuorvaneI_BuildLibraryRequest(const CQuorvane_ScsiTransport::Attempt& a, uint32_t flags,
                                   QV_DOOR_REQUEST& r) {
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.cdb, a.cdb, a.cdbLength);
  r.cdbLength = a.cdbLength;
  r.direction = a.buffer == nullptr ? QV_DOOR_DIR_NONE : a.dataOut ? QV_DOOR_DIR_OUT : QV_DOOR_DIR_IN;
  r.flags = flags;
  r.timeoutSeconds = kQuorvaneScsiTimeOutSeconds;
  r.buffer = a.buffer;
  r.bufferSize = a.buffer == nullptr ? 0 : a.bufferSize;
}

void QuorvaneI_ReadLibraryReply(const QV_DOOR_REQUEST& r, CQuorvane_ScsiTransport::Attempt& a) {
  a.targetStatus = r.scsiStatus;
  a.good = r.scsiStatus == 0;
  a.transferred = r.transferred;
  // Sense in descriptor format is turned into fixed format like the OS's.
  qv::plat::SenseToFixed(r.sense, std::min<size_t>(r.senseLength, sizeof r.sense), a.sense);
}
