// The Q subchannel of a program-area sector (ECMA-130 22.3, mode 1:
// position) and the 96 raw P-W bytes a sector carries, as READ CD returns
// them.
#pragma once
#include <cstdint>
#include <string>

namespace qv::vdrive {

// Where a sector lies, as the Q subchannel tells it.
struct QPosition {
  uint8_t control = 0;     // CONTROL nibble: 8 four channels, 4 data, 2 copy permitted, 1 pre-emphasis/incremental
  uint8_t track = 1;       // 1-99
  uint8_t index = 1;       // 0 in the pause before the track
  uint32_t relative = 0;   // frames from index 1 (counting down in the pause)
  int32_t lba = 0;         // the absolute address
};

// The CRC of the first ten Q bytes: x^16 + x^12 + x^5 + 1, most
// significant bit first, stored inverted (ECMA-130 22.3.5).
uint16_t QCrc(const uint8_t* q10);

// The twelve Q bytes of a position: CONTROL/ADR, TNO, INDEX, MIN, SEC,
// FRAME, ZERO, AMIN, ASEC, AFRAME in BCD, then the CRC.
void MakeQ(const QPosition& at, uint8_t* q12);

// The Q of ADR 2 (the 13-digit catalogue number in BCD) or ADR 3 (the
// ISRC: five 6-bit characters, then seven BCD digits), each followed by
// the absolute frame (ECMA-130 22.3.3, 22.3.4).
void MakeCodeQ(uint8_t control, uint8_t adr, const std::string& code, int32_t lba, uint8_t* q12);

// The 96 raw subchannel bytes: bit 7 of each is P, bit 6 Q, bits 5-0 R-W
// (zero here; the caller ORs in what was recorded). P is set throughout a
// pause.
void MakeRawPw(const uint8_t* q12, bool pause, uint8_t* raw96);

// The program area's R-W interleave (IEC 60908, the subcode channels R-W):
// each sector carries four packs of 24 six-bit symbols. Within a pack
// symbols 1 and 18, 2 and 5, 3 and 23 change places, then the symbol at
// place j is delayed by j mod 8 packs, so a pack is spread over eight
// packs and reaches up to two sectors further on. Both take the low six
// bits of each byte and give bytes with bits 7-6 clear.
//
// The recorded (interleaved) R-W of a sector from the packed R-W of that
// sector and the two before it: packed288 holds sectors s-2, s-1, s.
void InterleaveRw(const uint8_t* packed288, uint8_t* raw96);
// The packed (de-interleaved) R-W of a sector from the recorded R-W of it
// and the two after it: raw288 holds sectors s, s+1, s+2.
void DeinterleaveRw(const uint8_t* raw288, uint8_t* packed96);

}  // namespace qv::vdrive
