// The CRC of the CD subcode, shared by the Q subchannel and the CD-Text
// packs: generator x^16 + x^12 + x^5 + 1, initial value 0, most significant
// bit first. Discs store it inverted.
#pragma once
#include <cstddef>
#include <cstdint>

inline uint16_t QuorvaneI_SubcodeCrc(const uint8_t* data, size_t size) {
  unsigned crc = 0;
  for (size_t i = 0; i < size; ++i) {
    crc ^= static_cast<unsigned>(data[i]) << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  return static_cast<uint16_t>(crc);
}
