// CQuorvane_SessionRecorder: the recording of one session on the medium in
// the drive, made for one call of the burner-grabber (the facade) and
// following the write strategy of that medium (record/write_strategy.h).
// The session's state that outlives the call (next session allowed, the
// last write mode) stays with the burner-grabber.
#pragma once
#include <cstdint>
#include <memory>

#include "device/drive_quirks.h"
#include "record/write_strategy.h"

class CQuorvane_CdvdBurnerGrabber;
class CQuorvane_FileChain;

// One track-at-once recording, by name.
struct QuorvaneI_TrackRequest {
  int32_t trackType = 1;  // 1 data, 2 audio, any other Mode 2 Form 2
  bool mode2Form1 = false;
  bool testWrite = false;
  bool nextSessionAllowed = false;
  int32_t progressInterval = 0;  // seconds, 0 = never
  int32_t bufferInterval = 0;
  uint8_t subHeader[4] = {};
};

class CQuorvane_SessionRecorder {
 public:
  CQuorvane_SessionRecorder(CQuorvane_CdvdBurnerGrabber& drive, const char* method);
  ~CQuorvane_SessionRecorder();

  // Refuses what cannot be recorded on the disc in the drive before
  // anything on it changes; returns the disc type.
  uint32_t Preflight(const QuorvaneI_TrackRequest& request);
  // Records one track from chain after Preflight; the session stays open.
  void RecordTrack(CQuorvane_FileChain* chain, uint64_t bytes, const QuorvaneI_TrackRequest& request);
  // Closes what track-at-once recorded.
  void CloseSession();

  // ---- What the strategies use ----
  CQuorvane_CdvdBurnerGrabber& Drive() { return m__Drive; }
  const QuorvaneI_DriveQuirks& Quirks() const { return m__Quirks; }
  const char* Method() const { return m__Method; }
  uint32_t DiscType() const { return m__DiscType; }
  bool NextSession() const;
  void Notify(uint32_t reason, uint64_t parameter1 = 0, uint64_t parameter2 = 0);
  void ThrowIfCancelled(uint64_t offset);
  void SendParameters(const QuorvaneI_WriteParameters& parameters);
  // READ TRACK INFORMATION of the invisible track as random-access media
  // report it after their format.
  QuorvaneI_TrackState ReadFormattedTrack();
  // CLOSE TRACK/SESSION and the wait after it, as the drive and the close
  // functions want them.
  void CloseTrackSession(bool immediate, bool function2, bool function1, bool function0, uint16_t track);
  void WaitAfterClose(bool readDiscInformationFirst);
  const char* Vendor() const;
  const char* Product() const;

 private:
  QuorvaneI_TrackState ReadInvisibleTrack(int32_t trackType);
  // The invisible track as the strategy leaves it before the parameters;
  // a disc with data continues in multisession where the medium says so.
  QuorvaneI_TrackState SettleTrack(int32_t trackType);
  void SetTransferSize();
  QuorvaneI_TrackState SetParameters(const QuorvaneI_TrackKind& kind, const QuorvaneI_TrackRequest& request,
                                     const QuorvaneI_TrackState& track);
  uint64_t AnnounceSize(uint64_t bytes, uint64_t blocks, const QuorvaneI_TrackState& track);
  void RewriteVolumeStart(CQuorvane_FileChain* chain, uint64_t bytes, uint32_t firstNwa);
  // Zero blocks after the data; returns the address after them.
  uint32_t WritePadding(uint64_t padding, uint32_t address, int32_t progressInterval, uint64_t written);
  void ChooseStrategy();

  CQuorvane_CdvdBurnerGrabber& m__Drive;
  const char* m__Method;
  QuorvaneI_DriveQuirks m__Quirks;
  uint32_t m__DiscType = 0;
  std::unique_ptr<QuorvaneI_WriteStrategy> m__Strategy;
};

// The track kind of a track type (1 data, 2 audio, other Mode 2 Form 2).
QuorvaneI_TrackKind QuorvaneI_KindOf(int32_t trackType, bool mode2Form1);
