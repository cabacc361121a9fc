/* Quorvane: raw CD sectors of 2352 bytes - made from user data with sync,
 * header, EDC and the P and Q parity, checked, and repaired where the
 * parity allows. These calls need no engine object and no start-up, and
 * may run on many threads at once on different sectors. */
#ifndef QUORVANE_QV_SECTORS_H
#define QUORVANE_QV_SECTORS_H

#include "qv_types.h"

/* Sector layouts. */
enum {
  QVX_SECTOR_MODE1 = 1,       /* 2048 bytes of user data */
  QVX_SECTOR_MODE2_FORM1 = 2, /* sub-header, 2048 bytes of user data */
  QVX_SECTOR_MODE2_FORM2 = 3  /* sub-header, 2324 bytes of user data */
};

/* Builds count sectors at consecutive addresses from firstAddress (a
 * logical block address; 0 is 00:02:00) from user data laid back to back.
 * subHeader (4 bytes, written twice; Mode 2 only) may be NULL for file 0,
 * channel 0, submode data (Form 1) or form 2. 0, or EN_INVALID_PARAMETER. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_BuildRawSectors(QV_ULONG layout, QV_LONG firstAddress, QV_ULONG count,
                                                            const QV_UCHAR *userData, const QV_UCHAR *subHeader,
                                                            QV_UCHAR *sectors);

/* The first check a sector failed. */
enum {
  QVX_SECTOR_GOOD = 0,
  QVX_SECTOR_BAD_SYNC = 1,
  QVX_SECTOR_BAD_HEADER = 2,    /* the mode byte */
  QVX_SECTOR_BAD_SUBHEADER = 3, /* its two copies differ */
  QVX_SECTOR_BAD_EDC = 4,
  QVX_SECTOR_BAD_P = 5,
  QVX_SECTOR_BAD_Q = 6
};
/* What a repair did. */
enum {
  QVX_REPAIR_NOT_TRIED = 0,
  QVX_REPAIR_DONE = 1,      /* the sector was rewritten and passes every check */
  QVX_REPAIR_IMPOSSIBLE = 2 /* it stays as it was */
};

/* Checks one sector of the expected mode (1 or 2; 0 takes its mode byte):
 * sync, mode byte, sub-header, EDC, P and Q, in this order. A Form 2
 * sector has no parity; its EDC is checked when present (not zero).
 * *fault gets the first check that failed. With repair, a failed sector
 * goes through the layer-2 decoder; *repairResult says what came of it.
 * address names the sector in the debug log only. 0, or
 * EN_INVALID_PARAMETER. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CheckRawSector(QV_UCHAR *sector, QV_LONG expectedMode, QV_LONG address,
                                                           QV_BOOLEAN repair, QV_ULONG *fault,
                                                           QV_ULONG *repairResult);

#endif /* QUORVANE_QV_SECTORS_H */
