// The blocks recorded at the start of an overwritable disc after an image
// written at a later address.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "iso9660/volume_start.h"

namespace {

constexpr size_t kBlock = 2048;

// An image of blocks, descriptors at 16.. marked "CD001", every byte of a
// block holding its block number plus one.
std::vector<uint8_t> Image(size_t blocks, int descriptors) {
  std::vector<uint8_t> image(blocks * kBlock);
  for (size_t b = 0; b < blocks; ++b) std::memset(image.data() + b * kBlock, int(b + 1), kBlock);
  for (int d = 0; d < descriptors; ++d) std::memcpy(image.data() + (16 + d) * kBlock + 1, "CD001", 5);
  return image;
}

TEST(VolumeStart, TakesTheSystemAreaAndTheDescriptorsAndKeepsTheRest) {
  struct Case {
    size_t imageBlocks;
    int descriptors;
    int32_t taken;  // 0: the disc's start stays as it was
  } cases[] = {{30, 3, 3}, {30, 14, 14}, {19, 3, 3}, {30, 0, 0}, {4, 0, 0}};  // the last: shorter than its system area
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.imageBlocks << " blocks, " << c.descriptors << " descriptors");
    const std::vector<uint8_t> image = Image(c.imageBlocks, c.descriptors);
    const size_t head = std::min(image.size(), size_t{30} * kBlock);
    std::vector<uint8_t> disc(kQuorvaneVolumeStartBlocks * kBlock, 0xEE);
    ASSERT_EQ(QuorvaneI_BuildVolumeStart(image.data(), head, disc.data()), c.taken);
    for (size_t b = 0; b < kQuorvaneVolumeStartBlocks; ++b) {
      const bool fromImage = c.taken > 0 && b < 16 + size_t(c.taken);
      EXPECT_EQ(disc[b * kBlock + 100], fromImage ? uint8_t(b + 1) : 0xEE) << "block " << b;
    }
  }
}

}  // namespace
