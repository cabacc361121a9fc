// Finding drives and describing them by ASPI address, without a
// burner-grabber object.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/aspi_loader.h"
#include "core/log.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/sysinfo.h"
#include "quorvane.h"

using namespace qv::aspi;

uint32_t QuorvaneI_LoadAspi(const char* function, QuorvaneI_Aspi& aspi, const char* extraExport, void** extra) {
  uint32_t firstError = 0;
  qv::plat::LibraryHandle module = qv::plat::LoadLibraryByName("WnASPI32.dll", &firstError);
  if (module == nullptr) {
    // Try the copy that ships beside the engine.
    std::string path = qv::plat::LoadedModulePath("Quorvane.dll");
    if (path.empty()) {
      QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, engine module path not found\n", function);
    } else {
      const size_t slash = path.find_last_of(qv::plat::PathSeparator());
      path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "WnASPI32.DLL";
      uint32_t error = 0;
      module = qv::plat::LoadLibraryByName(path.c_str(), &error);
      if (module == nullptr)
        QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, LoadLibrary( '%s' ) failed, status %d ( 0x%x )\n",
                      function, path.c_str(), static_cast<int>(error), error);
    }
  }
  if (module == nullptr) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, LoadLibrary( 'WnASPI32.dll' ) failed, status %d ( 0x%x )\n",
                  function, static_cast<int>(firstError), firstError);
    return firstError;
  }
  uint32_t error = 0;
  void* info = qv::plat::GetLibrarySymbol(module, "GetASPI32SupportInfo", &error);
  void* send = info ? qv::plat::GetLibrarySymbol(module, "SendASPI32Command", &error) : nullptr;
  void* more = (send && extraExport) ? qv::plat::GetLibrarySymbol(module, extraExport, &error) : nullptr;
  if (info == nullptr || send == nullptr || (extraExport && more == nullptr)) {
    QuorvaneI_Log("\nQuorvane:%s(): EXITing with failure, GetProcAddress( '%s' ) failed, status %d ( 0x%x )\n",
                  function,
                  info == nullptr ? "GetASPI32SupportInfo" : send == nullptr ? "SendASPI32Command" : extraExport,
                  static_cast<int>(error), error);
    qv::plat::FreeLibraryHandle(module);
    return error;
  }
  aspi.getSupportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(info);
  aspi.sendCommand = reinterpret_cast<SendASPI32CommandFn>(send);
  aspi.module = module;
  if (extra) *extra = more;
  return 0;
}

uint8_t QuorvaneI_AspiSendAndWait(const QuorvaneI_Aspi& aspi, void* srb, uint32_t maxPolls) {
  auto* h = static_cast<SRB_Header*>(srb);
  uint32_t result = aspi.sendCommand(srb);
  if (result != SS_PENDING) return static_cast<uint8_t>(result);
  for (uint32_t polls = 0; h->SRB_Status == SS_PENDING && (maxPolls == 0 || polls < maxPolls); ++polls)
    qv::plat::SleepMs(100);
  return h->SRB_Status;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_StartUpASPI(PQUORVANE_GET_ASPI32_SUPPORT_INFO* getSupportInfo,
                                                         PQUORVANE_SEND_ASPI32_COMMAND* sendCommand,
                                                         QV_HANDLE* module) {
  QuorvaneI_Aspi aspi;
  const uint32_t status = QuorvaneI_LoadAspi("Quorvane_StartUpASPI", aspi);
  if (status != 0) return status;
  if (getSupportInfo) *getSupportInfo = reinterpret_cast<PQUORVANE_GET_ASPI32_SUPPORT_INFO>(aspi.getSupportInfo);
  if (sendCommand) *sendCommand = reinterpret_cast<PQUORVANE_SEND_ASPI32_COMMAND>(aspi.sendCommand);
  if (module) {
    *module = aspi.module;
  } else {
    qv::plat::FreeLibraryHandle(aspi.module);
  }
  return 0;
}

QUORVANE_API void QUORVANE_CALL Quorvane_ReleaseASPI(QV_HANDLE module) {
  qv::plat::FreeLibraryHandle(static_cast<qv::plat::LibraryHandle>(module));
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_FindDevice(QV_UCHAR deviceType, QV_BOOLEAN stopAtFirst,
                                                        PQUORVANE_CALLBACK callback, void* context) {
  QuorvaneI_AspiScope scope;
  QuorvaneI_Aspi& aspi = scope.aspi;
  if (const uint32_t status = QuorvaneI_LoadAspi("Quorvane_FindDevice", aspi); status != 0) {
    QuorvaneI_Log("\nQuorvane:Quorvane_FindDevice(): EXITing with failure, Quorvane_StartUpASPI() failed, status %d "
                  "( 0x%x )\n",
                  static_cast<int>(status), status);
    return 0;
  }
  uint32_t info = aspi.getSupportInfo();
  if (((info >> 8) & 0xFF) != SS_COMP) {
    QuorvaneI_Log("\nQuorvane:Quorvane_FindDevice(): #1, l__pfn__GetASPI32SupportInfo() failed, ASPI status 0x%02X!!!\n",
                  (info >> 8) & 0xFF);
    return 0;
  }
  unsigned adapters = info & 0xFF;
  unsigned targets = 15;
  if (qv::plat::GetOsVersion().platformId == 2) {
    for (unsigned ha = 0; ha < adapters; ++ha) {
      SRB_RescanPort rescan{};
      rescan.h.SRB_Cmd = SC_RESCAN_SCSI_BUS;
      rescan.h.SRB_HaId = static_cast<uint8_t>(ha);
      aspi.sendCommand(&rescan);
    }
    info = aspi.getSupportInfo();
    if (((info >> 8) & 0xFF) != SS_COMP) {
      QuorvaneI_Log(
          "\nQuorvane:Quorvane_FindDevice(): #2, l__pfn__GetASPI32SupportInfo() failed, ASPI status 0x%02X!!!\n",
          (info >> 8) & 0xFF);
      return 0;
    }
    adapters = info & 0xFF;
    targets = 63;
  }
  QV_ULONG found = 0;
  for (unsigned ha = 0; ha < adapters; ++ha) {
    for (unsigned target = 0; target < targets; ++target) {
      uint8_t answer[96] = {};
      SRB_ExecSCSICmd srb{};
      srb.h.SRB_Cmd = SC_EXEC_SCSI_CMD;
      srb.h.SRB_HaId = static_cast<uint8_t>(ha);
      srb.h.SRB_Flags = SRB_DIR_IN;
      srb.SRB_Target = static_cast<uint8_t>(target);
      srb.SRB_Lun = 0;
      srb.SRB_BufLen = sizeof answer;
      srb.SRB_BufPointer = answer;
      srb.SRB_SenseLen = SENSE_LEN;
      srb.SRB_CDBLen = 6;
      const uint8_t inquiry[6] = {0x12, 0, 0, 0, 0x60, 0};
      std::memcpy(srb.CDBByte, inquiry, sizeof inquiry);
      if (QuorvaneI_AspiSendAndWait(aspi, &srb, 10) != SS_COMP) continue;
      const uint8_t type = answer[0] & 0x1F;
      if (deviceType != 0xFF && type != deviceType) continue;
      ++found;
      QUORVANE_DEVICE_ADDRESS address{1, static_cast<QV_UCHAR>(ha), 0, static_cast<QV_UCHAR>(target), 0};
      if (callback) callback(CN_DEVICE_FOUND, context, &address, nullptr);
      if (stopAtFirst) return found;
    }
  }
  return found;
}

namespace {

// Sends one request about the device at portId:targetId; logs what failed.
template <class Srb>
bool AskAboutDevice(QuorvaneI_AspiScope& scope, Srb& srb, uint8_t command, const char* what, QV_UCHAR portId,
                    QV_UCHAR targetId) {
  srb.h.SRB_Cmd = command;
  srb.h.SRB_HaId = portId;
  srb.SRB_Target = targetId;
  srb.SRB_Lun = 0;
  const uint8_t status = QuorvaneI_AspiSendAndWait(scope.aspi, &srb, 0);
  if (status == SS_COMP) return true;
  QuorvaneI_Log("\nQuorvane:Quorvane_GetDeviceNameByDeviceAddress(): %s request for %d:%d failed, "
                "ASPI status 0x%02X\n",
                what, portId, targetId, status);
  return false;
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetDeviceNameByDeviceAddress(QV_UCHAR portId, QV_UCHAR pathId,
                                                                          QV_UCHAR targetId, QV_UCHAR lun,
                                                                          char* name) {
  (void)pathId;
  (void)lun;
  QuorvaneI_AspiScope scope;
  if (QuorvaneI_LoadAspi("Quorvane_GetDeviceNameByDeviceAddress", scope.aspi) != 0) return EN_NOT_FOUND;
  if (qv::plat::GetOsVersion().platformId == 2) {
    SRB_GetSymbolicName srb{};
    if (!AskAboutDevice(scope, srb, SC_GET_SYMBOLIC_NAME, "Symbolic name", portId, targetId)) return EN_NOT_FOUND;
    srb.SRB_Name[sizeof srb.SRB_Name - 1] = '\0';
    if (name) std::memcpy(name, srb.SRB_Name, std::strlen(srb.SRB_Name) + 1);
    return 0;
  }
  SRB_GetDiskInfo srb{};
  if (!AskAboutDevice(scope, srb, SC_GET_DISK_INFO, "Disk information", portId, targetId)) return EN_NOT_FOUND;
  if (name) std::snprintf(name, 8, "\\\\.\\%c:", 'A' + srb.SRB_Int13HDriveInfo);
  return 0;
}

namespace {

QV_ULONG TimeOutRequest(const char* function, QV_UCHAR portId, QV_UCHAR targetId, bool set, uint32_t& halfSeconds) {
  QuorvaneI_AspiScope scope;
  if (QuorvaneI_LoadAspi(function, scope.aspi) != 0) return EN_NOT_FOUND;
  SRB_GetSetTimeouts srb{};
  srb.h.SRB_Cmd = SC_GETSET_TIMEOUTS;
  srb.h.SRB_HaId = portId;
  srb.h.SRB_Flags = set ? SRB_DIR_OUT : SRB_DIR_IN;
  srb.SRB_Target = targetId;
  srb.SRB_Lun = 0;
  srb.SRB_Timeout = set ? halfSeconds : 0;
  const uint8_t status = QuorvaneI_AspiSendAndWait(scope.aspi, &srb, 0);
  if (status != SS_COMP) {
    QuorvaneI_Log("\nQuorvane:%s(): Time-out request for %d:%d failed, ASPI status 0x%02X\n", function, portId,
                  targetId, status);
    return EN_NOT_FOUND;
  }
  halfSeconds = srb.SRB_Timeout;
  return 0;
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetDeviceTimeOutByDeviceAddress(QV_UCHAR portId, QV_UCHAR pathId,
                                                                             QV_UCHAR targetId, QV_UCHAR lun,
                                                                             QV_ULONG* timeOutInSeconds) {
  (void)pathId;
  (void)lun;
  uint32_t halfSeconds = 0;
  const QV_ULONG status =
      TimeOutRequest("Quorvane_GetDeviceTimeOutByDeviceAddress", portId, targetId, false, halfSeconds);
  // The request counts half-seconds; an odd count rounds down.
  if (status == 0 && timeOutInSeconds) *timeOutInSeconds = halfSeconds / 2;
  return status;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_SetDeviceTimeOutByDeviceAddress(QV_UCHAR portId, QV_UCHAR pathId,
                                                                             QV_UCHAR targetId, QV_UCHAR lun,
                                                                             QV_ULONG timeOutInSeconds) {
  (void)pathId;
  (void)lun;
  uint32_t halfSeconds = timeOutInSeconds > 0x7FFFFFFFu ? 0xFFFFFFFFu : timeOutInSeconds * 2;
  return TimeOutRequest("Quorvane_SetDeviceTimeOutByDeviceAddress", portId, targetId, true, halfSeconds);
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetVolumeIDs(const char* devicePath, char* volumeId) {
  if (devicePath == nullptr || volumeId == nullptr) return qv::plat::kErrInvalidParameter;
  uint32_t error = 0;
  qv::plat::File file = qv::plat::File::Open(devicePath, qv::plat::FileMode::Read, &error);
  if (!file.IsOpen()) {
    QuorvaneI_Log("\nQuorvane:Quorvane_GetVolumeIDs(): EXITing with failure, open '%s' failed, status %d ( 0x%x )\n",
                  devicePath, static_cast<int>(error), error);
    return error;
  }
  // Blocks 0 to 16: the system area and the primary volume descriptor.
  static constexpr size_t kBytes = 17 * 2048;
  std::string buffer(kBytes, '\0');
  const int64_t got = file.Read(buffer.data(), kBytes, &error);
  if (got < 0) {
    QuorvaneI_Log("\nQuorvane:Quorvane_GetVolumeIDs(): EXITing with failure, read failed, status %d ( 0x%x )\n",
                  static_cast<int>(error), error);
    return error;
  }
  if (static_cast<size_t>(got) < kBytes) {
    QuorvaneI_Log("\nQuorvane:Quorvane_GetVolumeIDs(): EXITing with failure, only %ld bytes read\n",
                  static_cast<long>(got));
    return qv::plat::kErrIoIncomplete;
  }
  if (std::memcmp(buffer.data() + 32769, "CD001", 5) != 0) {
    QuorvaneI_Log("\nQuorvane:Quorvane_GetVolumeIDs(): EXITing with failure, no ISO9660 volume descriptor\n");
    return qv::plat::kErrInvalidData;
  }
  std::memcpy(volumeId, buffer.data() + 32808, 32);
  QuorvaneI_Log("\nQuorvane:Quorvane_GetVolumeIDs(): EXITing with success, VolumeID '%.32s'\n", volumeId);
  return 0;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetId(void* argument1, void* argument2, void* argument3) {
  QuorvaneI_AspiScope scope;
  void* getId = nullptr;
  if (const uint32_t status = QuorvaneI_LoadAspi("Quorvane_GetId", scope.aspi, "GetId", &getId); status != 0)
    return status;
  using GetIdFn = uint32_t (*)(void*, void*, void*);
  return reinterpret_cast<GetIdFn>(getId)(argument1, argument2, argument3);
}
