// The write strategies, one per kind of medium.
#include <cstring>

#include "core/bytes.h"
#include "core/log.h"
#include "core/settings.h"
#include "device/guarded.h"
#include "record/burner_grabber.h"
#include "record/session_recorder.h"
#include "record/write_strategy.h"

namespace {

constexpr const char* kClose = "CQuorvane_CdvdBurnerGrabber::CloseSession";
constexpr const char* kClosePlus = "CQuorvane_CdvdBurnerGrabber::CloseSessionForDVDPLUSROrDVDPLUSRDL";
constexpr const char* kPioneer = "CQuorvane_CdvdBurnerGrabber::CloseSessionForPIONEER";
constexpr uint64_t kPaddedBlocks = 524288;  // 1 GB of 2048-byte blocks
constexpr uint32_t kPacketBlocks = 16;
constexpr uint32_t kBlock = 2048;

QuorvaneI_WriteParameters Page(uint8_t writeType, uint8_t dataBlockType, uint8_t trackMode, bool testWrite,
                               bool multiSession, bool linkSizeValid) {
  QuorvaneI_WriteParameters w;
  w.writeType = writeType;
  w.dataBlockType = dataBlockType;
  w.trackMode = trackMode;
  w.testWrite = testWrite;
  w.multiSession = multiSession;
  w.linkSizeValid = linkSizeValid;
  return w;
}

// CLOSE SESSION as most drives take it: with Immed, and without when a
// drive refuses that.
void CloseAsDrivesDo(CQuorvane_SessionRecorder& r) {
  const uint8_t track = r.Drive().GetCurrentTrackNumber();
  const bool synchronous = r.Quirks().Has(kQuirkSynchronousClose) ||
                           (r.DiscType() == DISC_TYPE_CDR && r.Quirks().Has(kQuirkSynchronousCloseOnCdR));
  if (synchronous) {
    QuorvaneI_Log("\n%s(): Synchronous close session for <%s> <%s> device\n", kClose, r.Vendor(), r.Product());
    r.CloseTrackSession(false, false, true, false, track);
  } else {
    QuorvaneI_Log("\n%s(): Generic async close session\n", kClose);
    try {
      r.CloseTrackSession(true, false, true, false, track);
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Caught owned(e);
      QuorvaneI_Log("\n%s(): Async close session failed, status %ld\n", kClose, static_cast<long>(e->Number()));
      QuorvaneI_Log("\n%s(): Sync close session, async good ( %d )\n", kClose, 0);
      r.CloseTrackSession(false, false, true, false, track);
    }
  }
  r.WaitAfterClose(true);
  QuorvaneI_Log("\n%s(): EXITing with success #1\n", kClose);
}

// ---- CD ----

class CdTrackAtOnce : public QuorvaneI_WriteStrategy {
 public:
  const char* Name() const override { return "CD track-at-once"; }
  bool IsCd() const override { return true; }
  uint32_t TransferSize() const override { return 61440; }
  QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind& kind, bool testWrite, bool next) const override {
    QuorvaneI_WriteParameters w = Page(1, kind.dataBlockType, kind.trackMode, testWrite, next, false);
    w.sessionFormat = kind.sessionFormat;
    return w;
  }
  uint64_t PaddingBlocks(uint64_t, bool) const override { return 0; }
  void Close(CQuorvane_SessionRecorder& r) override { CloseAsDrivesDo(r); }
};

// Session-at-once and raw disc-at-once close their session themselves,
// through the cue sheet or the lead-out written; a later close does
// nothing.
class CdWholeSession : public QuorvaneI_WriteStrategy {
 public:
  explicit CdWholeSession(uint8_t writeMode) : m__WriteMode(writeMode) {}
  const char* Name() const override {
    return m__WriteMode == kWriteModeSessionAtOnce ? "CD session-at-once" : "CD raw disc-at-once";
  }
  bool IsCd() const override { return true; }
  uint32_t TransferSize() const override { return 61440; }
  QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind& kind, bool testWrite, bool next) const override {
    if (m__WriteMode == kWriteModeSessionAtOnce) {
      QuorvaneI_WriteParameters w = Page(2, 8, 4, testWrite, next, false);
      w.sessionFormat = kind.sessionFormat;
      return w;
    }
    QuorvaneI_WriteParameters w = Page(3, kind.dataBlockType, 0, testWrite, next, false);
    w.sessionFormat = kind.sessionFormat;
    return w;
  }
  uint64_t PaddingBlocks(uint64_t, bool) const override { return 0; }
  void Close(CQuorvane_SessionRecorder&) override {
    QuorvaneI_Log("\n%s(): EXITing with failure, last write mode is %ld instead of %ld\n", kClose,
                  static_cast<long>(m__WriteMode), static_cast<long>(kWriteModeTrackAtOnce));
  }

 private:
  uint8_t m__WriteMode;
};

// ---- DVD-R and DVD-RW ----

class DashSequential : public QuorvaneI_WriteStrategy {
 public:
  explicit DashSequential(uint32_t discType) : m__DiscType(discType) {}
  const char* Name() const override { return "DVD-R/RW sequential"; }
  bool NeedsValidNwa() const override { return m__DiscType != DISC_TYPE_DVDR; }
  const char* ContinuesRecordedDisc() const override {
    if (m__DiscType == DISC_TYPE_DVDR) return "\n%s(): Enabling multisession for already recorded DVD-R disc ( %d ), NWA %d\n";
    if (m__DiscType == DISC_TYPE_DVDROM) return nullptr;
    return "\n%s(): Enabling multisession for already recorded DVD-RW disc ( %d ), NWA %d\n";
  }
  QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind&, bool testWrite, bool next) const override {
    // Incremental in multisession, disc-at-once in a reserved track otherwise.
    return next ? Page(0, 8, 5, testWrite, true, true) : Page(2, 8, 5, testWrite, false, true);
  }
  void Prepare(CQuorvane_SessionRecorder& r, uint32_t, uint64_t blocks) override;
  void Close(CQuorvane_SessionRecorder& r) override;

 private:
  uint32_t m__DiscType;
};

void DashSequential::Prepare(CQuorvane_SessionRecorder& r, uint32_t, uint64_t blocks) {
  QuorvaneI_Log("\n%s(): Reserving track for DVD-R(W)\n", r.Method());
  try {
    r.Drive().ReserveTrack(static_cast<uint32_t>(blocks));
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Log("\n%s(): ReserveTrack( %u ) failed, status %ld\n", r.Method(), static_cast<unsigned>(blocks),
                  static_cast<long>(e->Number()));
    const CDB_FAILURE_INFORMATION* f = e->FailureInformation();
    if (e->Number() == EN_CDB_CALL_FAILED && f != nullptr && f->m__UCHAR__Sense[12] == 0x64 &&
        f->m__UCHAR__Sense[13] == 0x00) {
      // The same failure under its own number; only a number 8 owns the
      // failure record, so the exception is made anew.
      QuorvaneI_Caught owned(e);
      CQuorvane_Exception* refused = QuorvaneI_NewException(EN_RESERVE_TRACK_REFUSED, 0, "%s", e->Text());
      throw refused;
    }
    throw;
  }
}

void DashSequential::Close(CQuorvane_SessionRecorder& r) {
  if (r.NextSession()) {
    // Only DVD-R stays sequential in multisession; the track, its
    // successor and then the session.
    const uint8_t track = r.Drive().GetCurrentTrackNumber();
    QuorvaneI_Log("\n%s(): DVD-R ( %d ) multisession ( %d ) close\n", kClose, static_cast<int>(m__DiscType), 1);
    r.CloseTrackSession(true, false, false, true, track);
    r.WaitAfterClose(false);
    r.CloseTrackSession(true, false, false, true, static_cast<uint16_t>(track + 1));
    r.WaitAfterClose(false);
    r.CloseTrackSession(true, false, true, false, static_cast<uint16_t>(track + 3));
    r.WaitAfterClose(true);
  }
  QuorvaneI_Log("\n%s(): EXITing with success #3\n", kClose);
}

// DVD-RW kept open for later sessions is quick-formatted and grown.
class DashRestrictedOverwrite : public DashSequential {
 public:
  using DashSequential::DashSequential;
  const char* Name() const override { return "DVD-RW restricted overwrite"; }
  QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind&, bool, bool) const override {
    return Page(1, 8, 4, false, true, false);
  }
  bool ForcesTestWriteOff() const override { return true; }
  void Prepare(CQuorvane_SessionRecorder& r, uint32_t nwa, uint64_t) override {
    if (nwa == 0) {
      QuorvaneI_Log("\n%s(): Quick format for DVD-RW\n", r.Method());
      r.Drive().FormatUnitForDVDRW(true);
    } else {
      QuorvaneI_Log("\n%s(): Quick grow last session format for DVD-RW\n", r.Method());
      r.Drive().FormatUnitForDVDRW(false);
    }
    r.SendParameters(Page(0, 8, 5, false, true, true));
  }
  bool FillsLastPacket() const override { return true; }
  bool RewritesVolumeStart() const override { return true; }
  void Close(CQuorvane_SessionRecorder& r) override {
    QuorvaneI_Log("\n%s(): DVD-RW ( %d ) multisession ( %d ) close\n", kClose, static_cast<int>(r.DiscType()), 1);
    r.CloseTrackSession(true, false, true, false, r.Drive().GetCurrentTrackNumber());
    r.WaitAfterClose(true);
    QuorvaneI_Log("\n%s(): EXITing with success #3\n", kClose);
  }
};

// ---- DVD+R, DVD+R DL ----

class PlusR : public QuorvaneI_WriteStrategy {
 public:
  explicit PlusR(bool dualLayer) : m__DualLayer(dualLayer) {}
  const char* Name() const override { return m__DualLayer ? "DVD+R DL" : "DVD+R"; }
  QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind&, bool, bool next) const override {
    return Page(2, 8, 4, false, next, false);
  }
  bool ForcesTestWriteOff() const override { return true; }
  void Prepare(CQuorvane_SessionRecorder& r, uint32_t, uint64_t) override {
    if (m__DualLayer) SetLayerBreak(r);
  }
  void Close(CQuorvane_SessionRecorder& r) override;

 private:
  static void SetLayerBreak(CQuorvane_SessionRecorder& r);
  // Closes the session (or the disc) with the close function the disc
  // wants; some drives must be asked more than once.
  static void CloseSessionOrDisc(CQuorvane_SessionRecorder& r, bool multiSession, bool dualLayer);
  bool m__DualLayer;
};

void PlusR::SetLayerBreak(CQuorvane_SessionRecorder& r) {
  uint32_t layer0 = 0;
  uint8_t fixed = 0;
  r.Drive().ReadDVDPLUSRDLBoundaryInformation(&layer0, &fixed);
  if (fixed) {
    QuorvaneI_Log("\n%s(): Setting DVD+R DL layer boundary information skipped\n", r.Method());
    return;
  }
  QuorvaneI_Log("\n%s(): Setting DVD+R DL layer boundary information for %lld UCHARs\n", r.Method(),
                static_cast<long long>(uint64_t{layer0} * kBlock));
  uint8_t boundary[12] = {};
  boundary[1] = 10;
  const uint32_t value = layer0 > kPacketBlocks ? layer0 - kPacketBlocks : layer0;
  QuorvaneI_PutBE32(boundary + 8, value);
  r.Drive().SendDVDStructure(boundary, sizeof boundary, 0x20);
  r.Drive().ReadDVDPLUSRDLBoundaryInformation(&layer0, &fixed);
}

void PlusR::Close(CQuorvane_SessionRecorder& r) {
  QuorvaneI_Log("\n%s(): ENTERed\n", kClosePlus);
  r.CloseTrackSession(true, false, false, true, r.Drive().GetCurrentTrackNumber());
  r.WaitAfterClose(false);
  if (!r.NextSession() && !(m__DualLayer && QuorvaneI_CompatibleClose()))
    QuorvaneI_Log("\n%s(): Closing as DVD+R ( %d ) media, compatible: %s\n", kClosePlus,
                  static_cast<int>(r.DiscType()), QuorvaneI_CompatibleClose() ? "TRUE" : "FALSE");
  CloseSessionOrDisc(r, r.NextSession(), m__DualLayer && QuorvaneI_CompatibleClose());
  r.WaitAfterClose(true);
  QuorvaneI_Log("\n%s(): EXITing with success\n", kClosePlus);
  QuorvaneI_Log("\n%s(): EXITing with success #2\n", kClose);
}

void PlusR::CloseSessionOrDisc(CQuorvane_SessionRecorder& r, bool multiSession, bool dualLayer) {
  const auto close = [&] {
    if (multiSession) r.CloseTrackSession(true, false, true, false, 0);
    else if (dualLayer) r.CloseTrackSession(true, true, true, false, 0);
    else r.CloseTrackSession(true, true, false, true, 0);
  };
  if (!r.Quirks().Has(kQuirkCloseRetried)) return close();
  QuorvaneI_Log("\n%s(): %s\n", kPioneer,
                multiSession ? "Multisession mode..." : dualLayer ? "Dual layer mode..." : "Single layer mode...");
  if (!multiSession) QuorvaneI_Log("\n%s(): Single session mode...\n", kPioneer);
  constexpr int kAttempts = 20;
  for (int i = 0;; ++i) {
    try {
      return close();
    } catch (CQuorvane_Exception* e) {
      if (i + 1 >= kAttempts) throw;
      QuorvaneI_Caught owned(e);
      QuorvaneI_Log("\n%s(): Need to close session once again...\n", kPioneer);
    }
  }
}

// ---- Random-access media: DVD+RW and DVD-RAM ----

class RandomAccess : public QuorvaneI_WriteStrategy {
 public:
  explicit RandomAccess(uint32_t discType) : m__Ram(discType == DISC_TYPE_DVDRAM) {}
  const char* Name() const override { return m__Ram ? "DVD-RAM" : "DVD+RW"; }
  void Reopen(CQuorvane_SessionRecorder& r, QuorvaneI_TrackState& track) override {
    if (track.blank || !track.nwaValid) return;
    r.ThrowIfCancelled(0);
    if (m__Ram) r.Drive().FormatUnitForDVDRAM();
    else r.Drive().FormatUnitForDVDPLUSRW();
    track = r.ReadFormattedTrack();
  }
  QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind&, bool, bool next) const override {
    return m__Ram ? Page(1, 8, 4, false, true, false) : Page(2, 8, 4, false, next, false);
  }
  bool ForcesTestWriteOff() const override { return true; }
  bool ReadsBufferCapacity() const override { return !m__Ram; }
  bool RewritesVolumeStart() const override { return true; }
  void Close(CQuorvane_SessionRecorder& r) override {
    if (!m__Ram) return CloseAsDrivesDo(r);
    QuorvaneI_Log("\n%s(): EXITing with success #1\n", kClose);
  }

 private:
  bool m__Ram;
};

// Double-density CD: recorded with the DVD parameters, closed as a CD.
class DoubleDensityCd : public QuorvaneI_WriteStrategy {
 public:
  const char* Name() const override { return "DDCD"; }
  QuorvaneI_WriteParameters Parameters(const QuorvaneI_TrackKind&, bool, bool next) const override {
    return Page(2, 8, 4, false, next, false);
  }
  bool ForcesTestWriteOff() const override { return true; }
  void Close(CQuorvane_SessionRecorder& r) override { CloseAsDrivesDo(r); }
};

}  // namespace

uint64_t QuorvaneI_WriteStrategy::PaddingBlocks(uint64_t blocks, bool nextSession) const {
  // Short single-session DVDs are padded to 1 GB so that every player
  // finds their end.
  if (blocks < kPaddedBlocks && QuorvaneI_Padding() && !nextSession) return kPaddedBlocks - blocks;
  return 0;
}

std::unique_ptr<QuorvaneI_WriteStrategy> QuorvaneI_ChooseStrategy(uint32_t discType, bool nextSession,
                                                                  uint8_t lastWriteMode) {
  if (lastWriteMode == kWriteModeSessionAtOnce || lastWriteMode == kWriteModeRawDiscAtOnce)
    return std::make_unique<CdWholeSession>(lastWriteMode);
  switch (discType) {
    case DISC_TYPE_DVDROM:
    case DISC_TYPE_DVDR:
      return std::make_unique<DashSequential>(discType);
    case DISC_TYPE_DVDRW_RO:
    case DISC_TYPE_DVDRW_SR:
      if (nextSession) return std::make_unique<DashRestrictedOverwrite>(discType);
      return std::make_unique<DashSequential>(discType);
    case DISC_TYPE_DVDPLUSR:
    case DISC_TYPE_DVDPLUSR_DL:
      return std::make_unique<PlusR>(discType == DISC_TYPE_DVDPLUSR_DL);
    case DISC_TYPE_DVDRAM:
    case DISC_TYPE_DVDPLUSRW:
      return std::make_unique<RandomAccess>(discType);
    case DISC_TYPE_DDCDROM:
    case DISC_TYPE_DDCDR:
    case DISC_TYPE_DDCDRW:
      return std::make_unique<DoubleDensityCd>();
    default:
      return std::make_unique<CdTrackAtOnce>();
  }
}
