// What the portable and the system halves of library loading share.
#pragma once
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
const char* OrdinalSymbolPrefix(const std::string& base);

// The system's own symbol lookup and unloading of a native library.
void* NativeLibrarySymbol(void* native, const char* symbol);
void FreeNativeLibrary(void* native);

}  // namespace qv::plat
