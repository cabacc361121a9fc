// Grabbing a track or a range of one into a file, and the read error
// recovery page around it.
#include <algorithm>
#include <cstring>
#include <new>
#include <memory>
#include <mutex>
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "device/guarded.h"
#include "grab/grabber.h"
#include "platform/clock.h"
#include "platform/output_file.h"

namespace {

constexpr uint8_t kErrorRecoveryPage = 0x01;
constexpr uint8_t kDefaultValues = 2;
constexpr int32_t kGapArea = kQuorvaneGapArea;
constexpr int32_t kForgivenArea = kQuorvaneForgivenArea;
constexpr uint32_t kWaveHeaderSize = 44;

const QUORVANE_TOC_TRACK& TrackOf(const QUORVANE_TOC_INFORMATION& toc, uint8_t number) {
  return toc.m__TRACK__Tracks[number - 1];
}

// The output file, opened under a temporary name; blocks first..last of
// an audio track make a wave file, whose header goes first.
void CreateOutput(const char* method, qv::plat::OutputFile& file, const char* fileName, const QUORVANE_TOC_TRACK& t,
                  int32_t first, int32_t last) {
  QuorvaneI_OpenGrabbed(method, file, fileName);
  if (!t.m__UCHAR__IsAudio) return;
  uint32_t error = 0;
  uint8_t header[kWaveHeaderSize];
  const uint64_t blocks = static_cast<uint64_t>(int64_t{last} - first + 1);
  Sonvex_WaveFileHeaderFormat(reinterpret_cast<PSONVEX_WAVE_FILE_HEADER>(header),
                              static_cast<QV_ULONG>(blocks * t.m__ULONG__BlockSize));
  if (!file.Write(header, sizeof header, &error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): WriteFile( WAVE_FILE_HEADER ) failed, status %ld",
                    method, static_cast<long>(error));
}

}  // namespace

void QuorvaneI_OpenGrabbed(const char* method, qv::plat::OutputFile& file, const std::string& name) {
  uint32_t error = 0;
  if (!file.Open(name, &error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): CreateFile( '%s' ) failed, status %ld", method,
                    name.c_str(), static_cast<long>(error));
}

void QuorvaneI_CommitGrabbed(const char* method, qv::plat::OutputFile& file) {
  uint32_t error = 0;
  if (!file.Commit(&error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): FlushFileBuffers() failed, status %ld", method,
                    static_cast<long>(error));
}

// A drive that lost its disc or went away fails every block alike: that
// ends a grab at once.
void QuorvaneI_WriteGrabbed(const char* method, qv::plat::OutputFile& file, const uint8_t* data, size_t bytes) {
  uint32_t error = 0;
  if (!file.Write(data, bytes, &error))
    QuorvaneI_Throw(method, EN_SYSTEM_CALL_FAILED, error, "%s(): WriteFile() failed, status %ld", method,
                    static_cast<long>(error));
}

bool QuorvaneI_IsInvalidOpcode(const CDB_FAILURE_INFORMATION* f) {
  return f != nullptr && f->m__UCHAR__IsValid && f->m__UCHAR__SenseLength >= 14 && (f->m__UCHAR__Sense[2] & 0x0F) == 0x05 &&
         f->m__UCHAR__Sense[12] == 0x20 && f->m__UCHAR__Sense[13] == 0x00;
}

bool QuorvaneI_IsBlockFailure(const CDB_FAILURE_INFORMATION* f) {
  if (f == nullptr || !f->m__UCHAR__IsValid || f->m__UCHAR__SenseLength < 3) return false;
  const uint8_t key = f->m__UCHAR__Sense[2] & 0x0F;
  return key == 0x03 || key == 0x04 || key == 0x05;
}

void CQuorvane_CdvdGrabber::RestoreReadErrorRecoverySafe() {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::RestoreReadErrorRecoverySafe";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Guarded(kMethod, [&] {
    uint8_t buffer[4096];
    const CQuorvane_DriveAnswer defaults = SensePage(kMethod, buffer, sizeof buffer, kErrorRecoveryPage, kDefaultValues);
    uint8_t page[256] = {};
    defaults.Copy(0, page, defaults.Length());
    SelectPage(defaults, page);
    const CQuorvane_DriveAnswer current = SensePage(kMethod, buffer, sizeof buffer, kErrorRecoveryPage, 0);
    // DCR (byte 2 bit 0) is what says the drive leaves errors uncorrected.
    m__BOOLEAN__IsErrorCorrectionDisabled = current.Bit(2, 0);
  });
}

void CQuorvane_CdvdGrabber::DisableHardwareErrorCorrectionSafe() {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::DisableHardwareErrorCorrectionSafe";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  m__BOOLEAN__IsErrorCorrectionDisabled = true;
  QuorvaneI_Guarded(kMethod, [&] {
    uint8_t buffer[4096];
    const CQuorvane_DriveAnswer defaults = SensePage(kMethod, buffer, sizeof buffer, kErrorRecoveryPage, kDefaultValues);
    uint8_t page[12] = {};
    defaults.Copy(0, page, std::min<uint32_t>(defaults.Length(), sizeof page));
    page[1] = 10;
    page[2] = Quirks().Has(kQuirkPlainErrorRecovery) ? 0x00 : 0x01;
    page[3] = 0;
    SelectPage(CQuorvane_DriveAnswer(kMethod, "mode page", page, sizeof page), page);
    TestUnitReady();
    const CQuorvane_DriveAnswer now = SensePage(kMethod, buffer, sizeof buffer, kErrorRecoveryPage, 0);
    QuorvaneI_Log("\n%s(): Page 01h now: error recovery 0x%02X, read retry count %d\n", kMethod, now.U8(2), now.U8(3));
    QuorvaneI_Log("\n%s(): Hardware error correction disabled ( %d )\n", kMethod, 1);
  });
}

void CQuorvane_CdvdGrabber::GrabTrack(uint8_t track, const char* fileName, const GrabPolicy& policy) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GrabTrack";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
    CQuorvane_ScsiDeviceGeneric::TestUnitReady();
    m__UCHAR__IsCancel = 0;
    if (Quirks().Has(kQuirkKeepsRecoveryPage))
      QuorvaneI_Log("\n%s(): Call to RestoreReadErrorRecoverySafe() skipped for '%s':'%s'\n", kMethod, m__CHAR__VendorId,
                    m__CHAR__ProductId);
    else
      RestoreReadErrorRecoverySafe();
    auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
    GetTOCInformation(toc.get());
    if (track == 0 || track > toc->m__UCHAR__NumberOfTracks)
      QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0, "%s(): Track number %ld exceeds TOC tracks %ld", kMethod,
                      static_cast<long>(track), static_cast<long>(toc->m__UCHAR__NumberOfTracks));
    const QUORVANE_TOC_TRACK& t = TrackOf(*toc, track);
    if (t.m__ULONG__BlockSize == 0)
      QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0, "%s(): LB size %ld is unsupported", kMethod,
                      static_cast<long>(t.m__ULONG__BlockSize));
    qv::plat::OutputFile file;
    CreateOutput(kMethod, file, fileName, t, t.m__LONG__StartAddress, t.m__LONG__EndAddress);
    const GrabRun run{&t, toc->m__UCHAR__IsDVD != 0, &file, policy.maxRetries, policy.ignoreBadBlocks,
                      policy.forceSingle, false};
    GrabTrackCooked(run, policy.progressInterval, 0, t.m__LONG__StartAddress, t.m__LONG__EndAddress);
    QuorvaneI_CommitGrabbed(kMethod, file);
    QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
  });
}

void CQuorvane_CdvdGrabber::GrabRange(int32_t firstLBA, int32_t lastLBA, const char* fileName,
                                      const GrabPolicy& policy) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GrabRange";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
    CQuorvane_ScsiDeviceGeneric::TestUnitReady();
    m__UCHAR__IsCancel = 0;
    RestoreReadErrorRecoverySafe();
    auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
    GetTOCInformation(toc.get());
    const QUORVANE_TOC_TRACK* t = nullptr;
    for (uint8_t n = 1; n <= toc->m__UCHAR__NumberOfTracks && t == nullptr; ++n)
      if (TrackOf(*toc, n).m__LONG__EndAddress >= firstLBA && TrackOf(*toc, n).m__LONG__StartAddress <= firstLBA)
        t = &TrackOf(*toc, n);
    if (t == nullptr || lastLBA < firstLBA)
      QuorvaneI_Throw(kMethod, EN_NOT_FOUND, 0, "%s(): Range %ld - %ld was not found", kMethod,
                      static_cast<long>(firstLBA), static_cast<long>(lastLBA));
    if (lastLBA > t->m__LONG__EndAddress)
      QuorvaneI_Throw(kMethod, EN_INVALID_RANGE, 0, "%s(): Range ending LBA %ld is larger then track's ending LBA %ld",
                      kMethod, static_cast<long>(lastLBA), static_cast<long>(t->m__LONG__EndAddress));
    if (t->m__ULONG__BlockSize == 0)
      QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0, "%s(): LB size %ld is unsupported", kMethod, 0L);
    qv::plat::OutputFile file;
    CreateOutput(kMethod, file, fileName, *t, firstLBA, lastLBA);
    const GrabRun run{t, toc->m__UCHAR__IsDVD != 0, &file, policy.maxRetries + 1, policy.ignoreBadBlocks,
                      policy.forceSingle, false};
    GrabTrackCooked(run, policy.progressInterval, 1, firstLBA, lastLBA);
    QuorvaneI_CommitGrabbed(kMethod, file);
    QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
  });
}

CQuorvane_CdvdGrabber::GrabCount CQuorvane_CdvdGrabber::StartCount(const GrabRun& run, int32_t first, int32_t last) {
  const uint64_t range = static_cast<uint64_t>(int64_t{last} - first + 1);
  return {run.progressTotal != 0 ? run.progressTotal : range, run.progressTotal != 0 ? run.progressBase : 0,
          qv::plat::NowMs()};
}

void CQuorvane_CdvdGrabber::EndChunk(const char* method, const GrabRun& run, const uint8_t* data, size_t bytes,
                                     int32_t offset) {
  QuorvaneI_WriteGrabbed(method, *run.file, data, bytes);
  if (IsCancel())
    QuorvaneI_Throw(method, EN_USER_EXCEPTION, 0, "%s(): Cancel set at LBA offset %ld", method,
                    static_cast<long>(offset));
}

void CQuorvane_CdvdGrabber::CountChunk(GrabCount& count, int32_t blocks, uint32_t progressInterval) {
  count.done += static_cast<uint64_t>(blocks);
  const uint64_t now = qv::plat::NowMs();
  if (progressInterval > 0 && now - count.lastReport > uint64_t{progressInterval} * 1000) {
    count.lastReport = now;
    Notify(CN_GRAB_PROGRESS, count.total, count.done);
  }
}

void CQuorvane_CdvdGrabber::GrabTrackCooked(const GrabRun& run, uint32_t progressInterval, int32_t depth,
                                            int32_t first, int32_t last) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GrabTrackCooked";
  const QUORVANE_TOC_TRACK& t = *run.track;
  const uint32_t blockSize = t.m__ULONG__BlockSize;
  const int32_t end = t.m__LONG__EndAddress;
  const uint32_t chunkBlocks =
      QuorvaneI_ChunkBlocks(m__PCQuorvane_ScsiTransport__Transport->GetHostTransferLimit(), blockSize);
  const uint32_t bufferSize = chunkBlocks * blockSize;
  // On a page boundary: the kernel then moves the drive's data straight
  // into it, where a buffer off the boundary goes through a copy of its own.
  constexpr std::align_val_t kPage{4096};
  auto release = [](uint8_t* p) { ::operator delete(p, kPage); };
  std::unique_ptr<uint8_t, decltype(release)> buffer(
      static_cast<uint8_t*>(::operator new(bufferSize, kPage, std::nothrow)), release);
  if (!buffer)
    QuorvaneI_Throw(kMethod, EN_MEMORY_ALLOCATION_FAILED, 0, "%s(): l__PUCHAR__Buffer == NULL", kMethod);
  m__PCQuorvane_ScsiTransport__Transport->SetMaximumTransferLength(bufferSize);
  int32_t chunk = static_cast<int32_t>(chunkBlocks);
  if ((depth > 0 && !(depth == 1 && run.keepChunks)) || run.forceSingle) chunk = 1;
  GrabCount count = StartCount(run, first, last);
  bool gapFailed = false;
  for (int32_t lba = first; lba <= last;) {
    // A short track or range ends in a shorter chunk.
    const int32_t blocks = static_cast<int32_t>(std::min<int64_t>(chunk, int64_t{last} - lba + 1));
    const uint32_t bytes = static_cast<uint32_t>(blocks) * blockSize;
    bool failed = false;
    if (!gapFailed) {
      try {
        if (QuorvaneI_TestUnitReadyBeforeRead()) CQuorvane_ScsiDeviceGeneric::TestUnitReady();
        if (run.dvd || (m__BOOLEAN__IsReadCDRefused && blockSize == 2048))
          CQuorvane_ScsiDeviceGeneric::Read10(buffer.get(), bytes, static_cast<uint32_t>(lba),
                                              static_cast<uint32_t>(blocks), 0);
        else
          CQuorvane_ScsiDeviceCdvdRomReader::ReadCD(0, static_cast<uint32_t>(lba), static_cast<uint32_t>(blocks), 0,
                                                    false, true, 0, false, QV_SUBCHANNEL_NONE, buffer.get(), bytes);
        // Bytes the drive left unsent are zeros, not the last chunk's.
        const uint32_t got = std::min(bytes, m__PCQuorvane_ScsiTransport__Transport->GetLastTransferredLength());
        std::memset(buffer.get() + got, 0, bytes - got);
      } catch (CQuorvane_Exception* e) {
        const CDB_FAILURE_INFORMATION* f = e != nullptr ? e->FailureInformation() : nullptr;
        if (!run.dvd && QuorvaneI_IsInvalidOpcode(f) && f->m__UCHAR__CDB[0] == 0xBE) {
          QuorvaneI_Caught owned(e);
          // Drives of the plainest kind have no READ CD; their READ(10)
          // gives the same user data of a data track, an audio track's
          // samples not at all.
          if (blockSize != 2048)
            QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0,
                            "%s(): READ CD is not supported by the drive, and blocks of %ld UCHARs need it", kMethod,
                            static_cast<long>(blockSize));
          QuorvaneI_Log("\n%s(): READ CD is not supported by the drive, reading with READ(10)\n", kMethod);
          m__BOOLEAN__IsReadCDRefused = true;
          continue;
        }
        if (!QuorvaneI_IsBlockFailure(f)) QuorvaneI_Rethrow(kMethod, e);
        QuorvaneI_Caught owned(e);
        // Near the end a chunk is read whole; one that fails there is read
        // again block by block, so that the zeros start where the blocks do.
        if (blocks > 1 && end - lba < kGapArea) {
          chunk = 1;
          continue;
        }
        failed = true;
        QuorvaneI_Log("\n%s(): Read of %ld LB(s) at LBA %ld failed, status %ld\n", kMethod, static_cast<long>(blocks),
                      static_cast<long>(lba), static_cast<long>(e ? e->Number() : uint32_t{EN_EXCEPTION_NOT_ALLOCATED}));
        if (end - lba < kGapArea) {
          QuorvaneI_Log("\n%s(): Fail in suspected gap area %d Vs. %d\n", kMethod, lba, end);
          gapFailed = true;
        }
      }
    }
    // Blocks after a failure in the gap area are zeros too, unread.
    const bool replaced = failed || gapFailed;
    if (failed && depth < run.maxDepth + 1 && !gapFailed) {
      Notify(CN_GRAB_RETRY, static_cast<uint32_t>(lba));
      GrabTrackCooked(run, 0, depth + 1, lba, lba + blocks - 1);
    } else {
      if (replaced) {
        if (!run.ignoreBadBlocks && end - lba > kForgivenArea)
          QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0, "%s(): LBA %ld cannot be recovered", kMethod,
                          static_cast<long>(lba));
        std::memset(buffer.get(), 0, bytes);
        Notify(CN_GRAB_BLOCK_REPLACED, static_cast<uint32_t>(lba), static_cast<uint32_t>(blocks));
      }
      EndChunk(kMethod, run, buffer.get(), bytes, lba - first);
    }
    CountChunk(count, blocks, progressInterval);
    lba += blocks;
  }
  // The last report says it is all done.
  if (progressInterval > 0) Notify(CN_GRAB_PROGRESS, count.total, count.done);
}
