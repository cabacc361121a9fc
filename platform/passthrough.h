// The operating system's own SCSI pass-through, as the pass-through
// transport uses it: a device opened by name, one CDB at a time with sense,
// and the device's SCSI address. Linux: /dev/srN and SG_IO. Windows:
// \\.\CdRomN and IOCTL_SCSI_PASS_THROUGH_DIRECT.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/scsi_request.h"

namespace qv::plat {

using PassThroughHandle = intptr_t;
inline constexpr PassThroughHandle kInvalidPassThrough = -1;

// The OS path of a device name as applications give it ("CdRom0").
// Linux: CdRomN is /dev/srN, an absolute path stays as it is, any other
// name is looked up under /dev. Windows: "\\.\" + name.
std::string PassThroughDevicePath(const char* deviceName);

// Opens the path for pass-through, read-write or read-only as asked.
// Returns kInvalidPassThrough with *error set on failure.
PassThroughHandle OpenPassThrough(const std::string& path, bool readOnly, uint32_t* error);
void ClosePassThrough(PassThroughHandle handle);

// Sends one CDB. Never throws; a request that did not complete at the
// target (the OS call failed, or a host or driver error came without sense)
// sets reply.systemError.
void PassThroughExecute(PassThroughHandle handle, const ScsiRequest& request, ScsiReply& reply);

// True when a failed command was refused because the device is open
// read-only (Linux lets only a short list of commands through such an open).
bool PassThroughRefusedReadOnly(uint32_t systemError);

struct ScsiAddress {
  uint8_t port = 255, path = 255, target = 255, lun = 0;
};
// The host adapter, bus, target and LUN of an open device.
bool GetPassThroughAddress(PassThroughHandle handle, ScsiAddress* address, uint32_t* error);

struct PassThroughCapabilities {
  uint32_t maximumTransferLength = 0;  // bytes
  uint32_t maximumPhysicalPages = 0;
  uint32_t alignmentMask = 0;
};
// A CD/DVD drive of the machine as the system lists it (Linux: sysfs;
// Windows: the CdRomN devices), whether or not this user may open it.
struct SystemDrive {
  std::string device;                     // as OpenPassThrough takes it: "/dev/sr0", "CdRom0"
  std::string vendor, product, revision;  // what the system read from the drive, if it tells
  ScsiAddress address;
  // What opening the drive for this program alone answers now: 0, or
  // kErrAccessDenied (no permission on the node) or kErrBusy (a mounted
  // disc, or a program holding the drive).
  uint32_t openError = 0;
};
std::vector<SystemDrive> ListSystemDrives();

// What the OS reports of the adapter behind an open device; informational.
bool GetPassThroughCapabilities(PassThroughHandle handle, PassThroughCapabilities* capabilities, uint32_t* error);

}  // namespace qv::plat
