// Helpers of the UDF tests: the outside UDF checkers, and the DVD-Video
// fixture.
#pragma once
#include <string>

#include "support/test_support.h"

namespace qvudf {

// udfinfo, "7z t -tudf" and "7z x -tudf" on an image; the extraction is
// compared with folder byte for byte, names and empty folders included.
// Empty when all agree, else what went wrong.
std::string UdfProblems(const std::string& image, const std::string& folder);

// The committed VIDEO_TS folder: two title sets, the first of two chapters.
std::string VideoTs();

}  // namespace qvudf
