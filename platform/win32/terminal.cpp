#include <windows.h>

#include "platform/terminal.h"

namespace qv::plat {

// A console answers GetConsoleMode; a file or pipe does not.
bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace qv::plat
