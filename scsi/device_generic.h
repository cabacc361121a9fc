// The command classes: one method per SCSI/MMC command. Each fills a
// zeroed CDB from its arguments and runs it on the device's transport; a
// failure is the transport's exception, unchanged. No method interprets
// the answer: that is the work of the operations that call them.
#pragma once
#include <cstdint>

#include "scsi/transport.h"

class CQuorvane_ScsiDeviceGeneric {
 public:
  // Takes ownership of the transport.
  explicit CQuorvane_ScsiDeviceGeneric(CQuorvane_ScsiTransport* transport);
  virtual ~CQuorvane_ScsiDeviceGeneric();
  CQuorvane_ScsiDeviceGeneric(const CQuorvane_ScsiDeviceGeneric&) = delete;
  CQuorvane_ScsiDeviceGeneric& operator=(const CQuorvane_ScsiDeviceGeneric&) = delete;

  CQuorvane_ScsiTransport* GetTransport() const { return m__PCQuorvane_ScsiTransport__Transport; }

  void TestUnitReady();
  void RezeroUnit();
  void Inquiry(void* buffer, uint32_t size);
  void StartStopUnit(bool immediate, bool loadEject, bool start);
  void ReadCapacity(void* buffer, uint32_t size);
  void ReadFormatCapacities(void* buffer, uint32_t size);
  void Read10(void* buffer, uint32_t size, uint32_t lba, uint32_t blocks, uint8_t byte1Flags);
  void Read10Ex(void* buffer, uint32_t size, uint32_t lba, uint32_t blocks, uint8_t byte1Flags, uint64_t* timing1,
                uint64_t* timing2);
  void ModeSense10(void* buffer, uint32_t size, uint8_t pageCode, uint8_t pageControl);
  void ModeSelect10(void* buffer, uint32_t size);
  // INQUIRY of 96 bytes: copies the vendor (8), product (16) and revision
  // (4) characters, without terminators.
  void GetInquiryStrings(char* vendor, char* product, char* revision);

 protected:
  // Byte 1 bits 7-5 of the commands that carry the LUN.
  uint8_t LunBits() const { return static_cast<uint8_t>(m__PCQuorvane_ScsiTransport__Transport->GetLUN() << 5); }

  CQuorvane_ScsiTransport* m__PCQuorvane_ScsiTransport__Transport;
  // Identity, filled from INQUIRY when the drive object is created.
  char m__CHAR__VendorId[4096] = {};
  char m__CHAR__ProductId[4096] = {};
  char m__CHAR__ProductRevision[4096] = {};
};
