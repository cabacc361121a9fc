// The kinds of disc the drive takes: their names on the command line, their
// MMC profile numbers and their physical facts.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::vdrive {

// MMC-5 profile numbers (GET CONFIGURATION, feature 0000h).
enum Profile : uint16_t {
  kProfileNone = 0x0000,
  kProfileCdRom = 0x0008,
  kProfileCdR = 0x0009,
  kProfileCdRw = 0x000A,
  kProfileDvdRom = 0x0010,
  kProfileDvdR = 0x0011,
  kProfileDvdRam = 0x0012,
  kProfileDvdRwRestricted = 0x0013,
  kProfileDvdRwSequential = 0x0014,
  kProfileDvdPlusRw = 0x001A,
  kProfileDvdPlusR = 0x001B,
  kProfileDvdPlusRDl = 0x002B,
};

enum class MediaFamily : uint8_t { Cd, Dvd };

struct MediaType {
  const char* name;    // "cd-r"
  uint16_t profile;    // its profile when blank (or pressed)
  MediaFamily family;
  bool pressed;        // ROM: content comes from the factory
  bool rewritable;
  bool randomAccess;   // written anywhere, no tracks (DVD+RW, DVD-RAM)
  bool dashFormat;     // DVD-R / DVD-RW: the "minus" recording rules
  bool plusFormat;     // DVD+R, DVD+R DL, DVD+RW
  uint32_t capacity;   // user blocks of 2048 bytes
  uint32_t largest;    // the most any disc of the type holds: a description may ask up to this
};

// Every media type, in the order of the command line's list.
const std::vector<MediaType>& MediaTypes();
// nullptr when the name is not one of them (case matters: "cd-r").
const MediaType* FindMediaType(std::string_view name);
const MediaType* FindMediaTypeByProfile(uint16_t profile);
// "cd-rom, cd-r, ..." for messages.
std::string MediaTypeNames();

// 1x in kilobytes (1000 bytes) per second.
inline constexpr uint32_t kCdSpeed1x = 176;   // 176.4, as drives round it
inline constexpr uint32_t kDvdSpeed1x = 1385;

}  // namespace qv::vdrive
