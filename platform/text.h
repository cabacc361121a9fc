// Names between the form the system hands them over in (UTF-8 on Linux, the
// ANSI code page on Windows) and UTF-16, which formats that store UCS-2
// need. A character outside the BMP comes out as a surrogate pair; what a
// format does with it is the format's business.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::plat {

// false with *error (1113, no Unicode translation) when narrow is not
// valid text of the system's encoding.
bool NarrowToWide(std::string_view narrow, std::u16string* wide, uint32_t* error);
// Units that have no narrow form (a lone surrogate on Linux, a character
// outside the code page on Windows) become '_'.
bool WideToNarrow(std::u16string_view wide, std::string* narrow, uint32_t* error);

}  // namespace qv::plat
