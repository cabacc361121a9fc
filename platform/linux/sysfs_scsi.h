// SCSI generic devices as sysfs describes them: one entry per
// /sys/class/scsi_generic/sgN with its host:channel:id:lun address.
#pragma once
#include <string>
#include <vector>

namespace qv::plat::lnx {

struct SgDevice {
  std::string sgName;     // "sg0"
  std::string blockName;  // "sr0", or empty when the device has no block node
  unsigned host = 0, channel = 0, id = 0, lun = 0;
  int type = -1;          // peripheral device type (5: CD/DVD)
  std::string vendor, model, revision;
};

// Every sg device, sorted by address. An unreadable tree gives an empty list.
std::vector<SgDevice> ScanScsiGeneric();
// Every SCSI CD-ROM block device (/sys/class/block/srN), sorted by address,
// with its sg node when the sg driver has one; no sg driver needed.
std::vector<SgDevice> ScanCdRomBlockDevices();

// The folders that stand for /sys and /dev (tests point them elsewhere).
void SetSysfsRoot(const std::string& root);
std::string SysfsRoot();
void SetDevRoot(const std::string& root);
std::string DevRoot();

}  // namespace qv::plat::lnx
