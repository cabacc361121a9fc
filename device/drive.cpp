// Creation, destruction, identity, capabilities, the probes and the unit
// commands of the drive.
#include "device/drive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "device/guarded.h"
#include "platform/clock.h"

namespace {

constexpr const char* kGenericCtor = "CQuorvane_ScsiDeviceGeneric::CQuorvane_ScsiDeviceGeneric_SharedConstructor";
constexpr const char* kReaderCtor = "CQuorvane_ScsiDeviceCdvdRomReader::CQuorvane_ScsiDeviceCdvdRomReader_SharedConstructor";
constexpr const char* kWriterCtor = "CQuorvane_ScsiDeviceCdvdRomWriter::CQuorvane_ScsiDeviceCdvdRomWriter_SharedConstructor";
constexpr uint8_t kCdDvdDeviceType = 0x05;
constexpr uint32_t kDiscTypeDVDRAM = DISC_TYPE_DVDRAM;
constexpr const char* kSpinUp = "CQuorvane_CdvdBurnerGrabber::WaitForSpinUp";

// Real drives spin a disc up in a few seconds; a worn one may take half a
// minute.
constexpr uint64_t kSpinUpBudgetMs = 30000;
constexpr uint32_t kSpinUpPauseMs = 250;

// A unit attention, which the next command no longer meets.
bool IsUnitAttention(const CQuorvane_Exception* e) {
  const CDB_FAILURE_INFORMATION* f = e->FailureInformation();
  return f != nullptr && f->m__UCHAR__TargetStatus == 2 && (f->m__UCHAR__Sense[2] & 0x0F) == 0x06;
}

}  // namespace

bool QuorvaneI_IsBecomingReady(const CQuorvane_Exception* e) {
  const CDB_FAILURE_INFORMATION* f = e != nullptr ? e->FailureInformation() : nullptr;
  return f != nullptr && f->m__UCHAR__TargetStatus == 2 && (f->m__UCHAR__Sense[2] & 0x0F) == 0x02 &&
         f->m__UCHAR__Sense[12] == 0x04 && f->m__UCHAR__Sense[13] == 0x01;
}

CQuorvane_CdvdDrive::CQuorvane_CdvdDrive(CQuorvane_ScsiTransport* transport, PQUORVANE_CALLBACK callback,
                                         void* context)
    : CQuorvane_ScsiDeviceCdvdRomWriter(transport),
      m__PQUORVANE_CALLBACK__Callback(callback),
      m__PVOID__CallbackContext(context) {
  ConstructGeneric();
  ConstructReader();
  ConstructWriter();
  m__UCHAR__IsCancel = 0;
}

// The base classes close the transport.
CQuorvane_CdvdDrive::~CQuorvane_CdvdDrive() = default;

void CQuorvane_CdvdDrive::Notify(uint32_t reason, uint64_t parameter1, uint64_t parameter2) {
  const auto value = [](uint64_t v) { return reinterpret_cast<void*>(static_cast<uintptr_t>(v)); };
  if (m__PQUORVANE_CALLBACK__Callback != nullptr)
    m__PQUORVANE_CALLBACK__Callback(reason, m__PVOID__CallbackContext, value(parameter1), value(parameter2));
}

void CQuorvane_CdvdDrive::ConstructGeneric() {
  uint8_t inquiry[96] = {};
  Inquiry(inquiry, sizeof inquiry);
  // The identity ends at byte 35; a drive may declare more than 96 bytes.
  const CQuorvane_DriveAnswer answer = Answer(kGenericCtor, "INQUIRY", inquiry, sizeof inquiry);
  answer.Copy(8, m__CHAR__VendorId, 8);
  answer.Copy(16, m__CHAR__ProductId, 16);
  answer.Copy(32, m__CHAR__ProductRevision, 4);
  const CQuorvane_ScsiTransport* t = GetTransport();
  QuorvaneI_Log("\n%s(): '%s' - '%s' - '%s' sits at %ld:%ld:%ld:%ld\n", kGenericCtor, m__CHAR__VendorId,
                m__CHAR__ProductId, m__CHAR__ProductRevision, static_cast<long>(t->GetPortId()),
                static_cast<long>(t->GetPathId()), static_cast<long>(t->GetTargetId()),
                static_cast<long>(t->GetLUN()));
}

void CQuorvane_CdvdDrive::ConstructReader() {
  const uint8_t type = GetTransport()->GetDeviceType();
  if (type != kCdDvdDeviceType)
    QuorvaneI_Throw(kReaderCtor, EN_DEVICE_TYPE_UNSUPPORTED, 0, "%s(): Device type 0x%02X instead of 0x%02X",
                    kReaderCtor, type, kCdDvdDeviceType);

  m__ULONG__BufferSize = 0;
  m__UCHAR__IsReadCDR = m__UCHAR__IsReadCDRW = m__UCHAR__IsReadDVDROM = m__UCHAR__IsReadDVDR =
      m__UCHAR__IsReadDVDRAM = m__UCHAR__IsTestWrite = m__UCHAR__IsWriteCDR = m__UCHAR__IsWriteCDRW =
          m__UCHAR__IsWriteDVDR = m__UCHAR__IsWriteDVDRAM = 0;
  try {
    uint8_t buffer[4096];
    const CQuorvane_DriveAnswer page = SensePage(kReaderCtor, buffer, sizeof buffer, 0x2A, 0);
    const uint32_t bufferSize = page.Be16(12) * 1024u;
    const uint8_t read = page.U8(2), write = page.U8(3);
    m__ULONG__BufferSize = bufferSize;
    m__UCHAR__IsReadCDR = read & 0x01;
    m__UCHAR__IsReadCDRW = (read >> 1) & 1;
    m__UCHAR__IsReadDVDROM = (read >> 3) & 1;
    m__UCHAR__IsReadDVDR = (read >> 4) & 1;
    m__UCHAR__IsReadDVDRAM = (read >> 5) & 1;
    m__UCHAR__IsWriteCDR = write & 0x01;
    m__UCHAR__IsWriteCDRW = (write >> 1) & 1;
    m__UCHAR__IsTestWrite = (write >> 2) & 1;
    m__UCHAR__IsWriteDVDR = (write >> 4) & 1;
    m__UCHAR__IsWriteDVDRAM = (write >> 5) & 1;
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Caught owned(e);
    QuorvaneI_Log("\n%s(): WARNING! ModeSense10() failed\n", kReaderCtor);
    QuorvaneI_LogCaught(kReaderCtor, e);
  }
  m__UCHAR__IsReadDVDPlusRW = m__UCHAR__IsReadDVDPlusR = m__UCHAR__IsWriteDVDPlusRW = m__UCHAR__IsWriteDVDPlusR = 1;
}

void CQuorvane_CdvdDrive::ConstructWriter() {
  if (!m__UCHAR__IsWriteCDR && !m__UCHAR__IsWriteCDRW && !m__UCHAR__IsWriteDVDR && !m__UCHAR__IsWriteDVDRAM)
    QuorvaneI_Log("\n%s(): WARNING! Device does not support recording\n", kWriterCtor);
}

CQuorvane_DriveAnswer CQuorvane_CdvdDrive::Answer(const char* method, const char* what, const void* buffer,
                                                          uint32_t size) const {
  return CQuorvane_DriveAnswer(method, what, buffer, std::min(size, GetTransport()->GetLastTransferredLength()));
}

CQuorvane_DriveAnswer CQuorvane_CdvdDrive::SensePage(const char* method, uint8_t* buffer, uint32_t size,
                                                             uint8_t pageCode, uint8_t pageControl) {
  std::memset(buffer, 0, size);
  ModeSense10(buffer, size, pageCode, pageControl);
  // Mode data length counts the bytes after itself; the page follows the
  // 8-byte header and any block descriptors.
  const CQuorvane_DriveAnswer all = Answer(method, "MODE SENSE", buffer, size);
  const CQuorvane_DriveAnswer data = all.AtMost(2 + uint64_t{all.Be16(0)});
  const uint32_t pageAt = 8 + uint32_t{data.Be16(6)};
  const uint8_t code = data.U8(pageAt) & 0x3F;
  if (code != pageCode) data.Fail("page %02Xh instead of %02Xh", code, pageCode);
  return data.Window(pageAt, 2 + uint32_t{data.U8(pageAt + 1)}, "mode page");
}

QuorvaneI_DriveQuirks CQuorvane_CdvdDrive::Quirks() const {
  return QuorvaneI_QuirksOf(m__CHAR__VendorId, m__CHAR__ProductId);
}

void CQuorvane_CdvdDrive::GetDeviceInformation(char* vendor, char* product, char* revision,
                                                       uint32_t* bufferSize) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (vendor) std::snprintf(vendor, 9, "%.8s", m__CHAR__VendorId);
  if (product) std::snprintf(product, 17, "%.16s", m__CHAR__ProductId);
  if (revision) std::snprintf(revision, 5, "%.4s", m__CHAR__ProductRevision);
  if (bufferSize) *bufferSize = m__ULONG__BufferSize;
}

void CQuorvane_CdvdDrive::GetSupportedMediaFormats(uint8_t flags[10]) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint8_t values[10] = {m__UCHAR__IsReadCDR,   m__UCHAR__IsReadCDRW,   m__UCHAR__IsReadDVDROM,
                              m__UCHAR__IsReadDVDR,  m__UCHAR__IsReadDVDRAM, m__UCHAR__IsTestWrite,
                              m__UCHAR__IsWriteCDR,  m__UCHAR__IsWriteCDRW,  m__UCHAR__IsWriteDVDR,
                              m__UCHAR__IsWriteDVDRAM};
  std::memcpy(flags, values, sizeof values);
}

void CQuorvane_CdvdDrive::GetSupportedMediaFormatsEx(uint8_t* readPlusRW, uint8_t* readPlusR,
                                                             uint8_t* readPlusRDL, uint8_t* writePlusRW,
                                                             uint8_t* writePlusR, uint8_t* writePlusRDL) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::GetSupportedMediaFormatsEx";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  struct Format {
    uint16_t feature;
    const char* name;
    uint8_t* read;
    uint8_t* write;
  } formats[] = {{0x002A, "DVD+RW", readPlusRW, writePlusRW},
                 {0x002B, "DVD+R", readPlusR, writePlusR},
                 {0x003B, "DVD+R DL", readPlusRDL, writePlusRDL}};
  for (const Format& f : formats) {
    uint8_t canRead = 0, canWrite = 0;
    QuorvaneI_Guarded(kMethod, [&] {
      uint8_t buffer[4096] = {};
      GetConfiguration(2, f.feature, buffer, sizeof buffer);
      const CQuorvane_DriveAnswer all = Answer(kMethod, "GET CONFIGURATION", buffer, sizeof buffer);
      const uint32_t length = all.Be32(0);
      QuorvaneI_Log("\n%s(): %s page size in UCHAR(s): %ld\n", kMethod, f.name, static_cast<long>(length));
      if (length < 12) return;
      // A drive that ignores the one-feature request answers with another
      // feature first; only the asked one counts.
      const CQuorvane_DriveAnswer data = all.AtMost(4 + uint64_t{length});
      if (data.Be16(8) != f.feature) {
        QuorvaneI_Log("\n%s(): WARNING! Feature %04Xh came instead of %04Xh\n", kMethod, data.Be16(8), f.feature);
        return;
      }
      const uint8_t flags = data.U8(12);
      canRead = 1;
      canWrite = flags & 0x01;
    });
    if (f.read) *f.read = canRead;
    if (f.write) *f.write = canWrite;
  }
}

void CQuorvane_CdvdDrive::ProbeSupportedWriteModes(uint8_t* tao, uint8_t* sao, uint8_t* daoRawPQ,
                                                           uint8_t* daoRawRawPW) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ProbeSupportedWriteModes";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint32_t discType = GetDiscTypeSafe();
  struct Mode {
    uint8_t writeType, dataBlockType;
    const char* name;
    uint8_t* answer;
  } modes[] = {{1, 8, "TAO", tao}, {2, 8, "SAO", sao}, {3, 1, "DAO_PQ", daoRawPQ}, {3, 3, "DAO_RAW_PW", daoRawRawPW}};
  for (const Mode& m : modes) {
    uint8_t supported = 1;
    try {
      QuorvaneI_WriteParameters probe;
      probe.writeType = m.writeType;
      probe.dataBlockType = m.dataBlockType;
      SetWriteParameters(probe);
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Caught owned(e);
      QuorvaneI_Log("\n%s(): SetWriteParameters( %s ) failed\n", kMethod, m.name);
      QuorvaneI_LogCaught(kMethod, e);
      // DVD-R drives refuse write type 1 in page 05h yet record incrementally.
      if (!(m.writeType == 1 && discType == DISC_TYPE_DVDR)) supported = 0;
    }
    if (m.answer) *m.answer = supported;
  }
}

void CQuorvane_CdvdDrive::ProbeSupportedReadModes(uint8_t* cooked, uint8_t* raw, uint8_t* rawPQ,
                                                          uint8_t* rawRawPW, uint8_t* pq, uint8_t* rawPW) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::ProbeSupportedReadModes";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced(kMethod, [&] { TestUnitReady(); });
  // Reading the table of contents settles the drive on the disc; a disc
  // without one still gets its probes.
  QuorvaneI_Guarded(kMethod, [&] {
    auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
    GetTOCInformation(toc.get());
  });
  struct Probe {
    bool sync;
    uint8_t headerCodes;
    bool userData, edcEcc;
    uint8_t subChannel;
    const char* name;
    uint8_t* answer;
  } probes[] = {{true, 3, true, true, QV_SUBCHANNEL_NONE, "raw", raw},
                {true, 3, true, true, QV_SUBCHANNEL_Q, "raw + PQ subchannel", rawPQ},
                {true, 3, true, true, QV_SUBCHANNEL_RAW_PW, "raw + raw P-W subchannel", rawRawPW},
                {false, 0, false, false, QV_SUBCHANNEL_Q, "PQ subchannel", pq},
                {false, 0, false, false, QV_SUBCHANNEL_RAW_PW, "raw P-W subchannel", rawPW}};
  for (const Probe& p : probes) {
    uint8_t supported = 1;
    try {
      uint8_t buffer[4096] = {};
      ReadCD(0, 0, 1, 0, p.edcEcc, p.userData, p.headerCodes, p.sync, p.subChannel, buffer, sizeof buffer);
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Caught owned(e);
      QuorvaneI_Log("\n%s(): ReadCD( %s ) failed\n", kMethod, p.name);
      QuorvaneI_LogCaught(kMethod, e);
      supported = 0;
    }
    if (p.answer) *p.answer = supported;
  }
  if (cooked) *cooked = 1;
}

void CQuorvane_CdvdDrive::Load() { LoadEx(false); }

void CQuorvane_CdvdDrive::LoadEx(bool waitForMedia) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::Load";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
  QuorvaneI_Traced(kMethod, [&] {
    qv::plat::SleepMs(1000);
    StartStopUnit(true, true, true);
    // DVD-RAM answers READ DISC INFORMATION late: poll TEST UNIT READY only.
    WaitForReady(2, 5000, discType != kDiscTypeDVDRAM, !waitForMedia);
  });
  QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
}

void CQuorvane_CdvdDrive::Eject() {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::Eject";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Log("\n%s(): ENTERed\n", kMethod);
  QuorvaneI_Traced(kMethod, [&] {
    // A tray locked for recording opens when the recorder ejects.
    UnlockTrayAfterRecording();
    qv::plat::SleepMs(1000);
    if (Quirks().Has(kQuirkEjectAfterWriteParameters)) {
      QuorvaneI_Log("\n%s(): Broken 'start stop unit'...\n ", kMethod);
      SetWriteParameters(QuorvaneI_WriteParameters{});  // track-at-once, Mode 1
      StartStopUnit(true, true, false);
    } else {
      StartStopUnit(false, true, false);
    }
  });
  QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
}

void CQuorvane_CdvdDrive::TestUnitReady(int32_t seconds, bool fastExit) {
  constexpr const char* kMethod = "CQuorvane_CdvdBurnerGrabber::TestUnitReady";
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint32_t discType = GetDiscTypeSafe();
  QuorvaneI_Log("\n%s(): ENTERed for %ld second(s), is fast exit: %d\n", kMethod, static_cast<long>(seconds),
                fastExit ? 1 : 0);
  QuorvaneI_Traced(kMethod, [&] {
    WaitForReady(seconds > 0 ? static_cast<uint32_t>(seconds) : 0, 1000, discType != kDiscTypeDVDRAM, fastExit);
    TestUnitReady();
  });
  QuorvaneI_Log("\n%s(): EXITing with success\n", kMethod);
}

void CQuorvane_CdvdDrive::Lock() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced("CQuorvane_CdvdBurnerGrabber::Lock", [&] { PreventAllowMediumRemoval(true); });
  m__BOOLEAN__IsTrayLocked = true;
  m__BOOLEAN__IsTrayLockedForRecording = false;
}

void CQuorvane_CdvdDrive::Release() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced("CQuorvane_CdvdBurnerGrabber::Release", [&] { PreventAllowMediumRemoval(false); });
  m__BOOLEAN__IsTrayLocked = m__BOOLEAN__IsTrayLockedForRecording = false;
}

bool CQuorvane_CdvdDrive::WaitForSpinUp() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  const uint64_t start = qv::plat::NowMs();
  for (;;) {
    try {
      TestUnitReady();
      return true;
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Caught owned(e);
      if (!QuorvaneI_IsBecomingReady(e) && !IsUnitAttention(e)) return false;
      if (qv::plat::NowMs() - start >= kSpinUpBudgetMs) {
        QuorvaneI_Log("\n%s(): WARNING! The disc is not ready after %u ms\n", kSpinUp,
                      static_cast<unsigned>(kSpinUpBudgetMs));
        return false;
      }
    }
    qv::plat::SleepMs(kSpinUpPauseMs);
  }
}

void CQuorvane_CdvdDrive::LockTrayForRecording() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (m__BOOLEAN__IsTrayLocked) return;
  if (QuorvaneI_Guarded("CQuorvane_CdvdBurnerGrabber::LockTrayForRecording", [&] { PreventAllowMediumRemoval(true); }))
    m__BOOLEAN__IsTrayLocked = m__BOOLEAN__IsTrayLockedForRecording = true;
}

void CQuorvane_CdvdDrive::UnlockTrayAfterRecording() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  if (!m__BOOLEAN__IsTrayLockedForRecording) return;
  QuorvaneI_Guarded("CQuorvane_CdvdBurnerGrabber::UnlockTrayAfterRecording", [&] { PreventAllowMediumRemoval(false); });
  m__BOOLEAN__IsTrayLocked = m__BOOLEAN__IsTrayLockedForRecording = false;
}

void CQuorvane_CdvdDrive::RezeroUnitSafe() {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  QuorvaneI_Traced("CQuorvane_CdvdBurnerGrabber::RezeroUnitSafe", [&] { RezeroUnit(); });
}

void CQuorvane_CdvdDrive::Cancel() {
  QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::Cancel(): ENTERed\n");
  m__UCHAR__IsCancel = 1;
  QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::Cancel(): EXITing with success\n");
}

void CQuorvane_CdvdDrive::ExecuteCDB(const uint8_t* cdb, uint8_t cdbLength, void* buffer, uint32_t bufferSize,
                                             uint8_t direction) {
  std::lock_guard<std::recursive_mutex> lock(m__CRITICAL_SECTION__ObjectLock);
  GetTransport()->ExecuteCDB(cdb, cdbLength, buffer, bufferSize, direction);
}
