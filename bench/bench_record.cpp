// The host side of recording: the reader thread filling the cache from a
// source in memory and the write loop draining it into a drive that takes
// every WRITE(10) at once. Throughput must stay far above any real drive
// (target 2 GB/s); cpu_percent_at_16x_dvd is what both threads together
// cost, in percent of one core, while feeding a 16x DVD (22160 kB/s).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstring>
#include <memory>

#include "core/settings.h"
#include "record/burner_grabber.h"
#include "files/file.h"
#include "files/file_chain.h"
#include "platform/clock.h"

namespace {

constexpr uint64_t kSourceBytes = 256ull << 20;

class SinkDrive : public CQuorvane_ScsiTransport {
 public:
  SinkDrive() : CQuorvane_ScsiTransport("CQuorvane_ScsiTransportBench", "CQuorvane_ScsiTransportBench::ExecuteCDB") {
    m__UCHAR__DeviceType = 5;
    m__ULONG__MaximumTransferLength = kQuorvaneScsiMaximumTransferLength;
  }

 protected:
  void Deliver(Attempt& a) override {
    a.good = true;
    a.targetStatus = 0;
    if (a.dataOut || a.buffer == nullptr) return;
    auto* b = static_cast<uint8_t*>(a.buffer);
    if (a.cdb[0] == 0x12) {  // INQUIRY: a CD/DVD device
      std::memset(b, ' ', std::min<uint32_t>(a.bufferSize, 36));
      b[0] = 5;
      b[4] = 31;
      a.transferred = std::min<uint32_t>(a.bufferSize, 36);
    } else if (a.cdb[0] == 0x5A) {  // page 2Ah with a 2 MB buffer
      std::memset(b, 0, std::min<uint32_t>(a.bufferSize, 38));
      b[1] = 36;
      b[8] = 0x2A;
      b[9] = 0x1C;
      b[8 + 12] = 0x08;
      a.transferred = std::min<uint32_t>(a.bufferSize, 38);
    } else {
      std::memset(b, 0, a.bufferSize);
      a.transferred = a.bufferSize;
    }
  }
};

// The pipeline's steps, reached from outside the recording modes.
class Bench : public CQuorvane_CdvdBurnerGrabber {
 public:
  Bench() : CQuorvane_CdvdBurnerGrabber(new SinkDrive, nullptr, nullptr, 64) {}
  uint32_t Pump(CQuorvane_FileChain* chain, uint32_t transfer, int32_t blockSize) {
    GetTransport()->SetMaximumTransferLength(transfer);
    chain->SeekToBegin();
    StartPipeline("Bench", chain, blockSize);
    WriteLoop loop;
    loop.totalBlocks = kSourceBytes / static_cast<uint32_t>(blockSize);
    const uint32_t end = RunWriteLoop("Bench", loop);
    ShutDownCacheThread();
    JoinCacheThread();
    return end;
  }
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_PipelineIntoInstantDrive(benchmark::State& state) {
  Quorvane_SetBufferUnderrunTimeOutInMs(1);
  Bench g;
  auto block = std::make_unique<uint8_t[]>(kSourceBytes);
  std::memset(block.get(), 0x5A, kSourceBytes);
  CQuorvane_MemoryFile file(std::move(block), kSourceBytes);
  CQuorvane_FileChain chain;
  chain.AddChainTail(&file);
  const auto transfer = static_cast<uint32_t>(state.range(0));
  const double cpuBefore = CpuSeconds();
  for (auto _ : state) benchmark::DoNotOptimize(g.Pump(&chain, transfer, 2048));
  const double cpu = CpuSeconds() - cpuBefore;
  const double bytes = static_cast<double>(kSourceBytes) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["cpu_percent_at_16x_dvd"] = 100.0 * cpu / bytes * 22160e3;
}
BENCHMARK(BM_PipelineIntoInstantDrive)->Arg(32768)->Arg(61440)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
