// The pass-through transport: a drive opened by its device name (CdRom0)
// through the OS's own SCSI pass-through, or, when the auxiliary driver
// "Dralik" serves that name, through the handle the driver gives out.
#pragma once
#include "platform/dynlib.h"
#include "platform/passthrough.h"
#include "scsi/transport.h"
#include "quorvane/qv_doors.h"

class CQuorvane_ScsiTransportSPTI : public CQuorvane_ScsiTransport {
 public:
  explicit CQuorvane_ScsiTransportSPTI(const char* deviceName);
  ~CQuorvane_ScsiTransportSPTI() override;

  const char* GetDevicePath() const { return m__CHAR__DevicePath; }
  bool IsReadOnly() const { return m__BOOLEAN__IsReadOnly; }
  // True when the auxiliary driver handed out the device handle.
  bool IsAuxiliaryDevice() const { return m__PVOID__DralikModule != nullptr; }

 protected:
  void Deliver(Attempt& attempt) override;

 private:
  // Asks the auxiliary driver for the device; false when the driver is not
  // installed or does not serve the name.
  bool OpenThroughDralik(const char* deviceName);
  void OpenOsDevice(const char* deviceName);
  void ReadScsiAddress();
  void LogCapabilities();
  void CloseDevice();

  char m__CHAR__DevicePath[2048] = {};
  qv::plat::PassThroughHandle m__HANDLE__Device = qv::plat::kInvalidPassThrough;
  bool m__BOOLEAN__IsReadOnly = false;

  qv::plat::LibraryHandle m__PVOID__DralikModule = nullptr;
  uint32_t m__ULONG__DralikDevice = 0;
  QV_DRALIK_PASS_THROUGH_FN m__pfn__DralikPassThrough = nullptr;
  QV_DRALIK_CLOSE_DEVICE_FN m__pfn__DralikCloseDevice = nullptr;
};
