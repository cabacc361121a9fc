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

#endif /* QUORVANE_QV_FILES_H */
