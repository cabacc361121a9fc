#include "vdrive/edc_ecc.h"

#include <array>
#include <cstring>

namespace qv::vdrive {

namespace {

// The EDC polynomial with its bits reversed, for the least-significant-
// bit-first division ECMA-130 describes (x^0 is sent first).
constexpr uint32_t kEdcReversed = 0xD8018001u;

constexpr std::array<uint32_t, 256> MakeEdcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ kEdcReversed : r >> 1;
    t[i] = r;
  }
  return t;
}
constexpr std::array<uint32_t, 256> kEdcTable = MakeEdcTable();

// GF(2^8) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1 (ECMA-130
// Annex A); alpha is x.
struct Field {
  std::array<uint8_t, 512> exp{};
  std::array<uint8_t, 256> log{};
  constexpr Field() {
    uint32_t x = 1;
    for (int i = 0; i < 255; ++i) {
      exp[i] = static_cast<uint8_t>(x);
      exp[i + 255] = static_cast<uint8_t>(x);
      log[x] = static_cast<uint8_t>(i);
      x <<= 1;
      if (x & 0x100) x ^= 0x11D;
    }
  }
  constexpr uint8_t Mul(uint8_t a, uint8_t b) const {
    return a == 0 || b == 0 ? 0 : exp[log[a] + log[b]];
  }
  constexpr uint8_t Div(uint8_t a, uint8_t b) const {  // b != 0
    return a == 0 ? 0 : exp[log[a] + 255 - log[b]];
  }
};
constexpr Field kField;

// One code word of the product code: n data symbols at positions 0..n-1
// and two parity symbols after them, weighted by the parity check matrix
//   | 1        1        ...  1   1 |
//   | a^(n+1)  a^n      ...  a   1 |
// Both checks vanish when p0 = (S0 + S1) / (a + 1) and p1 = S0 + p0, with
// S0 the plain sum and S1 the weighted sum of the data symbols.
void Parity(const uint8_t* const* symbols, size_t n, uint8_t* p0, uint8_t* p1) {
  uint8_t s0 = 0, s1 = 0;
  for (size_t i = 0; i < n; ++i) {
    s0 ^= *symbols[i];
    s1 ^= kField.Mul(*symbols[i], kField.exp[(n + 1 - i) % 255]);
  }
  *p0 = kField.Div(s0 ^ s1, kField.exp[1] ^ 1);
  *p1 = s0 ^ *p0;
}

constexpr size_t kEccStart = 12;   // the header: parity covers bytes 12-2351
constexpr size_t kPWords = 43;     // P: 43 columns of 24 words, 2 parity words each
constexpr size_t kPRows = 24;
constexpr size_t kQWords = 26;     // Q: 26 diagonals of 43 words, 2 parity words each
constexpr size_t kQLength = 43;
constexpr size_t kQArea = 1118;    // words under Q: data and P parity

}  // namespace

uint32_t SectorEdc(const uint8_t* data, size_t count) {
  uint32_t crc = 0;
  for (size_t i = 0; i < count; ++i) crc = kEdcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

void SectorEccParity(uint8_t* sector, bool zeroHeader) {
  uint8_t header[4];
  std::memcpy(header, sector + kEccStart, 4);
  if (zeroHeader) std::memset(sector + kEccStart, 0, 4);
  // Words are pairs of bytes; the two bytes of a word belong to two
  // independent codes, so each code runs once per byte of the pair.
  uint8_t* words = sector + kEccStart;
  const uint8_t* column[kQLength];
  for (size_t half = 0; half < 2; ++half) {
    for (size_t np = 0; np < kPWords; ++np) {
      for (size_t mp = 0; mp < kPRows; ++mp) column[mp] = &words[2 * (kPWords * mp + np) + half];
      Parity(column, kPRows, &words[2 * (kPWords * kPRows + np) + half],
             &words[2 * (kPWords * (kPRows + 1) + np) + half]);
    }
  }
  for (size_t half = 0; half < 2; ++half) {
    for (size_t nq = 0; nq < kQWords; ++nq) {
      for (size_t mq = 0; mq < kQLength; ++mq) column[mq] = &words[2 * ((44 * mq + 43 * nq) % kQArea) + half];
      Parity(column, kQLength, &words[2 * (kQArea + nq) + half], &words[2 * (kQArea + kQWords + nq) + half]);
    }
  }
  if (zeroHeader) std::memcpy(sector + kEccStart, header, 4);
}

namespace {
void PutEdc(uint8_t* at, uint32_t edc) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(edc >> (8 * i));
}
}  // namespace

void FinishMode1Sector(uint8_t* sector) {
  PutEdc(sector + 2064, SectorEdc(sector, 2064));
  std::memset(sector + 2068, 0, 8);
  SectorEccParity(sector, false);
}

void FinishMode2Sector(uint8_t* sector) {
  const bool form2 = (sector[18] & 0x20) != 0;
  if (form2) {
    PutEdc(sector + 2348, SectorEdc(sector + 16, 2332));
  } else {
    PutEdc(sector + 2072, SectorEdc(sector + 16, 2056));
    SectorEccParity(sector, true);
  }
}

}  // namespace qv::vdrive
