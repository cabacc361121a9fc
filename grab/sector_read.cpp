// The sector readers: cooked reads, raw reads in three forms brought to
// one (2352 bytes of sector and 96 of raw P-W subchannel), their checks,
// and the renumbering of read failures by what the drive said.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/log.h"
#include "device/raw_sector.h"
#include "grab/grabber.h"

namespace {

constexpr uint32_t kIntermediateSize = 65536;
constexpr uint32_t kCookedSize = 2048, kRawSize = 2352, kRawPQSize = 2368, kRawPWSize = 2448;
enum ReadMode : int { kModeCooked = 0, kModeRaw = 1, kModeRawPQ = 2, kModeRawPW = 3 };
constexpr uint32_t kModeSize[4] = {kCookedSize, kRawSize, kRawPQSize, kRawPWSize};
constexpr const char* kModeName[4] = {"READ_MODE_COOKED", "READ_MODE_RAW", "READ_MODE_RAW_PQ", "READ_MODE_RAW_RAW_PW"};
constexpr uint8_t kFua = 0x08;

// Sense key and codes of a fixed-format sense record.
struct SenseOf {
  uint8_t key, asc, ascq;
};

bool IsDataTrack(uint32_t type) { return type >= CQuorvane_CdvdGrabber::kTrackMode1 && type <= CQuorvane_CdvdGrabber::kTrackMode2Form2; }

// The main data mode a track type's sectors carry: 0 audio, 1 or 2.
int ModeOf(uint32_t type) {
  if (!IsDataTrack(type)) return 0;
  return type == CQuorvane_CdvdGrabber::kTrackMode1 ? 1 : 2;
}

// A synthesized raw P-W area for a block of a track: its position in Q.
void SynthesizeSubchannel(const CQuorvane_CdvdGrabber::TrackPlace& place, int32_t lba, bool p, uint8_t* raw96) {
  uint8_t q[12];
  const bool pregap = lba < place.start;
  const uint32_t relative = static_cast<uint32_t>(pregap ? place.start - lba - 1 : lba - place.start);
  QuorvaneI_QPosition(IsDataTrack(place.type) ? 4 : 0, place.number, pregap ? 0 : 1, relative, lba, q);
  std::memset(raw96, 0, 96);
  QuorvaneI_SpreadRawPW(q, p, raw96);
}

// The Q of a block rebuilt for its address; P and R-W stay as read.
void RepairSubchannel(const CQuorvane_CdvdGrabber::TrackPlace& place, int32_t lba, uint8_t* raw96) {
  QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::Read(): Processing LBA %d for subchannel repair\n", lba);
  uint8_t kept[96];
  for (int j = 0; j < 96; ++j) kept[j] = raw96[j] & 0x3F;
  SynthesizeSubchannel(place, lba, (raw96[0] & 0x80) != 0, raw96);
  for (int j = 0; j < 96; ++j) raw96[j] |= kept[j];
}

}  // namespace

uint32_t CQuorvane_CdvdGrabber::Renumber(CQuorvane_Exception* e) {
  QuorvaneI_Caught owned(e);
  if (e == nullptr) return EN_EXCEPTION_NOT_ALLOCATED;
  std::snprintf(m__CHAR__LastReadFailure, sizeof m__CHAR__LastReadFailure, "%s", e->Text());
  const CDB_FAILURE_INFORMATION* f = e->FailureInformation();
  m__CDB_FAILURE_INFORMATION__LastRead = f != nullptr ? *f : CDB_FAILURE_INFORMATION{};
  if (f == nullptr || !f->m__UCHAR__IsValid || f->m__UCHAR__SenseLength < 14) return e->Number();
  const SenseOf s{static_cast<uint8_t>(f->m__UCHAR__Sense[2] & 0x0F), f->m__UCHAR__Sense[12], f->m__UCHAR__Sense[13]};
  const uint8_t opcode = f->m__UCHAR__CDB[0];
  if (s.key == 0x01) return EN_SUCCESS;  // recovered: the data came
  if (s.key == 0x03 && (s.asc == 0x02 || s.asc == 0x15)) return EN_POSITIONING_ERROR;
  if (s.key == 0x03 && s.asc == 0x11) return EN_UNRECOVERED_READ_ERROR;
  if ((s.key == 0x03 && s.asc == 0x06) || (s.key == 0x05 && s.asc == 0x64) ||
      ((opcode == 0x28 || opcode == 0xBE) && s.asc == 0x24 && s.ascq == 0x00)) {
    QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::Read(): Replacing EN_CDB_CALL_FAILED -> EN_ILLEGAL_OPERATION_FOR_TRACK\n");
    return EN_ILLEGAL_OPERATION_FOR_TRACK;
  }
  return e->Number();
}

template <class Body>
uint32_t CQuorvane_CdvdGrabber::Attempt(Body&& body) {
  try {
    body();
    return EN_SUCCESS;
  } catch (CQuorvane_Exception* e) {
    return Renumber(e);
  }
}

void CQuorvane_CdvdGrabber::KnowReadModes() {
  if (m__BOOLEAN__AreReadModesKnown) return;
  uint8_t cooked = 1, pq = 0, rawPW = 0;
  ProbeSupportedReadModes(&cooked, &m__UCHAR__ReadModes[kModeRaw], &m__UCHAR__ReadModes[kModeRawPQ],
                          &m__UCHAR__ReadModes[kModeRawPW], &pq, &rawPW);
  m__BOOLEAN__AreReadModesKnown = true;
}

uint32_t CQuorvane_CdvdGrabber::Read10(void* buffer, int32_t lba, uint32_t blocks, bool forceUnitAccess) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  // READ(10) counts blocks in 16 bits.
  if (blocks > 0xFFFF) {
    std::snprintf(m__CHAR__LastReadFailure, sizeof m__CHAR__LastReadFailure,
                  "CQuorvane_CdvdBurnerGrabber::Read10(): %u blocks are more than one READ(10) reads", blocks);
    return EN_READ_REQUEST_TOO_LARGE;
  }
  return Attempt([&] {
    CQuorvane_ScsiDeviceGeneric::Read10(buffer, blocks * kCookedSize, static_cast<uint32_t>(lba), blocks,
                                        forceUnitAccess ? kFua : 0);
  });
}

uint32_t CQuorvane_CdvdGrabber::ReadCD(void* buffer, int32_t lba, uint32_t blocks, uint32_t flags,
                                       const TrackPlace& place) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ReadCD";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  int mode = (flags & kReadRawPW) ? kModeRawPW : (flags & kReadRawPQ) ? kModeRawPQ : (flags & kReadRaw) ? kModeRaw : kModeCooked;
  if (mode == kModeCooked && (m__BOOLEAN__IsErrorCorrectionDisabled || place.type == kTrackAudio ||
                              place.type == kTrackMode2 || place.type == kTrackMode2Form2 || place.type > kTrackMode2Form2)) {
    QuorvaneI_Log("\n%s(): Read mode updated from READ_MODE_COOKED to READ_MODE_RAW b/s of wrong track mode\n", kMethod);
    mode = kModeRaw;
  }
  if (mode != kModeCooked) KnowReadModes();
  while (mode < kModeRawPW && !m__UCHAR__ReadModes[mode]) {
    ++mode;
    QuorvaneI_Log("\n%s(): Read mode updated to %s\n", kMethod, kModeName[mode]);
  }
  if (!m__UCHAR__ReadModes[mode]) {
    QuorvaneI_Log("\n%s(): EXITing with failure, read mode %d for flags 0x%08X is unsupported\n", kMethod, mode, flags);
    std::snprintf(m__CHAR__LastReadFailure, sizeof m__CHAR__LastReadFailure,
                  "%s(): Read mode %d for flags 0x%08X is unsupported", kMethod, mode, flags);
    return EN_READ_MODE_UNSUPPORTED;
  }
  if (uint64_t{blocks} * kModeSize[mode] > kIntermediateSize) {
    std::snprintf(m__CHAR__LastReadFailure, sizeof m__CHAR__LastReadFailure,
                  "%s(): %u blocks of %u UCHARs do not fit %u UCHARs", kMethod, blocks, kModeSize[mode], kIntermediateSize);
    return EN_READ_REQUEST_TOO_LARGE;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  if (mode == kModeRawPW)
    return Attempt([&] {
      CQuorvane_ScsiDeviceCdvdRomReader::ReadCD(0, static_cast<uint32_t>(lba), blocks, 0, true, true, 3, true,
                                                QV_SUBCHANNEL_RAW_PW, out, blocks * kRawPWSize);
    });
  std::unique_ptr<uint8_t[]> staging(new uint8_t[kIntermediateSize]());
  const uint32_t size = blocks * kModeSize[mode];
  const uint32_t status = Attempt([&] {
    if (mode == kModeCooked)
      CQuorvane_ScsiDeviceGeneric::Read10(staging.get(), size, static_cast<uint32_t>(lba), blocks, 0);
    else
      CQuorvane_ScsiDeviceCdvdRomReader::ReadCD(0, static_cast<uint32_t>(lba), blocks, 0, true, true, 3, true,
                                                mode == kModeRawPQ ? QV_SUBCHANNEL_Q : QV_SUBCHANNEL_NONE, staging.get(),
                                                size);
  });
  if (status != EN_SUCCESS) return status;
  const CQuorvane_RawSectorBuilder builder(m__EDCECC);
  const bool form1 = place.type == kTrackMode2Form1;
  for (uint32_t i = 0; i < blocks; ++i) {
    const uint8_t* in = staging.get() + size_t{i} * kModeSize[mode];
    uint8_t* block = out + size_t{i} * kRawPWSize;
    const int32_t at = lba + static_cast<int32_t>(i);
    if (mode == kModeCooked) {
      builder.Build(form1 ? QuorvaneI_SectorLayout::Mode2Form1 : QuorvaneI_SectorLayout::Mode1, at, in, nullptr, block);
    } else {
      std::memcpy(block, in, kRawSize);
    }
    if (mode == kModeRawPQ) {
      std::memset(block + kRawSize, 0, 96);
      QuorvaneI_SpreadRawPW(in + kRawSize, (in[kRawSize + 15] & 0x80) != 0, block + kRawSize);
    } else {
      SynthesizeSubchannel(place, at, false, block + kRawSize);
    }
  }
  return EN_SUCCESS;
}

bool CQuorvane_CdvdGrabber::CheckBlock(uint8_t* block, int32_t lba, uint32_t flags, const TrackPlace& place) const {
  const int mode = ModeOf(place.type);
  if (mode == 0) return true;
  if (flags & kReadLightCheck) return m__EDCECC.Inspect(block, mode, false) == CQuorvane_EDCECC::Fault::None;
  return m__EDCECC.CheckLB(block, mode, lba);
}

uint32_t CQuorvane_CdvdGrabber::ReadEx(void* buffer, int32_t lba, uint32_t flags, const TrackPlace& place) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ReadEx";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (flags & kReadCooked) return Read10(buffer, lba, 1, (flags & kReadForceUnitAccess) != 0);
  const uint32_t status = ReadCD(buffer, lba, 1, flags, place);
  if (status != EN_SUCCESS) return status;
  auto* block = static_cast<uint8_t*>(buffer);
  if (!CheckBlock(block, lba, flags, place)) {
    std::snprintf(m__CHAR__LastReadFailure, sizeof m__CHAR__LastReadFailure,
                  "%s(): Bad ECC/EDC sector detected for LBA %ld", kMethod, static_cast<long>(lba));
    m__CDB_FAILURE_INFORMATION__LastRead = CDB_FAILURE_INFORMATION{};
    return EN_EDC_ECC_MISMATCH;
  }
  if (flags & kReadRepairSubchannel) RepairSubchannel(place, lba, block + kRawSize);
  return EN_SUCCESS;
}

uint32_t CQuorvane_CdvdGrabber::Read(void* buffer, int32_t lba, uint32_t blocks, uint32_t flags,
                                     const TrackPlace& place) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::Read";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (blocks == 0) return EN_SUCCESS;
  if (blocks == 1) return ReadEx(buffer, lba, flags, place);
  const bool cooked = (flags & kReadCooked) != 0;
  const uint32_t stride = cooked ? kCookedSize : kRawPWSize;
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t status = cooked ? Read10(buffer, lba, blocks, (flags & kReadForceUnitAccess) != 0)
                           : ReadCD(buffer, lba, blocks, flags, place);
  if (status == EN_SUCCESS && !cooked) {
    for (uint32_t i = 0; i < blocks && status == EN_SUCCESS; ++i) {
      const int32_t at = lba + static_cast<int32_t>(i);
      if (!CheckBlock(out + size_t{i} * stride, at, flags, place)) {
        status = EN_EDC_ECC_MISMATCH;
        if (flags & kReadStopAtFirstFailure) {
          QuorvaneI_Log("\n%s(): EXITing with failure, error recovery for LBA %d failed, status %d ( 0x%x )\n", kMethod,
                        at, static_cast<int>(status), status);
          return status;
        }
      } else if (flags & kReadRepairSubchannel) {
        RepairSubchannel(place, at, out + size_t{i} * stride + kRawSize);
      }
    }
  }
  if (status == EN_SUCCESS) return status;
  if (flags & kReadStopAtFirstFailure) {
    QuorvaneI_Log("\n%s(): EXITing with failure, Read10() or ReadCD() for LBA %d failed, status %d ( 0x%x )\n", kMethod,
                  lba, static_cast<int>(status), status);
    return status;
  }
  uint32_t last = EN_SUCCESS;
  for (uint32_t i = 0; i < blocks; ++i) {
    const int32_t at = lba + static_cast<int32_t>(i);
    QuorvaneI_Log("\n%s(): Processing LBA %d for read retry\n", kMethod, at);
    if (const uint32_t s = ReadEx(out + size_t{i} * stride, at, flags, place); s != EN_SUCCESS) last = s;
  }
  return last;
}

void CQuorvane_CdvdGrabber::PatternBlock(uint8_t* block, int32_t lba, const TrackPlace& place) const {
  QuorvaneI_SectorLayout layout = QuorvaneI_SectorLayout::Audio;
  uint8_t subHeader[4] = {};
  switch (place.type) {
    case kTrackMode1: layout = QuorvaneI_SectorLayout::Mode1; break;
    case kTrackMode2: layout = QuorvaneI_SectorLayout::Mode2; break;
    case kTrackMode2Form1: layout = QuorvaneI_SectorLayout::Mode2Form1; break;
    case kTrackMode2Form2:
      layout = QuorvaneI_SectorLayout::Mode2Form2;
      subHeader[2] = 0x20;  // submode: Form 2
      break;
    default: break;
  }
  const CQuorvane_RawSectorBuilder builder(m__EDCECC);
  builder.Build(layout, lba, nullptr, subHeader, block);
  SynthesizeSubchannel(place, lba, false, block + kRawSize);
}
