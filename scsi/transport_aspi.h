// The ASPI transport: a drive addressed by host adapter, target and LUN
// through the ASPI library ("WnASPI32.dll"; on Linux the engine's own
// library over the SCSI generic driver).
#pragma once
#include <memory>

#include "core/aspi_loader.h"
#include "platform/event.h"
#include "scsi/transport.h"

class CQuorvane_ScsiTransportASPI : public CQuorvane_ScsiTransport {
 public:
  CQuorvane_ScsiTransportASPI(uint8_t portId, uint8_t pathId, uint8_t targetId, uint8_t lun);
  ~CQuorvane_ScsiTransportASPI() override;

 protected:
  void Deliver(Attempt& attempt) override;
  // ASPI retries only requests that the adapter delivered and the target failed.
  bool RetryPermitted(const Attempt& attempt) const override;
  uint8_t RecordedSenseLength() const override { return qv::aspi::SENSE_LEN; }
  void DumpRequest(const Attempt& attempt) const override;

 private:
  void Release();

  QuorvaneI_Aspi m__ASPI__Library;
  std::unique_ptr<qv::plat::ManualResetEvent> m__HANDLE__Event;
  qv::aspi::SRB_ExecSCSICmd m__SRB__Last{};  // the last request, for the failure dump
};
