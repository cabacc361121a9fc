// Decoder and encoder libraries, loaded by module name at run time. A
// library stays loaded once it has been loaded: readers come and go by the
// thousand (every format probe opens one), and what a library leaks itself
// stays attributable to it.
#include <cstring>
#include <map>
#include <mutex>

#include "audio/sonvex.h"

namespace {

std::mutex g_librariesMutex;
// Never destroyed: the libraries outlive every static object that may
// still use them at exit.
std::map<std::string, qv::plat::LibraryHandle>& Loaded() {
  static auto* loaded = new std::map<std::string, qv::plat::LibraryHandle>;
  return *loaded;
}

}  // namespace

void SonvexI_ForgetLibraries() {
  std::lock_guard<std::mutex> lock(g_librariesMutex);
  for (auto& [name, handle] : Loaded()) qv::plat::FreeLibraryHandle(handle);
  Loaded().clear();
}

CSonvex_Library::~CSonvex_Library() = default;

bool CSonvex_Library::Load(const char* module, std::initializer_list<Symbol> symbols) {
  {
    std::lock_guard<std::mutex> lock(g_librariesMutex);
    auto it = Loaded().find(module);
    if (it != Loaded().end()) {
      handle_ = it->second;
    } else if ((handle_ = qv::plat::LoadLibraryByName(module, &error_)) != nullptr) {
      Loaded().emplace(module, handle_);
    }
  }
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
      handle_ = nullptr;
      return false;
    }
    std::memcpy(s.slot, &p, sizeof p);
  }
  SonvexI_Detail("\nCSonvex_Library::Load(): '%s' ready, %d functions resolved\n", module,
                 static_cast<int>(symbols.size()));
  return true;
}
