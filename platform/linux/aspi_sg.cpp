// The ASPI library on Linux: "WnASPI32.dll" built into the engine over the
// SCSI generic driver. Host adapter = sg host number, target = SCSI id, LUN
// = LUN; devices on any channel answer at their host and id. Requests
// complete before SendASPI32Command returns, so nothing is ever pending.
#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include "platform/aspi.h"
#include "platform/dynlib.h"
#include "platform/linux/os.h"
#include "platform/linux/sg_io.h"
#include "platform/linux/sysfs_scsi.h"

namespace qv::plat {
namespace {

using namespace qv::aspi;
using Address = std::tuple<unsigned, unsigned, unsigned>;  // host, id, lun

std::mutex g_mutex;
std::map<Address, uint32_t>& Timeouts() {  // half-seconds
  static std::map<Address, uint32_t> t;
  return t;
}

std::optional<lnx::SgDevice> FindDevice(unsigned host, unsigned id, unsigned lun) {
  for (auto& d : lnx::ScanScsiGeneric())
    if (d.host == host && d.id == id && d.lun == lun) return d;
  return std::nullopt;
}

unsigned AdapterCount() {
  unsigned count = 0;
  for (auto& d : lnx::ScanScsiGeneric()) count = std::max(count, d.host + 1);
  return std::min(count, 255u);
}

void CopyText(uint8_t* dst, size_t n, const char* text) {
  std::memset(dst, ' ', n);
  std::memcpy(dst, text, std::min(n, std::strlen(text)));
}

uint8_t HostStatusToAspi(uint8_t host) {
  switch (host) {
    case 0: return HASTAT_OK;
    case 0x01:
    case 0x04: return HASTAT_SEL_TO;
    case 0x03: return HASTAT_COMMAND_TIMEOUT;
    default: return HASTAT_PHASE_ERR;
  }
}

uint32_t ExecScsi(SRB_ExecSCSICmd* srb) {
  auto dev = FindDevice(srb->h.SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
  if (!dev) return srb->h.SRB_Status = SS_NO_DEVICE;
  if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > 16) return srb->h.SRB_Status = SS_INVALID_SRB;
  uint32_t halfSeconds = 0;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = Timeouts().find({srb->h.SRB_HaId, srb->SRB_Target, srb->SRB_Lun});
    if (it != Timeouts().end()) halfSeconds = it->second;
  }
  const std::string path = lnx::DevRoot() + "/" + dev->sgName;
  uint32_t err = 0;
  const int fd = lnx::OpenScsiDevice(path.c_str(), nullptr, &err);
  if (fd < 0) {
    srb->SRB_HaStat = HASTAT_SEL_TO;
    return srb->h.SRB_Status = SS_ERR;
  }
  ScsiRequest req;
  req.cdb = srb->CDBByte;
  req.cdbLength = srb->SRB_CDBLen;
  req.buffer = srb->SRB_BufPointer;
  req.bufferSize = srb->SRB_BufLen;
  req.direction = (srb->h.SRB_Flags & SRB_DIR_OUT) ? ScsiDirection::Out
                  : (srb->h.SRB_Flags & SRB_DIR_IN) ? ScsiDirection::In
                                                     : ScsiDirection::None;
  if (srb->SRB_BufPointer == nullptr || srb->SRB_BufLen == 0) req.direction = ScsiDirection::None;
  if (halfSeconds != 0) req.timeoutSeconds = (halfSeconds + 1) / 2;
  ScsiReply reply;
  lnx::SgExecute(fd, req, reply);
  lnx::GetOs().Close(fd);

  srb->SRB_HaStat = HostStatusToAspi(reply.hostStatus);
  srb->SRB_TargStat = reply.status;
  const size_t senseLen = std::min<size_t>(srb->SRB_SenseLen, sizeof srb->SenseArea);
  std::memset(srb->SenseArea, 0, sizeof srb->SenseArea);
  std::memcpy(srb->SenseArea, reply.sense, std::min<size_t>(senseLen, sizeof reply.sense));
  if (reply.systemError != 0 && srb->SRB_HaStat == HASTAT_OK) srb->SRB_HaStat = HASTAT_PHASE_ERR;
  const bool ok = reply.systemError == 0 && reply.status == 0;
  return srb->h.SRB_Status = ok ? SS_COMP : SS_ERR;
}

uint32_t SendCommand(void* p) {
  if (p == nullptr) return SS_INVALID_SRB;
  auto* h = static_cast<SRB_Header*>(p);
  const unsigned adapters = AdapterCount();
  if (h->SRB_Cmd != SC_HA_INQUIRY && h->SRB_HaId >= adapters) return h->SRB_Status = SS_INVALID_HA;
  switch (h->SRB_Cmd) {
    case SC_HA_INQUIRY: {
      auto* s = static_cast<SRB_HAInquiry*>(p);
      if (adapters == 0) return h->SRB_Status = SS_NO_ADAPTERS;
      if (h->SRB_HaId >= adapters) return h->SRB_Status = SS_INVALID_HA;
      s->HA_Count = static_cast<uint8_t>(adapters);
      s->HA_SCSI_ID = 7;
      CopyText(s->HA_ManagerId, 16, "Quorvane sg ASPI");
      char ident[17];
      std::snprintf(ident, sizeof ident, "Linux host%u", h->SRB_HaId);
      CopyText(s->HA_Identifier, 16, ident);
      std::memset(s->HA_Unique, 0, sizeof s->HA_Unique);
      s->HA_Unique[3] = 8;  // maximum targets
      return h->SRB_Status = SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
      auto* s = static_cast<SRB_GDEVBlock*>(p);
      auto dev = FindDevice(h->SRB_HaId, s->SRB_Target, s->SRB_Lun);
      if (!dev || dev->type < 0) return h->SRB_Status = SS_NO_DEVICE;
      s->SRB_DeviceType = static_cast<uint8_t>(dev->type);
      return h->SRB_Status = SS_COMP;
    }
    case SC_EXEC_SCSI_CMD:
      return ExecScsi(static_cast<SRB_ExecSCSICmd*>(p));
    case SC_RESCAN_SCSI_BUS:
      return h->SRB_Status = SS_COMP;  // sysfs is read afresh on every request
    case SC_GETSET_TIMEOUTS: {
      auto* s = static_cast<SRB_GetSetTimeouts*>(p);
      if (!FindDevice(h->SRB_HaId, s->SRB_Target, s->SRB_Lun)) return h->SRB_Status = SS_NO_DEVICE;
      std::lock_guard<std::mutex> lock(g_mutex);
      Address a{h->SRB_HaId, s->SRB_Target, s->SRB_Lun};
      if (h->SRB_Flags & SRB_DIR_OUT) {
        Timeouts()[a] = s->SRB_Timeout;
      } else {
        auto it = Timeouts().find(a);
        s->SRB_Timeout = it == Timeouts().end() ? 0 : it->second;
      }
      return h->SRB_Status = SS_COMP;
    }
    case SC_GET_SYMBOLIC_NAME: {
      auto* s = static_cast<SRB_GetSymbolicName*>(p);
      auto dev = FindDevice(h->SRB_HaId, s->SRB_Target, s->SRB_Lun);
      if (!dev) return h->SRB_Status = SS_NO_DEVICE;
      const std::string name = lnx::DevRoot() + "/" + (dev->blockName.empty() ? dev->sgName : dev->blockName);
      std::snprintf(s->SRB_Name, sizeof s->SRB_Name, "%s", name.c_str());
      return h->SRB_Status = SS_COMP;
    }
    default:
      return h->SRB_Status = SS_INVALID_CMD;
  }
}

uint32_t GetSupportInfo() {
  const unsigned adapters = AdapterCount();
  const uint32_t status = adapters == 0 ? SS_NO_ADAPTERS : SS_COMP;
  return (status << 8) | adapters;
}

void* Resolve(const char* symbol) {
  if (std::strcmp(symbol, "GetASPI32SupportInfo") == 0) return reinterpret_cast<void*>(&GetSupportInfo);
  if (std::strcmp(symbol, "SendASPI32Command") == 0) return reinterpret_cast<void*>(&SendCommand);
  return nullptr;
}

const BuiltinLibrary kSgAspi{"WnASPI32.dll", &Resolve};

}  // namespace

const BuiltinLibrary& SgAspiLibrary() { return kSgAspi; }

}  // namespace qv::plat
