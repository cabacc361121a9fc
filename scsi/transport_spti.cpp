#include "scsi/transport_spti.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/exception.h"
#include "core/log.h"
#include "platform/errors.h"
#include "scsi/library_request.h"

namespace {

constexpr const char* kCtor = "CQuorvane_ScsiTransportSPTI::CQuorvane_ScsiTransportSPTI";
constexpr const char* kExecute = "CQuorvane_ScsiTransportSPTI::ExecuteCDB";

// The access, sharing and disposition values of the two opens, as the
// messages name them.
constexpr uint32_t kAccessReadWrite = 0xC0000000u, kAccessRead = 0x80000000u;
constexpr int kShareReadWrite = 3, kShareRead = 1, kOpenExisting = 3;

}  // namespace

CQuorvane_ScsiTransportSPTI::CQuorvane_ScsiTransportSPTI(const char* deviceName)
    : CQuorvane_ScsiTransport("CQuorvane_ScsiTransportSPTI", kExecute) {
  if (deviceName == nullptr || *deviceName == '\0')
    QuorvaneI_Throw(kCtor, EN_INVALID_PARAMETER, 0, "%s(): No device name", kCtor);
  QuorvaneI_Log("\n%s(): ENTERed for '%s'\n", kCtor, deviceName);
  if (!OpenThroughDralik(deviceName)) OpenOsDevice(deviceName);
  ReadScsiAddress();

  uint8_t answer[96] = {};
  const uint8_t inquiry[6] = {0x12, static_cast<uint8_t>(m__UCHAR__LUN << 5), 0, 0, sizeof answer, 0};
  try {
    ExecuteCDB(inquiry, sizeof inquiry, answer, sizeof answer, QV_SCSI_DIRECTION_IN);
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Log("\n%s(): ExecuteCDB() failed\n", kCtor);
    QuorvaneI_LogCaught(kCtor, e);
    CloseDevice();
    QuorvaneI_Rethrow(kCtor, e);
  }
  m__UCHAR__DeviceType = answer[0] & 0x1F;
  LogCapabilities();
  m__ULONG__MaximumTransferLength = kQuorvaneScsiMaximumTransferLength;
  QuorvaneI_Log("\n%s(): EXITing with success, device type 0x%02X%s\n", kCtor, m__UCHAR__DeviceType,
                m__BOOLEAN__IsReadOnly ? ", read-only" : "");
}

CQuorvane_ScsiTransportSPTI::~CQuorvane_ScsiTransportSPTI() { CloseDevice(); }

void CQuorvane_ScsiTransportSPTI::CloseDevice() {
  if (m__PVOID__DralikModule != nullptr) {
    m__pfn__DralikCloseDevice(m__ULONG__DralikDevice);
    qv::plat::FreeLibraryHandle(m__PVOID__DralikModule);
    m__PVOID__DralikModule = nullptr;
  }
  qv::plat::ClosePassThrough(m__HANDLE__Device);
  m__HANDLE__Device = qv::plat::kInvalidPassThrough;
}

bool CQuorvane_ScsiTransportSPTI::OpenThroughDralik(const char* deviceName) {
  uint32_t error = 0;
  qv::plat::LibraryHandle module = qv::plat::LoadLibraryByName(QV_DRALIK_MODULE, &error, &kDoorsFile);
  if (module == nullptr) {
    QuorvaneI_Log("\n%s(): WARNING! CreateFile( '\\\\.\\Dralik' ) failed, status %d ( 0x%x ), auxiliary driver is not "
                  "installed\n",
                  kCtor, static_cast<int>(error), error);
    return false;
  }
  auto attach = reinterpret_cast<QV_DRALIK_ATTACH_FN>(qv::plat::GetLibrarySymbol(module, QV_DRALIK_ATTACH, &error));
  auto detach = reinterpret_cast<QV_DRALIK_DETACH_FN>(qv::plat::GetLibrarySymbol(module, QV_DRALIK_DETACH, &error));
  auto control = reinterpret_cast<QV_DRALIK_CONTROL_FN>(qv::plat::GetLibrarySymbol(module, QV_DRALIK_CONTROL, &error));
  auto passThrough =
      reinterpret_cast<QV_DRALIK_PASS_THROUGH_FN>(qv::plat::GetLibrarySymbol(module, QV_DRALIK_PASS_THROUGH, &error));
  auto closeDevice =
      reinterpret_cast<QV_DRALIK_CLOSE_DEVICE_FN>(qv::plat::GetLibrarySymbol(module, QV_DRALIK_CLOSE_DEVICE, &error));
  if (!attach || !detach || !control || !passThrough || !closeDevice) {
    QuorvaneI_Log("\n%s(): WARNING! Auxiliary driver is incomplete, status %d ( 0x%x ), not using it\n", kCtor,
                  static_cast<int>(error), error);
    qv::plat::FreeLibraryHandle(module);
    return false;
  }
  void* driver = nullptr;
  if (const uint32_t status = attach(&driver); status != 0) {
    QuorvaneI_Log("\n%s(): WARNING! CreateFile( '\\\\.\\Dralik' ) failed, status %d ( 0x%x ), auxiliary driver is not "
                  "installed\n",
                  kCtor, static_cast<int>(status), status);
    qv::plat::FreeLibraryHandle(module);
    return false;
  }

  QV_DRALIK_VERSION_BLOCK version{QV_DRALIK_MAGIC, 0};
  if (const uint32_t status = control(driver, QV_DRALIK_IOCTL_GET_VERSION, &version, sizeof version); status != 0) {
    detach(driver);
    qv::plat::FreeLibraryHandle(module);
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, status,
                    "%s(): DeviceIoControl( DRALIK_IOCTL_GET_VERSION ) failed, status %d ( 0x%x )", kCtor,
                    static_cast<int>(status), status);
  }
  QuorvaneI_Log("\n%s(): Auxiliary driver version 0x%08X\n", kCtor, version.version);

  QV_DRALIK_OPEN_BLOCK open{};
  open.magic = QV_DRALIK_MAGIC;
  std::snprintf(open.name, sizeof open.name, "%s", deviceName);
  const uint32_t status = control(driver, QV_DRALIK_IOCTL_OPEN, &open, sizeof open);
  detach(driver);
  if (status == qv::plat::kErrFileNotFound) {
    QuorvaneI_Log("\n%s(): WARNING! Auxiliary driver does not serve '%s', opening the device itself\n", kCtor,
                  deviceName);
    qv::plat::FreeLibraryHandle(module);
    return false;
  }
  if (status != 0) {
    qv::plat::FreeLibraryHandle(module);
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, status,
                    "%s(): DeviceIoControl( DRALIK_IOCTL_OPEN, '%s' ) failed, status %d ( 0x%x )", kCtor, deviceName,
                    static_cast<int>(status), status);
  }
  m__PVOID__DralikModule = module;
  m__ULONG__DralikDevice = open.handle;
  m__pfn__DralikPassThrough = passThrough;
  m__pfn__DralikCloseDevice = closeDevice;
  std::snprintf(m__CHAR__DevicePath, sizeof m__CHAR__DevicePath, "\\\\.\\Dralik\\%s", deviceName);
  QuorvaneI_Log("\n%s(): Auxiliary driver opened '%s', handle 0x%08X\n", kCtor, deviceName, open.handle);
  return true;
}

void CQuorvane_ScsiTransportSPTI::OpenOsDevice(const char* deviceName) {
  const std::string path = qv::plat::PassThroughDevicePath(deviceName);
  std::snprintf(m__CHAR__DevicePath, sizeof m__CHAR__DevicePath, "%s", path.c_str());
  uint32_t error = 0;
  m__HANDLE__Device = qv::plat::OpenPassThrough(m__CHAR__DevicePath, false, &error);
  if (m__HANDLE__Device != qv::plat::kInvalidPassThrough) return;
  QuorvaneI_Log("\n%s(): WARNING! CreateFile( '%s', 0x%x, %d, 0x%p, %d, %d, 0x%p ) failed, status %d ( 0x%x ), trying "
                "read-only access\n",
                kCtor, m__CHAR__DevicePath, kAccessReadWrite, kShareReadWrite, static_cast<void*>(nullptr),
                kOpenExisting, 0, static_cast<void*>(nullptr), static_cast<int>(error), error);
  m__HANDLE__Device = qv::plat::OpenPassThrough(m__CHAR__DevicePath, true, &error);
  if (m__HANDLE__Device == qv::plat::kInvalidPassThrough)
    QuorvaneI_Throw(kCtor, EN_SYSTEM_CALL_FAILED, error,
                    "%s(): CreateFile( '%s', 0x%x, %d, 0x%p, %d, %d, 0x%p ) failed, status %d ( 0x%x )", kCtor,
                    m__CHAR__DevicePath, kAccessRead, kShareRead, static_cast<void*>(nullptr), kOpenExisting, 0,
                    static_cast<void*>(nullptr), static_cast<int>(error), error);
  m__BOOLEAN__IsReadOnly = true;
  QuorvaneI_Log("\n%s(): WARNING! Device '%s' is open read-only, the system may refuse commands that change the "
                "disc\n",
                kCtor, m__CHAR__DevicePath);
}

void CQuorvane_ScsiTransportSPTI::ReadScsiAddress() {
  if (IsAuxiliaryDevice()) {
    QuorvaneI_Log("\n%s(): WARNING! Device '%s' has no SCSI address\n", kCtor, m__CHAR__DevicePath);
    return;
  }
  qv::plat::ScsiAddress address;
  uint32_t error = 0;
  if (!qv::plat::GetPassThroughAddress(m__HANDLE__Device, &address, &error)) {
    QuorvaneI_Log("\n%s(): WARNING! IOCTL_SCSI_GET_ADDRESS failed, status %d ( 0x%x )\n", kCtor,
                  static_cast<int>(error), error);
    return;
  }
  m__UCHAR__PortId = address.port;
  m__UCHAR__PathId = address.path;
  m__UCHAR__TargetId = address.target;
  m__UCHAR__LUN = address.lun;
  QuorvaneI_Log("\n%s(): Device '%s' has SCSI address of %d:%d:%d:%d\n", kCtor, m__CHAR__DevicePath, address.port,
                address.path, address.target, address.lun);
}

void CQuorvane_ScsiTransportSPTI::LogCapabilities() {
  if (IsAuxiliaryDevice()) return;
  qv::plat::PassThroughCapabilities caps;
  uint32_t error = 0;
  if (!qv::plat::GetPassThroughCapabilities(m__HANDLE__Device, &caps, &error)) {
    QuorvaneI_Log("\n%s(): WARNING! IOCTL_SCSI_GET_CAPABILITIES failed, status %d ( 0x%x )\n", kCtor,
                  static_cast<int>(error), error);
    return;
  }
  QuorvaneI_Log("\n%s(): Maximum transfer length %u, maximum physical pages %u, alignment mask 0x%x\n", kCtor,
                caps.maximumTransferLength, caps.maximumPhysicalPages, caps.alignmentMask);
  // A buffer that does not start on a page spans one page more than its
  // length fills.
  constexpr uint32_t kPageSize = 4096;
  m__ULONG__HostTransferLimit = caps.maximumTransferLength;
  if (caps.maximumPhysicalPages > 1)
    m__ULONG__HostTransferLimit = static_cast<uint32_t>(
        std::min<uint64_t>(m__ULONG__HostTransferLimit, uint64_t{caps.maximumPhysicalPages - 1} * kPageSize));
}

void CQuorvane_ScsiTransportSPTI::Deliver(Attempt& a) {
  uint32_t failure = 0;
  if (IsAuxiliaryDevice()) {
    QV_DOOR_REQUEST request;
    QuorvaneI_BuildLibraryRequest(a, 0, request);
    failure = m__pfn__DralikPassThrough(m__ULONG__DralikDevice, &request);
    if (failure == 0) QuorvaneI_ReadLibraryReply(request, a);
  } else {
    qv::plat::ScsiRequest request;
    request.cdb = a.cdb;
    request.cdbLength = a.cdbLength;
    request.buffer = a.buffer;
    request.bufferSize = a.bufferSize;
    request.direction = a.buffer == nullptr ? qv::plat::ScsiDirection::None
                        : a.dataOut         ? qv::plat::ScsiDirection::Out
                                            : qv::plat::ScsiDirection::In;
    request.timeoutSeconds = kQuorvaneScsiTimeOutSeconds;
    qv::plat::ScsiReply reply;
    qv::plat::PassThroughExecute(m__HANDLE__Device, request, reply);
    failure = reply.systemError;
    if (failure == 0) {
      a.targetStatus = reply.status;
      a.good = reply.status == 0;
      a.transferred = reply.transferred;
      std::memcpy(a.sense, reply.sense, sizeof a.sense);
    } else if (m__BOOLEAN__IsReadOnly && qv::plat::PassThroughRefusedReadOnly(failure)) {
      QuorvaneI_Log("\n%s(): WARNING! Command 0x%02X refused: device '%s' is open read-only and the system blocks "
                    "this command on read-only access\n",
                    kExecute, a.cdb[0], m__CHAR__DevicePath);
    }
  }
  if (failure == qv::plat::kErrSemTimeout) {
    a.semaphoreTimeout = true;
    return;
  }
  if (failure != 0)
    QuorvaneI_Throw(kExecute, EN_SYSTEM_CALL_FAILED, failure, "%s(): DeviceIoControl() failed, status %d ( 0x%x )",
                    kExecute, static_cast<int>(failure), failure);
}
