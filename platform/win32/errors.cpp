#include <windows.h>

#include "platform/errors.h"

namespace qv::plat {

// The OS already speaks the engine's numbers.
uint32_t LastSystemError() { return GetLastError(); }

}  // namespace qv::plat
