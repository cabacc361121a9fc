// Registration scripts: the text form in which the server describes its
// registry keys (carried as REGISTRY resources), and the code that applies
// or removes them.
//
//   HKCR
//   {
//       NoRemove CLSID                       kept on removal
//       {
//           ForceRemove %CLSID% = s 'Name'   deleted before it is written
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'free'
//               }
//           }
//       }
//   }
//
// Values are s (string) or d (number). %NAME% is replaced from the
// substitution table. A key whose name comes out empty, and a value whose
// text comes out empty, are left out: the server has no AppID.
#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace qv::control {

// The registry as a script sees it. Paths are relative to a root ("HKCR"),
// with backslashes. Every call returns 0 or a system error.
class RegistryWriter {
 public:
  virtual ~RegistryWriter() = default;
  virtual uint32_t CreateKey(const std::string& root, const std::string& path) = 0;
  // An empty name stands for the key's default value.
  virtual uint32_t SetString(const std::string& root, const std::string& path, const std::string& name,
                             const std::string& value) = 0;
  virtual uint32_t SetNumber(const std::string& root, const std::string& path, const std::string& name,
                             uint32_t value) = 0;
  // Deletes a key with everything below it; a missing key is no error.
  virtual uint32_t DeleteTree(const std::string& root, const std::string& path) = 0;
};

enum class ScriptAction { Register, Unregister };

// Applies a script. Registering stops at the first failure; removing goes
// on and reports the first failure. A script that does not parse changes
// nothing and gives 13 (invalid data) with the reason in *error.
uint32_t ApplyRegistryScript(const std::string& script, const std::map<std::string, std::string>& substitutions,
                             ScriptAction action, RegistryWriter& writer, std::string* error = nullptr);

}  // namespace qv::control
