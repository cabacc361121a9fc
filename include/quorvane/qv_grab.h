/* Quorvane: reading sectors and grabbing tracks with the burner-grabber.
 *
 * Grabbing reports through the callback given at creation, numbers in the
 * pointer parameters (cast to uintptr_t): CN_GRAB_PROGRESS (blocks in
 * all, blocks done), CN_GRAB_RETRY (address of a chunk read again block by
 * block), CN_GRAB_BLOCK_REPLACED (address, blocks written as zeros).
 * Quorvane_CdvdBurnerGrabber_Cancel stops a grab with exception 14. */
#ifndef QUORVANE_QV_GRAB_H
#define QUORVANE_QV_GRAB_H

#include "qv_types.h"

#define QUORVANE_STATUS_RECORD \
  char *exceptionText, QV_ULONG exceptionTextSize, QV_ULONG *systemError, CDB_FAILURE_INFORMATION *cdbFailure

/* Copies track (from 1) into fileName: the user data of a data track, or a
 * wave file (44100 Hz, 16-bit stereo) of an audio track. The file takes its
 * name only once complete; a failed grab leaves no file under it.
 * maxRetries is how many times a failed block is read again by itself;
 * with ignoreBadBlocks a block that stays unreadable is written as zeros
 * (CN_GRAB_BLOCK_REPLACED), else the grab fails with exception 10. Blocks
 * near a track's end that no drive reads are zeros either way. forceSingle
 * reads one block per command; progressInterval is in seconds, 0 for no
 * reports. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabTrack(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                       QV_UCHAR track, const char *fileName,
                                                                       QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks,
                                                                       QV_BOOLEAN forceSingle,
                                                                       QV_ULONG progressInterval);
/* Blocks firstLBA to lastLBA of one track into fileName, as GrabTrack
 * grabs (no wave header). Exception 17 when no track holds firstLBA, 20
 * when lastLBA lies beyond its track. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabRange(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                       QV_LONG firstLBA, QV_LONG lastLBA,
                                                                       const char *fileName, QV_LONG maxRetries,
                                                                       QV_BOOLEAN ignoreBadBlocks,
                                                                       QV_BOOLEAN forceSingle,
                                                                       QV_ULONG progressInterval);

/* A whole CD into baseName.xmf, a raw image of every track (2448-byte
 * blocks: the 2352-byte sector and 96 bytes of raw P-W subchannel), and its
 * description baseName.mds. readMode picks what the drive reads: 1 raw
 * sectors, 2 with the Q subchannel, 3 with raw P-W; a subchannel not read
 * is made for the block's place. Data blocks are checked against their
 * EDC/ECC (CN_GRAB_BAD_EDC_ECC when kept as read); a block that cannot be
 * read is rebuilt for its address (CN_GRAB_BLOCK_REPLACED) with
 * ignoreBadBlocks, else the grab fails with exception 10. Each track is
 * announced with CN_GRAB_TRACK_BEGIN and CN_GRAB_TRACK_END (number, tracks);
 * CN_GRAB_PROGRESS counts blocks of the whole disc. Unless
 * keepDriveRecovery, the drive's own error correction is switched off for
 * the grab. Exception 10 for a DVD or a read mode the drive lacks. Both
 * files take their names only once complete. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabDisc(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                      const char *baseName, QV_ULONG readMode,
                                                                      QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks,
                                                                      QV_BOOLEAN forceSingle, QV_ULONG progressInterval,
                                                                      QV_BOOLEAN keepDriveRecovery);
/* A whole DVD into parts of splitSizeMB megabytes (at least 200):
 * baseName.xmf, then baseName.xm1, baseName.xm2 and so on, and the
 * description baseName.mds. Unreadable blocks as GrabTrack treats them;
 * CN_GRAB_PART_BEGIN and CN_GRAB_PART_END (index from 0, parts) frame each
 * part. Exception 10 for a CD. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GrabDVD(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                     const char *baseName, QV_ULONG splitSizeMB,
                                                                     QV_LONG maxRetries, QV_BOOLEAN ignoreBadBlocks,
                                                                     QV_BOOLEAN forceSingle,
                                                                     QV_ULONG progressInterval);

/* Read flags of the sector readers. */
enum {
  QVX_READ_STOP_AT_FIRST_FAILURE = 0x001,
  QVX_READ_REPAIR_SUBCHANNEL = 0x020, /* Q rebuilt for the block's address */
  QVX_READ_COOKED = 0x040,            /* 2048-byte user data */
  QVX_READ_RAW = 0x080,               /* 2352-byte sectors */
  QVX_READ_RAW_PQ = 0x100,            /* with the Q subchannel */
  QVX_READ_RAW_PW = 0x200,            /* with the raw P-W subchannel */
  QVX_READ_LIGHT_CHECK = 0x400,       /* check without repairing */
  QVX_READ_FORCE_UNIT_ACCESS = 0x800
};
/* Track types of the sector readers. */
enum {
  QVX_READ_TRACK_AUDIO = 1,
  QVX_READ_TRACK_MODE1 = 2,
  QVX_READ_TRACK_MODE2 = 3,
  QVX_READ_TRACK_MODE2_FORM1 = 4,
  QVX_READ_TRACK_MODE2_FORM2 = 5
};

/* READ(10) of blocks 2048-byte blocks into buffer. A failure comes back
 * as 27 (positioning), 28 (unrecovered read error) or 29 (not a track
 * READ(10) reads) where the drive's sense tells, else 8. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Read10(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                    void *buffer, QV_LONG lba, QV_ULONG blocks,
                                                                    QV_BOOLEAN forceUnitAccess);
/* blocks raw blocks of 2448 bytes (2352 of sector, 96 of raw P-W
 * subchannel) into buffer, however the flags have the drive read them:
 * cooked user data is made a whole sector for its address and track type,
 * a missing subchannel is synthesized for the block's place in its track
 * (trackStart, trackNumber). 30 when the drive reads none of the raw
 * modes asked for, 31 when a read would pass 65536 bytes. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadCD(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                    QV_LONG lba, QV_ULONG blocks, void *buffer,
                                                                    QV_ULONG readFlags, QV_LONG trackStart,
                                                                    QV_UCHAR trackNumber, QV_ULONG trackType);
/* One block as Read reads each: 2048 bytes with QVX_READ_COOKED, else 2448
 * checked against the track type's EDC/ECC and repaired where the parity
 * allows (25 when it cannot be). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadEx(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                    void *buffer, QV_LONG lba, QV_LONG trackStart,
                                                                    QV_UCHAR trackNumber, QV_ULONG trackType,
                                                                    QV_ULONG readFlags);
/* blocks blocks from lba into buffer (2048 bytes each with QVX_READ_COOKED,
 * else 2448): read at once, each raw block checked; when that fails, block
 * by block, and the result is the failure of the last block that still
 * failed (0 when all were read). QVX_READ_STOP_AT_FIRST_FAILURE returns
 * the first failure instead. reserved1 and reserved2 are not used. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Read(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                  void *buffer, QV_LONG lba, QV_ULONG blocks,
                                                                  QV_LONG trackStart, QV_UCHAR trackNumber,
                                                                  QV_ULONG trackType, QV_ULONG readFlags,
                                                                  QV_ULONG reserved1, QV_ULONG reserved2);

#undef QUORVANE_STATUS_RECORD

#endif /* QUORVANE_QV_GRAB_H */
