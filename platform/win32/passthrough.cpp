// The pass-through device on Windows: \\.\CdRomN opened with CreateFile
// and driven with IOCTL_SCSI_PASS_THROUGH_DIRECT (the buffer goes to the
// driver as it is, no copy).
#include <windows.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/passthrough.h"

namespace qv::plat {
namespace {

HANDLE H(PassThroughHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The request with its sense buffer behind it, as the driver fills it.
struct DirectRequest {
  SCSI_PASS_THROUGH_DIRECT header;
  ULONG filler;  // keeps the sense buffer aligned
  UCHAR sense[32];
};

}  // namespace

std::string PassThroughDevicePath(const char* deviceName) {
  std::string name = deviceName ? deviceName : "";
  if (name.rfind("\\\\", 0) == 0) return name;  // already a device path
  return "\\\\.\\" + name;
}

std::vector<SystemDrive> ListSystemDrives() {
  std::vector<SystemDrive> out;
  for (int n = 0; n < 32; ++n) {
    SystemDrive s;
    s.device = "CdRom" + std::to_string(n);
    // No sharing: a drive another program has open answers a sharing violation.
    HANDLE h = CreateFileA(PassThroughDevicePath(s.device.c_str()).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
      s.openError = error == ERROR_SHARING_VIOLATION ? kErrBusy : error;
    } else {
      uint32_t ignored = 0;
      GetPassThroughAddress(reinterpret_cast<PassThroughHandle>(h), &s.address, &ignored);
      CloseHandle(h);
    }
    out.push_back(std::move(s));
  }
  return out;
}

PassThroughHandle OpenPassThrough(const std::string& path, bool readOnly, uint32_t* error) {
  const DWORD access = GENERIC_READ | (readOnly ? 0 : GENERIC_WRITE);
  HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = GetLastError();
    return kInvalidPassThrough;
  }
  if (error) *error = 0;
  return reinterpret_cast<PassThroughHandle>(h);
}

void ClosePassThrough(PassThroughHandle handle) {
  if (handle != kInvalidPassThrough) CloseHandle(H(handle));
}

void PassThroughExecute(PassThroughHandle handle, const ScsiRequest& request, ScsiReply& reply) {
  reply = ScsiReply{};
  DirectRequest r{};
  r.header.Length = sizeof r.header;
  r.header.CdbLength = static_cast<UCHAR>(std::min<size_t>(request.cdbLength, sizeof r.header.Cdb));
  std::memcpy(r.header.Cdb, request.cdb, r.header.CdbLength);
  r.header.SenseInfoLength = sizeof r.sense;
  r.header.SenseInfoOffset = offsetof(DirectRequest, sense);
  const bool transfer = request.direction != ScsiDirection::None && request.buffer != nullptr && request.bufferSize;
  r.header.DataIn = !transfer                                  ? SCSI_IOCTL_DATA_UNSPECIFIED
                    : request.direction == ScsiDirection::In ? SCSI_IOCTL_DATA_IN
                                                             : SCSI_IOCTL_DATA_OUT;
  r.header.DataTransferLength = transfer ? request.bufferSize : 0;
  r.header.DataBuffer = transfer ? request.buffer : nullptr;
  r.header.TimeOutValue = request.timeoutSeconds;
  DWORD returned = 0;
  if (!DeviceIoControl(H(handle), IOCTL_SCSI_PASS_THROUGH_DIRECT, &r, sizeof r, &r, sizeof r, &returned, nullptr)) {
    reply.systemError = GetLastError();
    if (reply.systemError == 0) reply.systemError = kErrGenFailure;
    return;
  }
  reply.status = r.header.ScsiStatus;
  reply.transferred = transfer ? std::min<ULONG>(r.header.DataTransferLength, request.bufferSize) : 0;
  const size_t senseBytes = std::min<size_t>(r.header.SenseInfoLength, sizeof r.sense);
  if (reply.status != 0 && senseBytes > 0)
    reply.senseLength = static_cast<uint8_t>(SenseToFixed(r.sense, senseBytes, reply.sense));
}

namespace {

// An answer of the port driver into a structure that starts with its own
// Length; no input.
template <class Answer>
bool AskPort(PassThroughHandle handle, DWORD code, Answer* answer, uint32_t* error) {
  answer->Length = sizeof *answer;
  DWORD returned = 0;
  if (!DeviceIoControl(H(handle), code, nullptr, 0, answer, sizeof *answer, &returned, nullptr)) {
    if (error) *error = GetLastError();
    return false;
  }
  return true;
}

}  // namespace

// A handle opened for reading only is refused write commands with 5.
bool PassThroughRefusedReadOnly(uint32_t systemError) { return systemError == kErrAccessDenied; }

bool GetPassThroughAddress(PassThroughHandle handle, ScsiAddress* address, uint32_t* error) {
  SCSI_ADDRESS a{};
  if (!AskPort(handle, IOCTL_SCSI_GET_ADDRESS, &a, error)) return false;
  address->port = a.PortNumber;
  address->path = a.PathId;
  address->target = a.TargetId;
  address->lun = a.Lun;
  if (error) *error = 0;
  return true;
}

bool GetPassThroughCapabilities(PassThroughHandle handle, PassThroughCapabilities* capabilities, uint32_t* error) {
  IO_SCSI_CAPABILITIES c{};
  if (!AskPort(handle, IOCTL_SCSI_GET_CAPABILITIES, &c, error)) return false;
  capabilities->maximumTransferLength = c.MaximumTransferLength;
  capabilities->maximumPhysicalPages = c.MaximumPhysicalPages;
  capabilities->alignmentMask = c.AlignmentMask;
  if (error) *error = 0;
  return true;
}

}  // namespace qv::plat
