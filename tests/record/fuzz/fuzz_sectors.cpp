// libFuzzer target for the sector checker. The first byte chooses the
// sector: 0 takes the next 2352 bytes as they are; 1-3 build a Mode 1,
// Form 1 or Form 2 sector (address from bytes 1-3, user data grown from a
// seed in bytes 4-7) and XOR the damage that follows (a 16-bit position and
// a byte, repeated), so that short inputs reach the decoder with sectors
// near valid ones. Every kernel set must give the same EDC and parity,
// checking must change nothing, and a sector the checks accept after a
// change must pass them.
#include <cstdlib>
#include <cstring>

#include "device/raw_sector.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t kind = data[0] % 4;
  ++data;
  --size;
  uint8_t sector[2352] = {};
  if (kind == 0) {
    std::memcpy(sector, data, size < 2352 ? size : 2352);
  } else {
    static const QuorvaneI_SectorLayout kLayouts[] = {QuorvaneI_SectorLayout::Mode1, QuorvaneI_SectorLayout::Mode2Form1,
                                                      QuorvaneI_SectorLayout::Mode2Form2};
    const QuorvaneI_SectorLayout layout = kLayouts[kind - 1];
    uint8_t head[7] = {};
    std::memcpy(head, data, size < 7 ? size : 7);
    const int32_t address = static_cast<int32_t>((head[0] << 16 | head[1] << 8 | head[2]) % 449850) - 150;
    uint32_t seed = static_cast<uint32_t>(head[3] | head[4] << 8 | head[5] << 16) ^ (static_cast<uint32_t>(head[6]) << 24);
    uint8_t user[2352];
    for (uint8_t& b : user) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    CQuorvane_RawSectorBuilder(CQuorvane_EDCECC()).Build(layout, address, user, nullptr, sector);
    for (size_t at = 7; at + 3 <= size; at += 3) sector[(data[at] << 8 | data[at + 1]) % 2352] ^= data[at + 2];
  }

  const auto kernels = qv::sectors::Available();
  uint8_t p0[172], q0[104];
  kernels[0]->parityP(sector + 12, p0);
  kernels[0]->parityQ(sector + 12, q0);
  for (const qv::sectors::Kernels* k : kernels) {
    uint8_t p[172], q[104];
    k->parityP(sector + 12, p);
    k->parityQ(sector + 12, q);
    Require(std::memcmp(p, p0, sizeof p) == 0 && std::memcmp(q, q0, sizeof q) == 0);
    for (size_t n : {2056u, 2064u, 2332u, 2352u}) Require(k->edc(sector, n) == kernels[0]->edc(sector, n));
  }

  const CQuorvane_EDCECC e;
  uint8_t copy[2352];
  std::memcpy(copy, sector, sizeof copy);
  for (int mode = 0; mode <= 2; ++mode) {
    e.Inspect(sector, mode, mode == 2);
    Require(std::memcmp(copy, sector, sizeof copy) == 0);
  }
  for (int mode = 1; mode <= 2; ++mode) {
    uint8_t s[2352];
    std::memcpy(s, sector, sizeof s);
    const bool accepted = e.CheckLB(s, mode, 0);
    if (std::memcmp(s, sector, sizeof s) != 0) Require(accepted && e.Inspect(s, mode, false) == CQuorvane_EDCECC::Fault::None);
  }
  return 0;
}
