// Session-at-once: the cue sheet sent first, then every block of the
// session from the first pre-gap (LBA -150) in order; the drive makes the
// lead-in and lead-out and closes the session after the flush.
#include "record/session_at_once.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "core/log.h"
#include "device/raw_sector.h"
#include "files/file_chain.h"
#include "record/burner_grabber.h"
#include "record/cd_text.h"
#include "record/raw_areas.h"

namespace {

constexpr const char* kSao = "CQuorvane_CdvdBurnerGrabber::SessionAtOnce";
constexpr const char* kSaoTrack = "CQuorvane_CdvdBurnerGrabber::SessionAtOnceTrack";
constexpr uint32_t kTrackInformationBytes = 4096;
constexpr uint32_t kGapWriteBlocks = 10;
constexpr int32_t kFirstPregap = -150;
constexpr uint32_t kTransferSize = 61440;
constexpr uint32_t kAtipBytes = 32;
constexpr uint32_t kLeadInWriteBlocks = 75;

bool IsCdMedia(uint32_t discType) {
  return discType == DISC_TYPE_CDR || discType == DISC_TYPE_CDRW;
}

void LogExit(const CQuorvane_Exception* e) {
  QuorvaneI_Log("\n%s(): EXITing with failure, status %ld, message '%s'\n", kSao,
                static_cast<long>(e ? e->Number() : uint32_t{EN_EXCEPTION_NOT_ALLOCATED}), e ? e->Text() : "");
}

// Each track's size from its source, refused before the drive hears of
// the recording when there is no whole block to write. Returns the bytes.
uint64_t SizeTracks(QuorvaneI_SaoLayout& layout, bool xa) {
  if (layout.tracks.empty() || layout.tracks.size() > 99)
    QuorvaneI_Throw(kSao, EN_INVALID_PARAMETER, 0, "%s(): A session holds 1 to 99 tracks, not %ld", kSao,
                    static_cast<long>(layout.tracks.size()));
  if (!layout.catalog.empty() && layout.catalog.size() != 13)
    QuorvaneI_Throw(kSao, EN_INVALID_PARAMETER, 0, "%s(): The catalogue number '%s' is not 13 digits", kSao,
                    layout.catalog.c_str());
  uint64_t total = 0;
  for (size_t i = 0; i < layout.tracks.size(); ++i) {
    QuorvaneI_SaoTrack& t = layout.tracks[i];
    if (t.source == nullptr)
      QuorvaneI_Throw(kSao, EN_INVALID_PARAMETER, 0, "%s(): Source of track %ld is NULL", kSao, static_cast<long>(i + 1));
    // Every disc begins with a pause of at least two seconds.
    const int32_t pause = t.pregapBlocks + t.pregapExtraBlocks + t.pregapInSourceBlocks;
    if (t.pregapBlocks < 0 || t.pregapExtraBlocks < 0 || t.pregapInSourceBlocks < 0 || t.postgapBlocks < 0 ||
        (i == 0 && pause < 150))
      QuorvaneI_Throw(kSao, EN_INVALID_PARAMETER, 0, "%s(): Gaps of track %ld are not valid", kSao,
                      static_cast<long>(i + 1));
    const int32_t block = QuorvaneI_SaoBlockSize(t, xa);
    uint64_t bytes = 0;
    t.source->GetSizeInUCHARs(&bytes);
    const uint64_t blocks = bytes / static_cast<uint64_t>(block);
    if (blocks <= static_cast<uint64_t>(t.pregapInSourceBlocks) || blocks > 450000)
      QuorvaneI_Throw(kSao, EN_INVALID_PARAMETER, 0, "%s(): Source of track %ld holds %llu whole block(s) of %ld UCHARs",
                      kSao, static_cast<long>(i + 1), static_cast<unsigned long long>(blocks), static_cast<long>(block));
    t.sizeInBlocks = static_cast<int32_t>(blocks);
    int32_t last = 0;
    for (int32_t ix : t.indexes) {
      if (ix <= last || ix >= t.sizeInBlocks - t.pregapInSourceBlocks)
        QuorvaneI_Throw(kSao, EN_INVALID_PARAMETER, 0, "%s(): Index at block %ld of track %ld is not inside it, after the one before",
                        kSao, static_cast<long>(ix), static_cast<long>(i + 1));
      last = ix;
    }
    total += blocks * static_cast<uint64_t>(block);
  }
  return total;
}

}  // namespace

int32_t QuorvaneI_SaoBlockSize(const QuorvaneI_CueTrack& track, bool xa) {
  if (track.rawPW) return 2448;
  if (track.audio || track.rawData) return 2352;
  return track.mode2 || xa ? 2336 : 2048;
}

void CQuorvane_CdvdBurnerGrabber::SessionAtOnce(QuorvaneI_SaoLayout& layout, const QuorvaneI_SaoRequest& request) {
  RecordSessionAtOnce(layout, request, false);
}

void CQuorvane_CdvdBurnerGrabber::SessionAtOnceEx(QuorvaneI_SaoLayout& layout, const QuorvaneI_SaoRequest& request) {
  RecordSessionAtOnce(layout, request, true);
}

void CQuorvane_CdvdBurnerGrabber::RecordSessionAtOnce(QuorvaneI_SaoLayout& layout, const QuorvaneI_SaoRequest& request,
                                                      bool oneReader) {
  QuorvaneI_Log("\n%s(): ENTERed\n", kSao);
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  m__ULONG__CurrentWriteAddress = 0;
  uint64_t bytes = 0;
  uint32_t discType = 0;
  // Outlive the reader thread, which a failure stops only after unwinding.
  std::vector<CQuorvane_FileChain*> sources;
  std::vector<int32_t> blockSizes;
  try {
    bytes = SizeTracks(layout, request.xa);
    TestUnitReady();
    m__UCHAR__IsCancel = 0;
    m__UCHAR__LastWriteMode = kWriteModeSessionAtOnce;
    m__BOOLEAN__IsNextSession = request.nextSession;
    discType = GetDiscTypeSafe();
    if (!IsCdMedia(discType))
      QuorvaneI_Throw(kSao, EN_UNEXPECTED_RESULT, 0, "%s(): Disc type (%ld) not valid for SAO", kSao,
                      static_cast<long>(discType));
  } catch (CQuorvane_Exception* e) {
    LogExit(e);
    throw;
  }
  try {
    GetTransport()->SetMaximumTransferLength(kTransferSize);
    RestoreWriteParameters(discType);
    const auto strategy = QuorvaneI_ChooseStrategy(discType, request.nextSession, kWriteModeSessionAtOnce);
    const QuorvaneI_TrackKind kind{2048, 8, 4, static_cast<uint8_t>(request.xa ? 0x20 : 0x00), ""};
    SetWriteParameters(strategy->Parameters(kind, request.testWrite, request.nextSession));

    Notify(CN_PREPARING_TO_WRITE);
    uint64_t blocks = 0;
    for (const QuorvaneI_SaoTrack& t : layout.tracks) blocks += static_cast<uint64_t>(t.sizeInBlocks);
    Notify(CN_WRITE_SIZE_KNOWN, bytes, blocks);

    // Session-at-once begins on a blank disc, at the first pre-gap.
    auto answer = std::make_unique<uint8_t[]>(kTrackInformationBytes);
    std::memset(answer.get(), 0, kTrackInformationBytes);
    CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer.get(), kTrackInformationBytes, 1, 0xFF);
    const CQuorvane_DriveAnswer track(kSao, "READ TRACK INFORMATION", answer.get(), kTrackInformationBytes);
    if (!track.Bit(7, 0)) QuorvaneI_Throw(kSao, EN_UNEXPECTED_RESULT, 0, "%s(): NWA not valid", kSao);
    auto nwa = static_cast<int32_t>(track.Be32(12));
    if (nwa == 0) {
      nwa = kFirstPregap;
      QuorvaneI_Log("\n%s(): Replaced 0 with ( -150 ) as NWA\n", kSao);
    }
    if (nwa != kFirstPregap)
      QuorvaneI_Throw(kSao, EN_UNEXPECTED_RESULT, 0, "%s(): NWA not valid, %ld instead of ( -150 )", kSao,
                      static_cast<long>(nwa));
    if (blocks > track.Be32(16))
      QuorvaneI_Log("\n%s(): WARNING! Size in LBs %llu is larger than the free LBs %lu\n", kSao,
                    static_cast<unsigned long long>(blocks), static_cast<unsigned long>(track.Be32(16)));

    // CD-Text rides in the lead-in's R-W, which the host then sends; a
    // mixed-mode disc carries it beside its data track as well.
    const bool text = m__CQuorvane_CDText.IsCDTextPresent();
    int32_t leadIn = kFirstPregap;
    if (text) {
      if (const uint32_t status = m__CQuorvane_CDText.PrepareSubChannels())
        QuorvaneI_Throw(kSao, EN_SYSTEM_CALL_FAILED, status, "%s(): The CD-Text cannot be prepared, status %ld", kSao,
                        static_cast<long>(status));
      uint8_t atip[kAtipBytes] = {};
      ReadATIPSafe(atip, sizeof atip);
      leadIn = QuorvaneI_AtipLeadInStart(atip);
      if (leadIn >= kFirstPregap)
        QuorvaneI_Throw(kSao, EN_UNEXPECTED_RESULT, 0, "%s(): The ATIP gives no lead-in ( %ld )", kSao,
                        static_cast<long>(leadIn));
    }
    // The cue sheet reads an array of the base records, not of these.
    const std::vector<QuorvaneI_CueTrack> cue(layout.tracks.begin(), layout.tracks.end());
    std::vector<uint8_t> sheet = QuorvaneI_BuildCueSheet(cue.data(), static_cast<int32_t>(cue.size()), request.xa,
                                                         false, layout.catalog.c_str(), text);
    ThrowIfCancelled(kSao, 0);
    SendCueSheet(sheet.data(), static_cast<uint32_t>(sheet.size()));
    if (text) WriteLeadInText(kSao, leadIn);

    auto address = static_cast<uint32_t>(kFirstPregap);
    // One reader for every track: the sources are read back to back, and
    // each track ends where its source's end marker arrives.
    if (oneReader) {
      for (const QuorvaneI_SaoTrack& t : layout.tracks) {
        t.source->SeekToBegin();
        sources.push_back(t.source);
        blockSizes.push_back(QuorvaneI_SaoBlockSize(t, request.xa));
      }
      StartPipelineEx(kSao, sources.data(), blockSizes.data(), static_cast<int32_t>(sources.size()));
    }
    for (size_t i = 0; i < layout.tracks.size(); ++i) {
      Notify(CN_TRACK_BEGIN, i);
      address = SessionAtOnceTrack(layout.tracks[i], static_cast<int32_t>(i), address, request, !oneReader);
      if (oneReader && i > 0) QuorvaneI_Log("\n%s(): Last marked packet ( %d ) received\n", kSao, static_cast<int>(i));
      Notify(CN_TRACK_END, i);
    }
    if (oneReader) {
      ShutDownCacheThread();
      JoinCacheThread();
    }
    FinishWriting();
    ThrowIfCancelled(kSao, bytes);
    QuorvaneI_Log("\n%s(): EXITing with success\n", kSao);
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Log("\n%s(): Method in sequence failed\n", kSao);
    LogExit(e);
    AbandonRecording(kSao);
    throw;
  }
}

// Every lead-in block from its start to the first pre-gap carries one
// 96-byte group of R-W, the groups cycling.
void CQuorvane_CdvdBurnerGrabber::WriteLeadInText(const char* method, int32_t leadIn) {
  const auto groups = static_cast<uint32_t>(m__CQuorvane_CDText.GetSubChannelGroupCount());
  const uint8_t* data = m__CQuorvane_CDText.GetSubChannelsData();
  std::vector<uint8_t> buffer(kLeadInWriteBlocks * kQuorvaneCDTextGroupSize);
  const auto total = static_cast<uint32_t>(kFirstPregap - leadIn);
  QuorvaneI_Log("\n%s(): Writing the lead-in's CD-Text from %ld, %lu LBs\n", method, static_cast<long>(leadIn),
                static_cast<unsigned long>(total));
  for (uint32_t done = 0; done < total;) {
    ThrowIfCancelled(method, 0);
    const uint32_t n = std::min(kLeadInWriteBlocks, total - done);
    for (uint32_t k = 0; k < n; ++k)
      std::memcpy(buffer.data() + k * kQuorvaneCDTextGroupSize, data + (done + k) % groups * kQuorvaneCDTextGroupSize,
                  kQuorvaneCDTextGroupSize);
    const auto address = static_cast<uint32_t>(leadIn + static_cast<int32_t>(done));
    Write10(buffer.data(), n, address, n * static_cast<uint32_t>(kQuorvaneCDTextGroupSize));
    done += n;
    m__ULONG__CurrentWriteAddress = address + n;
  }
}

uint32_t CQuorvane_CdvdBurnerGrabber::SessionAtOnceTrack(const QuorvaneI_SaoTrack& track, int32_t index,
                                                         uint32_t address, const QuorvaneI_SaoRequest& request,
                                                         bool ownReader) {
  const int32_t block = QuorvaneI_SaoBlockSize(track, request.xa);
  QuorvaneI_Log("\n%s(): Track %ld, address %ld, size in LBs %ld\n", kSaoTrack, static_cast<long>(index),
                static_cast<long>(static_cast<int32_t>(address)), static_cast<long>(track.sizeInBlocks));
  if (ownReader) {
    track.source->SeekToBegin();
    StartPipeline(kSaoTrack, track.source, block);
  } else {
    m__QuorvaneI_WritePipeline__Pipeline.SetBlockSize(block);  // the one reader takes each source's own
  }
  // The pause before index 1 and the post-gap, in writes of ten blocks:
  // zeros, the track's pause block, or for a track of raw data sectors,
  // sectors of zero user data.
  const CQuorvane_EDCECC edcecc;
  const CQuorvane_RawSectorBuilder builder(edcecc);
  const auto writeGap = [&](int32_t count, const std::vector<uint8_t>& pattern) {
    std::vector<uint8_t> gap(static_cast<size_t>(kGapWriteBlocks) * static_cast<uint32_t>(block), 0);
    if (pattern.size() == static_cast<size_t>(block))
      for (uint32_t k = 0; k < kGapWriteBlocks; ++k)
        std::copy(pattern.begin(), pattern.end(), gap.begin() + static_cast<ptrdiff_t>(k) * block);
    for (int32_t done = 0; done < count;) {
      ThrowIfCancelled(kSaoTrack, 0);
      const uint32_t n = std::min<uint32_t>(kGapWriteBlocks, static_cast<uint32_t>(count - done));
      if (track.rawData && !track.audio)
        builder.BuildMany(track.mode2 ? QuorvaneI_SectorLayout::Mode2 : QuorvaneI_SectorLayout::Mode1,
                          static_cast<int32_t>(address), n, nullptr, nullptr, gap.data(), kQuorvaneRawSectorSize);
      Write10(gap.data(), n, address, n * static_cast<uint32_t>(block));
      address += n;
      done += static_cast<int32_t>(n);
      m__ULONG__CurrentWriteAddress = address;
    }
  };
  writeGap(track.pregapBlocks + track.pregapExtraBlocks, track.pauseBlock);
  WriteLoop loop;
  loop.address = address;
  loop.totalBlocks = static_cast<uint64_t>(track.sizeInBlocks);
  loop.progressInterval = request.progressInterval;
  loop.bufferInterval = request.bufferInterval;
  address = RunWriteLoop(kSaoTrack, loop);
  writeGap(track.postgapBlocks, {});
  if (ownReader) {
    ShutDownCacheThread();
    JoinCacheThread();
  }
  return address;
}
