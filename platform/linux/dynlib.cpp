// Linux library loading. A Windows module name maps to, in this order:
//   1. the path or soname in QUORVANE_LIB_<BASE> (BASE: the module name
//      without ".dll", in upper case: QUORVANE_LIB_VORBISFILE);
//   2. a library built into the engine under that name;
//   3. the file the caller names, else the soname of the table below;
//   4. the name itself.
#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dynlib_internal.h"
#include "platform/errors.h"

namespace qv::plat {

const BuiltinLibrary& SgAspiLibrary();

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
};

const KnownModule* FindKnown(const std::string& base) {
  for (const auto& k : kKnownModules)
    if (base == k.base) return &k;
  return nullptr;
}

}  // namespace

const BuiltinLibrary* FindBuiltinLibrary(const std::string& base) {
  if (const BuiltinLibrary* lib = FindRegisteredBuiltin(base)) return lib;
  if (ModuleBaseName(SgAspiLibrary().name) == base) return &SgAspiLibrary();
  return nullptr;
}

std::string NativeModuleName(const std::string& base, const char* name, const ModuleFile* file) {
  if (file != nullptr && file->file != nullptr) return file->file;
  const KnownModule* known = FindKnown(base);
  return known ? known->soname : name;
}

void* LoadNativeLibrary(const std::string& target, uint32_t*) { return dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL); }

void FreeNativeLibrary(void* native) { dlclose(native); }
void* NativeLibrarySymbol(void* native, const char* symbol) { return dlsym(native, symbol); }

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
