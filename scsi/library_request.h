// The request block that the run-time pass-through library and the
// auxiliary driver both take (QVDRIVE_REQUEST), filled from one attempt.
#pragma once
#include "scsi/transport.h"
#include "vdrive/qvdrive.h"

void QuorvaneI_BuildLibraryRequest(const CQuorvane_ScsiTransport::Attempt& attempt, uint32_t flags,
                                   QVDRIVE_REQUEST& request);
// Copies status and sense back; the library's sense is fixed format already.
void QuorvaneI_ReadLibraryReply(const QVDRIVE_REQUEST& request, CQuorvane_ScsiTransport::Attempt& attempt);
