// The cost of the frame every operation pays: a log line at level 0 and
// the status record around an entry point, on success and on failure.
#include <benchmark/benchmark.h>

#include "core/log.h"
#include "core/status.h"

static void BM_LogLineLevel0(benchmark::State& state) {
  QuorvaneI_SetDebugFacility(0);
  for (auto _ : state) QuorvaneI_Log("\nCQuorvane_CdvdBurnerGrabber::WriteLoop(): LBA %ld, blocks %ld\n", 1234L, 32L);
}
BENCHMARK(BM_LogLineLevel0);

static void BM_StatusRecordSuccess(benchmark::State& state) {
  char text[256];
  uint32_t err = 0;
  CDB_FAILURE_INFORMATION f;
  for (auto _ : state) benchmark::DoNotOptimize(QuorvaneI_Call("Quorvane_Bench", text, sizeof text, &err, &f, [] {}));
}
BENCHMARK(BM_StatusRecordSuccess);

static void BM_StatusRecordFailure8(benchmark::State& state) {
  char text[256];
  uint32_t err = 0;
  CDB_FAILURE_INFORMATION f;
  for (auto _ : state)
    benchmark::DoNotOptimize(QuorvaneI_Call("Quorvane_Bench", text, sizeof text, &err, &f, [] {
      QuorvaneI_Throw("CQuorvane_Bench::Run", 8, reinterpret_cast<uintptr_t>(QuorvaneI_NewFailureInformation()),
                      "CQuorvane_Bench::Run(): Command failed");
    }));
}
BENCHMARK(BM_StatusRecordFailure8);
