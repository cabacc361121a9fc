// What is in the drive: the disc type, the disc information and the state
// of single tracks.
#include <cstring>
#include <memory>

#include "core/bytes.h"
#include "core/log.h"
#include "device/drive.h"
#include "device/guarded.h"
#include "platform/sysinfo.h"

namespace {

constexpr uint32_t kTrackAnswerSize = 28;  // the track information fields every drive sends

uint32_t DiscTypeOfProfile(uint16_t profile) {
  switch (profile) {
    case 0x0008: return DISC_TYPE_CDROM;
    case 0x0009: return DISC_TYPE_CDR;
    case 0x000A: return DISC_TYPE_CDRW;
    case 0x0010: return DISC_TYPE_DVDROM;
    case 0x0011: return DISC_TYPE_DVDR;
    case 0x0012: return DISC_TYPE_DVDRAM;
    case 0x0013: return DISC_TYPE_DVDRW_RO;
    case 0x0014: return DISC_TYPE_DVDRW_SR;
    case 0x001A: return DISC_TYPE_DVDPLUSRW;
    case 0x001B: return DISC_TYPE_DVDPLUSR;
    case 0x0020: return DISC_TYPE_DDCDROM;
    case 0x0021: return DISC_TYPE_DDCDR;
    case 0x0022: return DISC_TYPE_DDCDRW;
    case 0x002B: return DISC_TYPE_DVDPLUSR_DL;
    default: return DISC_TYPE_UNKNOWN;
  }
}

bool IsRandomAccessDvd(uint32_t discType) {
  return discType == DISC_TYPE_DVDRAM || discType == DISC_TYPE_DVDPLUSRW;
}

}  // namespace

uint32_t CQuorvane_CdvdDrive::GetDiscTypeSafe() {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GetDiscTypeSafe";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (Quirks().Has(kQuirkProfileUnknown)) {
    QuorvaneI_Log("\n%s(): Broken 'get configuration', returning CD-R\n", kMethod);
    return DISC_TYPE_CDR;
  }
  auto currentProfile = [&] {
    uint16_t profile = 0xFFFF;
    QuorvaneI_Guarded(kMethod, [&] {
      uint8_t buffer[4096] = {};
      GetConfiguration(2, 0, buffer, sizeof buffer);
      const CQuorvane_DriveAnswer all = Answer(kMethod, "GET CONFIGURATION", buffer, sizeof buffer);
      profile = all.AtMost(4 + uint64_t{all.Be32(0)}).Be16(6);
    });
    return profile;
  };
  uint16_t profile = currentProfile();
  // No current profile may only mean that a disc is still spinning up.
  if (profile == 0 && WaitForSpinUp()) profile = currentProfile();
  const uint32_t type = DiscTypeOfProfile(profile);
  QuorvaneI_Log("\n%s(): Current profile 0x%04X, disc type %u\n", kMethod, profile, type);
  return type;
}

uint32_t CQuorvane_CdvdDrive::GetInsertedDiscType() {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GetInsertedDiscType";
  QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint32_t type = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): EXITing with success, disc type == 0x%08X\n", kMethod, type);
  return type;
}

void CQuorvane_CdvdDrive::GetDiscInformation(QUORVANE_DISC_INFORMATION* record) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GetDiscInformation";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  std::memset(record, 0, sizeof *record);
  QuorvaneI_Traced(kMethod, [&] {
    uint8_t buffer[4096] = {};
    ReadDiscInformation(buffer, sizeof buffer);
    const CQuorvane_DriveAnswer all = Answer(kMethod, "READ DISC INFORMATION", buffer, sizeof buffer);
    const CQuorvane_DriveAnswer a = all.Declared(2 + uint64_t{all.Be16(0)});
    QUORVANE_DISC_INFORMATION r{};
    const uint8_t status = a.U8(2), flags = a.U8(7);
    r.m__UCHAR__IsValid = 1;
    r.m__UCHAR__DiscStatus = status & 0x03;
    r.m__UCHAR__StateOfLastSession = (status >> 2) & 0x03;
    r.m__UCHAR__IsErasable = (status >> 4) & 1;
    r.m__UCHAR__FirstTrackNumber = a.U8(3);
    r.m__UCHAR__NumberOfSessions = a.U8(4);
    r.m__UCHAR__FirstTrackInLastSession = a.U8(5);
    r.m__UCHAR__LastTrackInLastSession = a.U8(6);
    r.m__UCHAR__IsUnrestrictedUse = (flags >> 5) & 1;
    r.m__UCHAR__IsDiscBarCodeValid = (flags >> 6) & 1;
    r.m__UCHAR__IsDiscIdValid = (flags >> 7) & 1;
    r.m__UCHAR__DiscTypeCode = a.U8(8);
    a.Copy(12, r.m__UCHAR__DiscIdentification, 4);
    a.Copy(16, r.m__UCHAR__LastSessionLeadInStart, 4);
    a.Copy(20, r.m__UCHAR__LastPossibleLeadOutStart, 4);
    a.Copy(24, r.m__UCHAR__DiscBarCode, 8);
    r.m__UCHAR__NumberOfOPCTableEntries = a.U8(33);
    // Random-access media can always take more data.
    if (IsRandomAccessDvd(GetDiscTypeSafe())) r.m__UCHAR__DiscStatus = 1;
    *record = r;
  });
}

void CQuorvane_CdvdDrive::ReadTrackInformation(uint8_t trackNumber, void* buffer, uint32_t size,
                                                       uint32_t discType) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ReadTrackInformation";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    if (buffer == nullptr || size < 40)
      QuorvaneI_Throw(kMethod, EN_INVALID_PARAMETER, 0, "%s(): Buffer of %u UCHAR(s) is too small", kMethod, size);
    auto* answer = static_cast<uint8_t*>(buffer);
    std::memset(answer, 0, size);
    // The next writable address a drive reports depends on page 05h. A
    // drive without the page (a reader) still reports the track.
    QuorvaneI_Guarded(kMethod, [&] { SetWriteParameters(QuorvaneI_WriteParameters{}); });
    if (discType == 0) discType = GetDiscTypeSafe();

    switch (discType) {
      case DISC_TYPE_DVDROM:
      case DISC_TYPE_DVDR:
      case DISC_TYPE_DVDRW_RO:
      case DISC_TYPE_DVDRW_SR:
      case DISC_TYPE_DVDPLUSR:
      case DISC_TYPE_DVDPLUSR_DL: {
        uint8_t number = trackNumber;
        if (trackNumber == 0xFF) {
          uint8_t info[4096] = {};
          ReadDiscInformation(info, sizeof info);
          const CQuorvane_DriveAnswer all = Answer(kMethod, "READ DISC INFORMATION", info, sizeof info);
          number = all.Declared(2 + uint64_t{all.Be16(0)}).U8(6);
        }
        m__UCHAR__CurrentTrackNumber = number;
        QuorvaneI_Log("\n%s(): Current track number is 0x%02X ( 0x%02X passed, 0x%02X stored )\n", kMethod, number,
                      trackNumber, m__UCHAR__CurrentTrackNumber);
        CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer, size, 1, number);
        break;
      }
      case DISC_TYPE_DVDRAM:
      case DISC_TYPE_DVDPLUSRW:
        ReadTrackInformationForDVDPLUSRWOrDVDRAM(answer, size, trackNumber);
        break;
      default:
        CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(answer, size, 1, trackNumber);
        break;
    }
    if (!IsRandomAccessDvd(discType)) {
      // Callers read the answer as it stands: it must hold the whole
      // standard layout, and nothing past what the drive declared.
      const CQuorvane_DriveAnswer all = Answer(kMethod, "READ TRACK INFORMATION", answer, size);
      const CQuorvane_DriveAnswer a = all.Declared(2 + uint64_t{all.Be16(0)});
      if (a.Length() < kTrackAnswerSize) a.Fail("%u byte(s), expected at least %u", a.Length(), kTrackAnswerSize);
      std::memset(answer + a.Length(), 0, size - a.Length());
    }

    if (discType == DISC_TYPE_DVDRW_RO || discType == DISC_TYPE_DVDRW_SR) {
      const bool packet = (answer[6] & 0x20) != 0, blank = (answer[6] & 0x40) != 0;
      const auto trackSize = static_cast<int32_t>(QuorvaneI_BE32(answer + 24));
      if (packet && !blank && trackSize > 0) {
        // A formatted DVD-RW holding data: the data becomes the start of
        // one blank track that spans the whole capacity.
        QuorvaneI_Log("\n%s(): Formatted ( %d ), non-blank ( %d ) and non-zero ( %d ) track on DVD-RW ( %d ) media\n",
                      kMethod, packet, !blank, trackSize, static_cast<int>(discType));
        uint8_t capacities[4096] = {};
        ReadFormatCapacities(capacities, sizeof capacities);
        const CQuorvane_DriveAnswer all = Answer(kMethod, "READ FORMAT CAPACITIES", capacities, sizeof capacities);
        const CQuorvane_DriveAnswer list = all.Declared(4 + uint64_t{all.U8(3)});
        const uint32_t capacity = list.U8(3) < 9 ? list.Be32(4) : list.Be32(12);
        if (capacity < static_cast<uint32_t>(trackSize))
          list.Fail("capacity %u is below the track size %d", capacity, trackSize);
        answer[6] = static_cast<uint8_t>((answer[6] & ~0x30) | 0x40);
        answer[7] |= 0x01;
        QuorvaneI_PutBE32(answer + 12, static_cast<uint32_t>(trackSize));
        QuorvaneI_PutBE32(answer + 16, capacity - static_cast<uint32_t>(trackSize));
        QuorvaneI_PutBE32(answer + 24, capacity);
        QuorvaneI_Log("\n%s(): New NWA: %d, new free LBs: %d, new track size in LBs: %d\n", kMethod, trackSize,
                      static_cast<int>(capacity - static_cast<uint32_t>(trackSize)), static_cast<int>(capacity));
      }
    }

    if (Quirks().Has(kQuirkFreeBlocksOverstated)) {
      QuorvaneI_Log("\n%s(): Broken '%s':'%s' device workaround...\n", kMethod, m__CHAR__VendorId, m__CHAR__ProductId);
      const qv::plat::OsVersion os = qv::plat::GetOsVersion();
      if (os.platformId == 2 && os.major == 5 && os.minor == 0) {
        QuorvaneI_Log("\n%s(): Running under Windows 2000...\n", kMethod);
        const uint32_t free = QuorvaneI_BE32(answer + 16);
        if (free > 10240) {
          QuorvaneI_PutBE32(answer + 16, free - 10240);
          QuorvaneI_Log("\n%s(): Free LBs reduced from %u to %u\n", kMethod, free, free - 10240);
        }
      }
    }
  });
}

void CQuorvane_CdvdDrive::ReadTrackInformationForDVDPLUSRWOrDVDRAM(uint8_t* buffer, uint32_t size,
                                                                          uint8_t trackNumber) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ReadTrackInformationForDVDPLUSRWOrDVDRAM";
  uint8_t a[40] = {};
  a[1] = 0x28;
  a[6] = 0x01;  // data mode 1
  const bool firstOrLast = trackNumber == 1 || trackNumber == 0xFF;
  auto badTrack = [&] {
    QuorvaneI_Throw(kMethod, EN_NOT_FOUND, 0, "%s(): EXITing with failure, track number %d is bad", kMethod,
                    trackNumber);
  };
  auto track = [&](uint8_t number, bool blank, bool nwaValid, uint32_t start, uint32_t free) {
    a[2] = a[3] = number;
    if (blank) a[6] |= 0x40;
    if (nwaValid) a[7] |= 0x01;
    QuorvaneI_PutBE32(a + 8, start);
    QuorvaneI_PutBE32(a + 12, start);
    QuorvaneI_PutBE32(a + 16, free);
  };

  const uint32_t lastLba = ReadLastLba(kMethod);
  if (lastLba == 0) {
    QuorvaneI_Log("\n%s(): Unformatted DVD+RW or DVD-RAM media, capacity %d LB(s)\n", kMethod, 0);
    if (!firstOrLast) badTrack();
    uint8_t capacities[4096] = {};
    ReadFormatCapacities(capacities, sizeof capacities);
    const CQuorvane_DriveAnswer all = Answer(kMethod, "READ FORMAT CAPACITIES", capacities, sizeof capacities);
    track(1, false, true, 0, all.Declared(4 + uint64_t{all.U8(3)}).Be32(4));
  } else {
    // READ CAPACITY names the last block; the medium holds one more.
    const uint32_t capacity = lastLba + 1;
    QuorvaneI_Log("\n%s(): Formatted DVD+RW or DVD-RAM media, capacity %u LB(s)\n", kMethod, capacity);
    uint32_t volumeSize = 0;
    bool volume = false;
    QuorvaneI_Guarded(kMethod, [&] {
      auto block = std::make_unique<uint8_t[]>(2048);
      ReadBlockSafe(16, block.get());
      const CQuorvane_DriveAnswer pvd(kMethod, "volume descriptor", block.get(), 2048);
      volume = pvd.Spells(1, "CD001");
      volumeSize = pvd.Le32(80);
    });
    if (!volume) {
      if (!firstOrLast) badTrack();
      track(1, true, true, 0, capacity);
    } else if (trackNumber == 1) {
      QuorvaneI_Log("\n%s(): First track ( %d ) would be reported as non-blank\n", kMethod, trackNumber);
      track(1, false, false, 0, 0);
    } else if (trackNumber == 2 || trackNumber == 0xFF) {
      QuorvaneI_Log("\n%s(): Second or invisible track ( %d ) would be reported as blank\n", kMethod, trackNumber);
      if (volumeSize > capacity) {
        QuorvaneI_Log("\n%s(): WARNING! Volume of %u LB(s) is larger than the medium\n", kMethod, volumeSize);
        volumeSize = capacity;
      }
      track(2, true, true, volumeSize, capacity - volumeSize);
    } else {
      badTrack();
    }
  }
  std::memcpy(buffer, a, size < sizeof a ? size : sizeof a);
}

void CQuorvane_CdvdDrive::GetTrackInformation(uint8_t trackNumber, QUORVANE_TRACK_INFORMATION* record) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GetTrackInformation";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  std::memset(record, 0, sizeof *record);
  QuorvaneI_Guarded(kMethod, [&] {
    uint8_t buffer[4096];
    ReadTrackInformation(trackNumber, buffer, sizeof buffer, 0);
    const CQuorvane_DriveAnswer a(kMethod, "READ TRACK INFORMATION", buffer, kTrackAnswerSize);
    QUORVANE_TRACK_INFORMATION r{};
    const uint8_t b5 = a.U8(5), b6 = a.U8(6);
    r.m__UCHAR__IsValid = 1;
    r.m__UCHAR__TrackNumber = a.U8(2);
    r.m__UCHAR__SessionNumber = a.U8(3);
    r.m__UCHAR__TrackMode = b5 & 0x0F;
    r.m__UCHAR__IsCopy = (b5 >> 4) & 1;
    r.m__UCHAR__IsDamage = (b5 >> 5) & 1;
    r.m__UCHAR__DataMode = b6 & 0x0F;
    r.m__UCHAR__IsFixedPacket = (b6 >> 4) & 1;
    r.m__UCHAR__IsPacketIncremental = (b6 >> 5) & 1;
    r.m__UCHAR__IsBlank = (b6 >> 6) & 1;
    r.m__UCHAR__IsReservedTrack = (b6 >> 7) & 1;
    r.m__UCHAR__IsNWAValid = a.U8(7) & 1;
    r.m__LONG__TrackStartAddress = static_cast<int32_t>(a.Be32(8));
    r.m__LONG__NextWritableAddress = static_cast<int32_t>(a.Be32(12));
    r.m__ULONG__FreeBlocks = a.Be32(16);
    r.m__ULONG__FixedPacketSize = a.Be32(20);
    *record = r;
  });
}

void CQuorvane_CdvdDrive::ReadATIPSafe(void* buffer, uint32_t size) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  // The allocation length of READ TOC has 16 bits.
  if (size > 0xFFFF) size = 0xFFFF;
  if (buffer != nullptr) std::memset(buffer, 0, size);
  QuorvaneI_Traced("CQuorvane_CdvdBurnerGrabber::ReadATIP", [&] { ReadATIP(buffer, size); });
}

void CQuorvane_CdvdDrive::ReadDVDPLUSRDLBoundaryInformation(uint32_t* layer0Capacity, uint8_t* boundaryFlag) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ReadDVDPLUSRDLBoundaryInformation";
  constexpr uint16_t kExpected = 10;
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    uint8_t buffer[12] = {};
    ReadDVDStructure(buffer, sizeof buffer, 0, 0, 0x20, 0);
    const CQuorvane_DriveAnswer a = Answer(kMethod, "READ DVD STRUCTURE", buffer, sizeof buffer);
    const uint16_t length = a.Be16(0);
    if (length < kExpected)
      QuorvaneI_Throw(kMethod, EN_UNEXPECTED_RESULT, 0,
                      "%s(): EXITing with failure, response size in UCHARs ( %d ) is less then expected ( %d )", kMethod,
                      length, kExpected);
    if (layer0Capacity) *layer0Capacity = a.Be32(8);
    if (boundaryFlag) *boundaryFlag = a.Bit(4, 7) ? 1 : 0;
  });
}

void CQuorvane_CdvdDrive::ReadBlockSafe(uint32_t lba, void* buffer2048) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ReadBlockSafe";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  std::memset(buffer2048, 0, 2048);
  Read10(buffer2048, 2048, lba, 1, 0);
  const CQuorvane_DriveAnswer a = Answer(kMethod, "READ(10)", buffer2048, 2048);
  if (a.Length() != 2048) a.Fail("%u byte(s) of block %u instead of 2048", a.Length(), lba);
}

uint32_t CQuorvane_CdvdDrive::ReadLastLba(const char* method) {
  uint8_t buffer[8] = {};
  ReadCapacity(buffer, sizeof buffer);
  return Answer(method, "READ CAPACITY", buffer, sizeof buffer).Be32(0);
}

int32_t CQuorvane_CdvdDrive::GetNumberOfSystemDescriptors(const void* buffer, int32_t blockCount) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  int32_t count = 0;
  for (int32_t i = 0; p != nullptr && i < blockCount; ++i)
    if (std::memcmp(p + size_t(i) * 2048 + 1, "CD001", 5) == 0) ++count;
  QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::GetNumberOfSystemDescriptors(): EXITing with success, descriptor(s): "
                "%d\n",
                static_cast<int>(count));
  return count;
}
