// What the portable and the system halves of library loading share.
#pragma once
#include <cstdint>
#include <string>

#include "platform/dynlib.h"

namespace qv::plat {

struct Library {
  void* native = nullptr;                   // dlopen handle or HMODULE, or
  const BuiltinLibrary* builtin = nullptr;  // a built-in library
  std::string ordinalPrefix;
};

std::string ModuleBaseName(const char* name);
std::string ModuleOverrideVariable(const std::string& base);
const BuiltinLibrary* FindRegisteredBuiltin(const std::string& base);

// What each system decides: the built-in library standing for a module,
// the file a module name loads when nothing overrides it, and the loading
// itself (nullptr with *error set on failure).
const BuiltinLibrary* FindBuiltinLibrary(const std::string& base);
std::string NativeModuleName(const std::string& base, const char* name, const ModuleFile* known);
void* LoadNativeLibrary(const std::string& target, uint32_t* error);
void* NativeLibrarySymbol(void* native, const char* symbol);
void FreeNativeLibrary(void* native);

}  // namespace qv::plat
