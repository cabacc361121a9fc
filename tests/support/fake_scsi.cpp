#include "support/fake_scsi.h"

#include <fcntl.h>
#include <scsi/scsi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/linux/sysfs_scsi.h"

namespace fs = std::filesystem;

namespace qvtest {

FakeScsiBus::FakeScsiBus() : previous_(qv::plat::lnx::SetOs(this)) {
  fs::create_directories(dir_.path() / "sys" / "class" / "scsi_generic");
  fs::create_directories(dir_.path() / "dev");
  qv::plat::lnx::SetSysfsRoot((dir_.path() / "sys").string());
  qv::plat::lnx::SetDevRoot((dir_.path() / "dev").string());
}

FakeScsiBus::~FakeScsiBus() {
  qv::plat::lnx::SetOs(previous_);
  qv::plat::lnx::SetSysfsRoot("/sys");
  qv::plat::lnx::SetDevRoot("/dev");
}

unsigned FakeScsiBus::Add(const FakeScsiDevice& d) {
  const unsigned index = static_cast<unsigned>(devices_.size());
  devices_.push_back(d);
  char addr[64];
  std::snprintf(addr, sizeof addr, "%u:%u:%u:%u", d.host, d.channel, d.id, d.lun);
  const fs::path devdir = dir_.path() / "sys" / "devices" / ("host" + std::to_string(d.host)) / addr;
  fs::create_directories(devdir);
  std::ofstream(devdir / "type") << d.type << "\n";
  std::ofstream(devdir / "vendor") << d.vendor << "\n";
  std::ofstream(devdir / "model") << d.model << "\n";
  std::ofstream(devdir / "rev") << d.revision << "\n";
  if (d.hasBlock) fs::create_directories(devdir / "block" / ("sr" + std::to_string(index)));
  const fs::path sg = dir_.path() / "sys" / "class" / "scsi_generic" / ("sg" + std::to_string(index));
  fs::create_directories(sg);
  fs::create_directory_symlink(devdir, sg / "device");
  return index;
}

std::string FakeScsiBus::DevPath(unsigned sgIndex) const {
  return (dir_.path() / "dev" / ("sg" + std::to_string(sgIndex))).string();
}

int FakeScsiBus::Open(const char* path, int flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < devices_.size(); ++i) {
    const std::string sg = DevPath(static_cast<unsigned>(i));
    const std::string sr = (dir_.path() / "dev" / ("sr" + std::to_string(i))).string();
    if (path != sg && !(devices_[i].hasBlock && path == sr)) continue;
    if ((flags & O_ACCMODE) == O_RDWR &&
        std::find(denyReadWrite_.begin(), denyReadWrite_.end(), std::string(path)) != denyReadWrite_.end()) {
      errno = EACCES;
      return -1;
    }
    ++opens_;
    fds_[nextFd_] = OpenFile{i, (flags & O_ACCMODE) == O_RDONLY};
    return nextFd_++;
  }
  errno = ENOENT;
  return -1;
}

int FakeScsiBus::Close(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  return fds_.erase(fd) ? 0 : (errno = EBADF, -1);
}

int FakeScsiBus::Ioctl(int fd, unsigned long request, void* argument) {
  OpenFile file;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
      errno = EBADF;
      return -1;
    }
    file = it->second;
  }
  const FakeScsiDevice& d = devices_[file.index];
  switch (request) {
    case SCSI_IOCTL_GET_IDLUN: {
      auto* idlun = static_cast<int*>(argument);
      idlun[0] = static_cast<int>((d.id & 0xFF) | (d.lun & 0xFF) << 8 | (d.channel & 0xFF) << 16 | (d.host & 0xFF) << 24);
      idlun[1] = static_cast<int>(d.host + 1);
      return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
      *static_cast<int*>(argument) = static_cast<int>(d.host);
      return 0;
    case SG_GET_RESERVED_SIZE:
      *static_cast<int*>(argument) = 32768;
      return 0;
    case SG_IO:
      break;
    default:
      errno = ENOTTY;
      return -1;
  }
  auto& hdr = *static_cast<sg_io_hdr_t*>(argument);
  if (file.readOnly && readOnlyAllowed_ && !readOnlyAllowed_(hdr.cmdp[0])) {
    errno = EPERM;
    return -1;
  }
  hdr.status = 0;
  hdr.host_status = 0;
  hdr.driver_status = 0;
  hdr.sb_len_wr = 0;
  hdr.resid = 0;
  if (hdr.cmdp[0] == 0x12 && !(passInquiry_ && handler_)) {
    uint8_t answer[96] = {};
    answer[0] = static_cast<uint8_t>(d.type);
    answer[4] = 91;
    std::snprintf(reinterpret_cast<char*>(answer + 8), 9, "%-8.8s", d.vendor.c_str());
    std::snprintf(reinterpret_cast<char*>(answer + 16), 17, "%-16.16s", d.model.c_str());
    std::snprintf(reinterpret_cast<char*>(answer + 32), 5, "%-4.4s", d.revision.c_str());
    const size_t n = std::min<size_t>(hdr.dxfer_len, sizeof answer);
    std::memcpy(hdr.dxferp, answer, n);
    hdr.resid = static_cast<int>(hdr.dxfer_len - n);
    return 0;
  }
  if (handler_) return handler_(d, hdr);
  SetCheckCondition(hdr, 5, 0x20, 0x00);  // invalid command operation code
  return 0;
}

void SetCheckCondition(sg_io_hdr_t& hdr, uint8_t key, uint8_t asc, uint8_t ascq) {
  uint8_t sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
  hdr.status = 2;
  hdr.driver_status = 0x08;
  const size_t n = std::min<size_t>(hdr.mx_sb_len, sizeof sense);
  std::memcpy(hdr.sbp, sense, n);
  hdr.sb_len_wr = static_cast<unsigned char>(n);
}

}  // namespace qvtest
