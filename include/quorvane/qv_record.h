/* Quorvane: recording with the burner-grabber - track-at-once from a file,
 * closing the session, blanking and formatting.
 *
 * Progress reaches the callback given at creation. Numeric callback
 * parameters travel in the pointer parameters themselves: cast them to
 * uintptr_t (for example CN_CDVD_WRITE_PROGRESS: total blocks, blocks
 * written; CN_CDVD_BUFFER_STATUS: drive buffer bytes, free bytes). */
#ifndef QUORVANE_QV_RECORD_H
#define QUORVANE_QV_RECORD_H

#include "qv_types.h"

#define QUORVANE_STATUS_RECORD \
  char *exceptionText, QV_ULONG exceptionTextSize, QV_ULONG *systemError, CDB_FAILURE_INFORMATION *cdbFailure

/* Records one track from a file: an audio file the engine decodes as CD
 * audio, anything else as data (an ISO image). Intervals in seconds, 0 for
 * no reports. The session stays open: close it with CloseSession unless
 * this was a test write. Quorvane_CdvdBurnerGrabber_Cancel stops it from
 * another thread with exception 14. A file that changes size while it is
 * read keeps its first size and is reported with CN_FILE_CHANGED. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFile(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *fileName, QV_BOOLEAN mode2Form1, QV_BOOLEAN testWrite,
    QV_BOOLEAN nextSessionAllowed, QV_LONG progressInterval, QV_LONG bufferInterval);
/* The kinds of track TrackAtOnceFromFileEx records. */
enum {
  QVX_TRACK_FROM_FILE_GUESS = 0, /* as TrackAtOnceFromFile: audio when the file is audio */
  QVX_TRACK_FROM_FILE_DATA = 1,  /* a data track, whatever the file's name */
  QVX_TRACK_FROM_FILE_AUDIO = 2  /* an audio track; a file that is not audio gives exception 22 */
};
/* TrackAtOnceFromFile with the kind of track chosen by the caller. A data
 * file that is not whole 2048-byte blocks is padded with zeros to the next
 * block, an audio stream to the next whole 2352-byte frame (and to four
 * seconds). Nothing is sent to the drive when the file cannot be opened or
 * is not of the kind asked for. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TrackAtOnceFromFileEx(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *fileName, QV_ULONG trackKind, QV_BOOLEAN mode2Form1,
    QV_BOOLEAN testWrite, QV_BOOLEAN nextSessionAllowed, QV_LONG progressInterval, QV_LONG bufferInterval);
/* Records one data track from an ISO9660/Joliet tree whose image is built
 * (Quorvane_ISO9660JolietFileTree_BuildImage, at the disc's next writable
 * address when appending a session): the image is read straight from the
 * tree, no image file is made. Otherwise as TrackAtOnceFromFile; a tree
 * not built yet gives exception 2. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_HANDLE tree, QV_BOOLEAN mode2Form1, QV_BOOLEAN testWrite,
    QV_BOOLEAN nextSessionAllowed, QV_LONG progressInterval, QV_LONG bufferInterval);
/* Records a Video CD (MPEG-1 system stream) or a Super Video CD (MPEG-2
 * program stream) from one MPEG file made of 2324-byte packs: a Mode 2
 * Form 1 data track (the file system and control files, from the template
 * "Quorvane_VideoCD.ISO" or "Quorvane_SuperVideoCD.ISO" beside the
 * library) and a Mode 2 Form 2 track of the stream, both track-at-once.
 * The album (at most 16 characters reach the information file) and the
 * album's volume count and number are recorded. A file that is not such a
 * stream gives exception 2 before the drive is touched. Close the session
 * afterwards, as after TrackAtOnceFromFile. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_VideoCD(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *mpegFileName, const char *album, QV_USHORT volumes,
    QV_USHORT volumeNumber, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SuperVideoCD(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *mpegFileName, const char *album, QV_USHORT volumes,
    QV_USHORT volumeNumber, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval);
/* The check those entry points make of the stream, before a drive is
 * touched: exception 2 with the reason in text when mpegFileName is not an
 * MPEG-1 system stream (superVideoCd 0) or MPEG-2 program stream
 * (superVideoCd 1) of whole 2324-byte packs. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_VideoCD_CheckStream(const char *mpegFileName, QV_BOOLEAN superVideoCd,
                                                                 char *text, QV_ULONG textSize);
/* The recording modes of the Ex forms; any other value records nothing. */
enum {
  QVX_VIDEO_CD_TRACK_AT_ONCE = 0,  /* as the plain forms */
  QVX_VIDEO_CD_SESSION_AT_ONCE = 1 /* both tracks in one CD-ROM XA session-at-once layout; the drive closes it */
};
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_VideoCDEx(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_ULONG mode, const char *mpegFileName, const char *album,
    QV_USHORT volumes, QV_USHORT volumeNumber, QV_BOOLEAN testWrite, QV_LONG progressInterval,
    QV_LONG bufferInterval);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SuperVideoCDEx(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, QV_ULONG mode, const char *mpegFileName, const char *album,
    QV_USHORT volumes, QV_USHORT volumeNumber, QV_BOOLEAN testWrite, QV_LONG progressInterval,
    QV_LONG bufferInterval);
/* Closes what track-at-once recorded: the disc stays appendable when
 * nextSessionAllowed was set. */
/* One track of a session-at-once layout: a file, decoded when it is audio
 * (padded to whole 2352-byte frames) and read as it is otherwise (whole
 * 2048-byte blocks, 2336 for Mode 2 or in a CD-ROM XA session). */
typedef struct _QUORVANE_SAO_TRACK {
  const char *m__PCHAR__FileName;
  QV_BOOLEAN m__BOOLEAN__IsAudio;
  QV_BOOLEAN m__BOOLEAN__IsMode2;
  QV_LONG m__LONG__PregapBlocks;      /* the pause before index 1: 150 for the first track, 0 for none */
  QV_LONG m__LONG__PregapExtraBlocks; /* added to it */
  QV_LONG m__LONG__PostgapBlocks;     /* zeros after the data, still in the track */
  char m__CHAR__Isrc[13];             /* 12 characters, or empty */
  QV_LONG m__LONG__IndexCount;        /* index 2, 3, ...: blocks from index 1, rising */
  QV_LONG m__LONG__Indexes[98];
} QUORVANE_SAO_TRACK;
/* Records the tracks in one session at once (write type 2, with a cue
 * sheet) on a blank CD-R or CD-RW; catalog: 13 digits or NULL. The drive
 * closes the session (left open for another with nextSession). A layout
 * that cannot be recorded gives exception 2 before the drive is touched; a
 * disc other than a blank CD gives exception 10. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SessionAtOnce(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const QUORVANE_SAO_TRACK *tracks, QV_LONG trackCount,
    const char *catalog, QV_BOOLEAN xa, QV_BOOLEAN testWrite, QV_BOOLEAN nextSession, QV_LONG progressInterval,
    QV_LONG bufferInterval);
/* The same session with one reader thread feeding all tracks in order. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SessionAtOnceEx(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const QUORVANE_SAO_TRACK *tracks, QV_LONG trackCount,
    const char *catalog, QV_BOOLEAN xa, QV_BOOLEAN testWrite, QV_BOOLEAN nextSession, QV_LONG progressInterval,
    QV_LONG bufferInterval);
/* Whether the cue sheet at cueFileName (BINARY, MOTOROLA or WAVE files;
 * AUDIO, MODE1/2048, MODE1/2352, MODE2/2336 and MODE2/2352 tracks) can be
 * recorded session-at-once: 0, or 2 with the reason ("line N: ...") in
 * error. Reads the sheet and opens its files; touches no drive. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetCheckSessionAtOnce(const char *cueFileName, char *error,
                                                                      QV_ULONG errorSize);
/* The same for a raw disc-at-once recording, which takes AUDIO, MODE1/2048
 * and MODE1/2352 tracks without POSTGAP and a first pause of two seconds
 * at most, silent when the file holds it. Either check refuses CD-Text
 * with data tracks. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CueSheetCheckRaw(const char *cueFileName, char *error,
                                                            QV_ULONG errorSize);
/* Records the cue sheet's tracks in one session at once on a blank CD:
 * 2352-byte data tracks as the raw sectors the file holds, pre-gaps stored
 * in the file from the file, PREGAP and POSTGAP as silence or empty
 * sectors, indexes, ISRCs, the catalogue number, the FLAGS and the CD-Text
 * (TITLE, PERFORMER, SONGWRITER, CDTEXTFILE) in the lead-in. The session
 * is closed. Text given with AddCDTextForTrack before the call wins over
 * the sheet's, string by string. A sheet that cannot be recorded gives
 * exception 2. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SessionAtOnceFromCueSheet(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *cueFileName, QV_BOOLEAN testWrite, QV_LONG progressInterval,
    QV_LONG bufferInterval);
/* The same sheet written raw P-W, disc-at-once, the engine making every
 * sector and its subchannel (Quorvane_CueSheetCheckRaw says what it takes). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceFromCueSheet(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *cueFileName, QV_BOOLEAN testWrite, QV_LONG progressInterval,
    QV_LONG bufferInterval);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_CloseSession(QV_HANDLE handle, QUORVANE_STATUS_RECORD);
/* Empties a rewritable disc: blankingType 0 whole disc, 1 minimal (CD-RW
 * and DVD-RW); DVD+RW and DVD-RAM are formatted anew. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Blank(QV_HANDLE handle, QUORVANE_STATUS_RECORD,
                                                                   QV_LONG blankingType);
/* Formats the disc for recording: DVD+RW, DVD-RAM, or DVD-RW (quick, to
 * restricted overwrite). Other media give exception 2. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Format(QV_HANDLE handle, QUORVANE_STATUS_RECORD);

/* How full the host cache is while recording: buffers read ahead and not
 * yet written, of all buffers. Safe from any thread, like Cancel. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetCacheFill(QV_HANDLE handle, QV_ULONG *queued,
                                                                          QV_ULONG *total);

/* CD-Text: the title and performer of the disc (track 0) or of a track
 * (1-100), kept by the grabber for the lead-in of the next raw P-W or
 * session-at-once recording without data. Sends nothing to the drive, so there is no
 * failure record; a text longer than 160 characters is refused (87). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_AddCDTextForTrack(
    QV_HANDLE handle, QV_LONG track, const char *title, const char *performer, char *text, QV_ULONG textSize,
    QV_ULONG *systemError);
/* One file as the one track of a whole disc written raw, disc-at-once,
 * from the start of the lead-in: the engine makes every sector with its
 * subchannel, P-Q (2368-byte blocks) or raw P-W (2448, with the CD-Text
 * in the lead-in of an audio disc). trackKind as TrackAtOnceFromFileEx.
 * The disc is complete afterwards. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOncePQFromFile(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *fileName, QV_ULONG trackKind, QV_BOOLEAN testWrite,
    QV_LONG progressInterval, QV_LONG bufferInterval);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceRawPWFromFile(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *fileName, QV_ULONG trackKind, QV_BOOLEAN testWrite,
    QV_LONG progressInterval, QV_LONG bufferInterval);
/* Tracks written raw, disc-at-once, as one session that closes the disc:
 * tracks as for SessionAtOnce, audio files or Mode 1 data files (no Mode
 * 2, no post-gap); the first track's pause is 150 blocks, every track at
 * least four seconds. The engine makes every sector with its subchannel:
 * the pauses, indexes, ISRCs and catalogue number in the Q, and with rawPW
 * the CD-Text of AddCDTextForTrack in the lead-in of an audio disc
 * (2448-byte sectors; formatted P-Q, 2368, otherwise). A layout that
 * cannot be recorded, or does not fit the disc, gives exception 2 before
 * anything is written. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceRaw(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const QUORVANE_SAO_TRACK *tracks, QV_LONG trackCount,
    const char *catalog, QV_BOOLEAN rawPW, QV_BOOLEAN testWrite, QV_LONG progressInterval, QV_LONG bufferInterval);
/* A disc grabbed into a description (.mds) and its image, burnt back. A
 * CD raw P-W: the image's sectors with the subchannel it holds, the
 * lead-in, first pause and lead-out made from the description. A DVD: its
 * parts, in order, as one data track onto a DVD. A description the grabber
 * would not write, a CD of more than one session (exception 19: only a
 * blank disc is written raw), or one naming a file outside its folder
 * gives an exception before the drive is written. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_DiscAtOnceFromMDS(
    QV_HANDLE handle, QUORVANE_STATUS_RECORD, const char *mdsName, QV_BOOLEAN testWrite, QV_LONG progressInterval,
    QV_LONG bufferInterval);

/* What a description (.mds) asks of a disc: *isDvd 1 for a DVD's, and the
 * blocks from LBA 0 to the end of its last track. 0, or the system status
 * of the description's reading (11 malformed, 123 an image outside its
 * folder, 996 cut short). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_MDSGetDiscSize(const char *mdsName, QV_ULONG *isDvd, QV_ULONG *blocks);

#undef QUORVANE_STATUS_RECORD

#endif /* QUORVANE_QV_RECORD_H */
