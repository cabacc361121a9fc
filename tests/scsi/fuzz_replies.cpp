// libFuzzer target: a drive (and a kernel) answering garbage. Every SG_IO
// reply - status, host and driver status, sense of any format and length,
// residue, failing ioctls - comes from the input; the pass-through
// transport must turn each into success or an engine exception, with no
// crash, over-read or undefined behaviour, in virtual time.
#include <fcntl.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/exception.h"
#include "platform/clock.h"
#include "platform/linux/os.h"
#include "scsi/device_reader.h"
#include "scsi/transport_spti.h"

namespace {

class Replies : public qv::plat::lnx::Os {
 public:
  Replies(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int Open(const char*, int) override { return 3; }
  int Close(int) override { return 0; }
  int Ioctl(int, unsigned long request, void* argument) override {
    if (request != SG_IO) {
      errno = ENOTTY;
      return -1;
    }
    auto& hdr = *static_cast<sg_io_hdr_t*>(argument);
    if (pos_ >= size_) return 0;  // out of input: GOOD
    const uint8_t kind = Next();
    if (kind == 0xFF) {
      errno = Next();
      return -1;
    }
    hdr.status = Next();
    hdr.host_status = Next();
    hdr.driver_status = Next();
    hdr.resid = static_cast<int>(Next()) - 16;
    const size_t senseLength = std::min<size_t>(Next() % 40, hdr.mx_sb_len);
    for (size_t i = 0; i < senseLength; ++i) hdr.sbp[i] = Next();
    hdr.sb_len_wr = static_cast<unsigned char>(senseLength);
    if (hdr.dxfer_direction == SG_DXFER_FROM_DEV && hdr.dxfer_len > 0)
      std::memset(hdr.dxferp, kind, hdr.dxfer_len);
    return 0;
  }

 private:
  uint8_t Next() { return pos_ < size_ ? data_[pos_++] : 0; }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = [] {
    setenv("QUORVANE_LIB_DRALIK", "", 1);
    return true;
  }();
  (void)once;
  qv::plat::VirtualClock clock;
  qv::plat::ScopedClock useClock(&clock);
  Replies replies(data, size);
  qv::plat::lnx::Os* previous = qv::plat::lnx::SetOs(&replies);
  try {
    CQuorvane_ScsiDeviceCdvdRomReader device(new CQuorvane_ScsiTransportSPTI("CdRom0"));
    uint8_t buffer[2048];
    for (int i = 0; i < 4; ++i) {
      try {
        device.Read10(buffer, sizeof buffer, 16, 1, 0);
      } catch (CQuorvane_Exception* e) {
        delete e;
      }
    }
    device.WaitForReady(3, 100, true, true);
  } catch (CQuorvane_Exception* e) {
    delete e;
  }
  qv::plat::lnx::SetOs(previous);
  return 0;
}
