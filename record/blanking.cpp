// Blanking rewritable discs and formatting DVD+RW, DVD-RAM and DVD-RW.
#include <cstring>
#include <memory>

#include "core/log.h"
#include "record/burner_grabber.h"
#include "device/guarded.h"
#include "platform/clock.h"

namespace {

constexpr const char* kBlank = "CQuorvane_CdvdBurnerGrabber::Blank";
constexpr const char* kBlankCdRw = "CQuorvane_CdvdBurnerGrabber::BlankForCDRW";
constexpr const char* kBlankPlusRw = "CQuorvane_CdvdBurnerGrabber::BlankForDVDPLUSRW";
constexpr const char* kFormatPlusRw = "CQuorvane_CdvdBurnerGrabber::FormatUnitForDVDPLUSRW";
constexpr const char* kFormatRam = "CQuorvane_CdvdBurnerGrabber::FormatUnitForDVDRAM";
constexpr const char* kFormatDashRw = "CQuorvane_CdvdBurnerGrabber::FormatUnitForDVDRW";

// Blanking and formatting may take hours on a real drive.
constexpr uint32_t kLongAttempts = 1440;
constexpr uint32_t kWaitPauseMs = 5000;
constexpr uint32_t kPacketBytes = 32768;
constexpr uint32_t kWholeProgress = 65536;

// A format parameter list: header with FOV and Immed, one descriptor.
struct FormatList {
  uint8_t b[12] = {0x00, 0x82, 0x00, 0x08};
  FormatList(uint32_t blocks, uint8_t typeByte, uint32_t parameter) {
    for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(blocks >> (24 - 8 * i));
    b[8] = typeByte;
    b[9] = static_cast<uint8_t>(parameter >> 16);
    b[10] = static_cast<uint8_t>(parameter >> 8);
    b[11] = static_cast<uint8_t>(parameter);
  }
};

}  // namespace

bool CQuorvane_CdvdBurnerGrabber::WaitForLongOperation(bool readDiscInformationFirst) {
  return WaitForReady(kLongAttempts, kWaitPauseMs, readDiscInformationFirst, false,
                      [this](uint32_t fraction) { Notify(CN_BLANK_FORMAT_PROGRESS, kWholeProgress, fraction); });
}

void CQuorvane_CdvdBurnerGrabber::Blank(int32_t blankingType, int32_t address) {
  QuorvaneI_Log("\n%s(): ENTERed for %d, %d\n", kBlank, static_cast<int>(blankingType), static_cast<int>(address));
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kBlank, [&] {
    const uint32_t discType = GetDiscTypeSafe();
    RestoreWriteParameters(discType);
    if (discType == DISC_TYPE_DVDRAM) FormatUnitForDVDRAM();
    else if (discType == DISC_TYPE_DVDPLUSRW) BlankForDVDPLUSRW();
    else BlankForCDRW(blankingType, address);
  });
  QuorvaneI_Log("\n%s(): EXITing with success\n", kBlank);
}

void CQuorvane_CdvdBurnerGrabber::BlankForCDRW(int32_t blankingType, int32_t address) {
  QuorvaneI_Log("\n%s(): ENTERed\n", kBlankCdRw);
  Blank(static_cast<uint8_t>(blankingType & 0x07), static_cast<uint32_t>(address), true);
  WaitForLongOperation(true);
  QuorvaneI_Log("\n%s(): EXITing with success\n", kBlankCdRw);
}

void CQuorvane_CdvdBurnerGrabber::BlankForDVDPLUSRW() {
  QuorvaneI_Log("\n%s(): ENTERed\n", kBlankPlusRw);
  FormatUnitForDVDPLUSRW();
  auto zeros = std::make_unique<uint8_t[]>(kPacketBytes);
  std::memset(zeros.get(), 0, kPacketBytes);
  // The system area (blocks 0-15) and the volume descriptors that follow it
  // (ECMA-119 and UDF both start theirs at block 16): with both gone no
  // reader finds the old volume.
  const bool done = QuorvaneI_Guarded(kBlankPlusRw, [&] {
    Write10(zeros.get(), 16, 0, kPacketBytes);
    Write10(zeros.get(), 16, 16, kPacketBytes);
    SynchronizeCache();
  });
  if (!done)
    QuorvaneI_Log("\n%s(): WARNING! Write10(  0x%p, %d, %d, %d ) or SynchronizeCache() failed\n", kBlankPlusRw,
                  static_cast<void*>(zeros.get()), 16, 0, static_cast<int>(kPacketBytes));
  CloseSession();
  QuorvaneI_Log("\n%s(): EXITing with success\n", kBlankPlusRw);
}

void CQuorvane_CdvdBurnerGrabber::FormatUnitForDVDPLUSRW() {
  QuorvaneI_Log("\n%s(): ENTERed\n", kFormatPlusRw);
  FormatList list(0xFFFFFFFFu, 0x98, 0);
  Notify(CN_DVDPLUSRW_FORMAT_BEGIN);
  FormatUnit(true, false, 1, 0, list.b, sizeof list.b);
  WaitForLongOperation(true);
  Notify(CN_DVDPLUSRW_FORMAT_END);
  QuorvaneI_Log("\n%s(): EXITing with success\n", kFormatPlusRw);
}

void CQuorvane_CdvdBurnerGrabber::FormatUnitForDVDRAM() {
  QuorvaneI_Log("\n%s(): ENTERed\n", kFormatRam);
  auto capacities = std::make_unique<uint8_t[]>(4096);
  std::memset(capacities.get(), 0, 4096);
  ReadFormatCapacities(capacities.get(), 4096);
  const CQuorvane_DriveAnswer all = Answer(kFormatRam, "READ FORMAT CAPACITIES", capacities.get(), 4096);
  const uint32_t blocks = all.Declared(4 + uint64_t{all.U8(3)}).Be32(4);
  FormatList list(blocks, 0x00, 2048);
  Notify(CN_DVDRAM_FORMAT_BEGIN);
  FormatUnit(true, false, 1, 0, list.b, sizeof list.b);
  WaitForLongOperation(false);
  Notify(CN_DVDRAM_FORMAT_END);
  QuorvaneI_Log("\n%s(): EXITing with success\n", kFormatRam);
}

void CQuorvane_CdvdBurnerGrabber::FormatUnitForDVDRW(bool quick) {
  QuorvaneI_Log("\n%s(): ENTERed\n", kFormatDashRw);
  QuorvaneI_Log(quick ? "\n%s(): Setting FORMAT_TYPE_DVDRW_QUICK\n"
                      : "\n%s(): Setting FORMAT_TYPE_DVDRW_QUICK_GROW_LAST_SESSION\n",
                kFormatDashRw);
  FormatList list(0, quick ? 0x54 : 0x4C, 16);
  Notify(CN_DVDRW_FORMAT_BEGIN);
  FormatUnit(true, false, 1, 0, list.b, sizeof list.b);
  WaitForLongOperation(true);
  Notify(CN_DVDRW_FORMAT_END);
  QuorvaneI_Log("\n%s(): EXITing with success\n", kFormatDashRw);
}
