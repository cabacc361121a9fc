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

LibraryHandle LoadLibraryByName(const char* name, uint32_t* error) {
  if (error) *error = 0;
  if (name == nullptr || *name == '\0') {
    if (error) *error = kErrInvalidParameter;
    return nullptr;
  }
  const std::string base = ModuleBaseName(name);
  const char* override = std::getenv(ModuleOverrideVariable(base).c_str());
  std::string target = name;
  if (override != nullptr) {
    target = override;
  } else if (const BuiltinLibrary* b = FindRegisteredBuiltin(base)) {
    auto* lib = new Library;
    lib->builtin = b;
    return lib;
  }
  // No "cannot find module" dialog boxes for a library that is optional.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = target.empty() ? nullptr : LoadLibraryA(target.c_str());
  const DWORD loadError = module ? 0 : (target.empty() ? ERROR_MOD_NOT_FOUND : GetLastError());
  SetErrorMode(oldMode);
  if (module == nullptr) {
    if (error) *error = loadError ? loadError : kErrModNotFound;
    return nullptr;
  }
  auto* lib = new Library;
  lib->native = module;
  return lib;
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
    std::snprintf(symbol, sizeof symbol, "%s%u", OrdinalSymbolPrefix(ModuleBaseName(handle->builtin->name)),
                  ordinal);
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
