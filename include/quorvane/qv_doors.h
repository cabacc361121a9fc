/*
 * The two doors through which the engine reaches drives that the operating
 * system's own pass-through does not serve. The engine defines them; a
 * library that stands for a drive (such as Quorvane's virtual drive)
 * implements them.
 *
 *  1. The run-time pass-through library, loaded under the module name
 *     "dtpro.dll". Its five entries are found by ordinal (44 to 48). Where
 *     the system has no ordinals, ordinal N is the export named
 *     QV_PASSTHROUGH_ORDINAL_PREFIX followed by N.
 *  2. The auxiliary driver, loaded under the module name "Dralik", whose
 *     entries are the exports named QV_DRALIK_* below. The pass-through
 *     transport asks it for a device handle by name before it opens an OS
 *     device; names the driver does not serve go to the OS.
 *
 * Where the system has no module of those names (Linux), the engine loads
 * QV_DOORS_DEFAULT_LIBRARY for both, unless QUORVANE_LIB_DTPRO or
 * QUORVANE_LIB_DRALIK names another file.
 *
 * Every entry returns 0 or a Windows-style system error number.
 *
 * C99 and C++.
 */
#ifndef QUORVANE_QV_DOORS_H
#define QUORVANE_QV_DOORS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QV_DOORS_DEFAULT_LIBRARY "libquorvane_vdrive.so"

/* ---- One command, as both doors carry it ---------------------------- */

enum {
  QV_DOOR_DIR_NONE = 0,
  QV_DOOR_DIR_IN = 1, /* drive to host */
  QV_DOOR_DIR_OUT = 2 /* host to drive */
};

/* Request flag: report the drive's own timing of the command. */
#define QV_DOOR_FLAG_TIMING 0x10100u

typedef struct QV_DOOR_REQUEST {
  /* in */
  uint8_t cdb[16];
  uint8_t cdbLength; /* 6, 10, 12 or 16 */
  uint8_t direction; /* QV_DOOR_DIR_* */
  uint16_t reserved0;
  uint32_t flags; /* 0 or QV_DOOR_FLAG_TIMING */
  uint32_t timeoutSeconds;
  void *buffer;
  uint32_t bufferSize;
  /* out */
  uint32_t transferred; /* bytes moved */
  uint8_t scsiStatus;   /* 0 GOOD, 2 CHECK CONDITION, 8 BUSY */
  uint8_t senseLength;  /* valid bytes of sense */
  uint8_t reserved1[2];
  uint8_t sense[32];    /* fixed or descriptor format */
  uint64_t timing1;     /* with QV_DOOR_FLAG_TIMING: virtual start, microseconds */
  uint64_t timing2;     /* with QV_DOOR_FLAG_TIMING: virtual duration, microseconds */
} QV_DOOR_REQUEST;

/* ---- Door 1: the pass-through library ------------------------------- */

#define QV_PASSTHROUGH_MODULE "dtpro.dll"
#define QV_PASSTHROUGH_ORDINAL_PREFIX "QvSptd_Ordinal"
#define QV_PASSTHROUGH_FIRST_ORDINAL 44

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
#ifdef __cplusplus
typedef char16_t QV_DOOR_CHAR16;
#else
typedef uint16_t QV_DOOR_CHAR16;
#endif
typedef void (*QV_PASSTHROUGH_PROGRESS)(void);
typedef uint32_t (*QV_PASSTHROUGH_ENUMERATE)(uint32_t kind, uint32_t reserved, uint32_t *count, void **list,
                                             QV_PASSTHROUGH_PROGRESS progress);
/* Ordinal 45: open by name (compared without case). flags 0: shared;
 * 0x10000000: exclusive. 5 when another exclusive user holds the drive. */
typedef uint32_t (*QV_PASSTHROUGH_OPEN)(const QV_DOOR_CHAR16 *name, uint32_t flags, void **handle);
/* Ordinal 46: close. */
typedef uint32_t (*QV_PASSTHROUGH_CLOSE)(void *handle);
/* Ordinal 47: send one command. The result is 0 when the command reached
 * the drive (whatever its SCSI status); otherwise a system error. */
typedef uint32_t (*QV_PASSTHROUGH_SEND)(void *handle, QV_DOOR_REQUEST *request);
/* Ordinal 48: free an enumeration block. */
typedef uint32_t (*QV_PASSTHROUGH_FREE_LIST)(void *list);

/* ---- Door 2: the auxiliary driver ----------------------------------- */

#define QV_DRALIK_MODULE "Dralik"
#define QV_DRALIK_MAGIC 0x4B4C5244u /* "DRLK" */
#define QV_DRALIK_IOCTL_GET_VERSION 0x222000u
#define QV_DRALIK_IOCTL_OPEN 0x222004u

typedef struct QV_DRALIK_VERSION_BLOCK { /* 8 bytes, in and out */
  uint32_t magic;
  uint32_t version;
} QV_DRALIK_VERSION_BLOCK;

typedef struct QV_DRALIK_OPEN_BLOCK { /* 2060 bytes, in and out */
  uint32_t magic;
  uint32_t handle; /* out: the device handle */
  uint32_t reserved;
  char name[2048]; /* in: the device name as the application gave it */
} QV_DRALIK_OPEN_BLOCK;

/* "Opening \\.\Dralik": 2 when no drive is served. */
#define QV_DRALIK_ATTACH "QvDralik_Attach"
typedef uint32_t (*QV_DRALIK_ATTACH_FN)(void **driver);
#define QV_DRALIK_DETACH "QvDralik_Detach"
typedef uint32_t (*QV_DRALIK_DETACH_FN)(void *driver);
/* The two control requests. OPEN answers 2 for a name it does not serve. */
#define QV_DRALIK_CONTROL "QvDralik_Control"
typedef uint32_t (*QV_DRALIK_CONTROL_FN)(void *driver, uint32_t code, void *block, uint32_t blockSize);
/* Commands on a device handle from QV_DRALIK_IOCTL_OPEN; result as ordinal 47. */
#define QV_DRALIK_PASS_THROUGH "QvDralik_PassThrough"
typedef uint32_t (*QV_DRALIK_PASS_THROUGH_FN)(uint32_t deviceHandle, QV_DOOR_REQUEST *request);
#define QV_DRALIK_CLOSE_DEVICE "QvDralik_CloseDevice"
typedef uint32_t (*QV_DRALIK_CLOSE_DEVICE_FN)(uint32_t deviceHandle);

#ifdef __cplusplus
}
#endif

#endif /* QUORVANE_QV_DOORS_H */
