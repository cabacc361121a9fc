// Track-at-once recording and the closing of what it recorded.
#include <cstring>
#include <memory>

#include "core/log.h"
#include "core/settings.h"
#include "record/burner_grabber.h"
#include "device/guarded.h"
#include "files/file_chain.h"
#include "platform/clock.h"

namespace {

constexpr const char* kTao = "CQuorvane_CdvdBurnerGrabber::TrackAtOnce";
constexpr const char* kClose = "CQuorvane_CdvdBurnerGrabber::CloseSession";
constexpr const char* kClosePlus = "CQuorvane_CdvdBurnerGrabber::CloseSessionForDVDPLUSROrDVDPLUSRDL";
constexpr const char* kPioneer = "CQuorvane_CdvdBurnerGrabber::CloseSessionForPIONEER";

constexpr uint32_t kCdTransfer = 61440;
constexpr uint32_t kDvdTransfer = 32768;
constexpr uint64_t kPaddedBlocks = 524288;  // 1 GB of 2048-byte blocks
constexpr uint32_t kPacketBlocks = 16;
constexpr uint32_t kBlock = 2048;
constexpr uint32_t kCloseAttempts = 20;
constexpr uint32_t kWaitPauseMs = 5000;
constexpr uint8_t kWriteModeTrackAtOnce = 1;

constexpr QuorvaneI_DriveMatch kForcedMultisession[] = {{"PHILIPS", "DVD8701"}, {"HP", "DVD Writer 640v"}};
constexpr QuorvaneI_DriveMatch kBrokenSamsung[] = {{"SAMSUNG", "CD-R/RW SW-240B"}};
constexpr QuorvaneI_DriveMatch kSynchronousClose[] = {{"HP", "9100"}};
constexpr QuorvaneI_DriveMatch kSynchronousCloseCdR[] = {{"QSI", "CDRW/DVD"}};
constexpr QuorvaneI_DriveMatch kPioneerDrives[] = {{"PIONEER", "DVR-110D"}, {"PIONEER", "DVR-111D"}};

bool IsCd(uint32_t discType) { return discType < DISC_TYPE_DVDROM; }
bool IsDashR(uint32_t t) { return t == DISC_TYPE_DVDROM || t == DISC_TYPE_DVDR; }
bool IsDashRw(uint32_t t) { return t == DISC_TYPE_DVDRW_RO || t == DISC_TYPE_DVDRW_SR; }

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

using TrackState = CQuorvane_CdvdBurnerGrabber::TrackState;

TrackState Parse(const uint8_t* answer) {
  TrackState t;
  t.blank = (answer[6] & 0x40) != 0;
  t.nwaValid = (answer[7] & 0x01) != 0;
  t.nwa = Be32(answer + 12);
  t.freeBlocks = Be32(answer + 16);
  QuorvaneI_Log("\n%s(): Track: blank %d, NWA valid %d, NWA %u, free LBs %u\n", kTao, t.blank, t.nwaValid, t.nwa,
                t.freeBlocks);
  return t;
}

// Per track type: block size, data block type, track mode, session format.
struct TrackKind {
  int32_t blockSize;
  uint8_t dataBlockType, trackMode, sessionFormat;
  const char* log;
};

// A disc the drive calls complete takes nothing more: a pressed one, or a
// write-once or sequential one that was finalized. Refused before anything
// on the drive changes; overwritable media are rewritten instead.
void RefuseCompleteDisc(CQuorvane_CdvdBurnerGrabber& grabber, uint32_t discType) {
  const bool pressed = discType == DISC_TYPE_CDROM || discType == DISC_TYPE_DVDROM || discType == DISC_TYPE_DDCDROM;
  const bool sequential = discType == DISC_TYPE_CDR || discType == DISC_TYPE_CDRW || discType == DISC_TYPE_DVDR ||
                          discType == DISC_TYPE_DVDRW_SR || discType == DISC_TYPE_DVDPLUSR ||
                          discType == DISC_TYPE_DVDPLUSR_DL || discType == DISC_TYPE_DDCDR || discType == DISC_TYPE_DDCDRW;
  if (!pressed && !sequential) return;
  QUORVANE_DISC_INFORMATION info{};
  grabber.GetDiscInformation(&info);
  if (info.m__UCHAR__DiscStatus != 2) return;
  QuorvaneI_Throw(kTao, EN_INVALID_STATE, 0, "%s(): The disc is not writable (%s)%s", kTao,
                  pressed ? "read-only" : "complete", !pressed && info.m__UCHAR__IsErasable ? "; erase it first" : "");
}

TrackKind KindOf(int32_t trackType, bool mode2Form1) {
  if (trackType == 1)
    return mode2Form1 ? TrackKind{2048, 10, 4, 0x20, "Setting write parameters to MODE2/Form1"}
                      : TrackKind{2048, 8, 4, 0x00, "Setting write parameters to MODE1"};
  if (trackType == 2) return {2352, 0, 0, 0x00, "Setting write parameters to audio"};
  return {2332, 13, 4, 0x20, "Setting write parameters to MODE2/Form2"};
}

// The source as the track will hold it.
struct SizedSource {
  TrackKind kind;
  uint64_t bytes = 0;
  uint64_t blocks = 0;
};

// Nothing to record is a mistake of the caller's, found before the drive
// hears of the recording: a track needs at least one whole block.
SizedSource SizeSource(CQuorvane_FileChain* chain, int32_t trackType, bool mode2Form1) {
  if (chain == nullptr) QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0, "%s(): Source is NULL", kTao);
  SizedSource source{KindOf(trackType, mode2Form1)};
  chain->GetSizeInUCHARs(&source.bytes);
  source.blocks = source.bytes / static_cast<uint64_t>(source.kind.blockSize);
  if (source.blocks == 0)
    QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0, "%s(): Source of %llu UCHAR(s) holds no whole block of %ld UCHARs",
                    kTao, static_cast<unsigned long long>(source.bytes), static_cast<long>(source.kind.blockSize));
  return source;
}

using PageParameters = CQuorvane_CdvdBurnerGrabber::PageParameters;

PageParameters ChoosePage(uint32_t discType, const TrackKind& kind, bool testWrite, bool next) {
  if (IsCd(discType))
    return {1, kind.dataBlockType, kind.trackMode, testWrite, next, kind.sessionFormat, false, false};
  if ((IsDashRw(discType) && next) || discType == DISC_TYPE_DVDRAM) return {1, 8, 4, false, true, 0, false, true};
  if (IsDashR(discType) || IsDashRw(discType)) {
    if (next) return {0, 8, 5, testWrite, true, 0, true, false};
    return {2, 8, 5, testWrite, false, 0, true, false};
  }
  return {2, 8, 4, false, next, 0, false, true};
}

// A DVD-RW in multisession after its quick format.
constexpr PageParameters kDashRwFormatted{0, 8, 5, false, true, 0, true, false};

void LogExit(const CQuorvane_Exception* e) {
  QuorvaneI_Log("\n%s(): EXITing with failure, status %ld, message '%s'\n", kTao,
                static_cast<long>(e ? e->Number() : uint32_t{EN_EXCEPTION_NOT_ALLOCATED}), e ? e->Text() : "");
}

}  // namespace

uint32_t CQuorvane_CdvdBurnerGrabber::Preflight(int32_t trackType, bool nextSessionAllowed) {
  TestUnitReady();
  m__UCHAR__IsCancel = 0;
  m__UCHAR__LastWriteMode = kWriteModeTrackAtOnce;
  m__BOOLEAN__IsNextSession = nextSessionAllowed;
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): Inserted disc type 0x%08X\n", kTao, discType);
  if (!IsCd(discType) && trackType != 1)
    QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0, "%s(): DVD media ( %d ) does not support non-data stream ( %d )",
                    kTao, static_cast<int>(discType), static_cast<int>(trackType));
  RefuseCompleteDisc(*this, discType);
  return discType;
}

void CQuorvane_CdvdBurnerGrabber::SendPage(const PageParameters& p, const uint8_t subHeader[4]) {
  if (p.testWriteForcedOff) Notify(CN_DVD_TEST_WRITE_DISABLED);
  SetWriteParameters(p.writeType, p.dataBlockType, p.trackMode, p.testWrite, p.multiSession, p.sessionFormat,
                     subHeader[0], subHeader[1], subHeader[2], subHeader[3], p.linkSizeValid);
}

void CQuorvane_CdvdBurnerGrabber::TrackAtOnce(CQuorvane_FileChain* chain, bool mode2Form1, bool testWrite,
                                              bool nextSessionAllowed, int32_t progressInterval,
                                              int32_t bufferInterval, int32_t trackType, uint8_t subHeader0,
                                              uint8_t subHeader1, uint8_t subHeader2, uint8_t subHeader3) {
  QuorvaneI_Log("\n%s(): ENTERed for 0x%p\n", kTao, static_cast<void*>(chain));
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  m__ULONG__CurrentWriteAddress = 0;
  // Refusals first: they change nothing, so nothing is flushed or ejected.
  SizedSource source;
  uint32_t discType = 0;
  try {
    source = SizeSource(chain, trackType, mode2Form1);
    discType = Preflight(trackType, nextSessionAllowed);
  } catch (CQuorvane_Exception* e) {
    LogExit(e);
    throw;
  }
  const uint8_t subHeader[4] = {subHeader0, subHeader1, subHeader2, subHeader3};
  try {
    const bool cd = IsCd(discType);
    const TrackKind& kind = source.kind;
    SetTransferSize(discType, nextSessionAllowed);
    QuorvaneI_Log("\n%s(): %s\n", kTao, kind.log);

    TrackState track = ReadInvisibleTrack(discType, trackType);
    const bool randomAccess = discType == DISC_TYPE_DVDPLUSRW || discType == DISC_TYPE_DVDRAM;
    if (randomAccess && !track.blank && track.nwaValid) {
      ThrowIfCancelled(kTao, 0);
      if (discType == DISC_TYPE_DVDRAM) FormatUnitForDVDRAM();
      else FormatUnitForDVDPLUSRW();
      auto answer = std::make_unique<uint8_t[]>(4096);
      std::memset(answer.get(), 0, 4096);
      ReadTrackInformationForDVDPLUSRWOrDVDRAM(answer.get(), 4096, 0xFF);
      track = Parse(answer.get());
    }
    if (!track.blank) QuorvaneI_Log("\n%s(): Track is not blank\n", kTao);
    if (!track.nwaValid && discType != DISC_TYPE_DVDR) {
      QuorvaneI_Log("\n%s(): NWA is not valid\n", kTao);
      QuorvaneI_Throw(kTao, EN_UNEXPECTED_RESULT, 0, "%s(): NWA not valid", kTao);
    }
    const uint32_t firstNwa = track.nwa;
    if ((IsDashRw(discType) || discType == DISC_TYPE_DVDR) && !m__BOOLEAN__IsNextSession && track.nwa > 0) {
      m__BOOLEAN__IsNextSession = true;
      QuorvaneI_Log(IsDashRw(discType) ? "\n%s(): Enabling multisession for already recorded DVD-RW disc ( %d ), NWA %d\n"
                                       : "\n%s(): Enabling multisession for already recorded DVD-R disc ( %d ), NWA %d\n",
                    kTao, static_cast<int>(discType), static_cast<int>(track.nwa));
    }

    QuorvaneI_Log("\n%s(): Setting write parameters\n", kTao);
    RestoreWriteParameters(discType);
    const bool next = m__BOOLEAN__IsNextSession;
    const bool dashRwMulti = IsDashRw(discType) && next;
    const PageParameters page = ChoosePage(discType, kind, testWrite, next);
    SendPage(page, subHeader);
    if (cd) {
      auto answer = std::make_unique<uint8_t[]>(4096);
      std::memset(answer.get(), 0, 4096);
      CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer.get(), 4096, 1, 0xFF);
      track = Parse(answer.get());
    }

    Notify(CN_PREPARING_TO_WRITE);
    const uint64_t blocks = source.blocks;
    Notify(CN_WRITE_SIZE_KNOWN, source.bytes, blocks);
    QuorvaneI_Log(blocks <= track.freeBlocks ? "\n%s(): File chain size in LBs %lld should be OK for free LBs %ld\n"
                                             : "\n%s(): WARNING! File chain size in LBs %lld is larger the free LBs %ld\n",
                  kTao, static_cast<long long>(blocks), static_cast<long>(track.freeBlocks));

    uint64_t padding = 0;
    if (!cd && blocks < kPaddedBlocks && QuorvaneI_Padding() && !next) {
      padding = kPaddedBlocks - blocks;
      Notify(CN_DVD_PADDING_SIZE, blocks, padding);
    } else if (!cd) {
      QuorvaneI_Log("\n%s(): DVD padding is NOT used, chain size in LBs: %ld, padding state: %ld, multisession: %s\n",
                    kTao, static_cast<long>(blocks), static_cast<long>(QuorvaneI_Padding() ? 1 : 0),
                    next ? "TRUE" : "FALSE");
    }

    ThrowIfCancelled(kTao, 0);
    if (IsDashR(discType) || IsDashRw(discType)) PrepareDashTrack(dashRwMulti, track.nwa, blocks + padding);
    if (discType == DISC_TYPE_DVDPLUSR_DL) SetLayerBreak();

    // The data.
    ThrowIfCancelled(kTao, 0);
    chain->SeekToBegin();
    StartPipeline(kTao, chain, kind.blockSize);
    WriteLoop loop;
    loop.address = track.nwa;
    loop.totalBlocks = blocks;
    loop.progressInterval = progressInterval;
    loop.bufferInterval = bufferInterval;
    loop.readBufferCapacity = discType != DISC_TYPE_DVDRAM;
    loop.fullLastPacket = dashRwMulti;
    uint32_t address = RunWriteLoop(kTao, loop);

    // A new volume on overwritable media must be found at the disc's start.
    if (firstNwa != 0 && (randomAccess || dashRwMulti)) {
      ThrowIfCancelled(kTao, source.bytes);
      UpdateVolumeDescriptors(chain, source.bytes, discType, firstNwa);
    }
    if (padding > 0) address = WriteDvdPadding(padding, address, progressInterval, source.bytes);

    FinishWriting();
    // The track is whole and flushed; a cancel that came meanwhile still
    // ends the recording as cancelled, and the session stays open.
    ThrowIfCancelled(kTao, source.bytes);
    QuorvaneI_Log("\n%s(): EXITing with success\n", kTao);
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Log("\n%s(): Method in sequence failed\n", kTao);
    LogExit(e);
    // Stop the reader before anything else touches the drive or the source.
    ShutDownCacheThread();
    JoinCacheThread();
    if (m__ULONG__CurrentWriteAddress > 0) {
      QuorvaneI_Log("\n%s(): Synchronizing cache\n", kTao);
      QuorvaneI_Guarded(kTao, [&] { SynchronizeCache(); });
    }
    QuorvaneI_Log("\n%s(): Ejecting disc\n", kTao);
    if (QuorvaneI_EjectAfterFail()) {
      try {
        Eject();
      } catch (CQuorvane_Exception* ejectFailure) {
        QuorvaneI_Caught owned(ejectFailure);
        QuorvaneI_Log("\n%s(): Eject() failed, status %ld\n", kTao, static_cast<long>(ejectFailure->Number()));
      }
    } else {
      QuorvaneI_Log("\n%s(): Eject sequence is disabled...\n", kTao);
    }
    throw;
  }
}

void CQuorvane_CdvdBurnerGrabber::SetTransferSize(uint32_t discType, bool nextSessionAllowed) {
  if (IsCd(discType)) {
    GetTransport()->SetMaximumTransferLength(kCdTransfer);
    QuorvaneI_Log("\n%s(): CD media ( %d ) now has single transfer size of %d UCHARs\n", kTao,
                  static_cast<int>(discType), static_cast<int>(kCdTransfer));
    return;
  }
  if (!m__BOOLEAN__IsNextSession && IsDrive(kForcedMultisession)) {
    m__BOOLEAN__IsNextSession = true;
    QuorvaneI_Log("\n%s(): Forcing multisession mode for <%s> <%s> device, disc type %d, next session %d ( %d )\n",
                  kTao, m__CHAR__VendorId, m__CHAR__ProductId, static_cast<int>(discType), 1,
                  nextSessionAllowed ? 1 : 0);
  }
  GetTransport()->SetMaximumTransferLength(kDvdTransfer);
  QuorvaneI_Log("\n%s(): DVD media ( %d ) now has single transfer size of %d UCHARs\n", kTao,
                static_cast<int>(discType), static_cast<int>(kDvdTransfer));
}

CQuorvane_CdvdBurnerGrabber::TrackState CQuorvane_CdvdBurnerGrabber::ReadInvisibleTrack(uint32_t discType,
                                                                                     int32_t trackType) {
  auto answer = std::make_unique<uint8_t[]>(4096);
  if (IsDrive(kBrokenSamsung) && trackType != 1 && trackType != 2) {
    QuorvaneI_Log("\n%s(): Broken SAMSUNG workaround for '%s':'%s'...\n", kTao, m__CHAR__VendorId, m__CHAR__ProductId);
    QuorvaneI_Log("\n%s(): Trying to refresh drive state...\n", kTao);
    StopPlayScan();
    std::memset(answer.get(), 0, 4096);
    CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer.get(), 4096, 1, 0xFF);
  } else {
    ReadTrackInformation(0xFF, answer.get(), 4096, discType);
  }
  return Parse(answer.get());
}

void CQuorvane_CdvdBurnerGrabber::PrepareDashTrack(bool dashRwMultisession, uint32_t nwa, uint64_t blocks) {
  if (dashRwMultisession) {
    if (nwa == 0) {
      QuorvaneI_Log("\n%s(): Quick format for DVD-RW\n", kTao);
      FormatUnitForDVDRW(true);
    } else {
      QuorvaneI_Log("\n%s(): Quick grow last session format for DVD-RW\n", kTao);
      FormatUnitForDVDRW(false);
    }
    const uint8_t none[4] = {};
    SendPage(kDashRwFormatted, none);
    return;
  }
  QuorvaneI_Log("\n%s(): Reserving track for DVD-R(W)\n", kTao);
  try {
    ReserveTrack(static_cast<uint32_t>(blocks));
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Log("\n%s(): ReserveTrack( %u ) failed, status %ld\n", kTao, static_cast<unsigned>(blocks),
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

void CQuorvane_CdvdBurnerGrabber::SetLayerBreak() {
  uint32_t layer0 = 0;
  uint8_t fixed = 0;
  ReadDVDPLUSRDLBoundaryInformation(&layer0, &fixed);
  if (fixed) {
    QuorvaneI_Log("\n%s(): Setting DVD+R DL layer boundary information skipped\n", kTao);
    return;
  }
  QuorvaneI_Log("\n%s(): Setting DVD+R DL layer boundary information for %lld UCHARs\n", kTao,
                static_cast<long long>(uint64_t{layer0} * kBlock));
  uint8_t boundary[12] = {};
  boundary[1] = 10;
  const uint32_t value = layer0 > kPacketBlocks ? layer0 - kPacketBlocks : layer0;
  boundary[8] = static_cast<uint8_t>(value >> 24);
  boundary[9] = static_cast<uint8_t>(value >> 16);
  boundary[10] = static_cast<uint8_t>(value >> 8);
  boundary[11] = static_cast<uint8_t>(value);
  SendDVDStructure(boundary, sizeof boundary, 0x20);
  ReadDVDPLUSRDLBoundaryInformation(&layer0, &fixed);
}

// The image's first 16 blocks go to the disc's start, and its volume
// descriptors over the old ones at block 16; what follows them in blocks
// 16-31 stays as the disc held it.
void CQuorvane_CdvdBurnerGrabber::UpdateVolumeDescriptors(CQuorvane_FileChain* chain, uint64_t bytes,
                                                          uint32_t discType, uint32_t firstNwa) {
  const int next = m__BOOLEAN__IsNextSession ? 1 : 0;
  QuorvaneI_Log("\n%s(): DVD+RW or DVD-RAM or DVD-RW (SR or RO) media ( %d ) in multisession ( %d ) mode and non-zero "
                "initial NWA ( %d ), updating PVD\n",
                kTao, static_cast<int>(discType), next, static_cast<int>(firstNwa));
  ShutDownCacheThread();
  JoinCacheThread();
  auto head = std::make_unique<uint8_t[]>(kCdTransfer);
  chain->SeekToBegin();
  chain->Read(kCdTransfer < bytes ? kCdTransfer : bytes, head.get());
  const int32_t count = GetNumberOfSystemDescriptors(head.get(), static_cast<int32_t>(kCdTransfer / kBlock));
  if (count < 1 || count > 16)
    QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0,
                    "CQuorvane_CdvdBurnerGrabber::TrackAtOnce(): There cannot be zero or >16 ( %d ) system "
                    "descriptor(s)",
                    static_cast<int>(count));
  auto packet = std::make_unique<uint8_t[]>(kDvdTransfer);
  chain->SeekToBegin();
  chain->Read(kDvdTransfer, packet.get());
  // The write address stays where the data ended: a failure from here on
  // still flushes what was written.
  Write10(packet.get(), kPacketBlocks, 0, kDvdTransfer);
  std::memset(packet.get(), 0, kDvdTransfer);
  Read10(packet.get(), kDvdTransfer, kPacketBlocks, kPacketBlocks, 0);
  chain->Read(static_cast<uint64_t>(count) * kBlock, packet.get());
  Write10(packet.get(), kPacketBlocks, kPacketBlocks, kDvdTransfer);
  QuorvaneI_Log("\n%s(): Completed PVD update for DVD+RW or DVD-RAM or DVD-RW (SR or RO) media ( %d ) in "
                "multisession ( %d ) mode and non-zero initial NWA ( %d )\n",
                kTao, static_cast<int>(discType), next, static_cast<int>(firstNwa));
}

uint32_t CQuorvane_CdvdBurnerGrabber::WriteDvdPadding(uint64_t padding, uint32_t address, int32_t progressInterval,
                                                      uint64_t written) {
  QuorvaneI_Log("\n%s(): Recording DVD padding\n", kTao);
  Notify(CN_DVD_PADDING_BEGIN);
  auto zeros = std::make_unique<uint8_t[]>(kDvdTransfer);
  std::memset(zeros.get(), 0, kDvdTransfer);
  uint64_t remaining = padding;
  uint64_t lastProgress = qv::plat::NowMs();
  while (remaining > kPacketBlocks) {
    ThrowIfCancelled(kTao, written);
    Write10(zeros.get(), kPacketBlocks, address, kDvdTransfer);
    const uint64_t now = qv::plat::NowMs();
    if (progressInterval != 0 && now - lastProgress > uint64_t(progressInterval) * 1000) {
      lastProgress = now;
      Notify(CN_DVD_PADDING_PROGRESS, padding, remaining);
    }
    remaining -= kPacketBlocks;
    address += kPacketBlocks;
    m__ULONG__CurrentWriteAddress = address;
  }
  QuorvaneI_Log("\n%s(): Padding last packet ( %ld ), generic packet ( %ld )\n", kTao, static_cast<long>(remaining),
                static_cast<long>(kPacketBlocks));
  Write10(zeros.get(), static_cast<uint32_t>(remaining), address, static_cast<uint32_t>(remaining) * kBlock);
  address += static_cast<uint32_t>(remaining);
  m__ULONG__CurrentWriteAddress = address;
  Notify(CN_DVD_PADDING_END);
  QuorvaneI_Log("\n%s(): Done with recording DVD padding\n", kTao);
  return address;
}

void CQuorvane_CdvdBurnerGrabber::CloseSession() {
  QuorvaneI_Log("\n%s(): ENTERed\n", kClose);
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kClose, [&] {
    if (m__UCHAR__LastWriteMode != kWriteModeTrackAtOnce && m__UCHAR__LastWriteMode != 0) {
      QuorvaneI_Log("\n%s(): EXITing with failure, last write mode is %ld instead of %ld\n", kClose,
                    static_cast<long>(m__UCHAR__LastWriteMode), static_cast<long>(kWriteModeTrackAtOnce));
      return;
    }
    const uint32_t discType = GetDiscTypeSafe();
    QuorvaneI_Log("\n%s(): Disc type %u\n", kClose, discType);
    const uint8_t trackNumber = m__UCHAR__CurrentTrackNumber;
    if (discType == DISC_TYPE_DVDPLUSR || discType == DISC_TYPE_DVDPLUSR_DL) {
      CloseSessionForDVDPLUSROrDVDPLUSRDL(discType);
      QuorvaneI_Log("\n%s(): EXITing with success #2\n", kClose);
      return;
    }
    if (IsDashR(discType) || IsDashRw(discType)) {
      if (m__BOOLEAN__IsNextSession) {
        if (IsDashR(discType)) {
          QuorvaneI_Log("\n%s(): DVD-R ( %d ) multisession ( %d ) close\n", kClose, static_cast<int>(discType), 1);
          CloseTrackSession(true, false, false, true, trackNumber);
          WaitForReady(kCloseAttempts, kWaitPauseMs, false, false);
          CloseTrackSession(true, false, false, true, static_cast<uint16_t>(trackNumber + 1));
          WaitForReady(kCloseAttempts, kWaitPauseMs, false, false);
          CloseTrackSession(true, false, true, false, static_cast<uint16_t>(trackNumber + 3));
        } else {
          QuorvaneI_Log("\n%s(): DVD-RW ( %d ) multisession ( %d ) close\n", kClose, static_cast<int>(discType), 1);
          CloseTrackSession(true, false, true, false, trackNumber);
        }
        WaitForReady(kCloseAttempts, kWaitPauseMs, true, false);
      }
      QuorvaneI_Log("\n%s(): EXITing with success #3\n", kClose);
      return;
    }
    if (discType == DISC_TYPE_DVDRAM) {
      QuorvaneI_Log("\n%s(): EXITing with success #1\n", kClose);
      return;
    }
    if (IsDrive(kSynchronousClose) || (discType == DISC_TYPE_CDR && IsDrive(kSynchronousCloseCdR))) {
      QuorvaneI_Log("\n%s(): Synchronous close session for <%s> <%s> device\n", kClose, m__CHAR__VendorId,
                    m__CHAR__ProductId);
      CloseTrackSession(false, false, true, false, trackNumber);
    } else {
      QuorvaneI_Log("\n%s(): Generic async close session\n", kClose);
      try {
        CloseTrackSession(true, false, true, false, trackNumber);
      } catch (CQuorvane_Exception* e) {
        QuorvaneI_Caught owned(e);
        QuorvaneI_Log("\n%s(): Async close session failed, status %ld\n", kClose, static_cast<long>(e->Number()));
        QuorvaneI_Log("\n%s(): Sync close session, async good ( %d )\n", kClose, 0);
        CloseTrackSession(false, false, true, false, trackNumber);
      }
    }
    WaitForReady(kCloseAttempts, kWaitPauseMs, true, false);
    QuorvaneI_Log("\n%s(): EXITing with success #1\n", kClose);
  });
}

void CQuorvane_CdvdBurnerGrabber::CloseSessionForDVDPLUSROrDVDPLUSRDL(uint32_t discType) {
  QuorvaneI_Log("\n%s(): ENTERed\n", kClosePlus);
  CloseTrackSession(true, false, false, true, m__UCHAR__CurrentTrackNumber);
  WaitForReady(kCloseAttempts, kWaitPauseMs, false, false);
  const bool pioneer = IsDrive(kPioneerDrives);
  const bool dualLayer = discType == DISC_TYPE_DVDPLUSR_DL;
  if (m__BOOLEAN__IsNextSession) {
    if (pioneer) CloseSessionForPIONEER(true, true);
    else CloseTrackSession(true, false, true, false, 0);
  } else if (dualLayer && QuorvaneI_CompatibleClose()) {
    if (pioneer) CloseSessionForPIONEER(false, true);
    else CloseTrackSession(true, true, true, false, 0);
  } else {
    QuorvaneI_Log("\n%s(): Closing as DVD+R ( %d ) media, compatible: %s\n", kClosePlus, static_cast<int>(discType),
                  QuorvaneI_CompatibleClose() ? "TRUE" : "FALSE");
    if (pioneer) CloseSessionForPIONEER(false, false);
    else CloseTrackSession(true, true, false, true, 0);
  }
  WaitForReady(kCloseAttempts, kWaitPauseMs, true, false);
  QuorvaneI_Log("\n%s(): EXITing with success\n", kClosePlus);
}

void CQuorvane_CdvdBurnerGrabber::CloseSessionForPIONEER(bool multiSession, bool dualLayer) {
  QuorvaneI_Log("\n%s(): %s\n", kPioneer,
                multiSession ? "Multisession mode..." : dualLayer ? "Dual layer mode..." : "Single layer mode...");
  if (!multiSession) QuorvaneI_Log("\n%s(): Single session mode...\n", kPioneer);
  // These drives refuse the close now and then; they take it when asked again.
  constexpr int kAttempts = 20;
  for (int i = 0;; ++i) {
    try {
      if (multiSession) CloseTrackSession(true, false, true, false, 0);
      else if (dualLayer) CloseTrackSession(true, true, true, false, 0);
      else CloseTrackSession(true, true, false, true, 0);
      return;
    } catch (CQuorvane_Exception* e) {
      if (i + 1 >= kAttempts) throw;
      QuorvaneI_Caught owned(e);
      QuorvaneI_Log("\n%s(): Need to close session once again...\n", kPioneer);
    }
  }
}
