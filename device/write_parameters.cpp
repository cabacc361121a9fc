// Mode page 05h, the write parameters: built for each recording and sent
// again unchanged (or with one drive's correction) around blanking and
// closing.
#include <cstring>

#include "core/log.h"
#include "device/drive.h"
#include "device/guarded.h"

namespace {

constexpr uint8_t kWriteParametersPage = 0x05;
// The last byte of the page that SetWriteParameters changes (sub-header 3).
constexpr uint32_t kLastChangedByte = 51;

}  // namespace

void CQuorvane_CdvdDrive::SelectPage(const CQuorvane_DriveAnswer& page, const uint8_t* pageBytes) {
  // MODE SELECT takes an empty header (no block descriptors) and the page
  // with its PS bit cleared.
  uint8_t select[8 + 257] = {};
  std::memcpy(select + 8, pageBytes, page.Length());
  select[8] &= 0x3F;
  ModeSelect10(select, 8 + page.Length());
}

void CQuorvane_CdvdDrive::LogWriteParameters(const char* method) {
  QuorvaneI_Guarded(method, [&] {
    uint8_t buffer[4096];
    const CQuorvane_DriveAnswer page = SensePage(method, buffer, sizeof buffer, kWriteParametersPage, 0);
    const uint8_t b2 = page.U8(2), b3 = page.U8(3);
    QuorvaneI_Log("\n%s(): Page 05h now: write type %d, test write %d, link size valid %d, BUFE %d, track mode %d, "
                  "multisession %d, data block type %d, link size %d, session format 0x%02X\n",
                  method, b2 & 0x0F, (b2 >> 4) & 1, (b2 >> 5) & 1, (b2 >> 6) & 1, b3 & 0x0F, b3 >> 6,
                  page.U8(4) & 0x0F, page.U8(5), page.U8(8));
  });
}

void CQuorvane_CdvdDrive::SetWriteParameters(uint8_t writeType, uint8_t dataBlockType, uint8_t trackMode,
                                             bool testWrite, bool multiSession, uint8_t sessionFormat,
                                             uint8_t subHeader0, uint8_t subHeader1, uint8_t subHeader2,
                                             uint8_t subHeader3, bool linkSizeValid) {
  QuorvaneI_WriteParameters w;
  w.writeType = writeType;
  w.dataBlockType = dataBlockType;
  w.trackMode = trackMode;
  w.testWrite = testWrite;
  w.multiSession = multiSession;
  w.sessionFormat = sessionFormat;
  w.subHeader[0] = subHeader0;
  w.subHeader[1] = subHeader1;
  w.subHeader[2] = subHeader2;
  w.subHeader[3] = subHeader3;
  w.linkSizeValid = linkSizeValid;
  SetWriteParameters(w);
}

void CQuorvane_CdvdDrive::SetWriteParameters(const QuorvaneI_WriteParameters& w) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::SetWriteParameters";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Log("\n%s(): ENTERed for write type %d, data block type %d, track mode %d, test write %d, "
                "multisession %d, session format 0x%02X, link size valid %d\n",
                kMethod, w.writeType, w.dataBlockType, w.trackMode, w.testWrite, w.multiSession, w.sessionFormat,
                w.linkSizeValid);
  QuorvaneI_Traced(kMethod, [&] {
    uint8_t buffer[4096];
    const CQuorvane_DriveAnswer page = SensePage(kMethod, buffer, sizeof buffer, kWriteParametersPage, 0);
    if (!page.Has(kLastChangedByte)) page.Fail("page 05h of %u byte(s) has no sub-header", page.Length());
    uint8_t p[257] = {};
    page.Copy(0, p, page.Length());

    bool bufe = m__BOOLEAN__IsBUP;
    if (bufe && Quirks().Has(kQuirkBurnProofBroken)) {
      QuorvaneI_Log("%s(): Broken BURN-Proof workaround for '%s' : '%s'\n", kMethod, m__CHAR__VendorId,
                    m__CHAR__ProductId);
      bufe = false;
    }
    p[0] = kWriteParametersPage;
    p[2] = static_cast<uint8_t>((p[2] & 0x80) | (bufe ? 0x40 : 0) | (w.linkSizeValid ? 0x20 : 0) |
                                (w.testWrite ? 0x10 : 0) | (w.writeType & 0x0F));
    p[3] = static_cast<uint8_t>((w.multiSession ? 0xC0 : 0) | (p[3] & 0x30) | (w.trackMode & 0x0F));
    p[4] = static_cast<uint8_t>((p[4] & 0xF0) | (w.dataBlockType & 0x0F));
    p[5] = w.linkSizeValid ? 16 : 0;
    p[8] = w.sessionFormat;
    std::memcpy(p + 48, w.subHeader, sizeof w.subHeader);
    SelectPage(page, p);
  });
  LogWriteParameters(kMethod);
  QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
}

void CQuorvane_CdvdDrive::WriteParametersFromDrive(const char* method, uint32_t discType, bool liteOnCheck) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Log("\n%s(): ENTERed\n", method);
  QuorvaneI_Traced(method, [&] {
    uint8_t buffer[4096];
    const CQuorvane_DriveAnswer page = SensePage(method, buffer, sizeof buffer, kWriteParametersPage, 0);
    uint8_t p[257] = {};
    page.Copy(0, p, page.Length());
    if (liteOnCheck && Quirks().Has(kQuirkLosesTrackAtOnce) && (page.U8(2) & 0x0F) == 0 && discType < DISC_TYPE_DVDROM) {
      p[2] = static_cast<uint8_t>((p[2] & 0xF0) | 0x01);
      QuorvaneI_Log("%s(): *** Broken Lite-On workaround (enabled for CD-R/CD-RW media)\n", method);
    }
    SelectPage(page, p);
  });
  LogWriteParameters(method);
  QuorvaneI_Log("\n%s(): EXITing with success\n", method);
}

void CQuorvane_CdvdDrive::RestoreWriteParameters(uint32_t discType) {
  WriteParametersFromDrive("CQuorvane_CdvdBurnerGrabber::RestoreWriteParameters", discType, true);
}

void CQuorvane_CdvdDrive::ReSetWriteParameters() {
  WriteParametersFromDrive("CQuorvane_CdvdBurnerGrabber::ReSetWriteParameters", 0, false);
}
