// The Q sub-channel's CRC-16 (x^16 + x^12 + x^5 + 1) over its first ten
// bytes, stored inverted: worked out bit by bit here, apart from the engine.
#pragma once
#include <cstdint>

namespace qvtest {
inline uint16_t QCrc(const uint8_t* q) {
  uint32_t crc = 0;
  for (int i = 0; i < 10; ++i) {
    crc ^= uint32_t{q[i]} << 8;
    for (int k = 0; k < 8; ++k) crc = crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1;
  }
  return static_cast<uint16_t>(~crc);
}
}  // namespace qvtest
