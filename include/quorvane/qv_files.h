/* Quorvane: file sources and file trees. */
#ifndef QUORVANE_QV_FILES_H
#define QUORVANE_QV_FILES_H

#include "qv_types.h"

/* A calendar date and time, laid out as the Windows SYSTEMTIME. */
typedef struct QV_SYSTEMTIME {
  QV_USHORT wYear;
  QV_USHORT wMonth; /* 1-12 */
  QV_USHORT wDayOfWeek; /* 0 Sunday - 6 Saturday */
  QV_USHORT wDay;
  QV_USHORT wHour;
  QV_USHORT wMinute;
  QV_USHORT wSecond;
  QV_USHORT wMilliseconds;
} QV_SYSTEMTIME, *PQV_SYSTEMTIME;

/* Reasons with which a file tree calls its callback; parameter 1 is the
 * node's path or name, for a collision the collision record. A file whose
 * size changed after it was added (or that went away) is reported while the
 * image is read, on the reading thread: the image keeps the size laid out,
 * a grown file cut to it, a shrunk one completed with zeros. */
enum {
  CN_FILE_TREE_NODE_ADDED = 0,
  CN_FILE_TREE_NODE_REMOVED = 1,
  CN_FILE_TREE_NODE_SKIPPED = 2,
  CN_FILE_TREE_NAME_COLLISION = 3,
  CN_FILE_TREE_NODE_CHANGED = 4
};

/* Whether a file can be burnt as an audio track, and how many bytes of CD
 * audio it gives. */

/* True when the 44 bytes are the header of a CD audio wave file: PCM, 2
 * channels, 44100 samples per second, 16 bits, a 16-byte format chunk and
 * the data chunk right behind it. The lengths of the RIFF and data chunks
 * are not checked. */
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_CheckWaveFileHeader(const QV_UCHAR *header);
/* 0 for a raw CD audio image (extension ".bin"), uncompressed CD audio or
 * a file the compressed audio library decodes; else 22. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_IsAudioFileSupported(const char *fileName);
/* The bytes of CD audio the file gives (before the four-second minimum of
 * a track). 0 on success; 5 with *systemStatus when the file cannot be
 * opened or decoded; 18 when the size does not fit 32 bits; 22 with
 * *systemStatus 50 when the file is not audio. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetAudioFileStreamSizeInUCHARs(const char *fileName,
                                                                         QV_ULONG *sizeInUCHARs,
                                                                         QV_ULONG *systemStatus);
/* The title and performer an audio file's tags name (ID3, Vorbis comments,
 * FLAC, a wave file's INFO), UTF-8, each cut to its buffer and
 * NUL-terminated; "" where the file names none. 0, or 5 when the file
 * cannot be read. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ReadAudioTags(const char *fileName, char *title, QV_ULONG titleSize,
                                                          char *performer, QV_ULONG performerSize);

/* Cue sheets as other burning tools write them, read and checked against
 * the files they name before anything is recorded from them. */

typedef struct QUORVANE_CUE_SHEET_OBJECT *PQUORVANE_CUE_SHEET;

/* CD-Text strings; empty when not given. */
typedef struct QUORVANE_CUE_TEXT {
  const char *title;
  const char *performer;
  const char *songwriter;
} QUORVANE_CUE_TEXT;

/* One track. Pointers stay valid until the sheet is destroyed. Blocks of
 * indexes count from the track's first block in its file (INDEX 00 when
 * the pre-gap is in the file); the gaps are not in any file. */
typedef struct QUORVANE_CUE_TRACK {
  QV_LONG number;
  const char *mode; /* "AUDIO", "MODE1/2048", "MODE1/2352", "MODE2/2336", "MODE2/2352" */
  QV_ULONG blockSize;
  const char *file; /* resolved against the sheet's folder */
  const char *fileType; /* "BINARY", "MOTOROLA" (big-endian audio) or "WAVE" (decoded to CD audio) */
  QV_ULONGLONG offset; /* of the track's first byte in the file */
  QV_ULONGLONG bytes; /* taken from the file; a short last audio block is padded with silence */
  QV_ULONG blocks; /* in the file */
  QV_ULONG indexCount;
  const QV_LONG *indexNumbers;
  const QV_ULONG *indexBlocks;
  QV_ULONG pregapBlocks;
  QV_ULONG postgapBlocks;
  const char *isrc;
  QV_BOOLEAN dcp, fourChannel, preEmphasis, scms;
  QUORVANE_CUE_TEXT text;
} QUORVANE_CUE_TRACK;

/* Reads the sheet at path. 0; 87 when it cannot be honoured, with
 * "<path>: line <n>: <reason>" in error (cut to errorSize); 14 when memory
 * runs out. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetOpen(const char *path, PQUORVANE_CUE_SHEET *sheet, char *error,
                                                        QV_ULONG errorSize);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetDestroy(PQUORVANE_CUE_SHEET *sheet);
/* The disc: its track count, catalogue number, CDTEXTFILE and strings
 * (any out pointer may be NULL). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetDiscGet(PQUORVANE_CUE_SHEET sheet, QV_ULONG *trackCount,
                                                           const char **catalog, const char **cdTextFile,
                                                           QUORVANE_CUE_TEXT *text);
/* Track index (0-based); 87 outside the sheet. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetTrackGet(PQUORVANE_CUE_SHEET sheet, QV_ULONG index,
                                                            QUORVANE_CUE_TRACK *track);

/* The strings of CD-Text packs (block 0, single-byte characters) as a
 * READ TOC format 5 answer (with its 4-byte header) or a CDTEXTFILE holds
 * them. 0; 87 when the bytes are no CD-Text (a wrong CRC, a part pack,
 * packs that contradict one another), with the reason in error; 14 when
 * memory runs out. */
typedef struct QUORVANE_CD_TEXT_OBJECT *PQUORVANE_CD_TEXT;
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdTextParse(const QV_UCHAR *data, QV_ULONG size, PQUORVANE_CD_TEXT *text,
                                                       char *error, QV_ULONG errorSize);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdTextDestroy(PQUORVANE_CD_TEXT *text);
/* Entry index: 0 the disc, n track n; *count (may be NULL) the number of
 * entries. 87 past the last. Strings stay valid until the text is destroyed. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdTextGet(PQUORVANE_CD_TEXT text, QV_ULONG index, QV_ULONG *count,
                                                     QUORVANE_CUE_TEXT *entry);

#endif /* QUORVANE_QV_FILES_H */
