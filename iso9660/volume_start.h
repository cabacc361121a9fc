// The start of the volume for an image recorded at a later address of an
// overwritable medium (DVD+RW, DVD-RAM, DVD-RW in restricted overwrite). A
// reader finds a volume only through the descriptors at block 16, so after
// such an image the disc's first blocks are rewritten: blocks 0-15 become
// the image's system area and the image's volume descriptor set replaces
// the first blocks of the old one. What follows the new set in blocks
// 16-31 stays as the disc held it.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kQuorvaneVolumeStartBlocks = 32;

// Volume descriptors (standard identifier "CD001") among the first
// blockCount 2048-byte blocks of an image.
int32_t QuorvaneI_CountVolumeDescriptors(const uint8_t* image, size_t imageBytes, int32_t blockCount);

// image: the image's first imageBytes bytes (its first 30 blocks where it
// has them); start: the disc's blocks 0-31, rewritten in place to what
// must be recorded at block 0. Returns the number of descriptors taken
// over; 0 when the image's start holds none or more than 16, and then
// start is left as it was.
int32_t QuorvaneI_BuildVolumeStart(const uint8_t* image, size_t imageBytes,
                                   uint8_t start[kQuorvaneVolumeStartBlocks * 2048]);
