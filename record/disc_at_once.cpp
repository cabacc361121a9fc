// Raw disc-at-once: the host sends every sector of the disc, from the
// start of the lead-in the ATIP names to the end of the lead-out, each with
// its subchannel. The lead-in (with the TOC and the CD-Text),
// the first pre-gap and the lead-out are made by record/raw_areas; the
// program area (tracks, their pauses and indexes, ISRC and catalogue
// number) becomes raw sectors on its way to the pipeline, or comes whole
// with its P-W from a grabbed image.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/log.h"
#include "files/file_chain.h"
#include "record/burner_grabber.h"
#include "record/raw_areas.h"

namespace {

constexpr const char* kAddCDText = "CQuorvane_CdvdBurnerGrabber::AddCDTextForTrack";
constexpr uint32_t kTransferSize = 61440;
constexpr uint32_t kPacketBlocks = 16;
constexpr uint32_t kPreGapBlocks = 150;
constexpr uint32_t kTrackInformationBytes = 4096;
constexpr uint32_t kAtipBytes = 32;

}  // namespace

void CQuorvane_CdvdBurnerGrabber::AddCDTextForTrack(int32_t track, const char* title, const char* performer) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (const uint32_t status = m__CQuorvane_CDText.AddTrackInfo(track, title, performer))
    QuorvaneI_Throw(kAddCDText, EN_SYSTEM_CALL_FAILED, status,
                    "%s() : m__CQuorvane_CDText.AddTrackInfo(...) failed, status %ld", kAddCDText,
                    static_cast<long>(status));
}

void CQuorvane_CdvdBurnerGrabber::AddCDTextSongwriter(int32_t track, const char* songwriter) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (const uint32_t status = m__CQuorvane_CDText.AddSongwriter(track, songwriter))
    QuorvaneI_Throw(kAddCDText, EN_SYSTEM_CALL_FAILED, status,
                    "%s() : m__CQuorvane_CDText.AddSongwriter(...) failed, status %ld", kAddCDText,
                    static_cast<long>(status));
}

// One cooked track is the simplest layout: it goes the same way.
void CQuorvane_CdvdBurnerGrabber::DiscAtOncePQ(CQuorvane_FileChain* chain, const DiscAtOnceRequest& request) {
  DiscAtOnceOneTrack("CQuorvane_CdvdBurnerGrabber::DiscAtOncePQ", false, chain, request);
}

void CQuorvane_CdvdBurnerGrabber::DiscAtOnceRawPW(CQuorvane_FileChain* chain, const DiscAtOnceRequest& request) {
  DiscAtOnceOneTrack("CQuorvane_CdvdBurnerGrabber::DiscAtOnceRawPW", true, chain, request);
}

void CQuorvane_CdvdBurnerGrabber::DiscAtOnceOneTrack(const char* method, bool rawPW, CQuorvane_FileChain* chain,
                                                     const DiscAtOnceRequest& request) {
  if (chain == nullptr) QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): Source is NULL", method);
  QuorvaneI_RawDisc disc;
  disc.tracks.resize(1);
  disc.tracks[0].audio = request.audio;
  disc.tracks[0].source = chain;
  DiscAtOnce(method, rawPW, disc, request);
}

void CQuorvane_CdvdBurnerGrabber::DiscAtOnceLayout(QuorvaneI_RawDisc& disc, bool rawPW,
                                                   const DiscAtOnceRequest& request) {
  DiscAtOnce(rawPW ? "CQuorvane_CdvdBurnerGrabber::DiscAtOnceRawPW" : "CQuorvane_CdvdBurnerGrabber::DiscAtOncePQ",
             rawPW, disc, request);
}

void CQuorvane_CdvdBurnerGrabber::WriteRawArea(const char* method, const char* area, const uint8_t* sectors,
                                               uint32_t count, size_t sectorSize) {
  uint32_t done = 0;
  while (done < count) {
    ThrowIfCancelled(method, 0);
    const uint32_t blocks = std::min(kPacketBlocks, count - done);
    if (blocks < kPacketBlocks)
      QuorvaneI_Log("\n%s(): %s last packet ( %ld ), generic packet ( %ld )\n", method, area, static_cast<long>(blocks),
                    static_cast<long>(kPacketBlocks));
    Write10(const_cast<uint8_t*>(sectors + done * sectorSize), blocks, m__ULONG__CurrentWriteAddress,
            static_cast<uint32_t>(blocks * sectorSize));
    m__ULONG__CurrentWriteAddress += blocks;
    done += blocks;
  }
}

void CQuorvane_CdvdBurnerGrabber::DiscAtOnce(const char* method, bool rawPW, QuorvaneI_RawDisc& disc,
                                             const DiscAtOnceRequest& request) {
  QuorvaneI_Log("\n%s(): ENTERed for %ld tracks\n", method, static_cast<long>(disc.tracks.size()));
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const auto form = rawPW ? QuorvaneI_SubchannelForm::RawPW : QuorvaneI_SubchannelForm::PQ;
  const size_t sectorSize = rawPW ? kQuorvaneRawPWSectorSize : kQuorvaneRawPQSectorSize;
  m__ULONG__CurrentWriteAddress = 0;
  // Refusals first: they change nothing on the disc.
  if (disc.given != nullptr && !rawPW)
    QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): Sectors given with their P-W are written raw P-W", method);
  for (const QuorvaneI_RawDiscTrack& t : disc.tracks) {
    if (disc.given != nullptr || t.source == nullptr) continue;
    uint64_t bytes = 0;
    t.source->GetSizeInUCHARs(&bytes);
    if (bytes < (t.audio ? 2352u : 2048u))
      QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): The source holds no whole block of %u UCHARs", method,
                      t.audio ? 2352u : 2048u);
  }
  if (const char* wrong = QuorvaneI_PlaceRawDisc(disc))
    QuorvaneI_Throw(method, EN_INVALID_PARAMETER, 0, "%s(): The layout cannot be recorded: %s", method, wrong);
  TestUnitReady();
  const uint32_t discType = GetDiscTypeSafe();
  if (discType != DISC_TYPE_CDR && discType != DISC_TYPE_CDRW)
    QuorvaneI_Throw(method, EN_UNEXPECTED_RESULT, 0, "%s(): Disc type (%ld) not valid for DAO", method,
                    static_cast<long>(discType));
  // The ATIP says how much the disc holds: a layout that does not fit is
  // refused before anything is written.
  uint8_t atip[kAtipBytes] = {};
  ReadATIPSafe(atip, sizeof atip);
  const int32_t lastLeadOut = (atip[12] * 60 + atip[13]) * 75 + atip[14] - 150;
  if (atip[12] < 90 && disc.leadOutStart > lastLeadOut)
    QuorvaneI_Throw(method, EN_FILE_TOO_BIG, 0, "%s(): The layout needs %ld blocks, the disc holds %ld", method,
                    static_cast<long>(disc.leadOutStart), static_cast<long>(lastLeadOut));
  CQuorvane_RawProgramFile program(disc, form);
  CQuorvane_FileChain raw;
  raw.AddChainTail(&program);
  raw.SeekToBegin();
  const auto blocks = static_cast<int32_t>(program.GetSectorCount());
  const bool audio = !disc.AnyData();
  const QuorvaneI_RawDiscTrack& first = disc.tracks.front();
  const QuorvaneI_RawDiscTrack& last = disc.tracks.back();

  try {
    GetTransport()->SetMaximumTransferLength(kTransferSize);
    m__UCHAR__IsCancel = 0;
    m__UCHAR__LastWriteMode = kWriteModeRawDiscAtOnce;
    RestoreWriteParameters(discType);
    QuorvaneI_Log(audio ? "\n%s(): Setting write parameters to AUDIO\n" : "\n%s(): Setting write parameters to DATA\n",
                  method);
    const QuorvaneI_TrackKind kind{static_cast<int32_t>(sectorSize), static_cast<uint8_t>(rawPW ? 3 : 1), 0, 0,
                                   "raw"};
    SetWriteParameters(
        QuorvaneI_ChooseStrategy(discType, false, kWriteModeRawDiscAtOnce)->Parameters(kind, request.testWrite, false));
    Notify(CN_PREPARING_TO_WRITE);
    Notify(CN_WRITE_SIZE_KNOWN, uint64_t(blocks) * sectorSize, static_cast<uint64_t>(blocks));

    auto info = std::make_unique<uint8_t[]>(kTrackInformationBytes);
    std::memset(info.get(), 0, kTrackInformationBytes);
    // The plain command: the drive's own variant would set page 05h for track-at-once.
    CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(info.get(), kTrackInformationBytes, 1, 0xFF);
    const int32_t leadIn = QuorvaneI_AtipLeadInStart(atip);
    const int32_t leadInSize = -static_cast<int32_t>(kPreGapBlocks) - leadIn;
    QuorvaneI_Log("\n%s(): Lead-in LBA ( %ld ), NWA %ld, Lead-in size in LBs %ld\n", method, static_cast<long>(leadIn),
                  static_cast<long>(leadIn), static_cast<long>(leadInSize));
    if (leadInSize <= 0)
      QuorvaneI_Throw(method, EN_UNEXPECTED_RESULT, 0, "%s(): The ATIP gives no lead-in ( %ld )", method,
                      static_cast<long>(leadIn));

    QuorvaneI_LeadInContents contents = QuorvaneI_RawDiscContents(disc);
    contents.cdText = &m__CQuorvane_CDText;
    std::unique_ptr<CQuorvane_RawAreaChain> leadInArea, preGap, leadOut;
    if (rawPW) {
      leadInArea = std::make_unique<CQuorvane_ISO9660FileTreeLeadInRawRawPW>(leadIn, leadInSize, contents);
      preGap = std::make_unique<CQuorvane_ISO9660FileTreePreGapRawRawPW>(-150, kPreGapBlocks, 1, !first.audio, false);
      leadOut = std::make_unique<CQuorvane_ISO9660FileTreeLeadOutRawRawPW>(blocks, !last.audio, false);
    } else {
      leadInArea = std::make_unique<CQuorvane_ISO9660FileTreeLeadInRawPQ>(leadIn, leadInSize, contents);
      preGap = std::make_unique<CQuorvane_ISO9660FileTreePreGapRawPQ>(-150, kPreGapBlocks, 1, !first.audio, false);
      leadOut = std::make_unique<CQuorvane_ISO9660FileTreeLeadOutRawPQ>(blocks, !last.audio, false);
    }

    StartPipeline(method, &raw, static_cast<int32_t>(sectorSize));
    m__ULONG__CurrentWriteAddress = static_cast<uint32_t>(leadIn);
    QuorvaneI_Log("\n%s(): Before writing lead-in, NWA %ld, lead-in size in LBs %ld\n", method,
                  static_cast<long>(leadIn), static_cast<long>(leadInSize));
    WriteRawArea(method, "Lead-in", leadInArea->GetSectors(), leadInArea->GetSectorCount(), sectorSize);
    QuorvaneI_Log("\n%s(): After writing lead-in, before writing pregap, NWA %ld, pregap size in LBs %ld\n", method,
                  static_cast<long>(static_cast<int32_t>(m__ULONG__CurrentWriteAddress)),
                  static_cast<long>(kPreGapBlocks));
    WriteRawArea(method, "Pregap", preGap->GetSectors(), preGap->GetSectorCount(), sectorSize);
    QuorvaneI_Log("\n%s(): After writing pregap, before writing track, NWA %ld\n", method,
                  static_cast<long>(static_cast<int32_t>(m__ULONG__CurrentWriteAddress)));
    WriteLoop loop;
    loop.address = 0;
    loop.totalBlocks = static_cast<uint64_t>(blocks);
    loop.progressInterval = request.progressInterval;
    loop.bufferInterval = request.bufferInterval;
    m__ULONG__CurrentWriteAddress = RunWriteLoop(method, loop);
    QuorvaneI_Log("\n%s(): After writing track, before writing lead-out, NWA %ld\n", method,
                  static_cast<long>(m__ULONG__CurrentWriteAddress));
    WriteRawArea(method, "Lead-out", leadOut->GetSectors(), leadOut->GetSectorCount(), sectorSize);
    QuorvaneI_Log("\n%s(): After writing lead-out, NWA %ld\n", method, static_cast<long>(m__ULONG__CurrentWriteAddress));
    FinishWriting();
    QuorvaneI_Log("\n%s(): EXITing with success\n", method);
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Log("\n%s(): EXITing with failure, status %ld\n", method, static_cast<long>(e->Number()));
    AbandonRecording(method);
    throw;
  }
}
