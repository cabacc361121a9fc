/* Quorvane: UDF 1.02 and DVD-Video images.
 *
 * A UDF image is read as a stream like an ISO9660 image: nothing is written
 * to a temporary file. Its volume is either pure UDF or a UDF/ISO9660
 * bridge, which also carries an ISO9660 hierarchy of the same files for
 * readers without UDF.
 *
 * Two ways to make one:
 * - a UDF file tree (Quorvane_UDF_CreateFileTree): a tree handle that the
 *   ISO9660/Joliet tree entry points fill from disk paths, build, read,
 *   cancel and destroy, and that Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree
 *   burns. Names are kept as they are (case and any Unicode character; at
 *   most 254 characters below U+0100, else 127 UTF-16 units). Clashing
 *   names go to the tree callback as in ISO9660 trees, the UDF name as a
 *   wide one. A pure UDF image takes files of 4 GiB and more (up to 128
 *   extents of 0x3FFFF800 bytes); a bridge keeps the ISO9660 limit.
 * - UDF tree items (the form DVD-Video images use): the caller formats a
 *   folder or file into each item, then builds the volume with
 *   Quorvane_UDF_CreateEx. Item names are upper-cased; a name that equals
 *   a sibling's ignoring case gets six hexadecimal digits of the parent's
 *   rename counter before its extension ("A000001.TXT").
 *
 * A DVD-Video image (Quorvane_DVDVideo_Create) is a bridge of a VIDEO_TS
 * folder: VIDEO_TS.IFO, VIDEO_TS.VOB, VIDEO_TS.BUP, then each title set's
 * IFO, VOBs and BUP, contiguous in that order, and an empty AUDIO_TS.
 * With patch set, the sector addresses in the IFO and BUP files are
 * rewritten to where the files lie in the image.
 */
#ifndef QUORVANE_QV_UDF_H
#define QUORVANE_QV_UDF_H

#include "qv_files.h"
#include "qv_types.h"

/* A UDF file tree (bridge != 0: with an ISO9660 hierarchy). The other
 * arguments are those of Quorvane_ISO9660JolietFileTree_Create. 21 before
 * Quorvane_UpStartEx, 4 when memory runs out. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_CreateFileTree(QV_HANDLE *tree, char *text, QV_ULONG textSize,
                                                              QV_ULONG *systemStatus, PQUORVANE_CALLBACK callback,
                                                              void *callbackContext, QV_BOOLEAN ignoreErrors,
                                                              QV_BOOLEAN lockFiles, QV_BOOLEAN bridge);

/* A UDF tree item. The caller owns it and keeps it while the items and the
 * volume made from them live; it must be zero before it is formatted. */
typedef struct QUORVANE_UDF_TREE_ITEM {
  void *m__PVOID__Item; /* the engine's data; NULL until formatted and after it is destroyed */
} QUORVANE_UDF_TREE_ITEM, *PQUORVANE_UDF_TREE_ITEM;

/* A volume built from items. m__PVOID__Body is its image: a tree handle
 * that Quorvane_ISO9660JolietFileTree_Read, _SeekToBegin and
 * _GetSizeInUCHARs read and Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree
 * burns. */
typedef struct QUORVANE_UDF_CONTROL_BLOCK {
  QV_HANDLE m__PVOID__Body;
} QUORVANE_UDF_CONTROL_BLOCK, *PQUORVANE_UDF_CONTROL_BLOCK;

/* Formats item as a file at the tail of parent's kids: the file at path is
 * sized and dated (its last write time); a name holding ".IFO" or ".BUP"
 * is read into memory whole. Returns 0, or the system error (2 for a file
 * that is not there, 87 for a bad argument, 8 when memory runs out). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_FormatTreeItemAsFile(PQUORVANE_UDF_TREE_ITEM item,
                                                                    QV_ULONG itemNumber, const char *name,
                                                                    const char *path,
                                                                    PQUORVANE_UDF_TREE_ITEM parent);
/* Formats item as a folder, dated now; with no parent it is a root (its
 * name is then not used). Returns as Quorvane_UDF_FormatTreeItemAsFile. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_FormatTreeItemAsFolder(PQUORVANE_UDF_TREE_ITEM item,
                                                                      QV_ULONG itemNumber, const char *name,
                                                                      PQUORVANE_UDF_TREE_ITEM parent);
/* Navigation over formatted items; NULL at the end or for a bad item. */
QUORVANE_API PQUORVANE_UDF_TREE_ITEM QUORVANE_CALL Quorvane_UDF_GetItemParent(PQUORVANE_UDF_TREE_ITEM item);
QUORVANE_API PQUORVANE_UDF_TREE_ITEM QUORVANE_CALL Quorvane_UDF_GetItemFirstKid(PQUORVANE_UDF_TREE_ITEM item);
QUORVANE_API PQUORVANE_UDF_TREE_ITEM QUORVANE_CALL Quorvane_UDF_GetItemNextSibling(PQUORVANE_UDF_TREE_ITEM item);
/* The first block of a file item's data and its block count in a built
 * volume (3 before it is built, 2 for a bad item). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_GetItemBlocks(PQUORVANE_UDF_TREE_ITEM item, QV_ULONG *firstBlock,
                                                             QV_ULONG *blocks);

/* Builds the volume of the items below root into *control: a bridge when
 * both videoTs and audioTs are given (their folders must be kids of root).
 * The label (at most 15 characters), publisher and application (127) are
 * upper-cased, with every character but A-Z, 0-9 and '_' turned into '_';
 * the date (year % 10000, second % 100, milliseconds / 10 as hundredths)
 * dates the ISO9660 descriptors. 21 before Quorvane_UpStartEx. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_CreateEx(
    PQUORVANE_UDF_TREE_ITEM root, PQUORVANE_UDF_TREE_ITEM videoTs, PQUORVANE_UDF_TREE_ITEM audioTs,
    PQUORVANE_UDF_CONTROL_BLOCK control, char *text, QV_ULONG textSize, QV_ULONG *systemStatus,
    const char *volumeLabel, const char *publisher, const char *application, QV_ULONG year, QV_ULONG month,
    QV_ULONG day, QV_ULONG hour, QV_ULONG minute, QV_ULONG second, QV_ULONG milliseconds);
/* CreateEx with publisher "PUBLISHER: QUORVANE SDK", application
 * "APPLICATION: QUORVANE SDK" and the date 1978-03-10 10:00:00.00. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_Create(PQUORVANE_UDF_TREE_ITEM root,
                                                      PQUORVANE_UDF_TREE_ITEM videoTs,
                                                      PQUORVANE_UDF_TREE_ITEM audioTs,
                                                      PQUORVANE_UDF_CONTROL_BLOCK control, char *text,
                                                      QV_ULONG textSize, QV_ULONG *systemStatus,
                                                      const char *volumeLabel);
/* Destroys the volume in *control (if any) and every item from root down. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_Destroy(PQUORVANE_UDF_TREE_ITEM root,
                                                       PQUORVANE_UDF_CONTROL_BLOCK control);
/* Frees count items (those already freed are passed over). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UDF_DestroyTreeItems(PQUORVANE_UDF_TREE_ITEM items, QV_ULONG count);

/* A DVD-Video image of the VIDEO_TS folder at path. VIDEO_TS.IFO and
 * VIDEO_TS.BUP must be there, and each title set's BUP beside its IFO; the
 * title sets are numbered from 1 up to the first one missing. A required
 * file that cannot be read fails with 5 and the system error in
 * *systemStatus. The texts and the date are those of Quorvane_UDF_CreateEx.
 * 21 before Quorvane_UpStartEx. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_Create(
    QV_HANDLE *image, const char *path, QV_BOOLEAN patch, char *text, QV_ULONG textSize, QV_ULONG *systemStatus,
    const char *volumeLabel, const char *publisher, const char *application, QV_ULONG year, QV_ULONG month,
    QV_ULONG day, QV_ULONG hour, QV_ULONG minute, QV_ULONG second, QV_ULONG milliseconds);
/* Reading the image: 2 for a NULL image. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_Read(QV_HANDLE image, char *text, QV_ULONG textSize,
                                                         QV_ULONG *systemStatus, QV_ULONGLONG length,
                                                         void *buffer);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_SeekToBegin(QV_HANDLE image, char *text, QV_ULONG textSize,
                                                                QV_ULONG *systemStatus);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_GetSizeInUCHARs(QV_HANDLE image, QV_ULONGLONG *size);
/* The image's tree handle, for the recording entry points. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_GetTreePointer(QV_HANDLE image, QV_HANDLE *tree);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DVDVideo_Destroy(QV_HANDLE image);

#endif /* QUORVANE_QV_UDF_H */
