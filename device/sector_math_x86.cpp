// The x86-64 kernels, each compiled for its instruction set with target
// attributes and chosen at run time, so one binary runs on every x86-64.
//
// EDC: carry-less multiplication folds the data 128 bits at a time. In the
// reflected bit order of the EDC, a 128-bit state S stands for the
// polynomial H x^64 + L (H = low qword, L = high qword); moving it D bits
// forward is H x^(D+64) + L x^D, and PCLMULQDQ of a qword by the constant
// x^(n-1) mod P gives x^n times the qword (the product of two reflected
// values comes out shifted by one). What is left after folding is 16 bytes
// whose EDC equals that of the data folded, finished by the byte table
// with the tail.
//
// P: Horner's rule down the 24 rows, 86 bytes wide; multiplication by a is
// an add, a compare and an xor (AVX2) or one GF2P8AFFINEQB (AVX-512).
//
// Q, AVX2: the 26 x 43 word matrix is transposed 8 x 8 words at a time into
// columns stored twice over, so column Mq rotated by Mq (the words of the 26
// diagonals at position Mq) is one unaligned load; Horner's rule runs along
// the 43 positions with the diagonals in the lanes.
// Q, AVX-512: row by row. A word of row r, column c belongs to diagonal
// (r - c) mod 26 with weight a^(44 - c); columns c and c + 26 fold onto one
// 26-word vector, and rotating the running sum by one word per row lines up
// every diagonal. The per-column weights are multiplied with GF2P8MULB,
// whose field is x^8 + x^4 + x^3 + x + 1: the words are first mapped into
// that field by the isomorphism that sends a to a root of ours (one
// GF2P8AFFINEQB), and the sum is mapped back at the end.
#include "device/sector_math.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qv::sectors {

#if defined(__x86_64__)

namespace {

#define QV_AVX2 __attribute__((target("avx2,pclmul")))
#define QV_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,gfni,vpclmulqdq,pclmul")))

// ---- Constants ---------------------------------------------------------------

// Folding constants for a distance of D bits: the qword for H (x^(D+63)) and
// for L (x^(D-1)), each placed as a 64-bit reflected value.
struct Fold {
  uint64_t high, low;
};
constexpr Fold FoldBy(unsigned d) {
  return {uint64_t{EdcXPowerReflected(d + 63)} << 32, uint64_t{EdcXPowerReflected(d - 1)} << 32};
}

// Multiplication in the field of GF2P8MULB.
constexpr uint8_t MulAes(uint8_t a, uint8_t b) {
  unsigned r = 0, x = a;
  for (int i = 0; i < 8; ++i, x = (x << 1) ^ ((x & 0x80) ? 0x11B : 0))
    if (b & (1 << i)) r ^= x;
  return static_cast<uint8_t>(r);
}

// The isomorphism from our field to that one, as a table both ways.
struct Isomorphism {
  std::array<uint8_t, 256> to{}, from{};
  constexpr Isomorphism() {
    uint8_t root = 0;  // an element with root^8 + root^4 + root^3 + root^2 + 1 = 0
    for (unsigned b = 2; b < 256 && root == 0; ++b) {
      uint8_t p[9] = {1};
      for (int i = 1; i < 9; ++i) p[i] = MulAes(p[i - 1], static_cast<uint8_t>(b));
      if ((p[8] ^ p[4] ^ p[3] ^ p[2] ^ p[0]) == 0) root = static_cast<uint8_t>(b);
    }
    uint8_t power[8] = {1};
    for (int i = 1; i < 8; ++i) power[i] = MulAes(power[i - 1], root);
    for (unsigned x = 0; x < 256; ++x) {
      uint8_t y = 0;
      for (int i = 0; i < 8; ++i)
        if (x & (1u << i)) y ^= power[i];
      to[x] = y;
      from[y] = static_cast<uint8_t>(x);
    }
  }
};
constexpr Isomorphism kIso{};

// The GF2P8AFFINEQB matrix of a linear map of bytes: output bit i is the
// parity of x and the matrix byte 7 - i.
template <class Map>
constexpr uint64_t Matrix(Map map) {
  uint64_t m = 0;
  for (int i = 0; i < 8; ++i) {
    uint64_t row = 0;
    for (int k = 0; k < 8; ++k)
      if ((map(static_cast<uint8_t>(1 << k)) >> i) & 1) row |= uint64_t{1} << k;
    m |= row << (8 * (7 - i));
  }
  return m;
}
constexpr uint64_t kMatrixA = Matrix([](uint8_t x) { return kField.Mul(x, 2); });
constexpr uint64_t kMatrixK = Matrix([](uint8_t x) { return kField.Mul(x, kParityFactor); });
constexpr uint64_t kMatrixKa2 = Matrix([](uint8_t x) { return kField.Mul(x, kField.Mul(kParityFactor, 4)); });
constexpr uint64_t kMatrixTo = Matrix([](uint8_t x) { return kIso.to[x]; });
constexpr uint64_t kMatrixFrom = Matrix([](uint8_t x) { return kIso.from[x]; });

// PSHUFB tables of a constant factor: products of the low and the high nibble.
struct NibbleTable {
  alignas(32) uint8_t low[32], high[32];
  constexpr explicit NibbleTable(uint8_t factor) : low{}, high{} {
    for (int i = 0; i < 32; ++i) {
      low[i] = kField.Mul(factor, static_cast<uint8_t>(i & 15));
      high[i] = kField.Mul(factor, static_cast<uint8_t>((i & 15) << 4));
    }
  }
};
constexpr NibbleTable kNibbleK{kParityFactor};
constexpr NibbleTable kNibbleKa2{kField.Mul(kParityFactor, 4)};

// ---- AVX2 ------------------------------------------------------------------------

QV_AVX2 __m128i FoldXmm(__m128i s, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(s, k, 0x00), _mm_clmulepi64_si128(s, k, 0x11)), next);
}
QV_AVX2 __m128i Constant(Fold f) { return _mm_set_epi64x(static_cast<long long>(f.low), static_cast<long long>(f.high)); }

// Whole 16-byte blocks after the first, then the 16 state bytes and the tail
// through the table.
QV_AVX2 uint32_t FinishEdc(__m128i s, const uint8_t* data, size_t size) {
  const __m128i k128 = Constant(FoldBy(128));
  for (; size >= 16; size -= 16, data += 16)
    s = FoldXmm(s, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data)));
  alignas(16) uint8_t state[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(state), s);
  return EdcBytes(EdcBytes(0, state, 16), data, size);
}

QV_AVX2 __m128i Load128(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

QV_AVX2 uint32_t Avx2Edc(const uint8_t* data, size_t size) {
  if (size < 64) return EdcBytes(0, data, size);
  __m128i a0 = Load128(data), a1 = Load128(data + 16), a2 = Load128(data + 32), a3 = Load128(data + 48);
  data += 64;
  size -= 64;
  const __m128i k512 = Constant(FoldBy(512));
  for (; size >= 64; size -= 64, data += 64) {
    a0 = FoldXmm(a0, k512, Load128(data));
    a1 = FoldXmm(a1, k512, Load128(data + 16));
    a2 = FoldXmm(a2, k512, Load128(data + 32));
    a3 = FoldXmm(a3, k512, Load128(data + 48));
  }
  __m128i s = FoldXmm(a0, Constant(FoldBy(384)), a3);
  s = FoldXmm(a1, Constant(FoldBy(256)), s);
  s = FoldXmm(a2, Constant(FoldBy(128)), s);
  return FinishEdc(s, data, size);
}

QV_AVX2 __m256i MulA256(__m256i x) {
  const __m256i reduce = _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_setzero_si256(), x), _mm256_set1_epi8(0x1D));
  return _mm256_xor_si256(_mm256_add_epi8(x, x), reduce);
}
QV_AVX2 __m256i MulNibbles(__m256i x, const NibbleTable& t) {
  const __m256i mask = _mm256_set1_epi8(0x0F);
  const __m256i low = _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(t.low)),
                                          _mm256_and_si256(x, mask));
  const __m256i high = _mm256_shuffle_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(t.high)),
                                           _mm256_and_si256(_mm256_srli_epi16(x, 4), mask));
  return _mm256_xor_si256(low, high);
}
// p = k A0 + k a^2 H into p, q = A0 + p into q.
QV_AVX2 void Finish256(__m256i a0, __m256i h, uint8_t* p, uint8_t* q) {
  const __m256i first = _mm256_xor_si256(MulNibbles(a0, kNibbleK), MulNibbles(h, kNibbleKa2));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), first);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), _mm256_xor_si256(a0, first));
}

QV_AVX2 void Avx2ParityP(const uint8_t* rows, uint8_t* out) {
  __m256i a0[3], h[3];
  #pragma GCC unroll 8
  for (int v = 0; v < 3; ++v) a0[v] = h[v] = _mm256_setzero_si256();
  for (size_t r = 0; r < 24; ++r) {
    #pragma GCC unroll 8
    for (int v = 0; v < 3; ++v) {  // the third vector reads 10 bytes of the next row
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + r * kRowBytes + 32 * v));
      a0[v] = _mm256_xor_si256(a0[v], x);
      h[v] = _mm256_xor_si256(MulA256(h[v]), x);
    }
  }
  alignas(32) uint8_t p[96], q[96];
  #pragma GCC unroll 8
  for (int v = 0; v < 3; ++v) Finish256(a0[v], h[v], p + 32 * v, q + 32 * v);
  std::memcpy(out, p, kRowBytes);
  std::memcpy(out + kRowBytes, q, kRowBytes);
}

QV_AVX2 void Avx2ParityQ(const uint8_t* rows, uint8_t* out) {
  // column[c][i] = word (i mod 26) of column c, for i < 52.
  alignas(32) uint16_t column[43][64];
  // Rows 24..31 first: their zero rows 26..31 land on words the next groups overwrite.
  #pragma GCC unroll 8
  for (size_t group : {3, 0, 1, 2}) {
    #pragma GCC unroll 8
    for (size_t block = 0; block < 3; ++block) {
      __m256i r[8];
      #pragma GCC unroll 8
      for (size_t i = 0; i < 8; ++i) {
        const size_t row = 8 * group + i;
        r[i] = row < 26 ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows + row * kRowBytes + 32 * block))
                        : _mm256_setzero_si256();
      }
      // 8 x 8 words transposed within each 128-bit lane.
      __m256i t[8], u[8], v[8];
      #pragma GCC unroll 8
      for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm256_unpacklo_epi16(r[2 * i], r[2 * i + 1]);
        t[2 * i + 1] = _mm256_unpackhi_epi16(r[2 * i], r[2 * i + 1]);
      }
      #pragma GCC unroll 8
      for (int i = 0; i < 2; ++i) {
        u[4 * i] = _mm256_unpacklo_epi32(t[4 * i], t[4 * i + 2]);
        u[4 * i + 1] = _mm256_unpackhi_epi32(t[4 * i], t[4 * i + 2]);
        u[4 * i + 2] = _mm256_unpacklo_epi32(t[4 * i + 1], t[4 * i + 3]);
        u[4 * i + 3] = _mm256_unpackhi_epi32(t[4 * i + 1], t[4 * i + 3]);
      }
      #pragma GCC unroll 8
      for (int i = 0; i < 4; ++i) {
        v[2 * i] = _mm256_unpacklo_epi64(u[i], u[i + 4]);
        v[2 * i + 1] = _mm256_unpackhi_epi64(u[i], u[i + 4]);
      }
      #pragma GCC unroll 8
      for (size_t j = 0; j < 8; ++j) {
        const size_t c0 = 16 * block + j, c1 = c0 + 8;
        const __m128i low = _mm256_castsi256_si128(v[j]), high = _mm256_extracti128_si256(v[j], 1);
        #pragma GCC unroll 8
        for (size_t at : {8 * group, 26 + 8 * group}) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(&column[c0][at]), low);
          if (c1 < 43) _mm_storeu_si128(reinterpret_cast<__m128i*>(&column[c1][at]), high);
        }
      }
    }
  }
  __m256i a0[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()}, h[2] = {a0[0], a0[1]};
  for (size_t mq = 0; mq < 43; ++mq) {
    const uint16_t* diagonal = &column[mq][mq % 26];
    #pragma GCC unroll 8
    for (int v = 0; v < 2; ++v) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(diagonal + 16 * v));
      a0[v] = _mm256_xor_si256(a0[v], x);
      h[v] = _mm256_xor_si256(MulA256(h[v]), x);
    }
  }
  alignas(32) uint8_t p[64], q[64];
  #pragma GCC unroll 8
  for (int v = 0; v < 2; ++v) Finish256(a0[v], h[v], p + 32 * v, q + 32 * v);
  std::memcpy(out, p, 52);
  std::memcpy(out + 52, q, 52);
}

constexpr Kernels kAvx2{"avx2", &Avx2Edc, &Avx2ParityP, &Avx2ParityQ};

// ---- AVX-512 with GFNI and VPCLMULQDQ ---------------------------------------------

QV_AVX512 __m512i FoldZmm(__m512i s, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(s, k, 0x00), _mm512_clmulepi64_epi128(s, k, 0x11), next,
                                   0x96);
}
QV_AVX512 __m512i Broadcast(Fold f) {
  return _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_set_epi64x(static_cast<long long>(f.low), static_cast<long long>(f.high)));
}

QV_AVX512 uint32_t Avx512Edc(const uint8_t* data, size_t size) {
  if (size < 256) return Avx2Edc(data, size);
  __m512i a[4];
  #pragma GCC unroll 8
  for (int i = 0; i < 4; ++i) a[i] = _mm512_loadu_si512(data + 64 * i);
  data += 256;
  size -= 256;
  const __m512i k2048 = Broadcast(FoldBy(2048));
  for (; size >= 256; size -= 256, data += 256)
    #pragma GCC unroll 8
    for (int i = 0; i < 4; ++i) a[i] = FoldZmm(a[i], k2048, _mm512_loadu_si512(data + 64 * i));
  __m512i s = FoldZmm(a[0], Broadcast(FoldBy(1536)), a[3]);
  s = FoldZmm(a[1], Broadcast(FoldBy(1024)), s);
  s = FoldZmm(a[2], Broadcast(FoldBy(512)), s);
  // The four lanes, 384, 256 and 128 bits apart from the last.
  const Fold f384 = FoldBy(384), f256 = FoldBy(256), f128 = FoldBy(128);
  const __m512i k = _mm512_set_epi64(0, 0, static_cast<long long>(f128.low), static_cast<long long>(f128.high),
                                     static_cast<long long>(f256.low), static_cast<long long>(f256.high),
                                     static_cast<long long>(f384.low), static_cast<long long>(f384.high));
  const __m512i folded = _mm512_xor_si512(_mm512_clmulepi64_epi128(s, k, 0x00), _mm512_clmulepi64_epi128(s, k, 0x11));
  const __m128i last = _mm512_maskz_extracti32x4_epi32(0xF, s, 3);
  const __m128i x = _mm_ternarylogic_epi64(_mm512_maskz_extracti32x4_epi32(0xF, folded, 0), _mm512_maskz_extracti32x4_epi32(0xF, folded, 1),
                                           _mm512_maskz_extracti32x4_epi32(0xF, folded, 2), 0x96);
  return FinishEdc(_mm_xor_si128(x, last), data, size);
}

QV_AVX512 __m512i MulMatrix(__m512i x, uint64_t matrix) {
  return _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(matrix)), 0);
}

constexpr __mmask64 kLow22 = (__mmask64{1} << 22) - 1, kLow34 = (__mmask64{1} << 34) - 1,
                    kLow52 = (__mmask64{1} << 52) - 1;

QV_AVX512 void Avx512ParityP(const uint8_t* rows, uint8_t* out) {
  __m512i a0[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()}, h[2] = {a0[0], a0[1]};
  for (size_t r = 0; r < 24; ++r) {
    const uint8_t* row = rows + r * kRowBytes;
    const __m512i x[2] = {_mm512_loadu_si512(row), _mm512_maskz_loadu_epi8(kLow22, row + 64)};
    #pragma GCC unroll 8
    for (int v = 0; v < 2; ++v) {
      a0[v] = _mm512_xor_si512(a0[v], x[v]);
      h[v] = _mm512_xor_si512(MulMatrix(h[v], kMatrixA), x[v]);
    }
  }
  #pragma GCC unroll 8
  for (int v = 0; v < 2; ++v) {
    const __m512i first = _mm512_xor_si512(MulMatrix(a0[v], kMatrixK), MulMatrix(h[v], kMatrixKa2));
    const __m512i second = _mm512_xor_si512(a0[v], first);
    const __mmask64 keep = v == 0 ? ~__mmask64{0} : kLow22;
    _mm512_mask_storeu_epi8(out + 64 * v, keep, first);
    _mm512_mask_storeu_epi8(out + kRowBytes + 64 * v, keep, second);
  }
}

// Byte indexes of the word rotation (word j takes word j - 1, cyclic over
// 26), the reversal (word j takes word 25 - j), and the weights a^(44 - c)
// of columns 0..25 and 26..42, in the other field.
struct QTables {
  alignas(64) uint8_t rotate[64], reverse[64], weight0[64], weight1[64];
  constexpr QTables() : rotate{}, reverse{}, weight0{}, weight1{} {
    for (unsigned b = 0; b < 64; ++b) {
      const unsigned j = b / 2, h = b % 2;
      rotate[b] = static_cast<uint8_t>(j < 26 ? 2 * ((j + 25) % 26) + h : b);
      reverse[b] = static_cast<uint8_t>(j < 26 ? 2 * (25 - j) + h : b);
      weight0[b] = j < 26 ? kIso.to[kField.Pow(44 - j)] : 0;
      weight1[b] = j < 17 ? kIso.to[kField.Pow(18 - j)] : 0;
    }
  }
};
constexpr QTables kQ{};

QV_AVX512 void Avx512ParityQ(const uint8_t* rows, uint8_t* out) {
  const __m512i rotate = _mm512_load_si512(kQ.rotate);
  const __m512i weight0 = _mm512_load_si512(kQ.weight0), weight1 = _mm512_load_si512(kQ.weight1);
  __m512i sum = _mm512_setzero_si512(), weighted = _mm512_setzero_si512();
  for (size_t r = 0; r < 26; ++r) {
    const uint8_t* row = rows + r * kRowBytes;
    const __m512i y0 = _mm512_maskz_loadu_epi8(kLow52, row), y1 = _mm512_maskz_loadu_epi8(kLow34, row + 52);
    const __m512i products = _mm512_xor_si512(_mm512_gf2p8mul_epi8(MulMatrix(y0, kMatrixTo), weight0),
                                              _mm512_gf2p8mul_epi8(MulMatrix(y1, kMatrixTo), weight1));
    sum = _mm512_ternarylogic_epi64(_mm512_maskz_permutexvar_epi8(kLow52, rotate, sum), y0, y1, 0x96);
    weighted = _mm512_xor_si512(_mm512_maskz_permutexvar_epi8(kLow52, rotate, weighted), products);
  }
  const __m512i reverse = _mm512_load_si512(kQ.reverse);
  const __m512i a0 = _mm512_maskz_permutexvar_epi8(kLow52, reverse, sum);
  const __m512i a1 = MulMatrix(_mm512_maskz_permutexvar_epi8(kLow52, reverse, weighted), kMatrixFrom);
  const __m512i first = MulMatrix(_mm512_xor_si512(a0, a1), kMatrixK);
  _mm512_mask_storeu_epi8(out, kLow52, first);
  _mm512_mask_storeu_epi8(out + 52, kLow52, _mm512_xor_si512(a0, first));
}

constexpr Kernels kAvx512{"avx512-gfni", &Avx512Edc, &Avx512ParityP, &Avx512ParityQ};

}  // namespace

// __builtin_cpu_supports also asks whether the system saves the registers.
const Kernels* Avx2Kernels() {
  static const bool ok = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul");
  }();
  return ok ? &kAvx2 : nullptr;
}

const Kernels* Avx512Kernels() {
  static const bool ok = [] {
    __builtin_cpu_init();
    return Avx2Kernels() != nullptr && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("gfni") && __builtin_cpu_supports("vpclmulqdq");
  }();
  return ok ? &kAvx512 : nullptr;
}

#else  // not x86-64: the portable kernels only

const Kernels* Avx2Kernels() { return nullptr; }
const Kernels* Avx512Kernels() { return nullptr; }

#endif

}  // namespace qv::sectors
