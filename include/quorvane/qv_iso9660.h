/* Quorvane: ISO9660 and Joliet images with El Torito boot images.
 *
 * A tree is filled from disk paths, virtual folders and open handles, then
 * built: the whole layout is computed and the image is read as a stream
 * (Quorvane_ISO9660JolietFileTree_Read), the file-system structures from
 * memory and the file data straight from the files. Nothing is written to
 * a temporary file, and the bytes do not depend on the read sizes.
 *
 * Entry points with the status triple (text buffer, its size, system
 * status) after the tree handle return the exception number and fill the
 * triple; the others return 2 for a bad argument and 3 for a wrong state.
 *
 * Names. Names come in as they are on disk (UTF-8 on Linux). The ISO9660
 * hierarchy stores d-characters only: a name is upper-cased and any other
 * character becomes '_'; a file gets one '.' and ";1". By default the
 * ISO9660 name is made from the short name, which on Linux is the long
 * name's first 12 bytes; with the long-name option from the long name's
 * first 31 characters, without ";1". The Joliet hierarchy stores the long
 * name (shorter than 108 bytes) as big-endian UCS-2 with ";1" after file
 * names, cut to 103 units (the extension kept); the characters Joliet
 * forbids (controls, * / : ; ? \) become '_',
 * and so does each character outside the Basic Multilingual Plane (one '_'
 * for the character; UCS-2 cannot hold it). Case is kept.
 *
 * Dates. Records carry the chosen file time in local time with its offset
 * from UTC; the root record of the volume descriptors the UTC time of the
 * build with offset 0. Both come from the engine's clock, which tests and
 * embedders can replace, so images can be reproduced.
 *
 * Limits, refused with clear errors: files of 4 GiB or more (18), more than
 * 65535 folders (20), Joliet names of 108 bytes or more (2).
 */
#ifndef QUORVANE_QV_ISO9660_H
#define QUORVANE_QV_ISO9660_H

#include "qv_files.h"
#include "qv_types.h"

/* Answers to a name collision (callback reason CN_FILE_TREE_NAME_COLLISION).
 * The automation server's type library declares this and the next
 * enumeration too, under the same guards. */
#ifndef QUORVANE_QVX_NAME_COLLISION_SOLUTION_DEFINED
#define QUORVANE_QVX_NAME_COLLISION_SOLUTION_DEFINED
typedef enum QVX_NAME_COLLISION_SOLUTION {
  QVX_NAME_COLLISION_SKIP_NEW = 0,
  QVX_NAME_COLLISION_REPLACE_OLD = 1,
  QVX_NAME_COLLISION_RENAME_NEW = 2,
  QVX_NAME_COLLISION_MERGE_FOLDERS = 3
} QVX_NAME_COLLISION_SOLUTION;
#endif

/* El Torito boot media types. A floppy image must have the floppy's size
 * exactly (1228800, 1474560 or 2949120 bytes). */
#ifndef QUORVANE_QVX_MEDIA_TYPE_DEFINED
#define QUORVANE_QVX_MEDIA_TYPE_DEFINED
typedef enum QVX_MEDIA_TYPE {
  QVX_ELTORITO_MEDIA_CUSTOM = 0, /* no emulation */
  QVX_ELTORITO_MEDIA_FLOPPY120 = 1,
  QVX_ELTORITO_MEDIA_FLOPPY144 = 2,
  QVX_ELTORITO_MEDIA_FLOPPY288 = 3,
  QVX_ELTORITO_MEDIA_HARDDISK = 4
} QVX_MEDIA_TYPE;
#endif

#pragma pack(push, 1)
/* Parameter 1 of a collision callback. With m__UCHAR__IsWide 0 the names
 * are ISO9660 identifiers (8-bit, terminated); with 1 Joliet identifiers
 * as little-endian UTF-16 units, terminated. On return the callback leaves
 * its answer in m__ULONG__Solution and, to rename the new node, the new
 * name in m__UCHAR__Name (an ISO9660 name is upper-cased, cut to 12
 * characters and mapped to d-characters; a Joliet name is cut to 103 units). */
typedef struct QUORVANE_PACKED QUORVANE_NAME_COLLISION {
  QV_UCHAR m__UCHAR__IsWide;
  QV_UCHAR m__UCHAR__Name[520];
  const char *m__PCHAR__ExistingPath; /* the node already in the folder */
  QV_ULONG m__ULONG__ExistingAttributes;
  const char *m__PCHAR__NewPath; /* the node being added */
  QV_ULONG m__ULONG__NewAttributes;
  QV_ULONG m__ULONG__Solution; /* in: the default; out: the answer */
} QUORVANE_NAME_COLLISION, *PQUORVANE_NAME_COLLISION;
#pragma pack(pop)

/* Makes a Joliet tree (joliet != 0) or a plain ISO9660 tree. lockFiles keeps
 * every file open from its addition on; longNames makes ISO9660 names from
 * the long names. 21 before Quorvane_UpStartEx, 4 when memory runs out. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Create(
    QV_HANDLE *tree, char *text, QV_ULONG textSize, QV_ULONG *systemStatus, PQUORVANE_CALLBACK callback,
    void *callbackContext, QV_BOOLEAN ignoreErrors, QV_BOOLEAN lockFiles, QV_BOOLEAN longNames, QV_BOOLEAN joliet);
/* Destroys a tree with its nodes and image; sets *tree to NULL. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Destroy(QV_HANDLE *tree);

/* Adds a file, a folder with its contents, or (path NULL) a virtual folder
 * named newName, under *parent (NULL or pointing at NULL: the root; set to
 * the root then). A trailing '/' is removed, so a folder path adds the
 * folder itself; "/" alone adds what is in the root folder. timeChoice:
 * 0 creation, 1 last access, other last write time. *node receives the node
 * added, or NULL when a collision answer dropped it. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Add(
    QV_HANDLE tree, char *text, QV_ULONG textSize, QV_ULONG *systemStatus, const char *path, const char *newName,
    QV_ULONG timeChoice, QV_HANDLE *parent, QV_HANDLE *node);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_AddW(
    QV_HANDLE tree, char *text, QV_ULONG textSize, QV_ULONG *systemStatus, const QV_WCHAR *path,
    const QV_WCHAR *newName, QV_ULONG timeChoice, QV_HANDLE *parent, QV_HANDLE *node);
/* As Add; a virtual folder made with a file time (100 ns ticks since 1601,
 * UTC) is dated with it instead of now. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_AddEx(
    QV_HANDLE tree, char *text, QV_ULONG textSize, QV_ULONG *systemStatus, const char *path, const char *newName,
    QV_ULONG timeChoice, const QV_ULONGLONG *fileTime, QV_HANDLE *parent, QV_HANDLE *node);
/* A file read from the caller's open handle (a file descriptor on Linux),
 * which is duplicated; size bytes are written. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_AddMemory(
    QV_HANDLE tree, char *text, QV_ULONG textSize, QV_ULONG *systemStatus, QV_HANDLE fileHandle,
    QV_ULONGLONG sizeInUCHARs, const char *name, QV_ULONG timeChoice, QV_HANDLE *parent, QV_HANDLE *node);
/* Removes a node with its kids and sets *node to NULL: 0, or 17 when the
 * node is not in the tree. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Remove(QV_HANDLE tree, QV_HANDLE *node);

/* The El Torito boot image: a file "boot.img" in the root, without a record
 * when hide is set. A second call replaces the first image. A user file of
 * the same name never corrupts the boot entry: if a collision answer
 * replaces or skips the boot image's record, the boot image stays on the
 * disc without a record. 5 with *systemStatus when the file cannot be read. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetBootImage(
    QV_HANDLE tree, const char *path, QV_UCHAR systemType, QV_UCHAR mediaType, QV_UCHAR sectorsToLoad,
    QV_BOOLEAN hide, char *text, QV_ULONG textSize, QV_ULONG *systemStatus);

/* Builds the image at startAddress (0 for a first session); the image is
 * rewound. The volume label goes whole into the volume set identifier (when
 * shorter than 128 bytes) and cut to 32 bytes into the volume identifier;
 * the Joliet volume identifier holds labels of up to 16 characters. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_BuildImage(
    QV_HANDLE tree, char *text, QV_ULONG textSize, QV_ULONG *systemStatus, QV_LONG startAddress, QV_ULONG unused,
    QV_UCHAR xaFlag, const char *volumeLabel, const char *publisher, const char *application);
/* As BuildImage with every descriptor text. Dates are 16 digits
 * "YYYYMMDDhhmmsscc" (UTC) or empty. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_BuildImageEx(
    QV_HANDLE tree, char *text, QV_ULONG textSize, QV_ULONG *systemStatus, QV_LONG startAddress, QV_ULONG unused,
    QV_UCHAR xaFlag, const char *volumeLabel, const char *publisher, const char *application,
    const char *systemIdentifier, const char *copyrightFile, const char *bibliographicFile, const char *creationDate,
    const char *modificationDate, const char *expirationDate, const char *effectiveDate);

/* The image size: returns the low 32 bits, *high the high ones (0 before
 * building). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(QV_HANDLE tree, QV_ULONG *high);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Read(QV_HANDLE tree, char *text,
                                                                        QV_ULONG textSize, QV_ULONG *systemStatus,
                                                                        QV_LONG length, void *buffer);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SeekToBegin(QV_HANDLE tree, char *text,
                                                                               QV_ULONG textSize,
                                                                               QV_ULONG *systemStatus);
/* Stops an addition running on another thread (it fails with 14). Safe to
 * call from a signal handler. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_Cancel(QV_HANDLE tree);

/* Navigation; NULL at the end or for a bad argument. */
QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetRoot(QV_HANDLE tree);
QUORVANE_API QV_LONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetDepth(QV_HANDLE tree);
QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetFirstKid(QV_HANDLE tree, QV_HANDLE node);
QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNextKid(QV_HANDLE tree, QV_HANDLE kid);
QUORVANE_API QV_HANDLE QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetParent(QV_HANDLE tree, QV_HANDLE node);

/* Windows attributes: 0x10 folder, 0x02 hidden (the record's existence
 * bit is set, so readers hide the entry). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetAttributes(QV_HANDLE tree, QV_HANDLE node);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetAttributes(QV_HANDLE tree, QV_HANDLE node,
                                                                                 QV_ULONG attributes);
/* Names, 260 bytes (or units) each; any buffer may be NULL. A virtual
 * folder's path comes back empty. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNames(QV_HANDLE tree, QV_HANDLE node,
                                                                            char *path, char *longName,
                                                                            char *shortName);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNamesW(QV_HANDLE tree, QV_HANDLE node,
                                                                             QV_WCHAR *path, QV_WCHAR *longName,
                                                                             QV_WCHAR *shortName);
/* Plus the ISO9660 identifier (260 bytes) and the Joliet identifier (130
 * UTF-16 units in machine order, terminated; empty in plain trees). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNamesEx(QV_HANDLE tree, QV_HANDLE node,
                                                                              char *path, char *longName,
                                                                              char *shortName, char *isoName,
                                                                              QV_WCHAR *jolietName);
/* Renames without a name check. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetNames(QV_HANDLE tree, QV_HANDLE node,
                                                                            const char *longName,
                                                                            const char *shortName);
/* 3 for a folder ("Node is a directory, not a file!!!"). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs(QV_HANDLE tree,
                                                                                       QV_HANDLE node,
                                                                                       QV_ULONGLONG *size);
/* The size of a file or of everything below a folder: returns the low 32
 * bits, *high the high ones. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeSizeInUCHARs(QV_HANDLE tree,
                                                                                       QV_HANDLE node,
                                                                                       QV_ULONG *high);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeSystemTime(QV_HANDLE tree,
                                                                                     QV_HANDLE node,
                                                                                     QV_SYSTEMTIME *time);
/* The 7-byte recording date of the node's records. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeISO9660DateTime(QV_HANDLE tree,
                                                                                          QV_HANDLE node,
                                                                                          QV_UCHAR *date);
/* The first block of the node's data or directory; 3 before building
 * ("starting LBA is not valid."). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA(QV_HANDLE tree,
                                                                                      QV_HANDLE node,
                                                                                      QV_ULONG *lba);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_SetCallbackContext(QV_HANDLE tree,
                                                                                      void *callbackContext);

/* Import of an earlier session: every folder and file of the ISO9660
 * hierarchy (joliet == 0) or the Joliet one of a data track of the inserted
 * disc (track from 1), or of an image file whose first block is block 0,
 * becomes a node of tree that keeps its old extent: it collides, is
 * replaced and removed like a new node, and building writes its record but
 * not its data. Imported nodes' paths read "ImportingTrack( N ):/A/B" or
 * "ImportingFile( NAME ):/A/B". A track's El Torito boot record is written
 * again when no boot image is set. 2 for a bad track number ("Invalid track
 * number ( %d ) to import!") or when the hierarchy asked for is not there
 * ("Volume descriptor was not found!"). Damaged or unsafe entries (a loop,
 * data past the end of the track, a record overrunning its block, a name
 * holding '/' or control characters, "." or "..") are left out, each told
 * with CN_FILE_TREE_NODE_SKIPPED; nothing is read outside the track (the
 * file). A failure part-way leaves what was imported in the tree. The
 * drive handle is not used by ImportFile and may be NULL there. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_ImportTrack(QV_HANDLE burnerGrabber, QV_HANDLE tree,
                                                                             QV_UCHAR track, QV_BOOLEAN joliet,
                                                                             char *text, QV_ULONG textSize,
                                                                             QV_ULONG *systemStatus);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ISO9660JolietFileTree_ImportFile(QV_HANDLE burnerGrabber, QV_HANDLE tree,
                                                                            const char *fileName, QV_BOOLEAN joliet,
                                                                            char *text, QV_ULONG textSize,
                                                                            QV_ULONG *systemStatus);

#endif /* QUORVANE_QV_ISO9660_H */
