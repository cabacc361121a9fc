// The request block that the run-time pass-through library and the
// auxiliary driver both take (QV_DOOR_REQUEST), filled from one attempt.
#pragma once
#include "scsi/transport.h"
#include "platform/dynlib.h"
#include "quorvane/qv_doors.h"

// Where the system has no module by the doors' names, both come from
// this file.
inline constexpr qv::plat::ModuleFile kDoorsFile{QV_DOORS_DEFAULT_LIBRARY, QV_PASSTHROUGH_ORDINAL_PREFIX};

void QuorvaneI_BuildLibraryRequest(const CQuorvane_ScsiTransport::Attempt& attempt, uint32_t flags,
                                   QV_DOOR_REQUEST& request);
// Copies status and sense back; the library's sense is fixed format already.
void QuorvaneI_ReadLibraryReply(const QV_DOOR_REQUEST& request, CQuorvane_ScsiTransport::Attempt& attempt);
