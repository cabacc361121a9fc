#include "platform/dynlib.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <cctype>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dynlib_internal.h"
#include "platform/errors.h"

namespace qv::plat {

std::vector<const BuiltinLibrary*>& BuiltinLibraries() {
  static std::vector<const BuiltinLibrary*> list;
  return list;
}
std::mutex& BuiltinLibrariesMutex() {
  static std::mutex m;
  return m;
}

void RegisterBuiltinLibrary(const BuiltinLibrary* library) {
  std::lock_guard<std::mutex> lock(BuiltinLibrariesMutex());
  auto& list = BuiltinLibraries();
  for (auto& entry : list) {
    bool same = true;
    const char *a = entry->name, *b = library->name;
    for (; *a && *b; ++a, ++b) {
      if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
        same = false;
        break;
      }
    }
    if (same && *a == *b) {
      entry = library;  // a later registration replaces an earlier one
      return;
    }
  }
  list.push_back(library);
}

void UnregisterBuiltinLibrary(const BuiltinLibrary* library) {
  std::lock_guard<std::mutex> lock(BuiltinLibrariesMutex());
  auto& list = BuiltinLibraries();
  std::erase(list, library);
}

std::string ModuleBaseName(const char* name) {
  std::string base;
  for (const char* p = name; *p; ++p) base += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  if (base.size() > 4 && base.compare(base.size() - 4, 4, ".dll") == 0) base.resize(base.size() - 4);
  return base;
}

std::string ModuleOverrideVariable(const std::string& base) {
  std::string name = "QUORVANE_LIB_";
  for (char c : base) name += static_cast<char>(std::isalnum(static_cast<unsigned char>(c)) ? std::toupper(c) : '_');
  return name;
}

const BuiltinLibrary* FindRegisteredBuiltin(const std::string& base) {
  std::lock_guard<std::mutex> lock(BuiltinLibrariesMutex());
  for (const BuiltinLibrary* lib : BuiltinLibraries())
    if (ModuleBaseName(lib->name) == base) return lib;
  return nullptr;
}

// A module name maps to, in this order: the file in QUORVANE_LIB_<BASE>;
// a library built into the engine under that name; the system's own file
// for the name.
LibraryHandle LoadLibraryByName(const char* name, uint32_t* error, const ModuleFile* known) {
  if (error) *error = 0;
  if (name == nullptr || *name == '\0') {
    if (error) *error = kErrInvalidParameter;
    return nullptr;
  }
  const std::string base = ModuleBaseName(name);
  const char* override = std::getenv(ModuleOverrideVariable(base).c_str());
  auto lib = std::make_unique<Library>();
  // Where a library has no ordinals (a shared object, a built-in library),
  // ordinal N is the symbol "<prefix>N".
  lib->ordinalPrefix = known && known->ordinalPrefix ? known->ordinalPrefix : "Ordinal";
  if (override == nullptr) lib->builtin = FindBuiltinLibrary(base);
  if (lib->builtin != nullptr) return lib.release();
  const std::string target = override != nullptr ? override : NativeModuleName(base, name, known);
  uint32_t loadError = kErrModNotFound;
  lib->native = target.empty() ? nullptr : LoadNativeLibrary(target, &loadError);
  if (lib->native == nullptr) {
    if (error) *error = loadError;
    return nullptr;
  }
  return lib.release();
}

void FreeLibraryHandle(LibraryHandle handle) {
  if (handle == nullptr) return;
  if (handle->native) FreeNativeLibrary(handle->native);
  delete handle;
}

void* GetLibrarySymbol(LibraryHandle handle, const char* symbol, uint32_t* error) {
  void* p = nullptr;
  if (handle && symbol)
    p = handle->builtin ? handle->builtin->resolve(symbol) : NativeLibrarySymbol(handle->native, symbol);
  if (error) *error = p ? 0 : kErrProcNotFound;
  return p;
}

}  // namespace qv::plat
