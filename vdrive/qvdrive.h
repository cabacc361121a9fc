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

#include "quorvane/qv_doors.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QVDRIVE_API __declspec(dllexport)
#else
#define QVDRIVE_API __attribute__((visibility("default")))
#endif

/* ---- One command, as both doors carry it: the engine's request ------ */

typedef QV_DOOR_REQUEST QVDRIVE_REQUEST;
#define QVDRIVE_DIR_NONE QV_DOOR_DIR_NONE
#define QVDRIVE_DIR_IN QV_DOOR_DIR_IN
#define QVDRIVE_DIR_OUT QV_DOOR_DIR_OUT
#define QVDRIVE_FLAG_TIMING QV_DOOR_FLAG_TIMING

/* ---- Door 1: the pass-through library ------------------------------- */

/* The five entries of quorvane/qv_doors.h, under their export names. */
typedef QV_PASSTHROUGH_PROGRESS QVSPTD_PROGRESS;
QVDRIVE_API uint32_t QvSptd_Ordinal44(uint32_t kind, uint32_t reserved, uint32_t *count, void **list,
                                      QVSPTD_PROGRESS progress);
QVDRIVE_API uint32_t QvSptd_Ordinal45(const char16_t *name, uint32_t flags, void **handle);
QVDRIVE_API uint32_t QvSptd_Ordinal46(void *handle);
QVDRIVE_API uint32_t QvSptd_Ordinal47(void *handle, QVDRIVE_REQUEST *request);
QVDRIVE_API uint32_t QvSptd_Ordinal48(void *list);

/* ---- Door 2: the auxiliary driver ----------------------------------- */

#define QVDRALIK_MAGIC QV_DRALIK_MAGIC
#define DRALIK_IOCTL_GET_VERSION QV_DRALIK_IOCTL_GET_VERSION
#define DRALIK_IOCTL_OPEN QV_DRALIK_IOCTL_OPEN
typedef QV_DRALIK_VERSION_BLOCK DRALIK_VERSION_BLOCK;
typedef QV_DRALIK_OPEN_BLOCK DRALIK_OPEN_BLOCK;

/* "Opening \\.\Dralik": 2 when no virtual drive is configured. */
QVDRIVE_API uint32_t QvDralik_Attach(void **driver);
QVDRIVE_API uint32_t QvDralik_Detach(void *driver);
QVDRIVE_API uint32_t QvDralik_Control(void *driver, uint32_t code, void *block, uint32_t blockSize);
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
/* Writes the user data of the disc's data tracks to an image file, each
 * 2048-byte block at its address (holes stay sparse): a whole ISO 9660
 * volume, also one a multisession disc holds. On DVD+RW and DVD-RAM the
 * image ends with the last block ever written, and needs a volume at 16. */
QVDRIVE_API uint32_t QvDrive_Export(const char *name, const char *imagePath);
/* Writes one track (numbered from 1 over the whole disc) to a file: an
 * audio track as a RIFF WAVE file of its samples, a data track as its
 * 2048-byte user blocks from the track's start. */
QVDRIVE_API uint32_t QvDrive_ExportTrack(const char *name, uint32_t track, const char *path);
/* Writes a CD of one session as a raw image: every 2352-byte sector from
 * LBA 0 to the end of the last track (data sectors whole, with sync,
 * header, subheader and EDC/ECC as the drive reads them with READ CD; the
 * pregaps of later tracks included), and a cue sheet naming the image
 * (AUDIO, MODE1/2352 or MODE2/2352 tracks, INDEX 00 at a pregap, INDEX 01
 * at the track's start). */
QVDRIVE_API uint32_t QvDrive_ExportRaw(const char *name, const char *binPath, const char *cuePath);
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
