// quorvane image bin: registered under the image command beside image iso.
#pragma once
#include <functional>

#include "common.h"

namespace qvcli {

// Adds the bin subcommand to image; the function runs it once parsed.
std::function<int()> AddImageBin(CLI::App& image, const GlobalOptions& global);

}  // namespace qvcli
