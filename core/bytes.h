// Numbers as the disc formats, the drives and the file formats store
// them: little-endian, big-endian, and ECMA-119's both-endian form
// (little-endian, then big-endian). Every engine folder reads and writes
// multi-byte numbers through these; the virtual drive keeps its own.
#pragma once
#include <cstdint>

inline void QuorvaneI_PutLE16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
inline void QuorvaneI_PutBE16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v >> 8);
  at[1] = static_cast<uint8_t>(v);
}
inline void QuorvaneI_PutLE32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void QuorvaneI_PutBE24(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 3; ++i) at[i] = static_cast<uint8_t>(v >> (8 * (2 - i)));
}
inline void QuorvaneI_PutBE32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline void QuorvaneI_PutLE64(uint8_t* at, uint64_t v) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void QuorvaneI_PutBoth16(uint8_t* at, uint16_t v) {
  QuorvaneI_PutLE16(at, v);
  QuorvaneI_PutBE16(at + 2, v);
}
inline void QuorvaneI_PutBoth32(uint8_t* at, uint32_t v) {
  QuorvaneI_PutLE32(at, v);
  QuorvaneI_PutBE32(at + 4, v);
}
inline uint16_t QuorvaneI_LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t QuorvaneI_LE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint16_t QuorvaneI_BE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t QuorvaneI_BE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline uint64_t QuorvaneI_LE64(const uint8_t* p) {
  return uint64_t{QuorvaneI_LE32(p)} | uint64_t{QuorvaneI_LE32(p + 4)} << 32;
}
