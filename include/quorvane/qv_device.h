/* Quorvane: the burner-grabber - one object per drive: creation, identity
 * and capabilities, unit commands, disc and track information, speeds,
 * buffer-underrun protection, power calibration, tray and region. */
#ifndef QUORVANE_QV_DEVICE_H
#define QUORVANE_QV_DEVICE_H

#include "qv_types.h"

#pragma pack(push, 1)

/* Disc information (33 bytes), from READ DISC INFORMATION. The four-byte
 * fields at 12, 16 and 20 are copied as the drive sent them (big-endian). */
typedef struct QUORVANE_PACKED QUORVANE_DISC_INFORMATION {
  QV_UCHAR m__UCHAR__IsValid;                      /*  0: 1 */
  QV_UCHAR m__UCHAR__DiscStatus;                   /*  1: 0 blank, 1 incomplete, 2 complete */
  QV_UCHAR m__UCHAR__StateOfLastSession;           /*  2 */
  QV_UCHAR m__UCHAR__IsErasable;                   /*  3 */
  QV_UCHAR m__UCHAR__FirstTrackNumber;             /*  4 */
  QV_UCHAR m__UCHAR__NumberOfSessions;             /*  5 */
  QV_UCHAR m__UCHAR__FirstTrackInLastSession;      /*  6 */
  QV_UCHAR m__UCHAR__LastTrackInLastSession;       /*  7 */
  QV_UCHAR m__UCHAR__IsUnrestrictedUse;            /*  8 */
  QV_UCHAR m__UCHAR__IsDiscBarCodeValid;           /*  9 */
  QV_UCHAR m__UCHAR__IsDiscIdValid;                /* 10 */
  QV_UCHAR m__UCHAR__DiscTypeCode;                 /* 11 */
  QV_UCHAR m__UCHAR__DiscIdentification[4];        /* 12 */
  QV_UCHAR m__UCHAR__LastSessionLeadInStart[4];    /* 16 */
  QV_UCHAR m__UCHAR__LastPossibleLeadOutStart[4];  /* 20 */
  QV_UCHAR m__UCHAR__DiscBarCode[8];               /* 24 */
  QV_UCHAR m__UCHAR__NumberOfOPCTableEntries;      /* 32 */
} QUORVANE_DISC_INFORMATION, *PQUORVANE_DISC_INFORMATION;

/* Track information (28 bytes), from READ TRACK INFORMATION by track
 * number. The four-byte fields are in host byte order. */
typedef struct QUORVANE_PACKED QUORVANE_TRACK_INFORMATION {
  QV_UCHAR m__UCHAR__IsValid;             /*  0: 0 when the query failed, the rest then 0 */
  QV_UCHAR m__UCHAR__TrackNumber;         /*  1 */
  QV_UCHAR m__UCHAR__SessionNumber;       /*  2 */
  QV_UCHAR m__UCHAR__TrackMode;           /*  3 */
  QV_UCHAR m__UCHAR__IsCopy;              /*  4 */
  QV_UCHAR m__UCHAR__IsDamage;            /*  5 */
  QV_UCHAR m__UCHAR__DataMode;            /*  6 */
  QV_UCHAR m__UCHAR__IsFixedPacket;       /*  7 */
  QV_UCHAR m__UCHAR__IsPacketIncremental; /*  8 */
  QV_UCHAR m__UCHAR__IsBlank;             /*  9 */
  QV_UCHAR m__UCHAR__IsReservedTrack;     /* 10 */
  QV_UCHAR m__UCHAR__IsNWAValid;          /* 11 */
  QV_LONG m__LONG__TrackStartAddress;     /* 12 */
  QV_LONG m__LONG__NextWritableAddress;   /* 16 */
  QV_ULONG m__ULONG__FreeBlocks;          /* 20 */
  QV_ULONG m__ULONG__FixedPacketSize;     /* 24: response bytes 20-23 */
} QUORVANE_TRACK_INFORMATION, *PQUORVANE_TRACK_INFORMATION;

/* One entry of the full table of contents (11 bytes), as the drive sent it. */
typedef struct QUORVANE_PACKED QUORVANE_TOC_ENTRY {
  QV_UCHAR m__UCHAR__SessionNumber;
  QV_UCHAR m__UCHAR__AdrControl; /* ADR in bits 7-4, CONTROL in bits 3-0 */
  QV_UCHAR m__UCHAR__TNO;
  QV_UCHAR m__UCHAR__POINT;
  QV_UCHAR m__UCHAR__Min;
  QV_UCHAR m__UCHAR__Sec;
  QV_UCHAR m__UCHAR__Frame;
  QV_UCHAR m__UCHAR__Zero;
  QV_UCHAR m__UCHAR__PMin;
  QV_UCHAR m__UCHAR__PSec;
  QV_UCHAR m__UCHAR__PFrame;
} QUORVANE_TOC_ENTRY, *PQUORVANE_TOC_ENTRY;

/* One track of the table of contents (34 bytes). Addresses are signed
 * LBAs in host byte order; the end is the track's last block. */
typedef struct QUORVANE_PACKED QUORVANE_TOC_TRACK {
  QV_UCHAR m__UCHAR__IsValid;             /*  0 */
  QV_UCHAR m__UCHAR__TrackNumber;         /*  1 */
  QV_UCHAR m__UCHAR__SessionNumber;       /*  2 */
  QV_LONG m__LONG__StartAddress;          /*  3 */
  QV_UCHAR m__UCHAR__StartMSF[3];         /*  7: minute, second, frame */
  QV_LONG m__LONG__EndAddress;            /* 10 */
  QV_UCHAR m__UCHAR__EndMSF[3];           /* 14 */
  QV_UCHAR m__UCHAR__IsAdr2;              /* 17 */
  QV_UCHAR m__UCHAR__IsAdr3;              /* 18 */
  QV_UCHAR m__UCHAR__IsFourChannel;       /* 19 */
  QV_UCHAR m__UCHAR__IsPreEmphasis;       /* 20 */
  QV_UCHAR m__UCHAR__IsData;              /* 21 */
  QV_UCHAR m__UCHAR__IsAudio;             /* 22 */
  QV_UCHAR m__UCHAR__IsDigitalCopyPermitted; /* 23 */
  QV_UCHAR m__UCHAR__TrackMode;           /* 24: 0 audio, 1 or 2 data */
  QV_UCHAR m__UCHAR__Form;                /* 25: 0, or 1/2 for mode 2 */
  QV_ULONG m__ULONG__BlockSize;           /* 26: 2352, 2048, 2324 or 0 */
  QV_LONG m__LONG__AreaStartAddress;      /* 30: start including the pause */
} QUORVANE_TOC_TRACK, *PQUORVANE_TOC_TRACK;

#define QUORVANE_TOC_MAXIMUM 100

/* The table of contents (5612 bytes). */
typedef struct QUORVANE_PACKED QUORVANE_TOC_INFORMATION {
  QV_UCHAR m__UCHAR__IsValid;          /*  0 */
  QV_UCHAR m__UCHAR__IsDVD;            /*  1: 1 when read by the DVD procedure */
  QV_UCHAR m__UCHAR__Reserved[7];      /*  2 */
  QV_UCHAR m__UCHAR__LastSession;      /*  9: highest session number seen */
  QV_UCHAR m__UCHAR__NumberOfTracks;   /* 10 */
  QV_UCHAR m__UCHAR__NumberOfEntries;  /* 11: TOC entries read */
  QUORVANE_TOC_TRACK m__TRACK__Tracks[QUORVANE_TOC_MAXIMUM];        /*   12 */
  QUORVANE_TOC_ENTRY m__ENTRY__TrackEntries[QUORVANE_TOC_MAXIMUM];  /* 3412: the entry each track came from */
  QUORVANE_TOC_ENTRY m__ENTRY__Entries[QUORVANE_TOC_MAXIMUM];       /* 4512: the first entries as read */
} QUORVANE_TOC_INFORMATION, *PQUORVANE_TOC_INFORMATION;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(QUORVANE_DISC_INFORMATION) == 33, "disc information is 33 bytes");
static_assert(sizeof(QUORVANE_TRACK_INFORMATION) == 28, "track information is 28 bytes");
static_assert(sizeof(QUORVANE_TOC_ENTRY) == 11, "a TOC entry is 11 bytes");
static_assert(sizeof(QUORVANE_TOC_TRACK) == 34, "a TOC track is 34 bytes");
static_assert(sizeof(QUORVANE_TOC_INFORMATION) == 5612, "the TOC record is 5612 bytes");
static_assert(offsetof(QUORVANE_TRACK_INFORMATION, m__UCHAR__IsBlank) == 9, "blank flag at 9");
static_assert(offsetof(QUORVANE_TRACK_INFORMATION, m__LONG__NextWritableAddress) == 16, "NWA at 16");
static_assert(offsetof(QUORVANE_TRACK_INFORMATION, m__ULONG__FreeBlocks) == 20, "free blocks at 20");
static_assert(offsetof(QUORVANE_TOC_TRACK, m__LONG__EndAddress) == 10, "track end at 10");
static_assert(offsetof(QUORVANE_TOC_TRACK, m__LONG__AreaStartAddress) == 30, "area start at 30");
static_assert(offsetof(QUORVANE_TOC_INFORMATION, m__TRACK__Tracks) == 12, "tracks at 12");
static_assert(offsetof(QUORVANE_TOC_INFORMATION, m__ENTRY__TrackEntries) == 3412, "track entries at 3412");
static_assert(offsetof(QUORVANE_TOC_INFORMATION, m__ENTRY__Entries) == 4512, "entries at 4512");
#else
typedef char quorvane_check_disc_size[sizeof(QUORVANE_DISC_INFORMATION) == 33 ? 1 : -1];
typedef char quorvane_check_track_size[sizeof(QUORVANE_TRACK_INFORMATION) == 28 ? 1 : -1];
typedef char quorvane_check_toc_size[sizeof(QUORVANE_TOC_INFORMATION) == 5612 ? 1 : -1];
#endif

/* The status record: see quorvane.h. */
#define QUORVANE_STATUS_RECORD \
  char *exceptionText, QV_ULONG exceptionTextSize, QV_ULONG *systemError, CDB_FAILURE_INFORMATION *failure

/* ---- Creation ---------------------------------------------------------
 * Each stores the new object in *handle (NULL when creation failed).
 * cacheSizeInMB 0 selects 160. Before Quorvane_UpStartEx they return
 * EN_NOT_INITIALIZED; a device that is not a CD/DVD drive gives
 * EN_DEVICE_TYPE_UNSUPPORTED. */

/* On the ASPI transport, by host adapter, path, target and LUN. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Create(
    QV_HANDLE *handle, QUORVANE_STATUS_RECORD, PQUORVANE_CALLBACK callback, void *context, QV_UCHAR portId,
    QV_UCHAR pathId, QV_UCHAR targetId, QV_UCHAR lun, QV_ULONG cacheSizeInMB);
/* On the pass-through transport, by device name ("CdRom0"). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_CreateEx(
    QV_HANDLE *handle, QUORVANE_STATUS_RECORD, PQUORVANE_CALLBACK callback, void *context, const char *deviceName,
    QV_ULONG cacheSizeInMB);
/* On the SPTD transport, by wide device name; openMode 1 opens it shared. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_CreateExEx(
    QV_HANDLE *handle, QUORVANE_STATUS_RECORD, PQUORVANE_CALLBACK callback, void *context,
    const QV_WCHAR *deviceName, QV_UCHAR openMode, QV_ULONG cacheSizeInMB);
/* Deletes the object and sets *handle to NULL. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Destroy(QV_HANDLE *handle);

/* ---- Identity, capabilities, probes ----------------------------------- */

/* vendor gets at most 9 bytes, product 17, revision 5 (terminated);
 * bufferSize the drive's buffer in bytes. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDeviceInformation(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, char *vendor, char *product, char *revision, QV_ULONG *bufferSize);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_BOOLEAN *readCDR, QV_BOOLEAN *readCDRW, QV_BOOLEAN *readDVDROM,
    QV_BOOLEAN *readDVDR, QV_BOOLEAN *readDVDRAM, QV_BOOLEAN *testWrite, QV_BOOLEAN *writeCDR, QV_BOOLEAN *writeCDRW,
    QV_BOOLEAN *writeDVDR, QV_BOOLEAN *writeDVDRAM);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsEx(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_BOOLEAN *readDVDPlusRW, QV_BOOLEAN *readDVDPlusR,
    QV_BOOLEAN *writeDVDPlusRW, QV_BOOLEAN *writeDVDPlusR);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_BOOLEAN *readDVDPlusRW, QV_BOOLEAN *readDVDPlusR,
    QV_BOOLEAN *readDVDPlusRDL, QV_BOOLEAN *writeDVDPlusRW, QV_BOOLEAN *writeDVDPlusR, QV_BOOLEAN *writeDVDPlusRDL);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ProbeSupportedWriteModes(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_BOOLEAN *tao, QV_BOOLEAN *sao, QV_BOOLEAN *daoRawPQ,
    QV_BOOLEAN *daoRawRawPW);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ProbeSupportedReadModes(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_BOOLEAN *cooked, QV_BOOLEAN *raw, QV_BOOLEAN *rawPQ,
    QV_BOOLEAN *rawRawPW, QV_BOOLEAN *pq, QV_BOOLEAN *rawPW);

/* ---- Unit commands ----------------------------------------------------- */

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Load(QV_HANDLE handle, QUORVANE_STATUS_RECORD);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_LoadEx(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                        QV_BOOLEAN waitForMedia);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Eject(QV_HANDLE handle, QUORVANE_STATUS_RECORD);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TestUnitReady(QV_HANDLE handle,
                                                                               QUORVANE_STATUS_RECORD);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TestUnitReadyEx(QV_HANDLE handle,
                                                                                 QUORVANE_STATUS_RECORD,
                                                                                 QV_LONG seconds);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TestUnitReadyExEx(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_LONG seconds, QV_BOOLEAN fastExit);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Lock(QV_HANDLE handle, QUORVANE_STATUS_RECORD);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Release(QV_HANDLE handle, QUORVANE_STATUS_RECORD);
/* Asks a running recording or grab to stop; safe from any thread. Returns
 * EN_INVALID_PARAMETER for a NULL handle, else EN_SUCCESS. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Cancel(QV_HANDLE handle);
/* Sends one CDB (direction 1: to the drive) under the object's lock. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ExecuteCDB(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const QV_UCHAR *cdb, QV_UCHAR cdbLength, void *buffer,
    QV_ULONG bufferSize, QV_UCHAR direction);

/* ---- Disc and track information ---------------------------------------- */

/* The disc type (DISC_TYPE_*) itself; 0 when unknown or on failure. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(QV_HANDLE handle);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDiscInformation(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QUORVANE_DISC_INFORMATION *discInformation);
/* trackNumber 0xFF: the last (invisible) track. A failed query is not an
 * error: the record then says IsValid 0. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetTrackInformation(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_UCHAR trackNumber, QUORVANE_TRACK_INFORMATION *trackInformation);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetTOCInformation(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QUORVANE_TOC_INFORMATION *tocInformation);
/* The last recorded track, to import or append after (0: none). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetLastTrack(QV_HANDLE handle,
                                                                              QUORVANE_STATUS_RECORD,
                                                                              QV_UCHAR *lastTrack);
/* READ TOC format 4 (ATIP) into buffer, unparsed. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadATIP(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                          void *buffer, QV_ULONG size);
/* READ TOC format 5 (CD-Text) into buffer, unparsed: a 4-byte header (data
 * length, big-endian, and two reserved bytes), then 18-byte packs. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadCDText(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                            void *buffer, QV_ULONG size);

/* ---- Device control ---------------------------------------------------- */

/* Speeds in kilobytes (1000 bytes) per second. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSpeeds(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_ULONG *currentReadSpeed, QV_ULONG *maximumReadSpeed,
    QV_ULONG *currentWriteSpeed, QV_ULONG *maximumWriteSpeed);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SetSpeeds(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                           QV_ULONG readSpeed, QV_ULONG writeSpeed);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SetReadSpeed(QV_HANDLE handle,
                                                                              QUORVANE_STATUS_RECORD,
                                                                              QV_ULONG readSpeed);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetBUP(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                        QV_BOOLEAN *enabled, QV_BOOLEAN *supported);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SetBUP(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                        QV_BOOLEAN enable);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SendOPC(QV_HANDLE handle, QUORVANE_STATUS_RECORD);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_BOOLEAN *mediumPresent, QV_BOOLEAN *doorOrTrayOpen);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDVDProtectionSystem(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_UCHAR *protectionSystemType);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDVDRegionMask(QV_HANDLE handle,
                                                                                  QUORVANE_STATUS_RECORD,
                                                                                  QV_UCHAR *regionMask);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetRPC(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_UCHAR *typeCode, QV_UCHAR *vendorResetsAvailable,
    QV_UCHAR *userChangesAvailable, QV_UCHAR *regionMask, QV_UCHAR *rpcScheme);

#undef QUORVANE_STATUS_RECORD

#endif /* QUORVANE_QV_DEVICE_H */
