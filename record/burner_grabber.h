// CQuorvane_CdvdBurnerGrabber: the one object through which an application
// works with one drive, and the facade of recording. It is the drive with
// reading (grab/grabber.h) and owns the write pipeline (record/pipeline.h);
// each recording call hands its steps to a session recorder
// (record/session_recorder.h), which follows the write strategy of the
// medium in the drive (record/write_strategy.h) and the drive's quirks
// (device/drive_quirks.h). Creating it identifies the drive, reads its
// capabilities and prepares the pipeline.
#pragma once
#include <cstdint>

#include "grab/grabber.h"
#include "record/pipeline.h"
#include "record/session_at_once.h"
#include "record/cd_text.h"
#include "record/session_recorder.h"

class CQuorvane_FileChain;
struct QuorvaneI_RawDisc;

class CQuorvane_CdvdBurnerGrabber : public CQuorvane_CdvdGrabber {
 public:
  // Takes ownership of the transport: it is deleted with the object, and
  // also when construction fails. cacheSizeInMB 0 selects 160.
  CQuorvane_CdvdBurnerGrabber(CQuorvane_ScsiTransport* transport, PQUORVANE_CALLBACK callback, void* context,
                              uint32_t cacheSizeInMB);
  ~CQuorvane_CdvdBurnerGrabber() override;

  // Handles of the C entry points are the drive's address; the recording
  // entry points get the burner-grabber back from one.
  static CQuorvane_CdvdBurnerGrabber* FromDrive(CQuorvane_CdvdDrive* drive) {
    return static_cast<CQuorvane_CdvdBurnerGrabber*>(drive);
  }

  using CQuorvane_ScsiDeviceCdvdRomWriter::Blank;
  using CQuorvane_ScsiDeviceCdvdRomWriter::SynchronizeCache;

  // Records one track from a chain. The session stays open for
  // CloseSession.
  void TrackAtOnce(CQuorvane_FileChain* chain, const QuorvaneI_TrackRequest& request);
  // The same by position: trackType 1 data, 2 audio, any other Mode 2 Form 2.
  void TrackAtOnce(CQuorvane_FileChain* chain, bool mode2Form1, bool testWrite, bool nextSessionAllowed,
                   int32_t progressInterval, int32_t bufferInterval, int32_t trackType, uint8_t subHeader0,
                   uint8_t subHeader1, uint8_t subHeader2, uint8_t subHeader3);
  void CloseSession();
  // Records a whole session at once (write type 2, with a cue sheet) on a
  // blank CD; computes each track's size from its source. The drive closes
  // the session.
  void SessionAtOnce(QuorvaneI_SaoLayout& layout, const QuorvaneI_SaoRequest& request);
  // The same session with one reader thread for all tracks, read back to back.
  void SessionAtOnceEx(QuorvaneI_SaoLayout& layout, const QuorvaneI_SaoRequest& request);
  // One track of it from address (its pre-gap's first block); returns the
  // address after its post-gap. ownReader: the track starts and ends its
  // own reader thread; otherwise the session's one reader is feeding it.
  uint32_t SessionAtOnceTrack(const QuorvaneI_SaoTrack& track, int32_t index, uint32_t address,
                              const QuorvaneI_SaoRequest& request, bool ownReader = true);
  // The prepared CD-Text groups as the lead-in's R-W, from leadIn to the
  // first pre-gap, after a cue sheet that asked for them.
  void WriteLeadInText(const char* method, int32_t leadIn);
  // CD-Text of the disc (track 0) or a track for the lead-in of the next
  // raw P-W or session-at-once recording without data; a refusal throws
  // exception 5. The songwriter goes to a track added so.
  void AddCDTextForTrack(int32_t track, const char* title, const char* performer);
  void AddCDTextSongwriter(int32_t track, const char* songwriter);
  const CQuorvane_CDText& GetCDText() const { return m__CQuorvane_CDText; }
  // CD-Text packs read from a disc, for the next raw P-W lead-in.
  uint32_t SetCDTextPacks(const uint8_t* packs, size_t size) { return m__CQuorvane_CDText.SetPacks(packs, size); }
  // One cooked track (2352-byte audio frames or 2048-byte data blocks)
  // written raw from the start of the lead-in to the end of the lead-out,
  // each sector with formatted P-Q (2368 bytes) or raw P-W (2448).
  struct DiscAtOnceRequest {
    bool audio = true;
    bool testWrite = false;
    int32_t progressInterval = 0;
    int32_t bufferInterval = 0;
  };
  void DiscAtOncePQ(CQuorvane_FileChain* chain, const DiscAtOnceRequest& request);
  void DiscAtOnceRawPW(CQuorvane_FileChain* chain, const DiscAtOnceRequest& request);
  // A whole layout raw, disc-at-once (request.audio is not read): tracks
  // made from cooked sources, or sectors given with their P-W (raw P-W
  // only). A layout that cannot be a disc throws 2 before the drive is
  // touched.
  void DiscAtOnceLayout(QuorvaneI_RawDisc& disc, bool rawPW, const DiscAtOnceRequest& request);
  void Blank(int32_t blankingType, int32_t address);
  void BlankForCDRW(int32_t blankingType, int32_t address);
  void BlankForDVDPLUSRW();
  void FormatUnitForDVDPLUSRW();
  void FormatUnitForDVDRAM();
  void FormatUnitForDVDRW(bool quick);
  // The wait after BLANK or FORMAT UNIT (up to two hours), reporting the
  // drive's progress with CN_BLANK_FORMAT_PROGRESS.
  bool WaitForLongOperation(bool readDiscInformationFirst);
  // Stops the pipeline's reader thread; never throws. 0 or a system status.
  uint32_t ShutDownCacheThread() { return m__QuorvaneI_WritePipeline__Pipeline.Stop(); }
  // Flushes the drive and waits until it is ready.
  void SynchronizeCache();
  uint8_t GetLastWriteMode() const { return m__UCHAR__LastWriteMode; }
  uint32_t GetQueuedCacheObjects() const { return m__QuorvaneI_WritePipeline__Pipeline.QueuedBuffers(); }
  int32_t GetCacheSizeInBytes() const { return m__QuorvaneI_WritePipeline__Pipeline.CacheSizeInBytes(); }
  int32_t GetCacheObjectCount() const { return m__QuorvaneI_WritePipeline__Pipeline.PoolCount(); }
  // Throws 4 when its memory cannot be had.
  CQuorvane_CacheManager* GetCacheManager() { return m__QuorvaneI_WritePipeline__Pipeline.Pool(); }

 protected:
  friend class CQuorvane_SessionRecorder;

  // What every recording mode does when it fails after the drive was
  // touched: the reader thread stopped, what was written flushed, the disc
  // ejected where the settings say so. Never throws.
  void AbandonRecording(const char* method);
  // SessionAtOnce and SessionAtOnceEx: one reader per track, or one for all.
  void RecordSessionAtOnce(QuorvaneI_SaoLayout& layout, const QuorvaneI_SaoRequest& request, bool oneReader);

  // The recording modes' hold on the pipeline (record/pipeline.h).
  using WriteLoop = QuorvaneI_WriteLoop;
  void StartPipeline(const char* method, CQuorvane_FileChain* source, int32_t blockSize) {
    m__QuorvaneI_WritePipeline__Pipeline.Start(method, source, blockSize);
  }
  void StartPipelineEx(const char* method, CQuorvane_FileChain** sources, int32_t* blockSizes, int32_t count) {
    m__QuorvaneI_WritePipeline__Pipeline.StartMany(method, sources, blockSizes, count);
  }
  // Moves the write address along as blocks reach the drive.
  uint32_t RunWriteLoop(const char* method, const WriteLoop& loop) {
    return m__QuorvaneI_WritePipeline__Pipeline.Write(method, loop, m__ULONG__CurrentWriteAddress);
  }
  // What every recording mode does after its data: the closing callbacks,
  // the flush and the reader thread's end.
  void FinishWriting();
  void JoinCacheThread() { m__QuorvaneI_WritePipeline__Pipeline.Join(); }
  // Cancel takes effect between any two steps that change the disc: the
  // exception of a cancel (number 14) when Cancel was called since the
  // recording began; offset says how many bytes of the source were written.
  void ThrowIfCancelled(const char* method, uint64_t offset) { m__QuorvaneI_WritePipeline__Pipeline.ThrowIfCancelled(method, offset); }

  void DiscAtOnceOneTrack(const char* method, bool rawPW, CQuorvane_FileChain* chain,
                          const DiscAtOnceRequest& request);
  void DiscAtOnce(const char* method, bool rawPW, QuorvaneI_RawDisc& disc, const DiscAtOnceRequest& request);
  void WriteRawArea(const char* method, const char* area, const uint8_t* sectors, uint32_t count, size_t sectorSize);

  bool m__BOOLEAN__IsNextSession = false;
  CQuorvane_CDText m__CQuorvane_CDText;
  uint8_t m__UCHAR__LastWriteMode = 0;

  QuorvaneI_WritePipeline m__QuorvaneI_WritePipeline__Pipeline;
  uint32_t m__ULONG__CurrentWriteAddress = 0;  // where the next WRITE(10) goes; 0 before any
};
