#include "iso9660/volume_start.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kBlock = 2048;
constexpr int32_t kScannedBlocks = 30;
constexpr uint32_t kSystemAreaBlocks = 16;
constexpr int32_t kMostDescriptors = 16;

}  // namespace

int32_t QuorvaneI_CountVolumeDescriptors(const uint8_t* image, size_t imageBytes, int32_t blockCount) {
  int32_t count = 0;
  for (int32_t i = 0; image != nullptr && i < blockCount; ++i) {
    const size_t at = size_t(i) * kBlock + 1;
    if (at + 5 <= imageBytes && std::memcmp(image + at, "CD001", 5) == 0) ++count;
  }
  return count;
}

int32_t QuorvaneI_BuildVolumeStart(const uint8_t* image, size_t imageBytes,
                                   uint8_t start[kQuorvaneVolumeStartBlocks * 2048]) {
  const int32_t count = QuorvaneI_CountVolumeDescriptors(image, imageBytes, kScannedBlocks);
  if (count < 1 || count > kMostDescriptors) return 0;
  // An image too short for its own system area leaves the rest of it zero.
  const size_t system = kSystemAreaBlocks * kBlock;
  std::memset(start, 0, system);
  std::memcpy(start, image, std::min(imageBytes, system));
  const size_t descriptors = size_t(count) * kBlock;
  if (imageBytes > system) std::memcpy(start + system, image + system, std::min(descriptors, imageBytes - system));
  return count;
}
