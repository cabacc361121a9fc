// The arithmetic behind CD-ROM sectors (ECMA-130 14.3 and Annex A): the
// 32-bit EDC and the P and Q parity of the Reed-Solomon product code, with
// one portable implementation and faster ones chosen at run time by what the
// processor offers.
//
// The product code, as ECMA-130 Annex A lays it out: the 2340 bytes from the
// sector's header (byte 12) are 1170 16-bit words S(0..1169). The high and
// the low byte of each word belong to two independent codes over GF(2^8)
// with the field polynomial x^8 + x^4 + x^3 + x^2 + 1, computed alike.
//  - P: words S(0..1031) are a matrix of 24 rows of 43 words (row r holds
//    S(43r .. 43r+42), 86 bytes); each column is a (26,24) codeword whose
//    parity words are rows 24 and 25, S(1032..1117).
//  - Q: S(0..1117) (data and P) are read along 26 diagonals; diagonal N
//    takes S((44 Mq + 43 N) mod 1118) for Mq = 0..42, that is row
//    (N + Mq) mod 26 of column Mq. Its (45,43) parity words are S(1118 + N)
//    and S(1144 + N).
// Both codes have the check matrix [1 1 ... 1; a^(n-1) ... a 1] (a = x):
// for a codeword v(0..n-1), s0 = sum v(i) and s1 = sum a^(n-1-i) v(i) are
// zero. With the data sums A0 and A1 of the first n-2 symbols, the parity
// is p = (A0 + A1) / (1 + a) at position n-2 and q = A0 + p at n-1.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::sectors {

inline constexpr size_t kRowBytes = 86;        // one row of the P matrix
inline constexpr size_t kParityPBytes = 172;   // rows 24 and 25
inline constexpr size_t kParityQBytes = 104;   // 26 words p, then 26 words q
inline constexpr size_t kProductBytes = 2340;  // bytes 12..2351 of a sector

// ---- GF(2^8) with x^8 + x^4 + x^3 + x^2 + 1 --------------------------------

struct Field {
  std::array<uint8_t, 512> exp{};  // twice over, so exp[log a + log b] needs no mod
  std::array<uint8_t, 256> log{};
  constexpr Field() {
    unsigned x = 1;
    for (unsigned i = 0; i < 255; ++i) {
      exp[i] = exp[i + 255] = static_cast<uint8_t>(x);
      log[x] = static_cast<uint8_t>(i);
      x = (x << 1) ^ ((x & 0x80) ? 0x11D : 0);
    }
    exp[510] = exp[0];
    exp[511] = exp[1];
  }
  constexpr uint8_t Mul(uint8_t a, uint8_t b) const { return a && b ? exp[log[a] + log[b]] : 0; }
  constexpr uint8_t Pow(unsigned n) const { return exp[n % 255]; }  // a^n
  constexpr uint8_t Inverse(uint8_t a) const { return exp[255 - log[a]]; }
};
inline constexpr Field kField{};

// 1 / (1 + a): the factor of the first parity symbol.
inline constexpr uint8_t kParityFactor = kField.Inverse(3);

// ---- Kernels ----------------------------------------------------------------

// rows points at byte 12 of a sector. ParityP reads rows 0..23 and writes the
// 172 P bytes to out; ParityQ reads rows 0..25 (P included, as stored at
// rows) and writes the 104 Q bytes to out. Generating writes out into the
// sector itself; checking writes elsewhere and compares.
struct Kernels {
  const char* name;
  uint32_t (*edc)(const uint8_t* data, size_t size);
  void (*parityP)(const uint8_t* rows, uint8_t* out);
  void (*parityQ)(const uint8_t* rows, uint8_t* out);
};

// The fastest kernels this processor runs, chosen once.
const Kernels& Active();
// Every set this processor runs, the portable one first.
std::vector<const Kernels*> Available();
const Kernels& Portable();

// x86-64 sets, or nullptr when the processor (or the build) lacks them.
const Kernels* Avx2Kernels();
const Kernels* Avx512Kernels();

// ---- Shared by the kernels ----------------------------------------------------

// The EDC table (reflected polynomial D8018001h) and the 15 that advance a
// byte past 1..15 bytes behind it.
extern const std::array<std::array<uint32_t, 256>, 16> kEdcTables;
// The EDC of size bytes continued from crc, a byte at a time.
uint32_t EdcBytes(uint32_t crc, const uint8_t* data, size_t size);

// x^n mod P(x) of the EDC polynomial, bit-reflected into 32 bits: the
// folding constants of the carry-less multiply kernels.
constexpr uint32_t EdcXPowerReflected(unsigned n) {
  uint64_t r = 1;  // normal form, bit d = coefficient of x^d
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (uint64_t{1} << 32)) r ^= 0x18001801BULL;  // x^32+x^31+x^16+x^15+x^4+x^3+x+1
  }
  uint32_t reflected = 0;
  for (unsigned d = 0; d < 32; ++d)
    if (r & (uint64_t{1} << d)) reflected |= 1u << (31 - d);
  return reflected;
}

}  // namespace qv::sectors
