// The error detection and correction bytes of CD-ROM sectors (ECMA-130
// 14.3 and Annex A): the 32-bit EDC and the P and Q parity of the
// Reed-Solomon product code over GF(2^8). The drive computes them itself
// when a host asks READ CD for raw sectors, as a real drive's encoder did
// when the disc was written.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::vdrive {

inline constexpr size_t kRawSectorBytes = 2352;

// The EDC of count bytes (a CRC with the ECMA-130 polynomial
// (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1), least significant bit first).
uint32_t SectorEdc(const uint8_t* data, size_t count);

// Fills the 172 P-parity and 104 Q-parity bytes (sector bytes 2076-2351)
// from bytes 12-2075 of a 2352-byte sector. Mode 2 Form 1 sectors count
// their four header bytes as zero, as ECMA-130 asks; pass zeroHeader.
void SectorEccParity(uint8_t* sector, bool zeroHeader);

// Completes a Mode 1 sector whose sync, header and user data (bytes
// 0-2063) are in place: EDC, the eight zero bytes and the parity.
void FinishMode1Sector(uint8_t* sector);
// Completes a Mode 2 sector whose sync, header, subheader and user data are
// in place: Form 1 (subheader submode bit 5 clear) gets EDC and parity,
// Form 2 its EDC over bytes 16-2347.
void FinishMode2Sector(uint8_t* sector);

}  // namespace qv::vdrive
