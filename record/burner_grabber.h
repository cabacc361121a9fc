// CQuorvane_CdvdBurnerGrabber: the one object through which an application
// works with one drive, and the facade of recording. It is the drive with
// reading (grab/grabber.h) and the write pipeline (record/pipeline.cpp);
// each recording call hands its steps to a session recorder
// (record/session_recorder.h), which follows the write strategy of the
// medium in the drive (record/write_strategy.h) and the drive's quirks
// (record/drive_quirks.h). Creating it identifies the drive, reads its
// capabilities and prepares the pipeline.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "grab/grabber.h"
#include "platform/event.h"
#include "record/cache.h"
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
  // CD-Text of the disc (track 0) or a track for the lead-in of the next
  // raw P-W recording without data; a refusal throws exception 5.
  void AddCDTextForTrack(int32_t track, const char* title, const char* performer);
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
  // The reader thread's bodies; 0 or the status of a failed event call.
  static uint32_t WriteCacheThread(CQuorvane_CdvdBurnerGrabber* grabber);
  static uint32_t WriteCacheThreadEx(CQuorvane_CdvdBurnerGrabber* grabber);
  // Stops the reader thread; never throws. 0 or a system status.
  uint32_t ShutDownCacheThread();
  // Flushes the drive and waits until it is ready.
  void SynchronizeCache();
  uint8_t GetLastWriteMode() const { return m__UCHAR__LastWriteMode; }
  uint32_t GetQueuedCacheObjects() const { return static_cast<uint32_t>(std::max(m__LONG__QueuedObjects.load(), 0)); }
  int32_t GetCacheSizeInBytes() const { return m__LONG__CacheSize; }
  int32_t GetCacheObjectCount() const { return m__LONG__CacheObjects; }
  // Throws 4 when its memory cannot be had.
  CQuorvane_CacheManager* GetCacheManager();

 protected:
  void BuildWritePipeline(uint32_t cacheSizeInMB);

  friend class CQuorvane_SessionRecorder;

  // What every recording mode does when it fails after the drive was
  // touched: the reader thread stopped, what was written flushed, the disc
  // ejected where the settings say so. Never throws.
  void AbandonRecording(const char* method);
  // SessionAtOnce and SessionAtOnceEx: one reader per track, or one for all.
  void RecordSessionAtOnce(QuorvaneI_SaoLayout& layout, const QuorvaneI_SaoRequest& request, bool oneReader);

  // The write pipeline's steps (record/pipeline.cpp).
  struct WriteLoop {
    uint32_t address = 0;          // first block to write
    uint64_t totalBlocks = 0;      // for the progress reports
    int32_t progressInterval = 0;  // seconds, 0 = never
    int32_t bufferInterval = 0;
    bool readBufferCapacity = true;
    bool fullLastPacket = false;  // the end-marked buffer goes out as 16 whole blocks
  };
  // Resets events, queue and pool and starts the reader thread on sources.
  void StartPipeline(const char* method, CQuorvane_FileChain* source, int32_t blockSize);
  // The same with one reader for count sources read in order, each with
  // its block size; each source's last buffer carries the end marker.
  void StartPipelineEx(const char* method, CQuorvane_FileChain** sources, int32_t* blockSizes, int32_t count);
  void StartReader(const char* method, CQuorvane_FileChain* source, int32_t blockSize,
                   const std::function<void()>& reader);
  // Writes what the reader thread queues until its end marker; returns
  // the address after the last block written.
  uint32_t RunWriteLoop(const char* method, const WriteLoop& loop);
  // What every recording mode does after its data: the closing callbacks,
  // the flush and the reader thread's end.
  void FinishWriting();
  void JoinCacheThread();
  // Cancel takes effect between any two steps that change the disc: the
  // exception of a cancel (number 14) when Cancel was called since the
  // recording began; offset says how many bytes of the source were written.
  void ThrowIfCancelled(const char* method, uint64_t offset);
  // The reader thread's reads give up once this holds: it was told to die,
  // or the recording was cancelled.
  static bool ReaderMustStop(const void* grabber);
  static uint32_t ReadSource(CQuorvane_CdvdBurnerGrabber* grabber, const char* method, CQuorvane_FileChain* source,
                             int32_t sourceBlockSize, bool* cacheFullSet, uint32_t* lastStatus);

  void DiscAtOnceOneTrack(const char* method, bool rawPW, CQuorvane_FileChain* chain,
                          const DiscAtOnceRequest& request);
  void DiscAtOnce(const char* method, bool rawPW, QuorvaneI_RawDisc& disc, const DiscAtOnceRequest& request);
  void WriteRawArea(const char* method, const char* area, const uint8_t* sectors, uint32_t count, size_t sectorSize);

  bool m__BOOLEAN__IsNextSession = false;
  CQuorvane_CDText m__CQuorvane_CDText;
  uint8_t m__UCHAR__LastWriteMode = 0;

  // The write pipeline: pool, queue, events and what the reader thread
  // reads.
  int32_t m__LONG__CacheSize = 0;
  int32_t m__LONG__CacheObjects = 0;
  std::unique_ptr<CQuorvane_CacheManager> m__PCQuorvane_CacheManager__CacheManager;
  CQuorvane_LockedFifoQueue m__CQuorvane_LockedFifoQueue__DataQueue;
  std::unique_ptr<qv::plat::ManualResetEvent> m__HANDLE__CacheFullEvent;
  std::unique_ptr<qv::plat::ManualResetEvent> m__HANDLE__CacheThreadDeadEvent;
  std::atomic<int32_t> m__LONG__DieCounter{0};
  std::atomic<uint8_t> m__UCHAR__IsCacheThreadRunning{0};
  CQuorvane_FileChain* m__PCQuorvane_FileChain__Source = nullptr;
  CQuorvane_FileChain** m__PPCQuorvane_FileChain__Sources = nullptr;
  int32_t m__LONG__SourceCount = 0;
  int32_t* m__PLONG__SourceBlockSizes = nullptr;
  int32_t m__LONG__BlockSize = 0;
  std::thread m__HANDLE__CacheThread;
  std::atomic<int32_t> m__LONG__QueuedObjects{0};  // filled buffers in the data queue, for the progress display
  uint32_t m__ULONG__CurrentWriteAddress = 0;      // where the next WRITE(10) goes; 0 before any
};
