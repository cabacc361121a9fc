// Raw CD sectors and their subchannels (ECMA-130 14-16 and 22): the one
// builder of 2352-byte sectors for every layout, the scrambler, the Q
// subchannel with its CRC, the P channel, and the two subchannel forms
// that follow a sector:
//  - formatted P-Q, 16 bytes: Q bytes 0-9, its CRC 10-11, 12-14 zero,
//    byte 15 bit 7 the P bit (2352 + 16 = 2368-byte sectors);
//  - raw P-W, 96 bytes, one per symbol: bit 7 P, bit 6 Q, ... bit 0 W
//    (2352 + 96 = 2448-byte sectors).
// While raw P-W is assembled the subchannels may be kept as 8 planes of 12
// bytes (P, Q, R ... W), each plane's 96 bits most significant bit first.
//
// Addresses are logical block addresses: LBA 0 is 00:02:00, and addresses
// before -150 (the lead-in) are written as LBA + 450150.
#pragma once
#include <cstddef>
#include <cstdint>

#include "device/edc_ecc.h"

inline constexpr size_t kQuorvaneRawPQSectorSize = 2368;
inline constexpr size_t kQuorvaneRawPWSectorSize = 2448;

enum class QuorvaneI_SectorLayout : uint8_t {
  Audio,       // 2352 bytes of samples
  Mode0,       // sync, header, 2336 zero bytes
  Mode1,       // 2048 bytes of user data
  Mode2,       // 2336 bytes after the header, no EDC/ECC ("formless")
  Mode2Form1,  // sub-header and 2048 bytes of user data
  Mode2Form2,  // sub-header and 2324 bytes of user data
};

// The user bytes one sector of a layout carries.
size_t QuorvaneI_SectorUserBytes(QuorvaneI_SectorLayout layout);

// BCD of 0..99.
inline uint8_t QuorvaneI_Bcd(unsigned value) { return static_cast<uint8_t>((value / 10 % 10) << 4 | value % 10); }
// A count of frames as BCD minute, second, frame.
void QuorvaneI_FramesToMsf(uint32_t frames, uint8_t* msf);
// The absolute time of an address.
void QuorvaneI_AddressToMsf(int32_t address, uint8_t* msf);

class CQuorvane_RawSectorBuilder {
 public:
  explicit CQuorvane_RawSectorBuilder(const CQuorvane_EDCECC& edcecc) : m__EDCECC(edcecc) {}

  // One 2352-byte sector at address: sync, header, sub-header (Form 1 and 2;
  // 4 bytes, written twice), user data (nullptr: zeros) and EDC/ECC. Audio is
  // the user data alone.
  void Build(QuorvaneI_SectorLayout layout, int32_t address, const uint8_t* userData, const uint8_t* subHeader,
             uint8_t* sector) const;
  // count sectors from consecutive addresses, user data back to back, each
  // sector stride bytes after the last (2352, 2368 or 2448).
  void BuildMany(QuorvaneI_SectorLayout layout, int32_t address, uint32_t count, const uint8_t* userData,
                 const uint8_t* subHeader, uint8_t* sectors, size_t stride) const;

 private:
  const CQuorvane_EDCECC& m__EDCECC;
};

// XORs bytes 12-2351 with the ECMA-130 scrambler sequence (x^15 + x + 1,
// seeded with 1); doing it twice undoes it.
void QuorvaneI_Scramble(uint8_t* sector);
// Scrambles a sector that carries the sync and mode 1 or 2; true when it did.
bool QuorvaneI_ScrambleDataSector(uint8_t* sector);

// ---- Subchannels ----------------------------------------------------------------------

// The CRC of Q bytes 0-9 (x^16 + x^12 + x^5 + 1, initial 0, most significant
// bit first), and bytes 10-11 set to it inverted.
uint16_t QuorvaneI_QCrc(const uint8_t* q);
void QuorvaneI_SetQCrc(uint8_t* q);
bool QuorvaneI_CheckQCrc(const uint8_t* q);

// The 12 Q bytes (ADR 1) of a position in a track or pre-gap: control 4 for
// data, 0 for audio; relative is the frame count within the track (or
// left until its start in a pre-gap). The lead-out is track AAh, index 1.
void QuorvaneI_QPosition(uint8_t control, uint8_t track, uint8_t index, uint32_t relative, int32_t address,
                         uint8_t* q);
// The 12 Q bytes of a lead-in TOC entry at address: POINT and P-MIN, P-SEC,
// P-FRAME as given (BCD already).
void QuorvaneI_QLeadIn(uint8_t control, uint8_t point, int32_t address, const uint8_t* pTime, uint8_t* q);

// Formatted P-Q: the 16 bytes after a sector.
void QuorvaneI_FormatPQ(const uint8_t* q, bool p, uint8_t* pq16);
// Raw P-W: the 12 Q bytes spread over bit 6 of the 96 bytes (first byte's
// bit 7 first), P (all 96 bits) over bit 7; bits 5-0 are left as they are.
void QuorvaneI_SpreadRawPW(const uint8_t* q, bool p, uint8_t* raw96);
// Bit j of plane k to bit 7 - k of raw byte j, and back.
void QuorvaneI_PlanesToRawPW(const uint8_t* planes96, uint8_t* raw96);
void QuorvaneI_RawPWToPlanes(const uint8_t* raw96, uint8_t* planes96);
