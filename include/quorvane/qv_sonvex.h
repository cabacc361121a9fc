/* Sonvex: the compressed audio library.
 *
 * Turns audio files into the stream that CD audio tracks carry (16-bit
 * signed little-endian PCM, 2 channels, 44100 samples per second, 176400
 * bytes per second) and converts files into one another.
 *
 * Every function returns a 32-bit status: 0 for success, otherwise a
 * system error number (2 file not found, 6 bad handle, 8 out of memory,
 * 13 corrupt compressed data or a wave file without samples, 50 format not supported, 87 bad parameter or
 * a wave header that is not CD audio, 126 decoder library missing, 223 the
 * decoded stream does not fit 32 bits, 996 a file shorter than a wave
 * header, 1223 stopped by the caller's callback) or an HRESULT
 * (SONVEX_STATUS_STREAM_SHAPE, SONVEX_STATUS_SHORT_READ). File names are
 * 8-bit strings (UTF-8 on Linux, the ANSI code page on Windows).
 *
 * Accepted input, tried in this order when a reader is opened:
 *   1. uncompressed CD audio: a RIFF WAVE file whose 44-byte header
 *      describes exactly CD audio (its samples are read from byte 44, or
 *      from its data chunk when other chunks come first), or a file whose
 *      extension is ".raw" (any case; its first 44 bytes are skipped);
 *   2. Ogg Vorbis of 2 channels at 44100 Hz (vorbisfile library);
 *   3. FLAC of 2 channels at 44100 Hz, 8 to 32 bits per sample (FLAC
 *      library), recognised by its "fLaC" signature;
 *      MPEG-1/2/2.5 audio layers I to III (MP3), any rate and channel count,
 *      resampled to 44100 Hz stereo (mpg123 library), recognised by two
 *      consecutive valid frame headers at the start of the file (after an
 *      ID3v2 tag).
 * The decoder libraries are loaded at run time; a missing library makes only
 * its own format unsupported.
 */
#ifndef QUORVANE_QV_SONVEX_H
#define QUORVANE_QV_SONVEX_H

#include "qv_types.h"

/* The library's version, as Sonvex_VersionGet reports it. */
#define SONVEX_LIBRARY_VERSION 0x20060630u

/* An Ogg Vorbis or FLAC stream that is not 2 channels at 44100 Hz. */
#define SONVEX_STATUS_STREAM_SHAPE 0x800700A0u
/* An uncompressed reader asked for more bytes than the file has left. */
#define SONVEX_STATUS_SHORT_READ 0x800703E4u

#pragma pack(push, 1)

/* The PCM description of a wave header, from offset 20 on (16 bytes). */
typedef struct QUORVANE_PACKED SONVEX_WAVE_FORMAT_CHUNK {
  QV_USHORT m__USHORT__Format;                /* 1: PCM */
  QV_USHORT m__USHORT__Channels;              /* 2 */
  QV_ULONG m__ULONG__SamplesPerSecond;        /* 44100 */
  QV_ULONG m__ULONG__AverageSamplesPerSecond; /* bytes per second: 176400 */
  QV_USHORT m__USHORT__Alignment;             /* 4 */
  QV_USHORT m__USHORT__BitsPerSample;         /* 16 */
} SONVEX_WAVE_FORMAT_CHUNK, *PSONVEX_WAVE_FORMAT_CHUNK;

/* The 44-byte RIFF WAVE header of a CD audio file, little-endian. */
typedef struct QUORVANE_PACKED SONVEX_WAVE_FILE_HEADER {
  QV_ULONG m__ULONG__Riff;         /* "RIFF" */
  QV_ULONG m__ULONG__RiffSize;     /* data size + 36 */
  QV_ULONG m__ULONG__Wave;         /* "WAVE" */
  QV_ULONG m__ULONG__FormatTag;    /* "fmt " */
  QV_ULONG m__ULONG__FormatLength; /* 16 */
  SONVEX_WAVE_FORMAT_CHUNK m__SONVEX_WAVE_FORMAT_CHUNK;
  QV_ULONG m__ULONG__DataTag;      /* "data" */
  QV_ULONG m__ULONG__DataSize;     /* bytes of PCM that follow */
} SONVEX_WAVE_FILE_HEADER, *PSONVEX_WAVE_FILE_HEADER;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(SONVEX_WAVE_FORMAT_CHUNK) == 16, "wave format chunk is 16 bytes");
static_assert(sizeof(SONVEX_WAVE_FILE_HEADER) == 44, "wave header is 44 bytes");
#else
typedef char sonvex_check_chunk_size[sizeof(SONVEX_WAVE_FORMAT_CHUNK) == 16 ? 1 : -1];
typedef char sonvex_check_header_size[sizeof(SONVEX_WAVE_FILE_HEADER) == 44 ? 1 : -1];
#endif

/* Reader and writer handles: opaque, checked on every call. */
typedef struct SONVEX_COMPRESSED_FILE_READER_OBJECT SONVEX_COMPRESSED_FILE_READER_OBJECT,
    *PSONVEX_COMPRESSED_FILE_READER_OBJECT;
typedef struct SONVEX_COMPRESSED_FILE_WRITER_OBJECT SONVEX_COMPRESSED_FILE_WRITER_OBJECT,
    *PSONVEX_COMPRESSED_FILE_WRITER_OBJECT;

/* What the writer produces. SONVEX_COMPRESSION_OGG_VORBIS_Q0 to _Q10 write
 * Ogg Vorbis at variable bit rate with the encoder's quality level 0 to 10
 * (about 64 to 500 kbit/s for CD audio; 5 is about 160 kbit/s). The encoder
 * library (vorbisenc) is loaded at run time. Any other value gives 87. */
/* A plain integer, so that any value a caller passes is well defined. */
typedef QV_LONG SONVEX_COMPRESSION;
enum {
  SONVEX_COMPRESSION_OGG_VORBIS_Q0 = 0,
  SONVEX_COMPRESSION_OGG_VORBIS_Q1 = 1,
  SONVEX_COMPRESSION_OGG_VORBIS_Q2 = 2,
  SONVEX_COMPRESSION_OGG_VORBIS_Q3 = 3,
  SONVEX_COMPRESSION_OGG_VORBIS_Q4 = 4,
  SONVEX_COMPRESSION_OGG_VORBIS_Q5 = 5,
  SONVEX_COMPRESSION_OGG_VORBIS_Q6 = 6,
  SONVEX_COMPRESSION_OGG_VORBIS_Q7 = 7,
  SONVEX_COMPRESSION_OGG_VORBIS_Q8 = 8,
  SONVEX_COMPRESSION_OGG_VORBIS_Q9 = 9,
  SONVEX_COMPRESSION_OGG_VORBIS_Q10 = 10,
  SONVEX_COMPRESSION_DEFAULT = SONVEX_COMPRESSION_OGG_VORBIS_Q5
};

/* Conversion progress: reason SONVEX_CALLBACK_PROGRESS with the percent
 * done (0 to 100). A non-zero return stops the conversion with 1223 and the
 * destination file is not left behind. */
#define SONVEX_CALLBACK_PROGRESS 1u
typedef QV_ULONG(QUORVANE_CALL *PSONVEX_CALLBACK)(QV_ULONG reason, QV_ULONG percentDone, void *context);

/* Start-up (banner, debug settings) and shut-down. The engine's own
 * start-up and shut-down call them. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_UpStart(void);
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_DownShut(void);
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_VersionGet(QV_ULONG *version);
/* Reads "DebugLevel", "DebugFacility" and "DebugFileName" of the "Sonvex"
 * settings (the registry on Windows; SONVEX_DEBUG_LEVEL and friends or the
 * [Sonvex] section of the config file on Linux). */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_InitDebugSettings(void);
/* Prepares the calling thread for the system's media decoder: COM on
 * Windows, nothing on Linux. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CoInitialize(void);

/* 0 when the file is uncompressed CD audio (a CD audio wave header or a
 * ".raw" extension). */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_UncompressedFileSupportedIs(const char *fileName);
/* 0 when a reader can be opened on the file. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileSupportedIs(const char *fileName);

QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectCreate(
    PSONVEX_COMPRESSED_FILE_READER_OBJECT *handle, const char *fileName);
/* Closes the reader and clears *handle. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectDestroy(
    PSONVEX_COMPRESSED_FILE_READER_OBJECT *handle);
/* Fills buffer with the next sizeInUCHARs decoded bytes. At the end of a
 * compressed stream the bytes past it are left as they were; an
 * uncompressed reader fails with SONVEX_STATUS_SHORT_READ instead. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectRead(
    PSONVEX_COMPRESSED_FILE_READER_OBJECT handle, void *buffer, QV_ULONG sizeInUCHARs);
/* Rewinds to the first sample. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectBeginSeek(
    PSONVEX_COMPRESSED_FILE_READER_OBJECT handle);
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileReaderObjectUncompressedSizeGet(
    PSONVEX_COMPRESSED_FILE_READER_OBJECT handle, QV_ULONG *sizeInUCHARs);

/* Creates (or truncates) fileName and writes CD audio PCM to it compressed. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileWriterObjectCreate(
    PSONVEX_COMPRESSED_FILE_WRITER_OBJECT *handle, const char *fileName, SONVEX_COMPRESSION compression);
/* PCM in any piece size; an odd tail is kept for the next call. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileWriterObjectWrite(
    PSONVEX_COMPRESSED_FILE_WRITER_OBJECT handle, const void *buffer, QV_ULONG sizeInUCHARs);
/* Finishes the file, frees the writer and clears *handle. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileWriterObjectDestroy(
    PSONVEX_COMPRESSED_FILE_WRITER_OBJECT *handle);

/* File to file. The destination is written under a temporary name beside it
 * and renamed when complete, so a failure or a stop leaves an existing
 * destination as it was and a new one absent. uncompressedSize and
 * callback may be NULL. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileUncompress(
    const char *sourceFileName, const char *destinationFileName, QV_ULONG workingBufferSizeInUCHARs,
    QV_BOOLEAN isWaveHeaderWanted, QV_ULONG *uncompressedSizeInUCHARs, PSONVEX_CALLBACK callback, void *context);
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_UncompressedFileCompress(
    const char *sourceFileName, const char *destinationFileName, QV_ULONG workingBufferSizeInUCHARs,
    PSONVEX_CALLBACK callback, void *context, SONVEX_COMPRESSION compression);
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_CompressedFileRecompress(
    const char *sourceFileName, const char *destinationFileName, QV_ULONG workingBufferSizeInUCHARs,
    QV_ULONG *uncompressedSizeInUCHARs, PSONVEX_CALLBACK callback, void *context, SONVEX_COMPRESSION compression);

/* The CD audio header for dataSizeInUCHARs bytes of PCM. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_WaveFileHeaderFormat(PSONVEX_WAVE_FILE_HEADER header,
                                                                QV_ULONG dataSizeInUCHARs);
/* 0 when the header describes CD audio, else 87. */
QUORVANE_API QV_ULONG QUORVANE_CALL Sonvex_WaveFileHeaderVerify(const SONVEX_WAVE_FILE_HEADER *header);

#endif /* QUORVANE_QV_SONVEX_H */
