// The portable kernels and the choice among the sets. The portable set works
// eight bytes at a time in 64-bit words: GF(2^8) arithmetic needs only
// shifts, masks and xors for the multiplication by a, so Horner's rule over
// the rows (P) and along the diagonals (Q) gives the parity sums of many
// codewords at once.
#include "device/sector_math.h"

#include <cstring>

#include "core/bytes.h"

namespace qv::sectors {

namespace {

constexpr std::array<std::array<uint32_t, 256>, 16> MakeEdcTables() {
  std::array<std::array<uint32_t, 256>, 16> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r & 1) ? (r >> 1) ^ 0xD8018001u : r >> 1;
    t[0][i] = r;
  }
  // Table k advances a byte that still has k bytes behind it.
  for (size_t k = 1; k < 16; ++k)
    for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

// Byte tables of the two products that make the first parity symbol:
// p = k A0 + k a^2 H, where H is the Horner sum that lacks the last two
// powers of a.
struct ParityTables {
  std::array<uint8_t, 256> k{}, ka2{};
  constexpr ParityTables() {
    const uint8_t ka2Factor = kField.Mul(kParityFactor, 4);
    for (unsigned x = 0; x < 256; ++x) {
      k[x] = kField.Mul(kParityFactor, static_cast<uint8_t>(x));
      ka2[x] = kField.Mul(ka2Factor, static_cast<uint8_t>(x));
    }
  }
};
constexpr ParityTables kParity{};

// 16 bytes in GCC's generic vectors: SSE2 on x86-64, whatever the target
// has elsewhere, plain code where it has nothing.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef int8_t Signed16 __attribute__((vector_size(16)));
typedef uint16_t Words8 __attribute__((vector_size(16)));
typedef uint32_t Pairs4 __attribute__((vector_size(16)));
typedef uint64_t Quads2 __attribute__((vector_size(16)));

template <class V>
V Load(const void* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// a * x for each byte of x.
Bytes16 MulA(Bytes16 x) {
  const Bytes16 reduce = reinterpret_cast<Bytes16>(reinterpret_cast<Signed16>(x) < 0) & 0x1D;
  return (x + x) ^ reduce;
}

// The two parity symbols of codewords from their sums: p = k A0 + k a^2 H
// (H lacks the last two powers of a), q = A0 + p.
void Finish(const uint8_t* a0, const uint8_t* h, uint8_t* p, uint8_t* q, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) {
    const uint8_t first = kParity.k[a0[i]] ^ kParity.ka2[h[i]];
    p[i] = first;
    q[i] = a0[i] ^ first;
  }
}

// Sixteen bytes a step, each through the table that advances it past the
// bytes behind it.
uint32_t PortableEdc(const uint8_t* data, size_t size) {
  const auto& t = kEdcTables;
  uint32_t crc = 0;
  for (; size >= 16; size -= 16, data += 16) {
    uint32_t x = 0;
    #pragma GCC unroll 8
    for (size_t word = 0; word < 4; ++word) {
      const uint32_t v = QuorvaneI_LE32(data + 4 * word) ^ (word == 0 ? crc : 0);
      const size_t k = 15 - 4 * word;
      x ^= t[k][v & 0xFF] ^ t[k - 1][(v >> 8) & 0xFF] ^ t[k - 2][(v >> 16) & 0xFF] ^ t[k - 3][v >> 24];
    }
    crc = x;
  }
  return EdcBytes(crc, data, size);
}

// Horner's rule down the 24 rows, 96 bytes wide (the last 10 belong to the
// next row and are dropped).
void PortableParityP(const uint8_t* rows, uint8_t* out) {
  Bytes16 a0[6] = {}, h[6] = {};
  for (size_t r = 0; r < 24; ++r)
    #pragma GCC unroll 8
    for (size_t v = 0; v < 6; ++v) {
      const Bytes16 x = Load<Bytes16>(rows + r * kRowBytes + 16 * v);
      a0[v] ^= x;
      h[v] = MulA(h[v]) ^ x;
    }
  uint8_t sum[96], horner[96];
  std::memcpy(sum, a0, sizeof sum);
  std::memcpy(horner, h, sizeof horner);
  Finish(sum, horner, out, out + kRowBytes, kRowBytes);
}

// The 26 x 43 word matrix transposed 8 x 8 words at a time into columns
// stored twice over, so that column Mq rotated by Mq - the words of the 26
// diagonals at position Mq - is read in one go; then Horner's rule along
// the 43 positions with the diagonals side by side.
void PortableParityQ(const uint8_t* rows, uint8_t* out) {
  // column[c][i] = word (i mod 26) of column c, for i < 52.
  alignas(16) uint16_t column[43][64];
  // Rows 24..31 first: their zero rows 26..31 land on words the next groups overwrite.
  #pragma GCC unroll 8
  for (size_t group : {3, 0, 1, 2}) {
    #pragma GCC unroll 8
    for (size_t block = 0; block < 6; ++block) {  // the last block reads 10 bytes of the next row
      Words8 r[8];
      #pragma GCC unroll 8
      for (size_t i = 0; i < 8; ++i) {
        const size_t row = 8 * group + i;
        r[i] = row < 26 ? Load<Words8>(rows + row * kRowBytes + 16 * block) : Words8{};
      }
      Pairs4 t[8];
      #pragma GCC unroll 8
      for (size_t i = 0; i < 4; ++i) {
        t[2 * i] = reinterpret_cast<Pairs4>(__builtin_shufflevector(r[2 * i], r[2 * i + 1], 0, 8, 1, 9, 2, 10, 3, 11));
        t[2 * i + 1] =
            reinterpret_cast<Pairs4>(__builtin_shufflevector(r[2 * i], r[2 * i + 1], 4, 12, 5, 13, 6, 14, 7, 15));
      }
      Quads2 u[8];
      #pragma GCC unroll 8
      for (size_t i = 0; i < 2; ++i)
        #pragma GCC unroll 8
        for (size_t k = 0; k < 2; ++k) {
          u[4 * i + 2 * k] = reinterpret_cast<Quads2>(__builtin_shufflevector(t[4 * i + k], t[4 * i + k + 2], 0, 4, 1, 5));
          u[4 * i + 2 * k + 1] =
              reinterpret_cast<Quads2>(__builtin_shufflevector(t[4 * i + k], t[4 * i + k + 2], 2, 6, 3, 7));
        }
      #pragma GCC unroll 8
      for (size_t j = 0; j < 8; ++j) {
        const size_t c = 8 * block + j;
        if (c >= 43) break;
        // u[0..3] hold rows 0..3 of columns (0,1), (2,3), (4,5), (6,7); u[4..7] rows 4..7.
        const Quads2 w = j % 2 ? __builtin_shufflevector(u[j / 2], u[4 + j / 2], 1, 3)
                               : __builtin_shufflevector(u[j / 2], u[4 + j / 2], 0, 2);
        std::memcpy(&column[c][8 * group], &w, 16);
        std::memcpy(&column[c][26 + 8 * group], &w, 16);
      }
    }
  }
  Bytes16 a0[4] = {}, h[4] = {};
  for (size_t mq = 0; mq < 43; ++mq) {
    const uint16_t* diagonal = &column[mq][mq % 26];
    #pragma GCC unroll 8
    for (size_t v = 0; v < 4; ++v) {
      const Bytes16 x = Load<Bytes16>(diagonal + 8 * v);
      a0[v] ^= x;
      h[v] = MulA(h[v]) ^ x;
    }
  }
  uint8_t sum[64], horner[64];
  std::memcpy(sum, a0, sizeof sum);
  std::memcpy(horner, h, sizeof horner);
  Finish(sum, horner, out, out + 52, 52);
}

constexpr Kernels kPortable{"portable", &PortableEdc, &PortableParityP, &PortableParityQ};

}  // namespace

constinit const std::array<std::array<uint32_t, 256>, 16> kEdcTables = MakeEdcTables();

uint32_t EdcBytes(uint32_t crc, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) crc = kEdcTables[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

const Kernels& Portable() { return kPortable; }

const Kernels& Active() {
  static const Kernels* chosen = [] {
    if (const Kernels* k = Avx512Kernels()) return k;
    if (const Kernels* k = Avx2Kernels()) return k;
    return &kPortable;
  }();
  return *chosen;
}

std::vector<const Kernels*> Available() {
  std::vector<const Kernels*> all{&kPortable};
  for (const Kernels* k : {Avx2Kernels(), Avx512Kernels()})
    if (k != nullptr) all.push_back(k);
  return all;
}

}  // namespace qv::sectors
