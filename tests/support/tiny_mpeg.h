// Test inputs for Video CD tools: a tiny MPEG-1 system stream.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

namespace qvtest {

// A small MPEG-1 system stream that vcdimager takes: pack, system header,
// video packets with a sequence header, GOP and picture headers.
inline std::string TinyMpeg() {
  std::string out;
  auto bytes = [&](std::initializer_list<int> b) {
    for (int v : b) out.push_back(static_cast<char>(v));
  };
  const std::string seq = std::string("\x00\x00\x01\xB3\x16\x00\xF0\x14\x04\x93\xE0\x00", 12);
  const std::string gop = std::string("\x00\x00\x01\xB8\x00\x08\x00\x00", 8);
  const std::string pic = std::string("\x00\x00\x01\x00\x00\x0F\xFF\xF8", 8);
  const std::string slice = std::string("\x00\x00\x01\x01", 4);
  for (int i = 0; i < 200; ++i) {
    const uint64_t scr = 3000ull * i;
    bytes({0x00, 0x00, 0x01, 0xBA, static_cast<int>(0x21 | ((scr >> 29) & 0x0E)), static_cast<int>((scr >> 22) & 0xFF),
           static_cast<int>(0x01 | ((scr >> 14) & 0xFE)), static_cast<int>((scr >> 7) & 0xFF),
           static_cast<int>(0x01 | ((scr << 1) & 0xFE)), 0x80, 0x07, 0xD1});
    if (i == 0) bytes({0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C, 0x80, 0x07, 0xD1, 0x05, 0xE1, 0xFF, 0xE0, 0xE0, 0x2E, 0xC0, 0xC0, 0x20});
    std::string payload = (i == 0 ? seq : "") + gop + pic + slice + std::string(i == 0 ? 200 : 1500, i == 0 ? '\x12' : '\x56');
    const size_t len = payload.size() + 1;
    bytes({0x00, 0x00, 0x01, 0xE0, static_cast<int>(len >> 8), static_cast<int>(len & 0xFF), 0x0F});
    out += payload;
  }
  bytes({0x00, 0x00, 0x01, 0xB9});
  return out;
}

}  // namespace qvtest
