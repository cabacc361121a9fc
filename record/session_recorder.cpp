// The session recorder's track-at-once steps, in the order they reach the
// drive.
#include <cstring>
#include <memory>

#include "core/log.h"
#include "core/settings.h"
#include "files/file_chain.h"
#include "iso9660/volume_start.h"
#include "platform/clock.h"
#include "record/burner_grabber.h"

namespace {

constexpr const char* kTao = "CQuorvane_CdvdBurnerGrabber::TrackAtOnce";
constexpr const char* kClose = "CQuorvane_CdvdBurnerGrabber::CloseSession";
constexpr uint32_t kTrackInformationBytes = 4096;
constexpr uint32_t kPacketBlocks = 16;
constexpr uint32_t kPacketBytes = 32768;
constexpr uint32_t kBlock = 2048;
// The image's start read for its volume descriptors: 30 blocks.
constexpr uint32_t kImageHeadBytes = 61440;

QuorvaneI_TrackState Parse(const uint8_t* buffer) {
  const CQuorvane_DriveAnswer answer(kTao, "READ TRACK INFORMATION", buffer, kTrackInformationBytes);
  QuorvaneI_TrackState t;
  t.blank = answer.Bit(6, 6);
  t.nwaValid = answer.Bit(7, 0);
  t.nwa = answer.Be32(12);
  t.freeBlocks = answer.Be32(16);
  QuorvaneI_Log("\n%s(): Track: blank %d, NWA valid %d, NWA %u, free LBs %u\n", kTao, t.blank, t.nwaValid, t.nwa,
                t.freeBlocks);
  return t;
}

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

}  // namespace

uint32_t CQuorvane_SessionRecorder::Preflight(const QuorvaneI_TrackRequest& request) {
  CQuorvane_CdvdBurnerGrabber& g = m__Drive;
  g.TestUnitReady();
  g.m__UCHAR__IsCancel = 0;
  g.m__UCHAR__LastWriteMode = kWriteModeTrackAtOnce;
  g.m__BOOLEAN__IsNextSession = request.nextSessionAllowed;
  m__DiscType = g.GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): Inserted disc type 0x%08X\n", kTao, m__DiscType);
  ChooseStrategy();
  if (!m__Strategy->IsCd() && request.trackType != 1)
    QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0, "%s(): DVD media ( %d ) does not support non-data stream ( %d )",
                    kTao, static_cast<int>(m__DiscType), static_cast<int>(request.trackType));
  RefuseCompleteDisc(g, m__DiscType);
  return m__DiscType;
}

void CQuorvane_SessionRecorder::RecordTrack(CQuorvane_FileChain* chain, uint64_t bytes,
                                            const QuorvaneI_TrackRequest& request) {
  const QuorvaneI_TrackKind kind = QuorvaneI_KindOf(request.trackType, request.mode2Form1);
  SetTransferSize();
  QuorvaneI_Log("\n%s(): %s\n", kTao, kind.log);
  QuorvaneI_TrackState track = SettleTrack(request.trackType);
  const uint32_t firstNwa = track.nwa;
  track = SetParameters(kind, request, track);
  const uint64_t blocks = bytes / static_cast<uint64_t>(kind.blockSize);
  const uint64_t padding = AnnounceSize(bytes, blocks, track);

  ThrowIfCancelled(0);
  m__Strategy->Prepare(*this, track.nwa, blocks + padding);

  // The data.
  ThrowIfCancelled(0);
  chain->SeekToBegin();
  m__Drive.StartPipeline(kTao, chain, kind.blockSize);
  CQuorvane_CdvdBurnerGrabber::WriteLoop loop;
  loop.address = track.nwa;
  loop.totalBlocks = blocks;
  loop.progressInterval = request.progressInterval;
  loop.bufferInterval = request.bufferInterval;
  loop.readBufferCapacity = m__Strategy->ReadsBufferCapacity();
  loop.fullLastPacket = m__Strategy->FillsLastPacket();
  uint32_t address = m__Drive.RunWriteLoop(kTao, loop);

  if (firstNwa != 0 && m__Strategy->RewritesVolumeStart()) {
    ThrowIfCancelled(bytes);
    RewriteVolumeStart(chain, bytes, firstNwa);
  }
  if (padding > 0) address = WritePadding(padding, address, request.progressInterval, bytes);

  m__Drive.FinishWriting();
  // The track is whole and flushed; a cancel that came meanwhile still
  // ends the recording as cancelled, and the session stays open.
  ThrowIfCancelled(bytes);
}

void CQuorvane_SessionRecorder::SetTransferSize() {
  const uint32_t size = m__Strategy->TransferSize();
  if (m__Strategy->IsCd()) {
    m__Drive.GetTransport()->SetMaximumTransferLength(size);
    QuorvaneI_Log("\n%s(): CD media ( %d ) now has single transfer size of %d UCHARs\n", kTao,
                  static_cast<int>(m__DiscType), static_cast<int>(size));
    return;
  }
  if (!NextSession() && m__Quirks.Has(kQuirkForcedMultisession)) {
    m__Drive.m__BOOLEAN__IsNextSession = true;
    QuorvaneI_Log("\n%s(): Forcing multisession mode for <%s> <%s> device, disc type %d, next session %d\n", kTao,
                  Vendor(), Product(), static_cast<int>(m__DiscType), 1);
    ChooseStrategy();
  }
  m__Drive.GetTransport()->SetMaximumTransferLength(size);
  QuorvaneI_Log("\n%s(): DVD media ( %d ) now has single transfer size of %d UCHARs\n", kTao,
                static_cast<int>(m__DiscType), static_cast<int>(size));
}

QuorvaneI_TrackState CQuorvane_SessionRecorder::ReadInvisibleTrack(int32_t trackType) {
  auto answer = std::make_unique<uint8_t[]>(kTrackInformationBytes);
  std::memset(answer.get(), 0, kTrackInformationBytes);
  if (m__Quirks.Has(kQuirkStaleTrackState) && trackType != 1 && trackType != 2) {
    QuorvaneI_Log("\n%s(): Broken SAMSUNG workaround for '%s':'%s'...\n", kTao, Vendor(), Product());
    QuorvaneI_Log("\n%s(): Trying to refresh drive state...\n", kTao);
    m__Drive.StopPlayScan();
    m__Drive.CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer.get(), kTrackInformationBytes, 1, 0xFF);
  } else {
    m__Drive.ReadTrackInformation(0xFF, answer.get(), kTrackInformationBytes, m__DiscType);
  }
  return Parse(answer.get());
}

QuorvaneI_TrackState CQuorvane_SessionRecorder::ReadFormattedTrack() {
  auto answer = std::make_unique<uint8_t[]>(kTrackInformationBytes);
  std::memset(answer.get(), 0, kTrackInformationBytes);
  m__Drive.ReadTrackInformationForDVDPLUSRWOrDVDRAM(answer.get(), kTrackInformationBytes, 0xFF);
  return Parse(answer.get());
}

QuorvaneI_TrackState CQuorvane_SessionRecorder::SettleTrack(int32_t trackType) {
  QuorvaneI_TrackState track = ReadInvisibleTrack(trackType);
  m__Strategy->Reopen(*this, track);
  if (!track.blank) QuorvaneI_Log("\n%s(): Track is not blank\n", kTao);
  if (!track.nwaValid && m__Strategy->NeedsValidNwa()) {
    QuorvaneI_Log("\n%s(): NWA is not valid\n", kTao);
    QuorvaneI_Throw(kTao, EN_UNEXPECTED_RESULT, 0, "%s(): NWA not valid", kTao);
  }
  const char* continuation = m__Strategy->ContinuesRecordedDisc();
  if (continuation != nullptr && !NextSession() && track.nwa > 0) {
    m__Drive.m__BOOLEAN__IsNextSession = true;
    QuorvaneI_Log(continuation, kTao, static_cast<int>(m__DiscType), static_cast<int>(track.nwa));
    ChooseStrategy();
  }
  return track;
}

QuorvaneI_TrackState CQuorvane_SessionRecorder::SetParameters(const QuorvaneI_TrackKind& kind,
                                                              const QuorvaneI_TrackRequest& request,
                                                              const QuorvaneI_TrackState& track) {
  QuorvaneI_Log("\n%s(): Setting write parameters\n", kTao);
  m__Drive.RestoreWriteParameters(m__DiscType);
  QuorvaneI_WriteParameters parameters = m__Strategy->Parameters(kind, request.testWrite, NextSession());
  std::memcpy(parameters.subHeader, request.subHeader, sizeof parameters.subHeader);
  if (m__Strategy->ForcesTestWriteOff()) Notify(CN_DVD_TEST_WRITE_DISABLED);
  SendParameters(parameters);
  if (!m__Strategy->IsCd()) return track;
  // A CD's next writable address depends on the page just sent.
  auto answer = std::make_unique<uint8_t[]>(kTrackInformationBytes);
  std::memset(answer.get(), 0, kTrackInformationBytes);
  m__Drive.CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer.get(), kTrackInformationBytes, 1, 0xFF);
  return Parse(answer.get());
}

uint64_t CQuorvane_SessionRecorder::AnnounceSize(uint64_t bytes, uint64_t blocks, const QuorvaneI_TrackState& track) {
  Notify(CN_PREPARING_TO_WRITE);
  Notify(CN_WRITE_SIZE_KNOWN, bytes, blocks);
  QuorvaneI_Log(blocks <= track.freeBlocks ? "\n%s(): File chain size in LBs %lld should be OK for free LBs %ld\n"
                                           : "\n%s(): WARNING! File chain size in LBs %lld is larger the free LBs %ld\n",
                kTao, static_cast<long long>(blocks), static_cast<long>(track.freeBlocks));
  if (m__Strategy->IsCd()) return 0;
  const uint64_t padding = m__Strategy->PaddingBlocks(blocks, NextSession());
  if (padding > 0) {
    Notify(CN_DVD_PADDING_SIZE, blocks, padding);
  } else {
    QuorvaneI_Log("\n%s(): DVD padding is NOT used, chain size in LBs: %ld, padding state: %ld, multisession: %s\n",
                  kTao, static_cast<long>(blocks), static_cast<long>(QuorvaneI_Padding() ? 1 : 0),
                  NextSession() ? "TRUE" : "FALSE");
  }
  return padding;
}

// The image builder says what the disc's start must hold for the new
// volume; the blocks go to block 0 in two packets.
void CQuorvane_SessionRecorder::RewriteVolumeStart(CQuorvane_FileChain* chain, uint64_t bytes, uint32_t firstNwa) {
  const int next = NextSession() ? 1 : 0;
  QuorvaneI_Log("\n%s(): DVD+RW or DVD-RAM or DVD-RW (SR or RO) media ( %d ) in multisession ( %d ) mode and non-zero "
                "initial NWA ( %d ), updating PVD\n",
                kTao, static_cast<int>(m__DiscType), next, static_cast<int>(firstNwa));
  m__Drive.ShutDownCacheThread();
  m__Drive.JoinCacheThread();
  const size_t headBytes = bytes < kImageHeadBytes ? static_cast<size_t>(bytes) : kImageHeadBytes;
  auto head = std::make_unique<uint8_t[]>(kImageHeadBytes);
  std::memset(head.get(), 0, kImageHeadBytes);
  chain->SeekToBegin();
  chain->Read(headBytes, head.get());
  auto start = std::make_unique<uint8_t[]>(kQuorvaneVolumeStartBlocks * kBlock);
  std::memset(start.get(), 0, kQuorvaneVolumeStartBlocks * kBlock);
  // The old descriptors' neighbours in blocks 16-31 stay as they are.
  m__Drive.Read10(start.get() + kPacketBytes, kPacketBytes, kPacketBlocks, kPacketBlocks, 0);
  const int32_t count = QuorvaneI_BuildVolumeStart(head.get(), headBytes, start.get());
  if (count == 0)
    QuorvaneI_Throw(kTao, EN_INVALID_PARAMETER, 0,
                    "%s(): There cannot be zero or >16 ( %d ) system descriptor(s)", kTao,
                    static_cast<int>(QuorvaneI_CountVolumeDescriptors(head.get(), headBytes, kImageHeadBytes / kBlock)));
  // The write address stays where the data ended: a failure from here on
  // still flushes what was written.
  m__Drive.Write10(start.get(), kPacketBlocks, 0, kPacketBytes);
  m__Drive.Write10(start.get() + kPacketBytes, kPacketBlocks, kPacketBlocks, kPacketBytes);
  QuorvaneI_Log("\n%s(): Completed PVD update for DVD+RW or DVD-RAM or DVD-RW (SR or RO) media ( %d ) in "
                "multisession ( %d ) mode and non-zero initial NWA ( %d )\n",
                kTao, static_cast<int>(m__DiscType), next, static_cast<int>(firstNwa));
}

uint32_t CQuorvane_SessionRecorder::WritePadding(uint64_t padding, uint32_t address, int32_t progressInterval,
                                                 uint64_t written) {
  QuorvaneI_Log("\n%s(): Recording DVD padding\n", kTao);
  Notify(CN_DVD_PADDING_BEGIN);
  auto zeros = std::make_unique<uint8_t[]>(kPacketBytes);
  std::memset(zeros.get(), 0, kPacketBytes);
  uint64_t remaining = padding;
  uint64_t lastProgress = qv::plat::NowMs();
  while (remaining > kPacketBlocks) {
    ThrowIfCancelled(written);
    m__Drive.Write10(zeros.get(), kPacketBlocks, address, kPacketBytes);
    const uint64_t now = qv::plat::NowMs();
    if (progressInterval != 0 && now - lastProgress > uint64_t(progressInterval) * 1000) {
      lastProgress = now;
      Notify(CN_DVD_PADDING_PROGRESS, padding, remaining);
    }
    remaining -= kPacketBlocks;
    address += kPacketBlocks;
    m__Drive.m__ULONG__CurrentWriteAddress = address;
  }
  QuorvaneI_Log("\n%s(): Padding last packet ( %ld ), generic packet ( %ld )\n", kTao, static_cast<long>(remaining),
                static_cast<long>(kPacketBlocks));
  m__Drive.Write10(zeros.get(), static_cast<uint32_t>(remaining), address, static_cast<uint32_t>(remaining) * kBlock);
  address += static_cast<uint32_t>(remaining);
  m__Drive.m__ULONG__CurrentWriteAddress = address;
  Notify(CN_DVD_PADDING_END);
  QuorvaneI_Log("\n%s(): Done with recording DVD padding\n", kTao);
  return address;
}

void CQuorvane_SessionRecorder::CloseSession() {
  const uint8_t mode = m__Drive.m__UCHAR__LastWriteMode;
  if (mode != kWriteModeTrackAtOnce && mode != kWriteModeNone) {
    ChooseStrategy();  // the whole-session modes closed their session already
    return m__Strategy->Close(*this);
  }
  m__DiscType = m__Drive.GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): Disc type %u\n", kClose, m__DiscType);
  ChooseStrategy();
  m__Strategy->Close(*this);
}
