#include "vdrive/cd_text.h"

#include <cstring>

namespace qv::vdrive {

bool CdTextPackCrcGood(const uint8_t* pack) {
  uint32_t crc = 0;
  for (int i = 0; i < 16; ++i) {
    crc ^= static_cast<uint32_t>(pack[i]) << 8;
    for (int k = 0; k < 8; ++k) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  crc = ~crc & 0xFFFF;
  return pack[16] == (crc >> 8) && pack[17] == (crc & 0xFF);
}

void CdTextCollector::AddSector(const uint8_t* raw96) {
  uint8_t bytes[4 * kCdTextPackBytes];
  for (int i = 0; i < 24; ++i) {
    const uint32_t v = uint32_t(raw96[4 * i] & 0x3F) << 18 | uint32_t(raw96[4 * i + 1] & 0x3F) << 12 |
                       uint32_t(raw96[4 * i + 2] & 0x3F) << 6 | (raw96[4 * i + 3] & 0x3F);
    bytes[3 * i] = static_cast<uint8_t>(v >> 16);
    bytes[3 * i + 1] = static_cast<uint8_t>(v >> 8);
    bytes[3 * i + 2] = static_cast<uint8_t>(v);
  }
  for (int k = 0; k < 4; ++k) {
    const uint8_t* p = bytes + k * kCdTextPackBytes;
    // Types 80h-8Fh only: anything else is not CD-Text (an empty R-W, or graphics).
    if ((p[0] & 0xF0) != 0x80) continue;
    if (!CdTextPackCrcGood(p)) {
      ++bad_;
      continue;
    }
    const auto key = static_cast<uint16_t>((p[3] >> 4 & 0x07) << 8 | p[2]);
    std::memcpy(packs_[key].data(), p, kCdTextPackBytes);
  }
}

std::vector<uint8_t> CdTextCollector::Packs() const {
  std::vector<uint8_t> out;
  for (const auto& [key, pack] : packs_) out.insert(out.end(), pack.begin(), pack.end());
  return out;
}

CdTextStrings DecodeCdText(const std::vector<uint8_t>& packs) {
  CdTextStrings strings;
  std::map<uint8_t, std::pair<uint8_t, std::string>> open;  // by type: the track and text so far
  for (size_t at = 0; at + kCdTextPackBytes <= packs.size(); at += kCdTextPackBytes) {
    const uint8_t* p = &packs[at];
    const uint8_t type = p[0];
    if (type < 0x80 || type > 0x86 || (p[3] & 0x70) != 0 || (p[3] & 0x80) != 0) continue;  // block 0, 8-bit text
    auto& [track, text] = open[type];
    if (text.empty()) track = p[1] & 0x7F;
    for (int i = 4; i < 16; ++i) {
      if (p[i] != 0) {
        text += static_cast<char>(p[i]);
        continue;
      }
      strings[type][track] = text;
      text.clear();
      ++track;
      // The rest of a pack after the last string is padding.
      bool more = false;
      for (int k = i + 1; k < 16; ++k) more = more || p[k] != 0;
      if (!more) break;
    }
  }
  return strings;
}

}  // namespace qv::vdrive
