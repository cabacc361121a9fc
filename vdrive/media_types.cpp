#include "vdrive/media_types.h"

namespace qv::vdrive {

namespace {
// Capacities: an 80-minute CD (lead-out at 79:59:74), and the user data
// zones of 4.7 GB single-layer DVDs (DVD-R/-RW 2298496, DVD+R/+RW 2295104),
// an 8.5 GB DVD+R DL and a 4.7 GB DVD-RAM. The largest: a 99-minute CD
// (lead-out at 99:59:74), the DVD-R's zone for every single-layer
// recordable, a dual-layer DVD (ECMA-364), and the unformatted DVD-RAM
// (ECMA-330).
constexpr uint32_t kCd99 = 449849, kDvdSingle = 2298496, kDvdDual = 4173824, kDvdRam = 2295104;
const std::vector<MediaType> kTypes = {
    // name       profile                  family              pressed rewr   random dash   plus   capacity  largest
    {"cd-rom", kProfileCdRom, MediaFamily::Cd, true, false, false, false, false, 359849, kCd99},
    {"cd-r", kProfileCdR, MediaFamily::Cd, false, false, false, false, false, 359849, kCd99},
    {"cd-rw", kProfileCdRw, MediaFamily::Cd, false, true, false, false, false, 359849, kCd99},
    {"dvd-rom", kProfileDvdRom, MediaFamily::Dvd, true, false, false, false, false, 2295104, kDvdDual},
    {"dvd-r", kProfileDvdR, MediaFamily::Dvd, false, false, false, true, false, 2298496, kDvdSingle},
    {"dvd-rw", kProfileDvdRwSequential, MediaFamily::Dvd, false, true, false, true, false, 2298496, kDvdSingle},
    {"dvd+r", kProfileDvdPlusR, MediaFamily::Dvd, false, false, false, false, true, 2295104, kDvdSingle},
    {"dvd+r-dl", kProfileDvdPlusRDl, MediaFamily::Dvd, false, false, false, false, true, 4173824, kDvdDual},
    {"dvd+rw", kProfileDvdPlusRw, MediaFamily::Dvd, false, true, true, false, true, 2295104, kDvdSingle},
    {"dvd-ram", kProfileDvdRam, MediaFamily::Dvd, false, true, true, false, false, 2236704, kDvdRam},
};
}  // namespace

const std::vector<MediaType>& MediaTypes() { return kTypes; }

const MediaType* FindMediaType(std::string_view name) {
  for (const auto& t : kTypes)
    if (name == t.name) return &t;
  return nullptr;
}

const MediaType* FindMediaTypeByProfile(uint16_t profile) {
  for (const auto& t : kTypes)
    if (t.profile == profile) return &t;
  // A DVD-RW in restricted overwrite mode is still a DVD-RW.
  if (profile == kProfileDvdRwRestricted) return FindMediaType("dvd-rw");
  return nullptr;
}

std::string MediaTypeNames() {
  std::string names;
  for (const auto& t : kTypes) {
    if (!names.empty()) names += ", ";
    names += t.name;
  }
  return names;
}

}  // namespace qv::vdrive
