// Linux library loading. A Windows module name maps to, in this order:
//   1. the path or soname in QUORVANE_LIB_<BASE> (BASE: the module name
//      without ".dll", in upper case: QUORVANE_LIB_VORBISFILE);
//   2. a library built into the engine under that name;
//   3. the soname of the table below;
//   4. the name itself.
#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dynlib.h"
#include "platform/errors.h"

namespace qv::plat {

std::string ModuleBaseName(const char* name);
std::string ModuleOverrideVariable(const std::string& base);
const BuiltinLibrary* FindRegisteredBuiltin(const std::string& base);
const char* OrdinalSymbolPrefix(const std::string& base);
const BuiltinLibrary& SgAspiLibrary();

struct Library {
  void* dl = nullptr;                        // dlopen handle, or
  const BuiltinLibrary* builtin = nullptr;  // a built-in library
  std::string ordinalPrefix;
};

namespace {

struct KnownModule {
  const char* base;       // lower case, without ".dll"
  const char* soname;
};

const KnownModule kKnownModules[] = {
    {"vorbisfile", "libvorbisfile.so.3"},
    {"vorbisenc", "libvorbisenc.so.2"},
    {"vorbis", "libvorbis.so.0"},
    {"ogg", "libogg.so.0"},
    {"mpg123", "libmpg123.so.0"},
    {"flac", "libFLAC.so.12"},
    {"dtpro", "libquorvane_vdrive.so"},
    {"dralik", "libquorvane_vdrive.so"},
};

const KnownModule* FindKnown(const std::string& base) {
  for (const auto& k : kKnownModules)
    if (base == k.base) return &k;
  return nullptr;
}

const BuiltinLibrary* FindBuiltin(const std::string& base) {
  if (const BuiltinLibrary* lib = FindRegisteredBuiltin(base)) return lib;
  if (ModuleBaseName(SgAspiLibrary().name) == base) return &SgAspiLibrary();
  return nullptr;
}

}  // namespace

LibraryHandle LoadLibraryByName(const char* name, uint32_t* error) {
  if (error) *error = 0;
  if (name == nullptr || *name == '\0') {
    if (error) *error = kErrInvalidParameter;
    return nullptr;
  }
  const std::string base = ModuleBaseName(name);
  const KnownModule* known = FindKnown(base);
  const std::string envName = ModuleOverrideVariable(base);

  auto* lib = new Library;
  lib->ordinalPrefix = OrdinalSymbolPrefix(base);
  const char* override = std::getenv(envName.c_str());
  std::string target;
  if (override != nullptr) {
    target = override;
  } else if (const BuiltinLibrary* b = FindBuiltin(base)) {
    lib->builtin = b;
    return lib;
  } else {
    target = known ? known->soname : name;
  }
  lib->dl = target.empty() ? nullptr : dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib->dl == nullptr) {
    delete lib;
    if (error) *error = kErrModNotFound;
    return nullptr;
  }
  return lib;
}

void FreeLibraryHandle(LibraryHandle handle) {
  if (handle == nullptr) return;
  if (handle->dl) dlclose(handle->dl);
  delete handle;
}

void* GetLibrarySymbol(LibraryHandle handle, const char* symbol, uint32_t* error) {
  void* p = nullptr;
  if (handle && symbol) p = handle->builtin ? handle->builtin->resolve(symbol) : dlsym(handle->dl, symbol);
  if (error) *error = p ? 0 : kErrProcNotFound;
  return p;
}

void* GetLibraryOrdinal(LibraryHandle handle, uint16_t ordinal, uint32_t* error) {
  if (handle == nullptr) {
    if (error) *error = kErrInvalidHandle;
    return nullptr;
  }
  char symbol[64];
  std::snprintf(symbol, sizeof symbol, "%s%u", handle->ordinalPrefix.c_str(), ordinal);
  return GetLibrarySymbol(handle, symbol, error);
}

std::string LoadedModulePath(const char* moduleName) {
  if (moduleName == nullptr || ModuleBaseName(moduleName) != "quorvane") return {};
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LoadedModulePath), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

char PathSeparator() { return '/'; }

}  // namespace qv::plat
