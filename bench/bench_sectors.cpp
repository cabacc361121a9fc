// Raw CD sectors: making complete sectors from user data (sync, header,
// EDC, P and Q), the EDC and the parity alone, checking good sectors,
// repairing sectors with one bad byte per P codeword, and raw P-W
// subchannels, for every kernel set this processor runs beside the one
// chosen at run time. Targets on one core, Mode 1: 3.5 GB/s dispatched,
// 1.4 GB/s portable (built -O2 for plain x86-64); checking at least as
// fast as making. The context lines give the processor's flags.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/raw_sector.h"

namespace {

namespace sec = qv::sectors;
using Layout = QuorvaneI_SectorLayout;

constexpr size_t kSectors = 64;  // 150 KB: the work, not the memory, is measured

std::vector<uint8_t> UserData() {
  std::vector<uint8_t> v(kSectors * 2352);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return v;
}

void Count(benchmark::State& state, size_t bytesPerSector) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSectors));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSectors * bytesPerSector));
}

void Make(benchmark::State& state, const sec::Kernels* k, Layout layout) {
  const CQuorvane_EDCECC e(*k);
  const CQuorvane_RawSectorBuilder builder(e);
  const auto user = UserData();
  std::vector<uint8_t> out(kSectors * 2352);
  for (auto _ : state) {
    builder.BuildMany(layout, 0, kSectors, user.data(), nullptr, out.data(), 2352);
    benchmark::DoNotOptimize(out.data());
  }
  Count(state, 2352);
}

std::vector<uint8_t> GoodSectors(const CQuorvane_EDCECC& e) {
  const auto user = UserData();
  std::vector<uint8_t> s(kSectors * 2352);
  CQuorvane_RawSectorBuilder(e).BuildMany(Layout::Mode1, 0, kSectors, user.data(), nullptr, s.data(), 2352);
  return s;
}

void Edc(benchmark::State& state, const sec::Kernels* k) {
  const auto s = GoodSectors(CQuorvane_EDCECC(*k));
  for (auto _ : state)
    for (size_t i = 0; i < kSectors; ++i) benchmark::DoNotOptimize(k->edc(s.data() + i * 2352, 2064));
  Count(state, 2064);
}

void Parity(benchmark::State& state, const sec::Kernels* k) {
  auto s = GoodSectors(CQuorvane_EDCECC(*k));
  for (auto _ : state)
    for (size_t i = 0; i < kSectors; ++i) {
      uint8_t* sector = s.data() + i * 2352;
      k->parityP(sector + 12, sector + 2076);
      k->parityQ(sector + 12, sector + 2248);
      benchmark::DoNotOptimize(sector);
    }
  Count(state, 2352);
}

void Check(benchmark::State& state, const sec::Kernels* k) {
  const CQuorvane_EDCECC e(*k);
  auto s = GoodSectors(e);
  for (auto _ : state)
    for (size_t i = 0; i < kSectors; ++i) benchmark::DoNotOptimize(e.CheckMODE1LB(s.data() + i * 2352));
  Count(state, 2352);
}

// One wrong byte in every P codeword, at a row of its own.
void Repair(benchmark::State& state, const sec::Kernels* k) {
  const CQuorvane_EDCECC e(*k);
  const auto good = GoodSectors(e);
  auto bad = good;
  for (size_t i = 0; i < kSectors; ++i)
    for (size_t c = 0; c < 86; ++c) bad[i * 2352 + 12 + 86 * ((c + i) % 24) + c] ^= 0x5A;
  std::vector<uint8_t> s(bad.size());
  for (auto _ : state) {
    std::memcpy(s.data(), bad.data(), s.size());
    for (size_t i = 0; i < kSectors; ++i)
      if (e.Repair(s.data() + i * 2352, CQuorvane_EDCECC::kTypeMode1) != CQuorvane_EDCECC::kCorrected)
        state.SkipWithError("a sector was not repaired");
  }
  Count(state, 2352);
}

// The 96 raw P-W bytes of a track position: Q, its CRC, spread beside P.
void RawPW(benchmark::State& state) {
  std::vector<uint8_t> out(kSectors * 96);
  int32_t address = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < kSectors; ++i, ++address) {
      uint8_t q[12];
      QuorvaneI_QPosition(4, 1, 1, static_cast<uint32_t>(address), address, q);
      QuorvaneI_SpreadRawPW(q, false, out.data() + i * 96);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Count(state, 96);
}

// Every benchmark for every kernel set, and once more as dispatched.
const bool kRegistered = [] {
  std::string flags;
#if defined(__x86_64__)
  __builtin_cpu_init();
#define QV_FLAG(f) \
  if (__builtin_cpu_supports(f)) flags += std::string(flags.empty() ? "" : " ") + f;
  QV_FLAG("sse4.2") QV_FLAG("pclmul") QV_FLAG("avx") QV_FLAG("avx2") QV_FLAG("avx512f") QV_FLAG("avx512bw")
  QV_FLAG("avx512vl") QV_FLAG("avx512vbmi") QV_FLAG("gfni") QV_FLAG("vpclmulqdq")
#undef QV_FLAG
#endif
  benchmark::AddCustomContext("cpu_flags", flags.empty() ? "(none of interest)" : flags);
  benchmark::AddCustomContext("dispatched", sec::Active().name);
  std::vector<std::pair<std::string, const sec::Kernels*>> sets{{"dispatched", &sec::Active()}};
  for (const sec::Kernels* k : sec::Available()) sets.emplace_back(k->name, k);
  for (const auto& [name, k] : sets) {
    benchmark::RegisterBenchmark(("Mode1/" + name).c_str(), Make, k, Layout::Mode1);
    benchmark::RegisterBenchmark(("Mode2Form1/" + name).c_str(), Make, k, Layout::Mode2Form1);
    benchmark::RegisterBenchmark(("Mode2Form2/" + name).c_str(), Make, k, Layout::Mode2Form2);
    benchmark::RegisterBenchmark(("EdcAlone/" + name).c_str(), Edc, k);
    benchmark::RegisterBenchmark(("PAndQAlone/" + name).c_str(), Parity, k);
    benchmark::RegisterBenchmark(("CheckGood/" + name).c_str(), Check, k);
    benchmark::RegisterBenchmark(("RepairOneBytePerCodeword/" + name).c_str(), Repair, k);
  }
  benchmark::RegisterBenchmark("RawPWSubchannel", RawPW);
  return true;
}();

}  // namespace
