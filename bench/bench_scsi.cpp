// The cost the engine adds to one command: the transport's retry algorithm
// and request mapping, through the pass-through path down to a system-call
// seam that answers at once. A drive's own time is not in these numbers.
#include <benchmark/benchmark.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/exception.h"
#include "platform/clock.h"
#include "platform/linux/os.h"
#include "scsi/device_writer.h"
#include "scsi/transport_spti.h"

namespace {

// A drive that answers every command with GOOD, or with unit attention
// every other time.
class InstantDrive : public qv::plat::lnx::Os {
 public:
  bool unitAttentionEveryOther = false;
  int Open(const char*, int) override { return 3; }
  int Close(int) override { return 0; }
  int Ioctl(int, unsigned long request, void* argument) override {
    if (request != SG_IO) {
      errno = ENOTTY;
      return -1;
    }
    auto& hdr = *static_cast<sg_io_hdr_t*>(argument);
    hdr.status = 0;
    hdr.sb_len_wr = 0;
    if (unitAttentionEveryOther && (++count_ & 1)) {
      const uint8_t sense[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x28, 0};
      std::memcpy(hdr.sbp, sense, sizeof sense);
      hdr.sb_len_wr = sizeof sense;
      hdr.status = 2;
    } else if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
      static_cast<uint8_t*>(hdr.dxferp)[0] = 0x05;
    }
    return 0;
  }

 private:
  unsigned count_ = 0;
};

struct Setup {
  Setup() {
    setenv("QUORVANE_LIB_DRALIK", "", 1);
    previous = qv::plat::lnx::SetOs(&drive);
  }
  ~Setup() { qv::plat::lnx::SetOs(previous); }
  InstantDrive drive;
  qv::plat::lnx::Os* previous;
  qv::plat::VirtualClock clock;
  qv::plat::ScopedClock scoped{&clock};
};

void BM_TestUnitReady(benchmark::State& state) {
  Setup setup;
  CQuorvane_ScsiDeviceCdvdRomWriter device(new CQuorvane_ScsiTransportSPTI("CdRom0"));
  for (auto _ : state) device.TestUnitReady();
}
BENCHMARK(BM_TestUnitReady);

void BM_Write10Of32Blocks(benchmark::State& state) {
  Setup setup;
  CQuorvane_ScsiDeviceCdvdRomWriter device(new CQuorvane_ScsiTransportSPTI("CdRom0"));
  static uint8_t data[32 * 2048];
  for (auto _ : state) device.Write10(data, 32, 0, sizeof data);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(sizeof data));
}
BENCHMARK(BM_Write10Of32Blocks);

// A retried command: one failed delivery with its dump, a pause in virtual
// time, and the delivery that succeeds.
void BM_UnitAttentionRetried(benchmark::State& state) {
  Setup setup;
  CQuorvane_ScsiDeviceCdvdRomWriter device(new CQuorvane_ScsiTransportSPTI("CdRom0"));
  setup.drive.unitAttentionEveryOther = true;
  for (auto _ : state) device.TestUnitReady();
}
BENCHMARK(BM_UnitAttentionRetried);

}  // namespace
