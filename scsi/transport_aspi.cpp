#include "scsi/transport_aspi.h"

#include <cstring>

#include "core/exception.h"
#include "core/log.h"

using namespace qv::aspi;

namespace {

constexpr const char* kCtor = "CQuorvane_ScsiTransportASPI::CQuorvane_ScsiTransportASPI";
constexpr const char* kExecute = "CQuorvane_ScsiTransportASPI::ExecuteCDB";

}  // namespace

CQuorvane_ScsiTransportASPI::CQuorvane_ScsiTransportASPI(uint8_t portId, uint8_t pathId, uint8_t targetId,
                                                         uint8_t lun)
    : CQuorvane_ScsiTransport("CQuorvane_ScsiTransportASPI", kExecute) {
  QuorvaneI_Log("\n%s(): ENTERed for %d:%d:%d:%d\n", kCtor, portId, pathId, targetId, lun);
  m__UCHAR__PortId = portId;
  m__UCHAR__PathId = pathId;
  m__UCHAR__TargetId = targetId;
  m__UCHAR__LUN = lun;

  if (const uint32_t status = QuorvaneI_LoadAspi("Quorvane_StartUpASPI", m__ASPI__Library); status != 0)
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, status, "%s(): Quorvane_StartUpASPI() failed, status %d ( 0x%x )",
                    kCtor, static_cast<int>(status), status);

  uint32_t error = 0;
  m__HANDLE__Event = qv::plat::ManualResetEvent::Create(&error);
  if (!m__HANDLE__Event) {
    Release();
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, error, "%s(): CreateEvent() failed, status %ld", kCtor,
                    static_cast<long>(error));
  }

  const uint8_t supportStatus = static_cast<uint8_t>(m__ASPI__Library.getSupportInfo() >> 8);
  if (supportStatus != SS_COMP) {
    Release();
    QuorvaneI_Throw(kCtor, EN_SCSI_TRANSPORT_ERROR, 0, "%s(): m__pfn__GetASPI32SupportInfo() failed, ASPI status 0x%02X",
                    kCtor, supportStatus);
  }

  // The device type comes from a polled INQUIRY of LUN 0.
  uint8_t answer[96] = {};
  SRB_ExecSCSICmd inquiry{};
  inquiry.h.SRB_Cmd = SC_EXEC_SCSI_CMD;
  inquiry.h.SRB_HaId = portId;
  inquiry.h.SRB_Flags = SRB_DIR_IN;
  inquiry.SRB_Target = targetId;
  inquiry.SRB_Lun = 0;
  inquiry.SRB_BufLen = sizeof answer;
  inquiry.SRB_BufPointer = answer;
  inquiry.SRB_SenseLen = SENSE_LEN;
  inquiry.SRB_CDBLen = 6;
  const uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof answer, 0};
  std::memcpy(inquiry.CDBByte, cdb, sizeof cdb);
  const uint8_t inquiryStatus = QuorvaneI_AspiSendAndWait(m__ASPI__Library, &inquiry, 0);
  if (inquiryStatus != SS_COMP) {
    Release();
    QuorvaneI_Throw(kCtor, EN_SCSI_TRANSPORT_ERROR, 0,
                    "%s(): m__pfn__SendASPI32Command( SC_GET_DEV_TYPE ) for target ID %ld failed with ASPI status "
                    "0x%02X",
                    kCtor, static_cast<long>(targetId), inquiryStatus);
  }
  m__UCHAR__DeviceType = answer[0] & 0x1F;

  SRB_HAInquiry adapter{};
  adapter.h.SRB_Cmd = SC_HA_INQUIRY;
  adapter.h.SRB_HaId = portId;
  const uint8_t adapterStatus = QuorvaneI_AspiSendAndWait(m__ASPI__Library, &adapter, 0);
  if (adapterStatus != SS_COMP) {
    Release();
    QuorvaneI_Throw(kCtor, EN_SCSI_TRANSPORT_ERROR, 0,
                    "%s(): m__pfn__SendASPI32Command( SC_HA_INQUIRY ) for port ID %ld failed with ASPI status 0x%02X",
                    kCtor, static_cast<long>(portId), adapterStatus);
  }
  m__ULONG__MaximumTransferLength = kQuorvaneScsiMaximumTransferLength;
  QuorvaneI_Log("\n%s(): Host adapter %d of %d, SCSI ID %d, manager '%.16s', identifier '%.16s'\n", kCtor, portId,
                adapter.HA_Count, adapter.HA_SCSI_ID, reinterpret_cast<const char*>(adapter.HA_ManagerId),
                reinterpret_cast<const char*>(adapter.HA_Identifier));

  SRB_GetSymbolicName name{};
  name.h.SRB_Cmd = SC_GET_SYMBOLIC_NAME;
  name.h.SRB_HaId = portId;
  name.SRB_Target = targetId;
  name.SRB_Lun = 0;
  const uint8_t nameStatus = QuorvaneI_AspiSendAndWait(m__ASPI__Library, &name, 0);
  name.SRB_Name[sizeof name.SRB_Name - 1] = '\0';
  if (nameStatus == SS_COMP)
    QuorvaneI_Log("\n%s(): Device %d:%d is '%s'\n", kCtor, portId, targetId, name.SRB_Name);
  else
    QuorvaneI_Log("\n%s(): WARNING! Symbolic name of %d:%d is not known, ASPI status 0x%02X\n", kCtor, portId,
                  targetId, nameStatus);
  QuorvaneI_Log("\n%s(): EXITing with success, device type 0x%02X\n", kCtor, m__UCHAR__DeviceType);
}

CQuorvane_ScsiTransportASPI::~CQuorvane_ScsiTransportASPI() { Release(); }

void CQuorvane_ScsiTransportASPI::Release() {
  qv::plat::FreeLibraryHandle(m__ASPI__Library.module);
  m__ASPI__Library = QuorvaneI_Aspi{};
  m__HANDLE__Event.reset();
}

void CQuorvane_ScsiTransportASPI::Deliver(Attempt& a) {
  SRB_ExecSCSICmd& srb = m__SRB__Last;
  std::memset(&srb, 0, sizeof srb);
  srb.h.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.h.SRB_HaId = m__UCHAR__PortId;
  srb.h.SRB_Flags = static_cast<uint8_t>((a.dataOut ? SRB_DIR_OUT : SRB_DIR_IN) | SRB_EVENT_NOTIFY);
  srb.SRB_Target = m__UCHAR__TargetId;
  srb.SRB_Lun = m__UCHAR__LUN;
  srb.SRB_BufLen = a.bufferSize;
  srb.SRB_BufPointer = static_cast<uint8_t*>(a.buffer);
  srb.SRB_SenseLen = SENSE_LEN;
  srb.SRB_CDBLen = a.cdbLength;
  srb.SRB_PostProc = m__HANDLE__Event->NativeHandle();
  std::memcpy(srb.CDBByte, a.cdb, a.cdbLength);

  uint32_t error = 0;
  if (!m__HANDLE__Event->Reset(&error))
    QuorvaneI_Throw(kExecute, EN_SYSTEM_CALL_FAILED, error, "%s(): ResetEvent() failed, status %ld", kExecute,
                    static_cast<long>(error));
  uint32_t status = m__ASPI__Library.sendCommand(&srb);
  if (status == SS_PENDING) {
    const uint32_t wait = m__HANDLE__Event->Wait(&error);
    if (wait != 0)
      QuorvaneI_Throw(kExecute, EN_SYSTEM_CALL_FAILED, error, "%s(): WaitForSingleObject() failed, return %ld, status %ld",
                      kExecute, static_cast<long>(wait), static_cast<long>(error));
    status = srb.h.SRB_Status;
  }
  a.transportStatus = static_cast<uint8_t>(status);
  a.targetStatus = srb.SRB_TargStat;
  a.hostAdapterStatus = srb.SRB_HaStat;
  a.good = status == SS_COMP;
  std::memcpy(a.sense, srb.SenseArea, SENSE_LEN);
}

bool CQuorvane_ScsiTransportASPI::RetryPermitted(const Attempt& a) const {
  return a.transportStatus == SS_ERR && a.hostAdapterStatus == HASTAT_OK;
}

void CQuorvane_ScsiTransportASPI::DumpRequest(const Attempt&) const {
  const SRB_ExecSCSICmd& s = m__SRB__Last;
  QuorvaneI_Log("\nSRB Dump: Cmd 0x%02X, Status 0x%02X, HaId %d, Flags 0x%02X, Target %d, LUN %d, BufLen %u, "
                "SenseLen %d, CDBLen %d, HaStat 0x%02X, TargStat 0x%02X\n",
                s.h.SRB_Cmd, s.h.SRB_Status, s.h.SRB_HaId, s.h.SRB_Flags, s.SRB_Target, s.SRB_Lun, s.SRB_BufLen,
                s.SRB_SenseLen, s.SRB_CDBLen, s.SRB_HaStat, s.SRB_TargStat);
}
