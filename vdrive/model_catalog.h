// Drive models a virtual drive can be made as, by VENDOR:PRODUCT: the
// default recorder, and drives whose identity the engine's workarounds
// look for, each with the capabilities and the departures from the
// standard of its kind of drive.
#pragma once
#include <string>
#include <vector>

#include "vdrive/model.h"

namespace qv::vdrive {

const std::vector<DriveModel>& CatalogModels();
// The model with this vendor and product (exactly, without padding), or nullptr.
const DriveModel* FindCatalogModel(const std::string& vendor, const std::string& product);

}  // namespace qv::vdrive
