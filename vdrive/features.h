// The feature descriptors of GET CONFIGURATION (MMC-5), built from the
// model and the disc in the drive.
#pragma once
#include <cstdint>
#include <vector>

#include "vdrive/model.h"
#include "vdrive/unit_state.h"

namespace qv::vdrive {

// Request types of GET CONFIGURATION byte 1.
enum RequestType : uint8_t { kAllFeatures = 0, kCurrentFeatures = 1, kOneFeature = 2 };

// The whole answer: the 8-byte feature header (data length, current
// profile) and the descriptors the request type selects from the starting
// feature on, in ascending order.
std::vector<uint8_t> Configuration(RequestType type, uint16_t startingFeature, const DriveModel& model,
                                   const DriveState& state);

}  // namespace qv::vdrive
