#include <cerrno>

#include "platform/errors.h"

namespace qv::plat {

uint32_t LastSystemError() { return SystemErrorFromErrno(errno); }

}  // namespace qv::plat
