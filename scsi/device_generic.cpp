#include "scsi/device_generic.h"

#include <cstring>

#include "scsi/cdb.h"

CQuorvane_ScsiDeviceGeneric::CQuorvane_ScsiDeviceGeneric(CQuorvane_ScsiTransport* transport)
    : m__PCQuorvane_ScsiTransport__Transport(transport) {}

CQuorvane_ScsiDeviceGeneric::~CQuorvane_ScsiDeviceGeneric() { delete m__PCQuorvane_ScsiTransport__Transport; }

void CQuorvane_ScsiDeviceGeneric::TestUnitReady() {
  QuorvaneI_Cdb c(0x00, 6);
  c.b[1] = LunBits();
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceGeneric::RezeroUnit() {
  QuorvaneI_Cdb c(0x01, 6);
  c.b[1] = LunBits();
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceGeneric::Inquiry(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x12, 6);
  c.b[1] = LunBits();
  c.b[4] = static_cast<uint8_t>(size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceGeneric::StartStopUnit(bool immediate, bool loadEject, bool start) {
  QuorvaneI_Cdb c(0x1B, 6);
  c.b[1] = static_cast<uint8_t>(LunBits() | (immediate ? 0x01 : 0));
  c.b[4] = static_cast<uint8_t>((loadEject ? 0x02 : 0) | (start ? 0x01 : 0));
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceGeneric::ReadCapacity(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x25, 10);
  c.b[1] = LunBits();
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceGeneric::ReadFormatCapacities(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x23, 10);
  c.b[1] = LunBits();
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

namespace {

QuorvaneI_Cdb Read10Cdb(uint8_t lunBits, uint32_t lba, uint32_t blocks, uint8_t byte1Flags) {
  QuorvaneI_Cdb c(0x28, 10);
  c.b[1] = static_cast<uint8_t>(lunBits | byte1Flags);
  c.Put32(2, lba);
  c.Put16(7, blocks);
  return c;
}

}  // namespace

void CQuorvane_ScsiDeviceGeneric::Read10(void* buffer, uint32_t size, uint32_t lba, uint32_t blocks,
                                         uint8_t byte1Flags) {
  QuorvaneI_Send(GetTransport(), Read10Cdb(LunBits(), lba, blocks, byte1Flags), buffer, size);
}

void CQuorvane_ScsiDeviceGeneric::Read10Ex(void* buffer, uint32_t size, uint32_t lba, uint32_t blocks,
                                           uint8_t byte1Flags, uint64_t* timing1, uint64_t* timing2) {
  const QuorvaneI_Cdb c = Read10Cdb(LunBits(), lba, blocks, byte1Flags);
  GetTransport()->ExecuteCDBEx(c.b, c.len, buffer, size, QV_SCSI_DIRECTION_IN, timing1, timing2);
}

void CQuorvane_ScsiDeviceGeneric::ModeSense10(void* buffer, uint32_t size, uint8_t pageCode, uint8_t pageControl) {
  QuorvaneI_Cdb c(0x5A, 10);
  c.b[1] = LunBits();
  c.b[2] = static_cast<uint8_t>((pageCode & 0x3F) | (pageControl << 6));
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceGeneric::ModeSelect10(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x55, 10);
  c.b[1] = static_cast<uint8_t>(LunBits() | 0x10);  // PF: the page format of SCSI-2 and later
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size, QV_SCSI_DIRECTION_OUT);
}

void CQuorvane_ScsiDeviceGeneric::GetInquiryStrings(char* vendor, char* product, char* revision) {
  uint8_t answer[96] = {};
  Inquiry(answer, sizeof answer);
  if (vendor) std::memcpy(vendor, answer + 8, 8);
  if (product) std::memcpy(product, answer + 16, 16);
  if (revision) std::memcpy(revision, answer + 32, 4);
}
