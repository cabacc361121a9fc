#include <unistd.h>

#include "platform/terminal.h"

namespace qv::plat {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace qv::plat
