// The SPTD transport: a drive found by its device name in the device list
// of the run-time pass-through library "dtpro.dll" and driven through it.
// On Linux the library is the project's virtual drive; QUORVANE_LIB_DTPRO
// names another.
#pragma once
#include <string>

#include "platform/dynlib.h"
#include "scsi/transport.h"
#include "quorvane/qv_doors.h"

class CQuorvane_ScsiTransportSPTD : public CQuorvane_ScsiTransport {
 public:
  // openMode 1 opens the device shared; any other value asks for it alone.
  CQuorvane_ScsiTransportSPTD(const char16_t* deviceName, uint8_t openMode);
  ~CQuorvane_ScsiTransportSPTD() override;

  const std::u16string& GetDeviceName() const { return m__WCHAR__DeviceName; }

 protected:
  void Deliver(Attempt& attempt) override;

 private:
  void Release();

  std::u16string m__WCHAR__DeviceName;
  qv::plat::LibraryHandle m__HMODULE__Library = nullptr;
  void* m__HANDLE__Device = nullptr;
  QV_PASSTHROUGH_ENUMERATE m__pfn__Enumerate = nullptr;
  QV_PASSTHROUGH_OPEN m__pfn__Open = nullptr;
  QV_PASSTHROUGH_CLOSE m__pfn__Close = nullptr;
  QV_PASSTHROUGH_SEND m__pfn__Send = nullptr;
  QV_PASSTHROUGH_FREE_LIST m__pfn__FreeList = nullptr;
};

// UTF-16 to the system's narrow form (UTF-8 on Linux), for log lines and
// messages.
std::string QuorvaneI_NarrowForLog(const std::u16string& text);
