// Grabbing a whole disc: a CD into one raw image of every track, a DVD
// into parts of user data, each with its description file beside it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "device/guarded.h"
#include "grab/grabber.h"
#include "grab/mds.h"
#include "platform/clock.h"
#include "platform/output_file.h"

namespace {

constexpr uint32_t kGrabBufferSize = kQuorvaneGrabBufferSize;
constexpr uint32_t kRawModeSize[4] = {2048, 2352, 2368, 2448};
constexpr uint32_t kReadFlags[4] = {CQuorvane_CdvdGrabber::kReadCooked, CQuorvane_CdvdGrabber::kReadRaw,
                                    CQuorvane_CdvdGrabber::kReadRawPQ, CQuorvane_CdvdGrabber::kReadRawPW};
constexpr int32_t kGapArea = kQuorvaneGapArea;
constexpr int32_t kForgivenArea = kQuorvaneForgivenArea;
constexpr uint32_t kCdTextAnswerBytes = 0xFFFF;  // READ TOC's allocation length has 16 bits

CQuorvane_CdvdGrabber::TrackPlace PlaceOf(const QUORVANE_TOC_TRACK& t) {
  CQuorvane_CdvdGrabber::TrackPlace place;
  place.start = t.m__LONG__StartAddress;
  place.number = t.m__UCHAR__TrackNumber;
  if (t.m__UCHAR__IsAudio)
    place.type = CQuorvane_CdvdGrabber::kTrackAudio;
  else if (t.m__UCHAR__TrackMode != 2)
    place.type = CQuorvane_CdvdGrabber::kTrackMode1;
  else
    place.type = t.m__UCHAR__Form == 1   ? CQuorvane_CdvdGrabber::kTrackMode2Form1
                 : t.m__UCHAR__Form == 2 ? CQuorvane_CdvdGrabber::kTrackMode2Form2
                                         : CQuorvane_CdvdGrabber::kTrackMode2;
  return place;
}

}  // namespace

void CQuorvane_CdvdGrabber::GrabDisc(const char* baseName, int readMode, const GrabPolicy& policy,
                                     bool keepDriveRecovery) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GrabDisc";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
    CQuorvane_ScsiDeviceGeneric::TestUnitReady();
    m__UCHAR__IsCancel = 0;
    if (!keepDriveRecovery) {
      RestoreReadErrorRecoverySafe();
      DisableHardwareErrorCorrectionSafe();
    }
    auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
    GetTOCInformation(toc.get());
    if (toc->m__UCHAR__IsDVD)
      QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0, "%s(): DVD media is unsupported", kMethod);
    if (readMode >= 1 && readMode <= 3) KnowReadModes();
    if (readMode < 1 || readMode > 3 || !m__UCHAR__ReadModes[readMode])
      QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0, "%s(): Read mode is unsupported", kMethod);
    const std::string base = baseName;
    qv::plat::OutputFile mds, image;
    QuorvaneI_OpenGrabbed(kMethod, mds, base + ".mds");
    QuorvaneI_OpenGrabbed(kMethod, image, base + ".xmf");
    FormatFileMDSForCD(mds, *toc, baseName);
    const uint8_t count = toc->m__UCHAR__NumberOfTracks;
    uint64_t total = 0;
    for (uint8_t n = 1; n <= count; ++n)
      total += static_cast<uint64_t>(toc->m__TRACK__Tracks[n - 1].m__LONG__EndAddress -
                                     toc->m__TRACK__Tracks[n - 1].m__LONG__StartAddress + 1);
    uint64_t before = 0;
    for (uint8_t n = 1; n <= count; ++n) {
      const QUORVANE_TOC_TRACK& t = toc->m__TRACK__Tracks[n - 1];
      Notify(CN_GRAB_TRACK_BEGIN, n, count);
      GrabRun run{&t, false, &image, policy.maxRetries, policy.ignoreBadBlocks, policy.forceSingle, false};
      run.progressBase = before;
      run.progressTotal = total;
      GrabTrackRaw(run, readMode, policy.progressInterval, 0, t.m__LONG__StartAddress, t.m__LONG__EndAddress);
      before += static_cast<uint64_t>(t.m__LONG__EndAddress - t.m__LONG__StartAddress + 1);
      Notify(CN_GRAB_TRACK_END, n, count);
    }
    // The lead-in's CD-Text is in no sector of the image: it goes beside
    // it as a CD-Text file (READ TOC format 5's answer: length, then the
    // packs), which burning the description back writes into the lead-in.
    std::vector<uint8_t> text(kCdTextAnswerBytes);
    const bool haveText = QuorvaneI_Guarded(kMethod, [&] { ReadTOC(text.data(), kCdTextAnswerBytes, false, 5, 0); });
    const size_t textBytes = haveText ? std::min<size_t>(kCdTextAnswerBytes, 2 + (size_t{text[0]} << 8 | text[1])) : 0;
    qv::plat::OutputFile cdt;
    if (textBytes >= 4 + 18) {
      QuorvaneI_OpenGrabbed(kMethod, cdt, base + ".cdt");
      uint32_t error = 0;
      if (!cdt.Write(text.data(), textBytes, &error))
        QuorvaneI_Throw(kMethod, EN_SYSTEM_CALL_FAILED, error, "%s(): Writing the CD-Text file failed, status %ld",
                        kMethod, static_cast<long>(error));
    }
    // The description last: it names an image that is there.
    QuorvaneI_CommitGrabbed(kMethod, image);
    if (textBytes >= 4 + 18) QuorvaneI_CommitGrabbed(kMethod, cdt);
    QuorvaneI_CommitGrabbed(kMethod, mds);
    QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
  });
}

void CQuorvane_CdvdGrabber::GrabTrackRaw(const GrabRun& run, int readMode, uint32_t progressInterval, int32_t depth,
                                         int32_t first, int32_t last) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GrabTrackRaw";
  const QUORVANE_TOC_TRACK& t = *run.track;
  const TrackPlace place = PlaceOf(t);
  const int sectorMode = place.type == kTrackAudio ? 0 : place.type == kTrackMode1 ? 1 : 2;
  const int32_t end = t.m__LONG__EndAddress;
  int32_t chunk = static_cast<int32_t>(kGrabBufferSize / kRawModeSize[readMode]);
  if ((depth > 0 && !(depth == 1 && run.keepChunks)) || run.forceSingle) chunk = 1;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t(chunk) * kMdsImageBlockSize]);
  if (!buffer) QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): l__PUCHAR__Buffer == NULL", kMethod);
  GrabCount count = StartCount(run, first, last);
  bool gapFailed = false;
  for (int32_t lba = first; lba <= last;) {
    const int32_t blocks = static_cast<int32_t>(std::min<int64_t>(chunk, int64_t{last} - lba + 1));
    const size_t bytes = size_t(blocks) * kMdsImageBlockSize;
    std::memset(buffer.get(), 0, bytes);
    bool unreadable = gapFailed, badCheck = false;
    if (!gapFailed) {
      if (QuorvaneI_TestUnitReadyBeforeRead()) CQuorvane_ScsiDeviceGeneric::TestUnitReady();
      const uint32_t status = ReadCD(buffer.get(), lba, static_cast<uint32_t>(blocks), kReadFlags[readMode], place);
      if (status != EN_SUCCESS) {
        // A drive gone or a disc pulled fails the grab, with the drive's answer.
        if (!QuorvaneI_IsBlockFailure(&LastReadFailure())) {
          CDB_FAILURE_INFORMATION* info = nullptr;
          if (status == EN_CDB_CALL_FAILED && (info = QuorvaneI_NewFailureInformation()) != nullptr)
            *info = LastReadFailure();
          QuorvaneI_Throw(kMethod, status, reinterpret_cast<uintptr_t>(info), "%s", LastReadFailureText());
        }
        // Near the end a chunk is read whole; one that fails there is read
        // again block by block, so that the made sectors start where the
        // blocks do.
        if (blocks > 1 && end - lba < kGapArea) {
          chunk = 1;
          continue;
        }
        unreadable = true;
        QuorvaneI_Log("\n%s(): Read of %ld LB(s) at LBA %ld failed, status %ld\n", kMethod, static_cast<long>(blocks),
                      static_cast<long>(lba), static_cast<long>(status));
        if (end - lba < kGapArea) {
          QuorvaneI_Log("\n%s(): Fail in suspected gap area %d Vs. %d\n", kMethod, lba, end);
          gapFailed = true;
        }
      } else if (sectorMode != 0) {
        for (int32_t i = 0; i < blocks; ++i)
          if (!m__EDCECC.CheckLB(buffer.get() + size_t(i) * kMdsImageBlockSize, sectorMode, lba + i)) badCheck = true;
      }
    }
    if ((unreadable || badCheck) && depth < run.maxDepth + 1 && !gapFailed) {
      Notify(CN_GRAB_RETRY, static_cast<uint32_t>(lba));
      GrabTrackRaw(run, readMode, 0, depth + 1, lba, lba + blocks - 1);
    } else {
      if ((unreadable || badCheck) && !run.ignoreBadBlocks && end - lba > kForgivenArea)
        QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0, "%s(): LBA %ld cannot be recovered", kMethod,
                        static_cast<long>(lba));
      if (unreadable) {
        QuorvaneI_Log("\n%s(): Pattern will be generated for LBA %ld, %ld LBs, ( %ld - %ld ), %ld\n", kMethod,
                      static_cast<long>(lba), static_cast<long>(blocks), static_cast<long>(lba),
                      static_cast<long>(lba + blocks - 1), static_cast<long>(place.type));
        for (int32_t i = 0; i < blocks; ++i)
          PatternBlock(buffer.get() + size_t(i) * kMdsImageBlockSize, lba + i, place);
        Notify(CN_GRAB_BLOCK_REPLACED, static_cast<uint32_t>(lba), static_cast<uint32_t>(blocks));
      } else if (badCheck) {
        QuorvaneI_Log("\n%s(): Bad ECC/EDC sector detected for LBA %ld, %ld LBs, ( %ld - %ld ), %ld\n", kMethod,
                      static_cast<long>(lba), static_cast<long>(blocks), static_cast<long>(lba),
                      static_cast<long>(lba + blocks - 1), static_cast<long>(place.type));
        Notify(CN_GRAB_BAD_EDC_ECC, static_cast<uint32_t>(lba), static_cast<uint32_t>(blocks));
      }
      EndChunk(kMethod, run, buffer.get(), bytes, lba - first);
    }
    CountChunk(count, blocks, progressInterval);
    lba += blocks;
  }
  if (progressInterval > 0) Notify(CN_GRAB_PROGRESS, count.total, count.done);
}

void CQuorvane_CdvdGrabber::GrabDiscSplit(const char* baseName, uint32_t splitSizeMB, const GrabPolicy& policy) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GrabDiscSplit";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
    CQuorvane_ScsiDeviceGeneric::TestUnitReady();
    m__UCHAR__IsCancel = 0;
    RestoreReadErrorRecoverySafe();
    auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
    GetTOCInformation(toc.get());
    if (!toc->m__UCHAR__IsDVD || toc->m__UCHAR__NumberOfTracks == 0)
      QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0, "%s(): Non-DVD media is unsupported", kMethod);
    const int32_t lastAddress = toc->m__TRACK__Tracks[toc->m__UCHAR__NumberOfTracks - 1].m__LONG__EndAddress;
    QuorvaneI_DvdImage image;
    image.blocks = static_cast<uint32_t>(lastAddress + 1);
    image.blocksPerPart = std::max<uint32_t>(splitSizeMB * 1024 / 2048, 1) * 1024;
    image.parts = (image.blocks + image.blocksPerPart - 1) / image.blocksPerPart;
    // The layers' physical format data, for the description; a drive that
    // does not give it costs the description those records only.
    QuorvaneI_Guarded(kMethod, [&] {
      uint8_t structure[4 + 2048];
      for (uint8_t layer = 0, layers = 1; layer < layers; ++layer) {
        std::memset(structure, 0, sizeof structure);
        ReadDVDStructure(structure, sizeof structure, 0, layer, 0x00, 0);
        if (layer == 0) layers = static_cast<uint8_t>(((structure[4 + 2] >> 5) & 0x03) + 1);
        image.layers.emplace_back(structure + 4, structure + sizeof structure);
      }
    });
    // The disc as one track: a DVD of several tracks is grabbed whole.
    QUORVANE_TOC_TRACK whole = toc->m__TRACK__Tracks[0];
    whole.m__LONG__StartAddress = 0;
    whole.m__LONG__EndAddress = lastAddress;
    whole.m__ULONG__BlockSize = 2048;
    whole.m__UCHAR__IsAudio = 0;
    const std::string base = baseName;
    qv::plat::OutputFile mds;
    QuorvaneI_OpenGrabbed(kMethod, mds, base + ".mds");
    std::vector<std::unique_ptr<qv::plat::OutputFile>> parts;
    for (uint32_t i = 0; i < image.parts; ++i) {
      Notify(CN_GRAB_PART_BEGIN, i, image.parts);
      parts.push_back(std::make_unique<qv::plat::OutputFile>());
      QuorvaneI_OpenGrabbed(kMethod, *parts.back(), QuorvaneI_DvdPartName(base, i));
      const int32_t first = static_cast<int32_t>(i * image.blocksPerPart);
      const int32_t last = std::min<int32_t>(first + static_cast<int32_t>(image.blocksPerPart) - 1, lastAddress);
      GrabRun run{&whole, true, parts.back().get(), policy.maxRetries + 1, policy.ignoreBadBlocks, policy.forceSingle,
                  true};
      run.progressBase = uint64_t{i} * image.blocksPerPart;
      run.progressTotal = image.blocks;
      GrabTrackCooked(run, policy.progressInterval, 1, first, last);
      Notify(CN_GRAB_PART_END, i, image.parts);
    }
    FormatFileMDSForDVD(mds, *toc, baseName, image);
    // The parts take their names together, and the description after them.
    for (auto& part : parts) QuorvaneI_CommitGrabbed(kMethod, *part);
    QuorvaneI_CommitGrabbed(kMethod, mds);
    QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
  });
}
