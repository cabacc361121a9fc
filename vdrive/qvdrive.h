/*
 * The virtual drive library (libquorvane_vdrive.so): an emulated MMC
 * recorder, reached through the same two doors as real hardware.
 *
 *  1. The run-time pass-through library. The engine loads it under the
 *     module name "dtpro.dll"; its entries are found by ordinal, which on
 *     Linux are the exports QvSptd_Ordinal44 .. QvSptd_Ordinal48.
 *  2. The auxiliary driver. The engine's pass-through transport asks it for
 *     a device handle by name before it opens an OS device; names the
 *     driver does not serve go to the OS. On Linux it is loaded under the
 *     module name "Dralik" and its entries are the QvDralik_* exports.
 *
 * Plus the management functions that the quorvane command uses to create,
 * list, load and eject virtual drives.
 *
 * Drives live in $QUORVANE_VDRIVE_HOME, one folder per drive.
 *
 * C99 and C++. Every function returns 0 or a Windows-style system error
 * number (2 not found, 5 access denied / sharing violation, 87 invalid
 * parameter, 122 buffer too small, 1167 device gone).
 */
#ifndef QUORVANE_QVDRIVE_H
#define QUORVANE_QVDRIVE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QVDRIVE_API __declspec(dllexport)
#else
#define QVDRIVE_API __attribute__((visibility("default")))
#endif

/* ---- One command, as both doors carry it ---------------------------- */

enum {
  QVDRIVE_DIR_NONE = 0,
  QVDRIVE_DIR_IN = 1,  /* drive to host */
  QVDRIVE_DIR_OUT = 2  /* host to drive */
};

/* Request flag: report the drive's own timing of the command. */
#define QVDRIVE_FLAG_TIMING 0x10100u

typedef struct QVDRIVE_REQUEST {
  /* in */
  uint8_t cdb[16];
  uint8_t cdbLength;      /* 6, 10, 12 or 16 */
  uint8_t direction;      /* QVDRIVE_DIR_* */
  uint16_t reserved0;
  uint32_t flags;         /* 0 or QVDRIVE_FLAG_TIMING */
  uint32_t timeoutSeconds;
  void *buffer;
  uint32_t bufferSize;
  /* out */
  uint32_t transferred;   /* bytes moved */
  uint8_t scsiStatus;     /* 0 GOOD, 2 CHECK CONDITION, 8 BUSY */
  uint8_t senseLength;    /* valid bytes of sense */
  uint8_t reserved1[2];
  uint8_t sense[32];      /* fixed format */
  uint64_t timing1;       /* with QVDRIVE_FLAG_TIMING: virtual start, microseconds */
  uint64_t timing2;       /* with QVDRIVE_FLAG_TIMING: virtual duration, microseconds */
} QVDRIVE_REQUEST;

/* ---- Door 1: the pass-through library ------------------------------- */

/*
 * Ordinal 44: enumerate. Called as (2, 0, &count, &list, progress). *list
 * receives a block of count entries. Entry layout (little-endian):
 *   0  u32   byte offset from this entry to the next (0 for the last)
 *   4  u8    host adapter   5 u8 path   6 u8 target   7 u8 LUN
 *   16 char[8]  vendor      24 char[16] product      40 char[4] revision
 *   47 u8    LUN (again, where the engine reads it)
 *   64 u32   byte offset from this entry to its name (char16_t, 0-terminated)
 * Free the block with ordinal 48.
 */
typedef void (*QVSPTD_PROGRESS)(void);
QVDRIVE_API uint32_t QvSptd_Ordinal44(uint32_t kind, uint32_t reserved, uint32_t *count, void **list,
                                      QVSPTD_PROGRESS progress);
/* Ordinal 45: open by name (compared without case). flags 0: shared;
 * 0x10000000: exclusive. 5 when another exclusive user holds the drive. */
QVDRIVE_API uint32_t QvSptd_Ordinal45(const char16_t *name, uint32_t flags, void **handle);
/* Ordinal 46: close. */
QVDRIVE_API uint32_t QvSptd_Ordinal46(void *handle);
/* Ordinal 47: send one command. The result is 0 when the command reached
 * the drive (whatever its SCSI status); otherwise a system error. */
QVDRIVE_API uint32_t QvSptd_Ordinal47(void *handle, QVDRIVE_REQUEST *request);
/* Ordinal 48: free an enumeration block. */
QVDRIVE_API uint32_t QvSptd_Ordinal48(void *list);

/* ---- Door 2: the auxiliary driver ----------------------------------- */

#define QVDRALIK_MAGIC 0x4B4C5244u /* "DRLK" */
#define DRALIK_IOCTL_GET_VERSION 0x222000u
#define DRALIK_IOCTL_OPEN 0x222004u

typedef struct DRALIK_VERSION_BLOCK { /* 8 bytes, in and out */
  uint32_t magic;
  uint32_t version;
} DRALIK_VERSION_BLOCK;

typedef struct DRALIK_OPEN_BLOCK { /* 2060 bytes, in and out */
  uint32_t magic;
  uint32_t handle; /* out: the device handle */
  uint32_t reserved;
  char name[2048]; /* in: the device name as the application gave it */
} DRALIK_OPEN_BLOCK;

/* "Opening \\.\Dralik": 2 when no virtual drive is configured. */
QVDRIVE_API uint32_t QvDralik_Attach(void **driver);
QVDRIVE_API uint32_t QvDralik_Detach(void *driver);
/* The two control requests. OPEN answers 2 for a name it does not serve. */
QVDRIVE_API uint32_t QvDralik_Control(void *driver, uint32_t code, void *block, uint32_t blockSize);
/* Commands on a device handle from DRALIK_IOCTL_OPEN; result as ordinal 47. */
QVDRIVE_API uint32_t QvDralik_PassThrough(uint32_t deviceHandle, QVDRIVE_REQUEST *request);
QVDRIVE_API uint32_t QvDralik_CloseDevice(uint32_t deviceHandle);

/* ---- Management ----------------------------------------------------- */

/* The folder holding the drives: $QUORVANE_VDRIVE_HOME, else a per-user default. */
QVDRIVE_API uint32_t QvDrive_Home(char *path, uint32_t size);
/* media: cd-rom, cd-r, cd-rw, dvd-rom, dvd-r, dvd-rw, dvd+r, dvd+r-dl, dvd+rw,
 * dvd-ram (a blank disc; pressed for the ROM types), or NULL for an empty tray.
 * model: "VENDOR:PRODUCT[:REVISION]" or NULL for the default model. A
 * VENDOR:PRODUCT of the model catalog gives that drive's capabilities and
 * quirks; any other is the default recorder under that identity. */
QVDRIVE_API uint32_t QvDrive_Create(const char *name, const char *media, const char *model);
QVDRIVE_API uint32_t QvDrive_Delete(const char *name);
/* Writes a 0-separated, double-0-terminated list of the catalog's models,
 * each as "VENDOR:PRODUCT". */
QVDRIVE_API uint32_t QvDrive_ListModels(char *models, uint32_t size, uint32_t *needed);
/* Writes a 0-separated, double-0-terminated list of drive names. */
QVDRIVE_API uint32_t QvDrive_List(char *names, uint32_t size, uint32_t *needed);
/* Loads a new blank (or pressed) disc of a media type, or a disc image. */
QVDRIVE_API uint32_t QvDrive_InsertMedia(const char *name, const char *media);
QVDRIVE_API uint32_t QvDrive_InsertImage(const char *name, const char *imagePath, const char *media);
/* Loads a disc from a prepared disc description (JSON; see the README's
 * "Disc descriptions"). */
QVDRIVE_API uint32_t QvDrive_InsertDisc(const char *name, const char *descriptionPath);
QVDRIVE_API uint32_t QvDrive_Eject(const char *name);
/* A JSON description of a drive: model, media, state, sessions and tracks. */
QVDRIVE_API uint32_t QvDrive_Describe(const char *name, char *json, uint32_t size, uint32_t *needed);
/* Replaces the drive's fault rules with those of a JSON text
 * ({"rules": [...]}, the form of the drive folder's faults.json); NULL or
 * "" removes them all. */
QVDRIVE_API uint32_t QvDrive_SetFaults(const char *name, const char *json);
/* The reason for the calling thread's last failed QvDrive_* call, as a
 * person reads it ("" when there is none). */
QVDRIVE_API uint32_t QvDrive_LastErrorText(char *text, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* QUORVANE_QVDRIVE_H */
