#include "platform/linux/sg_io.h"

#include <fcntl.h>
#include <scsi/sg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/linux/os.h"

namespace qv::plat::lnx {
namespace {

// Linux host (DID_*) and driver (DRIVER_*) codes from scsi/scsi.h.
constexpr uint8_t kDidOk = 0x00, kDidNoConnect = 0x01, kDidBusBusy = 0x02, kDidTimeOut = 0x03, kDidBadTarget = 0x04;
constexpr uint8_t kDriverOk = 0x00, kDriverBusy = 0x01, kDriverTimeout = 0x06, kDriverSense = 0x08;
constexpr uint8_t kGood = 0x00, kCheckCondition = 0x02;
// Sense keys that report a command done: NO SENSE and RECOVERED ERROR.
constexpr uint8_t kLastSuccessfulSenseKey = 0x01;

uint32_t HostFailure(uint8_t host) {
  switch (host) {
    case kDidNoConnect:
    case kDidBadTarget: return kErrDeviceNotConnected;
    case kDidBusBusy: return kErrBusy;
    case kDidTimeOut: return kErrSemTimeout;
    default: return kErrIoDevice;
  }
}

uint32_t DriverFailure(uint8_t driver) {
  switch (driver) {
    case kDriverBusy: return kErrBusy;
    case kDriverTimeout: return kErrSemTimeout;
    default: return kErrIoDevice;
  }
}

// What an answer that reached us means, from all four of its parts. The
// target's status byte is worth something only when neither the host
// adapter nor the driver failed the command on the way, whatever sense
// came with it; and sense that reports a failure fails the command even
// behind a GOOD status byte.
void Decide(const sg_io_hdr_t& hdr, ScsiReply& reply) {
  const auto host = static_cast<uint8_t>(hdr.host_status);
  const auto driver = static_cast<uint8_t>(hdr.driver_status & 0x0F);  // the high bits only suggest
  if (host != kDidOk) {
    reply.systemError = HostFailure(host);
    return;
  }
  if (driver != kDriverOk && driver != kDriverSense) {
    reply.systemError = DriverFailure(driver);
    return;
  }
  const bool failingSense = reply.senseLength > 2 && (reply.sense[2] & 0x0F) > kLastSuccessfulSenseKey;
  const bool senseWithoutBytes = driver == kDriverSense && reply.senseLength == 0;
  if (reply.status == kGood && (failingSense || senseWithoutBytes)) reply.status = kCheckCondition;
}

}  // namespace

void SgExecute(int fd, const ScsiRequest& request, ScsiReply& reply) {
  reply = ScsiReply{};
  uint8_t rawSense[64] = {};
  sg_io_hdr_t hdr{};
  hdr.interface_id = 'S';
  hdr.cmd_len = request.cdbLength;
  hdr.cmdp = const_cast<unsigned char*>(request.cdb);
  hdr.mx_sb_len = 32;
  hdr.sbp = rawSense;
  hdr.dxfer_len = request.direction == ScsiDirection::None ? 0 : request.bufferSize;
  hdr.dxferp = request.direction == ScsiDirection::None ? nullptr : request.buffer;
  switch (request.direction) {
    case ScsiDirection::None: hdr.dxfer_direction = SG_DXFER_NONE; break;
    case ScsiDirection::In: hdr.dxfer_direction = SG_DXFER_FROM_DEV; break;
    case ScsiDirection::Out: hdr.dxfer_direction = SG_DXFER_TO_DEV; break;
  }
  if (hdr.dxfer_len == 0) hdr.dxfer_direction = SG_DXFER_NONE;
  // SG_IO takes milliseconds in an unsigned int.
  const uint64_t ms = static_cast<uint64_t>(request.timeoutSeconds) * 1000u;
  hdr.timeout = static_cast<unsigned int>(std::min<uint64_t>(ms, 0xFFFFFFFFu));

  if (GetOs().Ioctl(fd, SG_IO, &hdr) < 0) {
    reply.systemError = SystemErrorFromErrno(errno);
    return;
  }
  reply.status = hdr.status;
  reply.hostStatus = static_cast<uint8_t>(hdr.host_status);
  reply.driverStatus = static_cast<uint8_t>(hdr.driver_status);
  const int resid = std::max(0, hdr.resid);
  reply.transferred = hdr.dxfer_len > static_cast<unsigned>(resid) ? hdr.dxfer_len - static_cast<unsigned>(resid) : 0;
  const size_t senseBytes = std::min<size_t>(hdr.sb_len_wr, 32);
  if (senseBytes > 0) reply.senseLength = static_cast<uint8_t>(SenseToFixed(rawSense, senseBytes, reply.sense));
  Decide(hdr, reply);
}

int OpenScsiDevice(const char* path, bool* readOnly, uint32_t* systemError) {
  int fd = GetOs().Open(path, O_RDWR | O_NONBLOCK);
  if (readOnly) *readOnly = false;
  if (fd < 0) {
    fd = GetOs().Open(path, O_RDONLY | O_NONBLOCK);
    if (fd >= 0 && readOnly) *readOnly = true;
  }
  if (fd < 0 && systemError) *systemError = SystemErrorFromErrno(errno);
  return fd;
}

}  // namespace qv::plat::lnx
