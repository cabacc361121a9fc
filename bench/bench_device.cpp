// The burner-grabber's own costs, with a drive that answers at once:
// creating the object (its cache pool is made up front), and turning a
// 99-track full TOC into the TOC record. A real drive's time is not in
// these numbers; the pool's memory is reported as a counter.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "core/exception.h"
#include "core/settings.h"
#include "record/burner_grabber.h"
#include "platform/clock.h"

namespace {

class InstantDrive : public CQuorvane_ScsiTransport {
 public:
  InstantDrive() : CQuorvane_ScsiTransport("CQuorvane_ScsiTransportBench", "CQuorvane_ScsiTransportBench::ExecuteCDB") {
    m__UCHAR__DeviceType = 5;
    m__ULONG__MaximumTransferLength = kQuorvaneScsiMaximumTransferLength;
    // A full TOC: A0, A1, A2 and 99 audio tracks of 3000 blocks.
    toc_.assign(4, 0);
    auto entry = [&](uint8_t point, int32_t lba) {
      const int32_t x = lba + 150;
      toc_.insert(toc_.end(), {1, 0x10, 0, point, 0, 0, 0, 0, static_cast<uint8_t>(x / 4500),
                               static_cast<uint8_t>(x / 75 % 60), static_cast<uint8_t>(x % 75)});
    };
    entry(0xA0, -149);
    entry(0xA1, -149);
    entry(0xA2, 99 * 3000);
    for (int t = 1; t <= 99; ++t) entry(static_cast<uint8_t>(t), (t - 1) * 3000);
    toc_[0] = static_cast<uint8_t>((toc_.size() - 2) >> 8);
    toc_[1] = static_cast<uint8_t>(toc_.size() - 2);
    toc_[2] = toc_[3] = 1;
  }

 protected:
  void Deliver(Attempt& a) override {
    a.good = true;
    a.targetStatus = 0;
    if (a.dataOut || a.buffer == nullptr) return;
    auto* b = static_cast<uint8_t*>(a.buffer);
    const std::vector<uint8_t>* answer = nullptr;
    switch (a.cdb[0]) {
      case 0x12: answer = &inquiry_; break;
      case 0x5A: answer = &capabilities_; break;
      case 0x43: answer = &toc_; break;
      default:  // refused: READ DVD STRUCTURE and the rest
        a.good = false;
        a.targetStatus = 2;
        a.sense[0] = 0x70;
        a.sense[2] = 5;
        a.sense[12] = 0x20;
        return;
    }
    const size_t n = std::min<size_t>(answer->size(), a.bufferSize);
    std::memcpy(b, answer->data(), n);
    a.transferred = static_cast<uint32_t>(n);
  }

 private:
  std::vector<uint8_t> inquiry_ = [] {
    std::vector<uint8_t> b(36, ' ');
    b[0] = 5;
    b[4] = 31;
    return b;
  }();
  std::vector<uint8_t> capabilities_ = [] {
    std::vector<uint8_t> b(8 + 30, 0);
    b[1] = 36;
    b[8] = 0x2A;
    b[9] = 0x1C;
    b[8 + 3] = 0x37;
    b[8 + 12] = 0x08;  // 2048 KB of drive buffer
    return b;
  }();
  std::vector<uint8_t> toc_;
};

struct VirtualTimeScope {
  qv::plat::VirtualClock clock;
  qv::plat::ScopedClock scoped{&clock};
};

void BM_CreateAndDestroy(benchmark::State& state) {
  VirtualTimeScope time;
  const auto megabytes = static_cast<uint32_t>(state.range(0));
  int32_t objects = 0;
  for (auto _ : state) {
    CQuorvane_CdvdBurnerGrabber g(new InstantDrive, nullptr, nullptr, megabytes);
    objects = g.GetCacheManager()->GetCount();
    benchmark::DoNotOptimize(objects);
  }
  state.counters["cache_objects"] = objects;
  state.counters["pool_MiB"] = objects * 65536.0 / 1048576.0;
}
BENCHMARK(BM_CreateAndDestroy)->Arg(0)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_ReadFullTocOf99Tracks(benchmark::State& state) {
  VirtualTimeScope time;
  Quorvane_SetFastReadTOC(1);
  CQuorvane_CdvdBurnerGrabber g(new InstantDrive, nullptr, nullptr, 1);
  auto toc = std::make_unique<QUORVANE_TOC_INFORMATION>();
  for (auto _ : state) {
    g.GetTOCInformation(toc.get());
    benchmark::DoNotOptimize(toc->m__UCHAR__NumberOfTracks);
  }
  Quorvane_SetFastReadTOC(0);
}
BENCHMARK(BM_ReadFullTocOf99Tracks)->Unit(benchmark::kMicrosecond);

}  // namespace
