// Windows library loading. A module name maps to, in this order:
//   1. the path in QUORVANE_LIB_<BASE> (as on Linux);
//   2. a library built into the engine under that name;
//   3. the module itself, through the system's search order.
// Ordinals of built-in libraries use the Linux names; real modules are
// asked by ordinal.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/dynlib_internal.h"
#include "platform/errors.h"

namespace qv::plat {

namespace {

HMODULE Module(void* native) { return static_cast<HMODULE>(native); }

}  // namespace

const BuiltinLibrary* FindBuiltinLibrary(const std::string& base) { return FindRegisteredBuiltin(base); }

std::string NativeModuleName(const std::string&, const char* name, const ModuleFile*) { return name; }

void* LoadNativeLibrary(const std::string& target, uint32_t* error) {
  // No "cannot find module" dialog boxes for a library that is optional.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(target.c_str());
  if (module == nullptr && GetLastError() != 0) *error = GetLastError();
  SetErrorMode(oldMode);
  return module;
}

void FreeNativeLibrary(void* native) { FreeLibrary(Module(native)); }
void* NativeLibrarySymbol(void* native, const char* symbol) {
  return reinterpret_cast<void*>(GetProcAddress(Module(native), symbol));
}

void* GetLibraryOrdinal(LibraryHandle handle, uint16_t ordinal, uint32_t* error) {
  if (handle == nullptr) {
    if (error) *error = kErrInvalidHandle;
    return nullptr;
  }
  if (handle->builtin) {
    char symbol[64];
    std::snprintf(symbol, sizeof symbol, "%s%u", handle->ordinalPrefix.c_str(), ordinal);
    return GetLibrarySymbol(handle, symbol, error);
  }
  void* p = reinterpret_cast<void*>(GetProcAddress(Module(handle->native), MAKEINTRESOURCEA(ordinal)));
  if (error) *error = p ? 0 : kErrProcNotFound;
  return p;
}

std::string LoadedModulePath(const char* moduleName) {
  if (moduleName == nullptr || ModuleBaseName(moduleName) != "quorvane") return {};
  // The engine may live in Quorvane.dll, in the automation server that
  // carries it, or in a program linked with the static library: ask for
  // the module holding this very function.
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&LoadedModulePath), &self))
    return {};
  char path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(self, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return std::string(path, n);
}

char PathSeparator() { return '\\'; }

}  // namespace qv::plat
