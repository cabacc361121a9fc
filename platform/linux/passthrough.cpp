// The pass-through device on Linux: sr or sg nodes driven with SG_IO.
#include "platform/passthrough.h"

#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <strings.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/errors.h"
#include "platform/linux/os.h"
#include "platform/linux/sg_io.h"
#include "platform/linux/sysfs_scsi.h"

namespace qv::plat {

std::string PassThroughDevicePath(const char* deviceName) {
  std::string name = deviceName ? deviceName : "";
  // Applications written for Windows may hand over the full device path.
  if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
  if (!name.empty() && name[0] == '/') return name;
  if (name.size() > 5 && strncasecmp(name.c_str(), "CdRom", 5) == 0) {
    bool digits = true;
    for (size_t i = 5; i < name.size(); ++i) digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
    if (digits) return lnx::DevRoot() + "/sr" + name.substr(5);
  }
  return lnx::DevRoot() + "/" + name;
}

PassThroughHandle OpenPassThrough(const std::string& path, bool readOnly, uint32_t* error) {
  const int fd = lnx::GetOs().Open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_NONBLOCK);
  if (fd < 0) {
    if (error) *error = SystemErrorFromErrno(errno);
    return kInvalidPassThrough;
  }
  if (error) *error = 0;
  return fd;
}

void ClosePassThrough(PassThroughHandle handle) {
  if (handle != kInvalidPassThrough) lnx::GetOs().Close(static_cast<int>(handle));
}

void PassThroughExecute(PassThroughHandle handle, const ScsiRequest& request, ScsiReply& reply) {
  lnx::SgExecute(static_cast<int>(handle), request, reply);
}

std::vector<SystemDrive> ListSystemDrives() {
  std::vector<SystemDrive> out;
  for (const auto& d : lnx::ScanCdRomBlockDevices()) {
    SystemDrive s;
    s.device = lnx::DevRoot() + "/" + d.blockName;
    s.vendor = d.vendor;
    s.product = d.model;
    s.revision = d.revision;
    s.address = {static_cast<uint8_t>(d.host), static_cast<uint8_t>(d.channel), static_cast<uint8_t>(d.id),
                 static_cast<uint8_t>(d.lun)};
    // An exclusive open fails with EBUSY while a disc is mounted or another
    // program holds the drive, and with EACCES without permission.
    const int fd = lnx::GetOs().Open(s.device.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL);
    if (fd < 0) s.openError = SystemErrorFromErrno(errno);
    else lnx::GetOs().Close(fd);
    out.push_back(std::move(s));
  }
  return out;
}

// The kernel's command filter answers EPERM, which maps to access denied.
bool PassThroughRefusedReadOnly(uint32_t systemError) { return systemError == kErrAccessDenied; }

bool GetPassThroughAddress(PassThroughHandle handle, ScsiAddress* address, uint32_t* error) {
  struct {
    int devId;  // id | lun << 8 | channel << 16 | host << 24, 8 bits each
    int hostUniqueId;
  } idlun{};
  int bus = 0;
  const int fd = static_cast<int>(handle);
  if (lnx::GetOs().Ioctl(fd, SCSI_IOCTL_GET_IDLUN, &idlun) < 0 ||
      lnx::GetOs().Ioctl(fd, SCSI_IOCTL_GET_BUS_NUMBER, &bus) < 0) {
    if (error) *error = SystemErrorFromErrno(errno);
    return false;
  }
  const auto id = static_cast<uint32_t>(idlun.devId);
  address->port = static_cast<uint8_t>(bus);
  address->path = static_cast<uint8_t>(id >> 16);
  address->target = static_cast<uint8_t>(id);
  address->lun = static_cast<uint8_t>(id >> 8);
  if (error) *error = 0;
  return true;
}

bool GetPassThroughCapabilities(PassThroughHandle handle, PassThroughCapabilities* capabilities, uint32_t* error) {
  const int fd = static_cast<int>(handle);
  int reserved = 0;
  if (lnx::GetOs().Ioctl(fd, SG_GET_RESERVED_SIZE, &reserved) < 0) {
    if (error) *error = SystemErrorFromErrno(errno);
    return false;
  }
  // Only sg nodes know their scatter-gather table size; for an sr node the
  // block queue's segment limit says the same.
  int tableSize = 0;
  if (lnx::GetOs().Ioctl(fd, SG_GET_SG_TABLESIZE, &tableSize) < 0) tableSize = 0;
  struct stat st{};
  if (tableSize <= 0 && ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
    const std::string queue = lnx::SysfsRoot() + "/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                              std::to_string(minor(st.st_rdev)) + "/queue/max_segments";
    std::ifstream in(queue);
    if (!(in >> tableSize)) tableSize = 0;
  }
  capabilities->maximumTransferLength = static_cast<uint32_t>(reserved);
  capabilities->maximumPhysicalPages = static_cast<uint32_t>(tableSize);
  capabilities->alignmentMask = 0;
  if (error) *error = 0;
  return true;
}

}  // namespace qv::plat
