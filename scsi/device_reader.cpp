#include "scsi/device_reader.h"

#include "core/bytes.h"
#include "core/exception.h"
#include "core/log.h"
#include "platform/clock.h"
#include "scsi/cdb.h"

namespace {

constexpr const char* kWaitForReady = "CQuorvane_ScsiDeviceCdvdRomReader::WaitForReady";

QuorvaneI_Cdb ReadCDCdb(uint8_t expectedSectorType, uint32_t lba, uint32_t blocks, uint8_t errorFlags, bool edcEcc,
                        bool userData, uint8_t headerCodes, bool sync, uint8_t subChannel) {
  QuorvaneI_Cdb c(0xBE, 12);
  c.b[1] = static_cast<uint8_t>((expectedSectorType & 0x07) << 2);
  c.Put32(2, lba);
  c.Put24(6, blocks);
  c.b[9] = static_cast<uint8_t>((sync ? 0x80 : 0) | (headerCodes & 0x03) << 5 | (userData ? 0x10 : 0) |
                                (edcEcc ? 0x08 : 0) | (errorFlags & 0x03) << 1);
  c.b[10] = static_cast<uint8_t>(subChannel & 0x07);
  return c;
}

}  // namespace

CQuorvane_ScsiDeviceCdvdRomReader::CQuorvane_ScsiDeviceCdvdRomReader(CQuorvane_ScsiTransport* transport)
    : CQuorvane_ScsiDeviceGeneric(transport) {}

CQuorvane_ScsiDeviceCdvdRomReader::~CQuorvane_ScsiDeviceCdvdRomReader() = default;

void CQuorvane_ScsiDeviceCdvdRomReader::StopPlayScan() {
  // A group 2 operation code: a 10-byte CDB.
  QuorvaneI_Send(GetTransport(), QuorvaneI_Cdb(0x4E, 10));
}

void CQuorvane_ScsiDeviceCdvdRomReader::ReadTOC(void* buffer, uint32_t size, bool msf, uint8_t format,
                                                uint8_t trackOrSession) {
  QuorvaneI_Cdb c(0x43, 10);
  c.b[1] = static_cast<uint8_t>(LunBits() | (msf ? 0x02 : 0));
  c.b[2] = format & 0x0F;
  c.b[6] = trackOrSession;
  c.Put16(7, size);
  // ATAPI drives of the SFF-8020 era take formats 0-2 from bits 7-6 of
  // the control byte and ignore byte 2; MMC drives ignore those bits.
  if (format <= 2) c.b[9] = static_cast<uint8_t>(format << 6);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomReader::ReadATIP(void* buffer, uint32_t size) { ReadTOC(buffer, size, false, 4, 0); }

void CQuorvane_ScsiDeviceCdvdRomReader::ReportKey(uint32_t lba, uint8_t keyClass, void* buffer, uint32_t size,
                                                  uint8_t keyFormat, uint8_t agid) {
  QuorvaneI_Cdb c(0xA4, 12);
  c.Put32(2, lba);
  c.b[7] = keyClass;
  c.Put16(8, size);
  c.b[10] = static_cast<uint8_t>((keyFormat & 0x3F) | agid << 6);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomReader::ReadDVDStructure(void* buffer, uint32_t size, uint32_t address,
                                                         uint8_t layer, uint8_t format, uint8_t agid) {
  QuorvaneI_Cdb c(0xAD, 12);
  c.b[1] = LunBits();
  c.Put32(2, address);
  c.b[6] = layer;
  c.b[7] = format;
  c.Put16(8, size);
  c.b[10] = static_cast<uint8_t>(agid << 6);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomReader::ReadDiscInformation(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x51, 10);
  c.b[1] = LunBits();
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation(void* buffer, uint32_t size, uint8_t addressType,
                                                             uint32_t number) {
  QuorvaneI_Cdb c(0x52, 10);
  c.b[1] = static_cast<uint8_t>(LunBits() | (addressType & 0x03));
  c.Put32(2, number);
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomReader::SetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed) {
  QuorvaneI_Cdb c(0xBB, 12);
  c.Put16(2, readSpeed);
  c.Put16(4, writeSpeed);
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceCdvdRomReader::PreventAllowMediumRemoval(bool prevent) {
  QuorvaneI_Cdb c(0x1E, 6);
  c.b[1] = LunBits();
  c.b[4] = prevent ? 0x01 : 0x00;
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceCdvdRomReader::ReadCD(uint8_t expectedSectorType, uint32_t lba, uint32_t blocks,
                                               uint8_t errorFlags, bool edcEcc, bool userData, uint8_t headerCodes,
                                               bool sync, uint8_t subChannel, void* buffer, uint32_t size) {
  QuorvaneI_Send(GetTransport(),
      ReadCDCdb(expectedSectorType, lba, blocks, errorFlags, edcEcc, userData, headerCodes, sync, subChannel), buffer,
      size);
}

void CQuorvane_ScsiDeviceCdvdRomReader::ReadCDEx(uint8_t expectedSectorType, uint32_t lba, uint32_t blocks,
                                                 uint8_t errorFlags, bool edcEcc, bool userData, uint8_t headerCodes,
                                                 bool sync, uint8_t subChannel, void* buffer, uint32_t size,
                                                 uint64_t* timing1, uint64_t* timing2) {
  const QuorvaneI_Cdb c =
      ReadCDCdb(expectedSectorType, lba, blocks, errorFlags, edcEcc, userData, headerCodes, sync, subChannel);
  GetTransport()->ExecuteCDBEx(c.b, c.len, buffer, size, QV_SCSI_DIRECTION_IN, timing1, timing2);
}

void CQuorvane_ScsiDeviceCdvdRomReader::GetConfiguration(uint8_t requestType, uint16_t startingFeature, void* buffer,
                                                         uint32_t size) {
  QuorvaneI_Cdb c(0x46, 10);
  c.b[1] = static_cast<uint8_t>(LunBits() | (requestType & 0x03));
  c.Put16(2, startingFeature);
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomReader::GetEventStatusNotification(bool polled, uint8_t classRequest, void* buffer,
                                                                   uint32_t size) {
  QuorvaneI_Cdb c(0x4A, 10);
  c.b[1] = static_cast<uint8_t>(LunBits() | (polled ? 0x01 : 0));
  c.b[4] = classRequest;
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

namespace {

// True when the failure says the tray holds no disc.
bool IsMediumNotPresent(const CQuorvane_Exception* e) {
  const CDB_FAILURE_INFORMATION* info = e ? e->FailureInformation() : nullptr;
  return info != nullptr && info->m__UCHAR__TargetStatus == 2 && info->m__UCHAR__Sense[12] == 0x3A;
}

// The progress indication of a NOT READY answer (MMC: sense key 2 with
// SKSV set, the fraction done in bytes 16-17), or -1.
int32_t ProgressOf(const CQuorvane_Exception* e) {
  const CDB_FAILURE_INFORMATION* info = e ? e->FailureInformation() : nullptr;
  if (info == nullptr || info->m__UCHAR__TargetStatus != 2) return -1;
  const QV_UCHAR* sense = info->m__UCHAR__Sense;
  if ((sense[2] & 0x0F) != 2 || (sense[15] & 0x80) == 0) return -1;
  return QuorvaneI_BE16(sense + 16);
}

// Runs command up to attempts times; true on success or fast exit.
template <class Command>
bool Poll(uint32_t attempts, uint32_t pauseMs, bool fastExit, int phase,
          const CQuorvane_ScsiDeviceCdvdRomReader::ReadyProgress& progress, Command&& command) {
  for (uint32_t i = 0; i < attempts; ++i) {
    try {
      command();
      return true;
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Caught owned(e);
      QuorvaneI_LogCaught(kWaitForReady, e);
      if (const int32_t fraction = ProgressOf(e); progress && fraction >= 0) progress(static_cast<uint32_t>(fraction));
      if (fastExit && IsMediumNotPresent(e)) {
        QuorvaneI_Log("\n%s(): #%d, disc is gone, fast exit\n", kWaitForReady, phase);
        return true;
      }
    }
    if (i + 1 < attempts) qv::plat::SleepMs(pauseMs);
  }
  return false;
}

}  // namespace

bool CQuorvane_ScsiDeviceCdvdRomReader::WaitForReady(uint32_t attemptCount, uint32_t pauseMs,
                                                     bool readDiscInformationFirst, bool fastExit,
                                                     const ReadyProgress& progress) {
  QuorvaneI_Log("\n%s(): ENTERed for %u attempt(s), pause %u ms, read disc information first %d, fast exit %d\n",
                kWaitForReady, attemptCount, pauseMs, readDiscInformationFirst, fastExit);
  if (readDiscInformationFirst) {
    Poll(attemptCount, pauseMs, fastExit, 1, progress, [this] {
      uint8_t discInformation[4096] = {};
      ReadDiscInformation(discInformation, sizeof discInformation);
    });
  }
  const bool ready = Poll(attemptCount, pauseMs, fastExit, 2, progress, [this] { TestUnitReady(); });
  QuorvaneI_Log("\n%s(): EXITing with success, %s\n", kWaitForReady, ready ? "ready" : "not ready");
  return ready;
}
