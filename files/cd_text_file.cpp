#include "files/cd_text_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "core/subcode_crc.h"

namespace {

constexpr uint8_t kTitle = 0x80, kSongwriter = 0x82;
constexpr size_t kTextBytes = 12;

std::string* Field(QuorvaneI_CdTextStrings& s, uint8_t type) {
  return type == kTitle ? &s.title : type == kSongwriter ? &s.songwriter : &s.performer;
}

std::string PackName(size_t index) { return "pack " + std::to_string(index + 1); }

// One pack type of block 0: the text of its packs in order, split at the
// NULs into the strings of consecutive tracks. Each pack's track number
// must be that of the string its first byte belongs to.
bool AssembleType(const uint8_t* packs, size_t count, uint8_t type, std::vector<QuorvaneI_CdTextStrings>* text,
                  std::string* error) {
  int track = -1;
  std::string current;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = packs + i * kQuorvaneCdTextPackSize;
    if (p[0] != type || (p[3] & 0x70) != 0) continue;
    if (track < 0) track = p[1] & 0x7F;
    // A writer that starts every string in a pack of its own pads the
    // pack before with NULs; the track number says where the text resumes.
    if ((p[1] & 0x7F) < track && current.empty() && (p[3] & 0x0F) == 0) track = p[1] & 0x7F;
    if ((p[1] & 0x7F) != track) {
      *error = PackName(i) + " is for track " + std::to_string(p[1] & 0x7F) + " where the text before it reaches track " +
               std::to_string(track);
      return false;
    }
    for (size_t b = 0; b < kTextBytes; ++b) {
      if (track > 99) break;  // padding after the last string
      if (p[4 + b] != 0) {
        current.push_back(static_cast<char>(p[4 + b]));
        continue;
      }
      if (text->size() <= static_cast<size_t>(track)) text->resize(track + 1);
      // A lone TAB repeats the string of the track before.
      if (current == "\t" && track > 0) current = *Field((*text)[track - 1], type);
      *Field((*text)[track], type) = current;
      current.clear();
      ++track;
      // NULs to the pack's end pad it; they name no further tracks.
      if (std::all_of(p + 5 + b, p + 4 + kTextBytes, [](uint8_t x) { return x == 0; })) break;
    }
  }
  return true;
}

}  // namespace

bool QuorvaneI_ParseCdTextPacks(const uint8_t* data, size_t size, std::vector<QuorvaneI_CdTextStrings>* text,
                                std::string* error) {
  text->clear();
  // The READ TOC header counts the bytes after its own length field.
  if (size >= 4 && (size - 4) % kQuorvaneCdTextPackSize <= 1 && size - 4 >= kQuorvaneCdTextPackSize &&
      static_cast<size_t>(data[0] << 8 | data[1]) + 2 >= size - 1 &&
      static_cast<size_t>(data[0] << 8 | data[1]) + 2 <= size) {
    data += 4;
    size -= 4;
  }
  if (size % kQuorvaneCdTextPackSize == 1 && data[size - 1] == 0) --size;
  if (size == 0 || size % kQuorvaneCdTextPackSize != 0) {
    *error = std::to_string(size) + " bytes is not a whole number of 18-byte CD-Text packs";
    return false;
  }
  const size_t count = size / kQuorvaneCdTextPackSize;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = data + i * kQuorvaneCdTextPackSize;
    const uint16_t crc = static_cast<uint16_t>(~QuorvaneI_SubcodeCrc(p, 16));
    if (p[16] != (crc >> 8) || p[17] != (crc & 0xFF)) {
      *error = PackName(i) + " has a wrong CRC";
      return false;
    }
    if (p[0] < 0x80 || p[0] > 0x8F) {
      *error = PackName(i) + " has no CD-Text pack type";
      return false;
    }
    if (p[0] <= kSongwriter && (p[3] & 0x70) == 0 && (p[3] & 0x80) != 0) {
      *error = PackName(i) + " holds double-byte characters, which are not supported";
      return false;
    }
  }
  for (uint8_t type = kTitle; type <= kSongwriter; ++type)
    if (!AssembleType(data, count, type, text, error)) return false;
  return true;
}

bool QuorvaneI_ReadCdTextFile(const std::string& path, std::vector<QuorvaneI_CdTextStrings>* text,
                              std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  // A CD-Text file holds at most 8 blocks of 256 packs.
  std::vector<uint8_t> bytes(8 * 256 * kQuorvaneCdTextPackSize + 6);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const size_t got = static_cast<size_t>(in.gcount());
  if (got == bytes.size()) {
    *error = path + " is too large for a CD-Text file";
    return false;
  }
  if (!QuorvaneI_ParseCdTextPacks(bytes.data(), got, text, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}
