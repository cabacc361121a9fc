// Run-time loading of libraries by their Windows module names.
//
// The engine names the libraries it loads the way Windows does
// ("WnASPI32.dll", "vorbisfile.dll", "dtpro.dll"). Each platform maps a name
// to what it really loads: on Linux a shared object (a soname, or a path
// from an environment override), or a library built into the engine.
#pragma once
#include <cstdint>
#include <string>

namespace qv::plat {

struct Library;  // opaque
using LibraryHandle = Library*;

// What a caller knows of a module that the system may not have under its
// name: the file to load instead where the system looks modules up by file
// (Linux), and the export prefix that stands for its ordinals there.
struct ModuleFile {
  const char* file = nullptr;
  const char* ordinalPrefix = nullptr;
};

// Loads a library; on failure returns nullptr and sets *error to a system
// error number (126 when the module is not found).
LibraryHandle LoadLibraryByName(const char* name, uint32_t* error, const ModuleFile* known = nullptr);
void FreeLibraryHandle(LibraryHandle handle);
// nullptr, with *error = 127, when the symbol is missing.
void* GetLibrarySymbol(LibraryHandle handle, const char* symbol, uint32_t* error);
// Exports by ordinal. Where the OS has no ordinals, ordinal N is the symbol
// "<ordinal prefix>N": the prefix given to LoadLibraryByName, else "Ordinal".
void* GetLibraryOrdinal(LibraryHandle handle, uint16_t ordinal, uint32_t* error);

// The file of a module loaded in this process, by module name
// ("Quorvane.dll" names the engine itself); empty when unknown.
std::string LoadedModulePath(const char* moduleName);
// The separator between a folder and a file name in module paths.
char PathSeparator();

// A library the engine carries inside itself and hands out under a module
// name (for example the Linux stand-in for the ASPI library).
struct BuiltinLibrary {
  const char* name;                      // module name, compared without case
  void* (*resolve)(const char* symbol);  // nullptr when the symbol is missing
};
// Libraries registered here take precedence over the OS's own built-ins.
void RegisterBuiltinLibrary(const BuiltinLibrary* library);
void UnregisterBuiltinLibrary(const BuiltinLibrary* library);

}  // namespace qv::plat
