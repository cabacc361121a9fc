#include "vdrive/subchannel.h"

#include <cstring>

#include "vdrive/cd_address.h"

namespace qv::vdrive {

uint16_t QCrc(const uint8_t* q10) {
  uint32_t crc = 0;
  for (int i = 0; i < 10; ++i) {
    crc ^= static_cast<uint32_t>(q10[i]) << 8;
    for (int k = 0; k < 8; ++k) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  return static_cast<uint16_t>(~crc);
}

void MakeQ(const QPosition& at, uint8_t* q) {
  const Msf rel = FramesToMsf(at.relative);
  const Msf abs = LbaToMsf(at.lba);
  q[0] = static_cast<uint8_t>(at.control << 4 | 0x01);  // ADR 1: position
  q[1] = ToBcd(at.track);
  q[2] = ToBcd(at.index);
  q[3] = ToBcd(rel.m);
  q[4] = ToBcd(rel.s);
  q[5] = ToBcd(rel.f);
  q[6] = 0;
  q[7] = ToBcd(abs.m);
  q[8] = ToBcd(abs.s);
  q[9] = ToBcd(abs.f);
  const uint16_t crc = QCrc(q);
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
}

void MakeCodeQ(uint8_t control, uint8_t adr, const std::string& code, int32_t lba, uint8_t* q) {
  std::memset(q, 0, 12);
  q[0] = static_cast<uint8_t>(control << 4 | adr);
  const auto digit = [&code](size_t i) { return static_cast<uint8_t>(i < code.size() ? (code[i] - '0') & 0x0F : 0); };
  if (adr == 2) {
    for (size_t i = 0; i < 13; ++i) q[1 + i / 2] |= static_cast<uint8_t>(digit(i) << (i % 2 ? 0 : 4));
  } else {
    uint32_t bits = 0;
    for (size_t i = 0; i < 5; ++i) {
      const char c = i < code.size() ? code[i] : '0';
      bits |= uint32_t(c >= 'A' ? c - 'A' + 0x11 : c - '0') << (26 - 6 * i);
    }
    for (int i = 0; i < 4; ++i) q[1 + i] = static_cast<uint8_t>(bits >> (24 - 8 * i));
    for (size_t i = 0; i < 7; ++i) q[5 + i / 2] |= static_cast<uint8_t>(digit(5 + i) << (i % 2 ? 0 : 4));
  }
  q[9] = ToBcd(LbaToMsf(lba).f);
  const uint16_t crc = QCrc(q);
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
}

void MakeRawPw(const uint8_t* q12, bool pause, uint8_t* raw) {
  for (int i = 0; i < 96; ++i) {
    const bool qBit = (q12[i / 8] >> (7 - i % 8)) & 1;
    raw[i] = static_cast<uint8_t>((pause ? 0x80 : 0) | (qBit ? 0x40 : 0));
  }
}

namespace {

constexpr int kPackSymbols = 24;

// The place a symbol takes within its pack before the delay.
int Swapped(int i) {
  switch (i) {
    case 1: return 18;
    case 18: return 1;
    case 2: return 5;
    case 5: return 2;
    case 3: return 23;
    case 23: return 3;
    default: return i;
  }
}

}  // namespace

void InterleaveRw(const uint8_t* packed, uint8_t* raw) {
  // Pack k of sector s is pack 8 + k of the three; place j of it comes from
  // the pack j mod 8 earlier.
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < kPackSymbols; ++j)
      raw[k * kPackSymbols + j] = packed[(8 + k - j % 8) * kPackSymbols + Swapped(j)] & 0x3F;
}

void DeinterleaveRw(const uint8_t* raw, uint8_t* packed) {
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < kPackSymbols; ++i) {
      const int j = Swapped(i);
      packed[k * kPackSymbols + i] = raw[(k + j % 8) * kPackSymbols + j] & 0x3F;
    }
}

}  // namespace qv::vdrive
