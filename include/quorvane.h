/*
 * Quorvane - CD/DVD recording, grabbing and mastering engine.
 *
 * The public C interface. It compiles as C99 and as C++.
 *
 * Every entry point that works on an engine object follows one convention:
 * its first five parameters form the status record
 *
 *     (handle, exception text buffer, its size, system error out,
 *      CDB failure record out)
 *
 * and its result is the exception number, EN_SUCCESS (0) on success. The
 * failure record is zero-filled on entry; the system error is written only
 * for EN_SYSTEM_CALL_FAILED.
 */
#ifndef QUORVANE_H
#define QUORVANE_H

#include "quorvane/qv_types.h"
#include "quorvane/qv_core.h"
#include "quorvane/qv_sonvex.h"
#include "quorvane/qv_files.h"
#include "quorvane/qv_device.h"
#include "quorvane/qv_record.h"
#include "quorvane/qv_grab.h"
#include "quorvane/qv_iso9660.h"
#include "quorvane/qv_udf.h"
#include "quorvane/qv_sectors.h"

#endif /* QUORVANE_H */
