#include "device/raw_sector.h"

#include <array>
#include <cstring>

#include "core/subcode_crc.h"

namespace {

constexpr uint8_t kSync[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// The sub-header a data sector gets when none is given: file 0, channel 0,
// submode "data" (Form 1) or "form 2", coding 0.
constexpr uint8_t kForm1SubHeader[4] = {0x00, 0x00, 0x08, 0x00};
constexpr uint8_t kForm2SubHeader[4] = {0x00, 0x00, 0x20, 0x00};

// The scrambler's 2340 bytes: a 15-bit register with feedback x^15 + x + 1,
// preset to 1; each output bit is the register's low bit, bytes filled from
// their least significant bit.
constexpr std::array<uint8_t, 2340> MakeScrambler() {
  std::array<uint8_t, 2340> t{};
  unsigned r = 1;
  for (auto& byte : t) {
    unsigned v = 0;
    for (int bit = 0; bit < 8; ++bit) {
      v |= (r & 1) << bit;
      const unsigned feedback = (r ^ (r >> 1)) & 1;
      r = (r >> 1) | (feedback << 14);
    }
    byte = static_cast<uint8_t>(v);
  }
  return t;
}
constexpr std::array<uint8_t, 2340> kScrambler = MakeScrambler();

// The 8 x 8 bit matrix of a 64-bit word (row 0 in the high byte, column 0
// in each byte's high bit), transposed by three rounds of swapping blocks.
uint64_t Transpose8x8(uint64_t x) {
  uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
  x ^= t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
  x ^= t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
  return x ^ t ^ (t << 28);
}

}  // namespace

size_t QuorvaneI_SectorUserBytes(QuorvaneI_SectorLayout layout) {
  switch (layout) {
    case QuorvaneI_SectorLayout::Audio: return 2352;
    case QuorvaneI_SectorLayout::Mode0:
    case QuorvaneI_SectorLayout::Mode2: return 2336;
    case QuorvaneI_SectorLayout::Mode2Form2: return 2324;
    case QuorvaneI_SectorLayout::Mode1:
    case QuorvaneI_SectorLayout::Mode2Form1: break;
  }
  return 2048;
}

void QuorvaneI_FramesToMsf(uint32_t frames, uint8_t* msf) {
  msf[0] = QuorvaneI_Bcd(frames / (60 * 75));
  msf[1] = QuorvaneI_Bcd(frames / 75 % 60);
  msf[2] = QuorvaneI_Bcd(frames % 75);
}

void QuorvaneI_AddressToMsf(int32_t address, uint8_t* msf) {
  QuorvaneI_FramesToMsf(static_cast<uint32_t>(address < -150 ? address + 450150 : address + 150), msf);
}

void CQuorvane_RawSectorBuilder::Build(QuorvaneI_SectorLayout layout, int32_t address, const uint8_t* userData,
                                       const uint8_t* subHeader, uint8_t* sector) const {
  using L = QuorvaneI_SectorLayout;
  const size_t user = QuorvaneI_SectorUserBytes(layout);
  if (layout == L::Audio) {
    if (userData != nullptr) std::memcpy(sector, userData, user);
    else std::memset(sector, 0, user);
    return;
  }
  std::memcpy(sector, kSync, sizeof kSync);
  QuorvaneI_AddressToMsf(address, sector + 12);
  sector[15] = layout == L::Mode0 ? 0 : layout == L::Mode1 ? 1 : 2;
  size_t at = 16;
  if (layout == L::Mode2Form1 || layout == L::Mode2Form2) {
    const bool form2 = layout == L::Mode2Form2;
    uint8_t sub[4];
    std::memcpy(sub, subHeader != nullptr ? subHeader : form2 ? kForm2SubHeader : kForm1SubHeader, 4);
    sub[2] = form2 ? (sub[2] | 0x20) : (sub[2] & ~0x20);  // the form bit must tell the truth
    std::memcpy(sector + 16, sub, 4);
    std::memcpy(sector + 20, sub, 4);
    at = 24;
  }
  if (userData != nullptr && layout != L::Mode0) std::memcpy(sector + at, userData, user);
  else std::memset(sector + at, 0, user);
  if (layout == L::Mode1) m__EDCECC.GenerateMODE1(sector);
  else if (layout == L::Mode2Form1) m__EDCECC.GenerateMODE2Form1(sector);
  else if (layout == L::Mode2Form2) m__EDCECC.GenerateMODE2Form2(sector);
}

void CQuorvane_RawSectorBuilder::BuildMany(QuorvaneI_SectorLayout layout, int32_t address, uint32_t count,
                                           const uint8_t* userData, const uint8_t* subHeader, uint8_t* sectors,
                                           size_t stride) const {
  const size_t user = QuorvaneI_SectorUserBytes(layout);
  for (uint32_t i = 0; i < count; ++i)
    Build(layout, address + static_cast<int32_t>(i), userData != nullptr ? userData + i * user : nullptr, subHeader,
          sectors + i * stride);
}

void QuorvaneI_Scramble(uint8_t* sector) {
  size_t i = 0;
  for (; i + 8 <= kScrambler.size(); i += 8) {
    uint64_t a, b;
    std::memcpy(&a, sector + 12 + i, 8);
    std::memcpy(&b, kScrambler.data() + i, 8);
    a ^= b;
    std::memcpy(sector + 12 + i, &a, 8);
  }
  for (; i < kScrambler.size(); ++i) sector[12 + i] ^= kScrambler[i];
}

bool QuorvaneI_ScrambleDataSector(uint8_t* sector) {
  if (!CQuorvane_EDCECC::VerifySync(sector) || (sector[15] != 1 && sector[15] != 2)) return false;
  QuorvaneI_Scramble(sector);
  return true;
}

uint16_t QuorvaneI_QCrc(const uint8_t* q) { return QuorvaneI_SubcodeCrc(q, 10); }

void QuorvaneI_SetQCrc(uint8_t* q) {
  const uint16_t crc = static_cast<uint16_t>(~QuorvaneI_QCrc(q));
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
}

bool QuorvaneI_CheckQCrc(const uint8_t* q) {
  const uint16_t crc = static_cast<uint16_t>(~QuorvaneI_QCrc(q));
  return q[10] == (crc >> 8) && q[11] == (crc & 0xFF);
}

void QuorvaneI_QPosition(uint8_t control, uint8_t track, uint8_t index, uint32_t relative, int32_t address,
                         uint8_t* q) {
  q[0] = static_cast<uint8_t>(control << 4 | 1);
  q[1] = track == 0xAA ? 0xAA : QuorvaneI_Bcd(track);
  q[2] = QuorvaneI_Bcd(index);
  QuorvaneI_FramesToMsf(relative, q + 3);
  q[6] = 0;
  QuorvaneI_AddressToMsf(address, q + 7);
  QuorvaneI_SetQCrc(q);
}

void QuorvaneI_QLeadIn(uint8_t control, uint8_t point, int32_t address, const uint8_t* pTime, uint8_t* q) {
  q[0] = static_cast<uint8_t>(control << 4 | 1);
  q[1] = 0;
  q[2] = point;
  QuorvaneI_AddressToMsf(address, q + 3);
  q[6] = 0;
  std::memcpy(q + 7, pTime, 3);
  QuorvaneI_SetQCrc(q);
}

void QuorvaneI_FormatPQ(const uint8_t* q, bool p, uint8_t* pq16) {
  std::memcpy(pq16, q, 12);
  std::memset(pq16 + 12, 0, 3);
  pq16[15] = p ? 0x80 : 0;
}

void QuorvaneI_SpreadRawPW(const uint8_t* q, bool p, uint8_t* raw96) {
  const uint8_t pBit = p ? 0x80 : 0;
  for (size_t j = 0; j < 96; ++j) {
    const uint8_t qBit = static_cast<uint8_t>(((q[j / 8] >> (7 - j % 8)) & 1) << 6);
    raw96[j] = static_cast<uint8_t>((raw96[j] & 0x3F) | pBit | qBit);
  }
}

// Eight symbols at a time: byte g of the eight planes is an 8 x 8 bit matrix
// whose transpose is the eight raw bytes (and the other way round).
void QuorvaneI_PlanesToRawPW(const uint8_t* planes96, uint8_t* raw96) {
  for (size_t g = 0; g < 12; ++g) {
    uint64_t x = 0;
    for (size_t k = 0; k < 8; ++k) x |= uint64_t{planes96[12 * k + g]} << (8 * (7 - k));
    x = Transpose8x8(x);
    for (size_t s = 0; s < 8; ++s) raw96[8 * g + s] = static_cast<uint8_t>(x >> (8 * (7 - s)));
  }
}

void QuorvaneI_RawPWToPlanes(const uint8_t* raw96, uint8_t* planes96) {
  for (size_t g = 0; g < 12; ++g) {
    uint64_t x = 0;
    for (size_t s = 0; s < 8; ++s) x |= uint64_t{raw96[8 * g + s]} << (8 * (7 - s));
    x = Transpose8x8(x);
    for (size_t k = 0; k < 8; ++k) planes96[12 * k + g] = static_cast<uint8_t>(x >> (8 * (7 - k)));
  }
}
