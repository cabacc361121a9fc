// Drive settings the application controls: speeds, buffer-underrun
// protection, power calibration, the tray and the DVD region fields.
#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "core/log.h"
#include "device/drive.h"
#include "device/guarded.h"

namespace {

constexpr const char* kGetSpeeds = "CQuorvane_CdvdBurnerGrabber::GetCdvdSpeeds";
constexpr const char* kSetSpeeds = "CQuorvane_CdvdBurnerGrabber::SetCdvdSpeeds";
constexpr const char* kSetReadSpeed = "CQuorvane_CdvdBurnerGrabber::SetCdvdReadSpeed";
constexpr const char* kCurrentDvd = "CQuorvane_CdvdBurnerGrabber::GetCurrentSpeedsForDVD";
constexpr const char* kMaximumDvd = "CQuorvane_CdvdBurnerGrabber::GetMaximumSpeedsForDVD";
constexpr const char* kSetDvd = "CQuorvane_CdvdBurnerGrabber::SetCurrentSpeedsForDVD";
constexpr const char* kGetBup = "CQuorvane_CdvdBurnerGrabber::GetBUP";
constexpr const char* kSetBup = "CQuorvane_CdvdBurnerGrabber::SetBUP";

constexpr uint8_t kCapabilitiesPage = 0x2A, kWriteParametersPage = 0x05, kBufferUnderrunPage = 0x30;
constexpr uint8_t kCurrentValues = 0, kDefaultValues = 2;
constexpr uint32_t kDefaultEndLba = 2298495;  // the last block of a single-layer DVD
constexpr uint32_t kStreamingTimeMs = 1000;
constexpr uint32_t kPerformanceDescriptorSize = 16;

bool IsDvdMedia(uint32_t discType) { return discType >= DISC_TYPE_DVDROM; }
const char* YesNo(bool b) { return b ? "Yes" : "No"; }

// A field the page may be too old to carry: 0 when it lies past the page.
uint16_t OptionalBe16(const CQuorvane_DriveAnswer& page, uint32_t offset) {
  return page.Has(offset, 2) ? page.Be16(offset) : 0;
}

}  // namespace

void CQuorvane_CdvdDrive::GetCdvdSpeeds(uint32_t* currentRead, uint32_t* maximumRead, uint32_t* currentWrite,
                                                uint32_t* maximumWrite) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): ENTERed\n", kGetSpeeds);
  uint32_t cr = 0, mr = 0, cw = 0, mw = 0;
  QuorvaneI_Traced(kGetSpeeds, [&] {
    uint8_t buffer[4096];
    const CQuorvane_DriveAnswer page = SensePage(kGetSpeeds, buffer, sizeof buffer, kCapabilitiesPage, kCurrentValues);
    mr = page.Be16(8);
    cr = page.Be16(14);
    mw = OptionalBe16(page, 18);
    cw = OptionalBe16(page, 20);
  });
  QuorvaneI_Log("\n%s(): [ CD ] Current Read %ld, Maximum Read %ld, Current Write %ld, Maximum Write %ld\n", kGetSpeeds,
                static_cast<long>(cr), static_cast<long>(mr), static_cast<long>(cw), static_cast<long>(mw));
  if (IsDvdMedia(discType)) {
    uint32_t dcr = 0, dmr = 0, dcw = 0, dmw = 0;
    GetCurrentSpeedsForDVD(&dcr, &dcw);
    GetMaximumSpeedsForDVD(&dmr, &dmw);
    QuorvaneI_Log("\n%s(): [ DVD ] Current Read %ld, Maximum Read %ld, Current Write %ld, Maximum Write %ld\n",
                  kGetSpeeds, static_cast<long>(dcr), static_cast<long>(dmr), static_cast<long>(dcw),
                  static_cast<long>(dmw));
    if (Quirks().Has(kQuirkCdStyleDvdSpeeds)) {
      QuorvaneI_Log("\n%s(): Using CD-style values for everything except maximum write speed\n", kGetSpeeds);
      mw = dmw;
    } else {
      QuorvaneI_Log("\n%s(): Using DVD-style values for everything\n", kGetSpeeds);
      cr = dcr;
      mr = dmr;
      cw = dcw;
      mw = dmw;
    }
  }
  if (currentRead) *currentRead = cr;
  if (maximumRead) *maximumRead = mr;
  if (currentWrite) *currentWrite = cw;
  if (maximumWrite) *maximumWrite = mw;
}

void CQuorvane_CdvdDrive::GetCurrentSpeedsForDVD(uint32_t* read, uint32_t* write) {
  struct Query {
    uint8_t dataType;
    const char* name;
    uint32_t* speed;
  } queries[] = {{0x10, "read", read}, {0x14, "write", write}};
  for (const Query& q : queries) {
    *q.speed = 0;
    QuorvaneI_Guarded(kCurrentDvd, [&] {
      uint8_t buffer[4096] = {};
      GetPerformance(q.dataType, 0, 0, 50, buffer, sizeof buffer);
      const CQuorvane_DriveAnswer all = Answer(kCurrentDvd, "GET PERFORMANCE", buffer, sizeof buffer);
      const uint32_t length = all.Be32(0);
      if (length < kPerformanceDescriptorSize) {
        QuorvaneI_Log("\n%s(): WARNING! Current %s speed returned %ld UCHARs instead of expected at least %ld UCHARs\n",
                      kCurrentDvd, q.name, static_cast<long>(length), static_cast<long>(kPerformanceDescriptorSize));
        return;
      }
      const CQuorvane_DriveAnswer data = all.Declared(4 + uint64_t{length});
      uint32_t best = 0;
      for (uint32_t i = 0; i < length / kPerformanceDescriptorSize; ++i) {
        const CQuorvane_DriveAnswer d =
            data.Window(8 + i * kPerformanceDescriptorSize, kPerformanceDescriptorSize, "performance descriptor");
        const uint32_t endPerformance = d.Be32(12);
        const bool better = endPerformance > best;
        if (better) best = endPerformance;
        QuorvaneI_Log("\n%s(): %s descriptor %u: start LBA %u, start performance %u, end LBA %u, end performance %u, "
                      "%s\n",
                      kCurrentDvd, q.name, i, d.Be32(0), d.Be32(4), d.Be32(8), endPerformance,
                      better ? "UPDATED" : "IGNORED");
      }
      *q.speed = best & 0xFFFF;
    });
  }
}

void CQuorvane_CdvdDrive::GetMaximumSpeedsForDVD(uint32_t* read, uint32_t* write) {
  *read = *write = 0;
  QuorvaneI_Guarded(kMaximumDvd, [&] {
    uint8_t buffer[4096] = {};
    GetPerformance(0, 3, 0, 50, buffer, sizeof buffer);
    const CQuorvane_DriveAnswer all = Answer(kMaximumDvd, "GET PERFORMANCE", buffer, sizeof buffer);
    const uint32_t length = all.Be32(0);
    if (length < kPerformanceDescriptorSize) {
      QuorvaneI_Log("\n%s(): WARNING! Write speed descriptors returned %ld UCHARs instead of expected at least %ld "
                    "UCHARs\n",
                    kMaximumDvd, static_cast<long>(length), static_cast<long>(kPerformanceDescriptorSize));
      return;
    }
    const CQuorvane_DriveAnswer data = all.Declared(4 + uint64_t{length});
    uint32_t bestRead = 0, bestWrite = 0;
    for (uint32_t i = 0; i < length / kPerformanceDescriptorSize; ++i) {
      const CQuorvane_DriveAnswer d =
          data.Window(8 + i * kPerformanceDescriptorSize, kPerformanceDescriptorSize, "write speed descriptor");
      bestRead = std::max(bestRead, d.Be32(8));
      bestWrite = std::max(bestWrite, d.Be32(12));
      QuorvaneI_Log("\n%s(): Descriptor %u: end LBA %u, read speed %u, write speed %u\n", kMaximumDvd, i, d.Be32(4),
                    d.Be32(8), d.Be32(12));
    }
    *read = bestRead;
    *write = bestWrite;
  });
}

void CQuorvane_CdvdDrive::SetCdvdSpeeds(uint32_t readSpeed, uint32_t writeSpeed) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): ENTERed for %d, %d\n", kSetSpeeds, static_cast<int>(readSpeed), static_cast<int>(writeSpeed));
  QuorvaneI_Traced(kSetSpeeds, [&] {
    if (IsDvdMedia(discType))
      SetCurrentSpeedsForDVD(readSpeed, writeSpeed);
    else
      SetCDSpeed(static_cast<uint16_t>(readSpeed), static_cast<uint16_t>(writeSpeed));
  });
  QuorvaneI_Log("\n%s(): EXITing with success\n", kSetSpeeds);
}

void CQuorvane_CdvdDrive::SetCurrentSpeedsForDVD(uint32_t read, uint32_t write) {
  uint32_t endLba = kDefaultEndLba;
  QuorvaneI_Guarded(kSetDvd, [&] {
    uint8_t buffer[4096] = {};
    GetPerformance(0, 3, 0, 1, buffer, sizeof buffer);
    const CQuorvane_DriveAnswer all = Answer(kSetDvd, "GET PERFORMANCE", buffer, sizeof buffer);
    const uint32_t length = all.Be32(0);
    if (length < kPerformanceDescriptorSize) return;
    const uint32_t reported = all.Declared(4 + uint64_t{length}).Be32(8 + 4);
    QuorvaneI_Log("\n%s(): Ending LBA: %u\n", kSetDvd, reported);
    if (reported == 0) {
      QuorvaneI_Log("\n%s(): Device reported zero capacity ( %d ), replacing with default ( %d )\n", kSetDvd, 0,
                    static_cast<int>(kDefaultEndLba));
      return;
    }
    endLba = reported;
  });
  SetStreamingDescriptor(endLba, read & 0xFFFF, kStreamingTimeMs, write & 0xFFFF, kStreamingTimeMs);
}

void CQuorvane_CdvdDrive::SetStreamingDescriptor(uint32_t endLba, uint32_t readSize, uint32_t readTime,
                                                         uint32_t writeSize, uint32_t writeTime) {
  // One performance descriptor: no restore, exact, random access or
  // rotation control flags; the range from LBA 0.
  uint8_t d[28] = {};
  QuorvaneI_PutBE32(d + 4, 0);
  QuorvaneI_PutBE32(d + 8, endLba);
  QuorvaneI_PutBE32(d + 12, readSize);
  QuorvaneI_PutBE32(d + 16, readTime);
  QuorvaneI_PutBE32(d + 20, writeSize);
  QuorvaneI_PutBE32(d + 24, writeTime);
  SetStreaming(d, sizeof d);
}

void CQuorvane_CdvdDrive::SetCdvdReadSpeed(uint32_t readSpeed) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): ENTERed for %d\n", kSetReadSpeed, static_cast<int>(readSpeed));
  QuorvaneI_Traced(kSetReadSpeed, [&] {
    if (IsDvdMedia(discType))
      SetStreamingDescriptor(0, readSpeed & 0xFFFF, kStreamingTimeMs, 0, 0);
    else
      SetCDSpeed(static_cast<uint16_t>(readSpeed), 0);
  });
  QuorvaneI_Log("\n%s(): EXITing with success\n", kSetReadSpeed);
}

void CQuorvane_CdvdDrive::GetBUP(uint8_t* enabled, uint8_t* supported) {
  QuorvaneI_Log("\n%s(): ENTERed\n", kGetBup);
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  bool supported30 = false, enabled30 = false, supported05 = false, enabled05 = false;
  uint8_t buffer[4096];
  QuorvaneI_Guarded(kGetBup, [&] {
    supported30 = SensePage(kGetBup, buffer, sizeof buffer, kBufferUnderrunPage, kDefaultValues).Bit(2, 0);
  });
  QuorvaneI_Guarded(kGetBup, [&] {
    enabled30 = SensePage(kGetBup, buffer, sizeof buffer, kBufferUnderrunPage, kCurrentValues).Bit(3, 0);
  });
  QuorvaneI_Log("\n%s(): JustLink buffer underrun protection, supported status %d, enabled status %d\n", kGetBup,
                supported30, enabled30);
  QuorvaneI_Guarded(kGetBup, [&] {
    supported05 = SensePage(kGetBup, buffer, sizeof buffer, kCapabilitiesPage, kDefaultValues).Bit(4, 7);
  });
  QuorvaneI_Guarded(kGetBup, [&] {
    enabled05 = SensePage(kGetBup, buffer, sizeof buffer, kWriteParametersPage, kCurrentValues).Bit(2, 6);
  });
  QuorvaneI_Log("\n%s(): BURN-Proof buffer underrun protection, supported status %d, enabled status %d\n", kGetBup,
                supported05, enabled05);
  const bool isSupported = supported30 || supported05, isEnabled = enabled30 || enabled05;
  QuorvaneI_Log("\n%s(): EXITing with success, supported: %s, enabled: %s\n", kGetBup, YesNo(isSupported),
                YesNo(isEnabled));
  if (enabled) *enabled = isEnabled;
  if (supported) *supported = isSupported;
}

void CQuorvane_CdvdDrive::SetBUP(bool enable) {
  QuorvaneI_Log("\n%s(): ENTERed for %d\n", kSetBup, enable);
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  bool enabled30 = false, enabled05 = false;
  uint8_t buffer[4096];
  uint8_t p[257];
  QuorvaneI_Guarded(kSetBup, [&] {
    const CQuorvane_DriveAnswer page = SensePage(kSetBup, buffer, sizeof buffer, kBufferUnderrunPage, kDefaultValues);
    if (!page.Has(3)) page.Fail("page 30h of %u byte(s) has no enable bit", page.Length());
    page.Copy(0, p, page.Length());
    p[0] = kBufferUnderrunPage;
    p[2] |= 0x01;
    p[3] = static_cast<uint8_t>((p[3] & ~0x01) | (enable ? 0x01 : 0));
    SelectPage(page, p);
    enabled30 = SensePage(kSetBup, buffer, sizeof buffer, kBufferUnderrunPage, kCurrentValues).Bit(3, 0);
    QuorvaneI_Log("\n%s(): JustLink buffer underrun protection, enabled status %d\n", kSetBup, enabled30);
  });
  QuorvaneI_Guarded(kSetBup, [&] {
    const CQuorvane_DriveAnswer page =
        SensePage(kSetBup, buffer, sizeof buffer, kWriteParametersPage, kDefaultValues);
    if (!page.Has(2)) page.Fail("page 05h of %u byte(s) has no BUFE bit", page.Length());
    page.Copy(0, p, page.Length());
    p[0] = kWriteParametersPage;
    bool bufe = enable;
    if (Quirks().Has(kQuirkBurnProofBroken)) {
      QuorvaneI_Log("\n%s(): Broken BURN-Proof workaround for '%s' : '%s'\n", kSetBup, m__CHAR__VendorId,
                    m__CHAR__ProductId);
      bufe = false;
    }
    p[2] = static_cast<uint8_t>((p[2] & ~0x40) | (bufe ? 0x40 : 0));
    SelectPage(page, p);
    enabled05 = SensePage(kSetBup, buffer, sizeof buffer, kWriteParametersPage, kCurrentValues).Bit(2, 6);
    QuorvaneI_Log("\n%s(): BURN-Proof buffer underrun protection, enabled status %d\n", kSetBup, enabled05);
  });
  m__BOOLEAN__IsBUP = enable;
  QuorvaneI_Log("\n%s(): EXITing with success, enabled: %s\n", kSetBup, YesNo(enabled30 || enabled05));
}

void CQuorvane_CdvdDrive::SendOPC() {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::SendOPC";
  QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] { SendOPCInformation(nullptr, 0, true); });
  QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
}

void CQuorvane_CdvdDrive::GetMediaTrayStatus(uint8_t* mediumPresent, uint8_t* doorOpen) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GetMediaTrayStatus";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    uint8_t buffer[8] = {};
    GetEventStatusNotification(true, 0x10, buffer, sizeof buffer);
    const CQuorvane_DriveAnswer all = Answer(kMethod, "GET EVENT STATUS NOTIFICATION", buffer, sizeof buffer);
    const CQuorvane_DriveAnswer a = all.AtMost(2 + uint64_t{all.Be16(0)});
    const uint8_t b2 = a.U8(2);
    QuorvaneI_Log("\n%s(): Event data length %d\n", kMethod, a.Be16(0));
    QuorvaneI_Log("\n%s(): Notification class %d\n", kMethod, b2 & 0x07);
    QuorvaneI_Log("\n%s(): NEA %d\n", kMethod, b2 >> 7);
    QuorvaneI_Log("\n%s(): Supported event classes 0x%02X\n", kMethod, a.U8(3));
    if ((b2 & 0x80) != 0 || (b2 & 0x07) != 4)
      a.Fail("no media event (NEA %d, notification class %d)", b2 >> 7, b2 & 0x07);
    const uint8_t status = a.U8(5);
    QuorvaneI_Log("\n%s(): Media event code %d\n", kMethod, a.U8(4) & 0x0F);
    QuorvaneI_Log("\n%s(): Door or tray open %d\n", kMethod, status & 0x01);
    QuorvaneI_Log("\n%s(): Media present %d\n", kMethod, (status >> 1) & 0x01);
    QuorvaneI_Log("\n%s(): Start slot %d\n", kMethod, a.U8(6));
    QuorvaneI_Log("\n%s(): End slot %d\n", kMethod, a.U8(7));
    if (mediumPresent) *mediumPresent = (status >> 1) & 0x01;
    if (doorOpen) *doorOpen = status & 0x01;
  });
}

uint8_t CQuorvane_CdvdDrive::CopyrightByte(const char* method, uint32_t offset) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  uint8_t value = 0;
  QuorvaneI_Traced(method, [&] {
    uint8_t buffer[4096] = {};
    ReadDVDStructure(buffer, sizeof buffer, 0, 0, 0x01, 0);
    const CQuorvane_DriveAnswer all = Answer(method, "READ DVD STRUCTURE", buffer, sizeof buffer);
    value = all.Declared(2 + uint64_t{all.Be16(0)}).U8(offset);
  });
  return value;
}

void CQuorvane_CdvdDrive::GetDVDProtectionSystem(uint8_t* type) {
  const uint8_t value = CopyrightByte("CQuorvane_CdvdBurnerGrabber::GetDVDProtectionSystem", 4);
  if (type) *type = value;
}

void CQuorvane_CdvdDrive::GetDVDRegionMask(uint8_t* mask) {
  const uint8_t value = CopyrightByte("CQuorvane_CdvdBurnerGrabber::GetDVDRegionMask", 5);
  if (mask) *mask = value;
}

void CQuorvane_CdvdDrive::GetRPC(uint8_t* typeCode, uint8_t* vendorResets, uint8_t* userChanges,
                                         uint8_t* regionMask, uint8_t* rpcScheme) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GetRPC";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] {
    uint8_t buffer[8] = {};
    ReportKey(0, 0, buffer, sizeof buffer, 0x08, 0);
    const CQuorvane_DriveAnswer all = Answer(kMethod, "REPORT KEY", buffer, sizeof buffer);
    const CQuorvane_DriveAnswer a = all.Declared(2 + uint64_t{all.Be16(0)});
    const uint8_t b4 = a.U8(4), mask = a.U8(5), scheme = a.U8(6);
    if (typeCode) *typeCode = b4 >> 6;
    if (vendorResets) *vendorResets = (b4 >> 3) & 0x07;
    if (userChanges) *userChanges = b4 & 0x07;
    if (regionMask) *regionMask = mask;
    if (rpcScheme) *rpcScheme = scheme;
  });
}
