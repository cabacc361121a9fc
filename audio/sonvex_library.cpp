// Decoder and encoder libraries, loaded by module name at run time.
#include <cstring>

#include "audio/sonvex.h"

CSonvex_Library::~CSonvex_Library() { qv::plat::FreeLibraryHandle(handle_); }

bool CSonvex_Library::Load(const char* module, std::initializer_list<Symbol> symbols) {
  handle_ = qv::plat::LoadLibraryByName(module, &error_);
  if (handle_ == nullptr) {
    SonvexI_Log("\nCSonvex_Library::Load(): LoadLibrary( '%s' ) failed, status %d ( 0x%x )\n", module,
                static_cast<int>(error_), error_);
    return false;
  }
  for (const Symbol& s : symbols) {
    void* p = qv::plat::GetLibrarySymbol(handle_, s.name, &error_);
    if (p == nullptr) {
      SonvexI_Log("\nCSonvex_Library::Load(): GetProcAddress( '%s', '%s' ) failed, status %d ( 0x%x )\n", module,
                  s.name, static_cast<int>(error_), error_);
      qv::plat::FreeLibraryHandle(handle_);
      handle_ = nullptr;
      return false;
    }
    std::memcpy(s.slot, &p, sizeof p);
  }
  SonvexI_Detail("\nCSonvex_Library::Load(): '%s' loaded, %d functions resolved\n", module,
                 static_cast<int>(symbols.size()));
  return true;
}
