// Where the debug settings of a product come from: the registry key
// "SOFTWARE\Tarnwell Software\<product>" on Windows; on Linux the
// environment (<PRODUCT>_<NAME> in upper case with underscores, such as
// QUORVANE_DEBUG_FACILITY) over an optional config file.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace qv::plat {

struct SettingsKey {
  bool exists = false;                        // the key (or any source) is present
  std::map<std::string, std::string> values;  // value name -> text ("DebugFacility" -> "2")
};

// Reads every value of the product's key. Never throws.
SettingsKey ReadSettingsKey(const std::string& product);

// Numeric value of a setting: decimal or 0x-prefixed hexadecimal.
std::optional<uint32_t> SettingAsNumber(const SettingsKey& key, const std::string& name);

// The default log file of a product ("Quorvane" -> Quorvane.log in the
// temporary folder on Linux, C:\Quorvane.log on Windows).
std::string DefaultLogFilePath(const std::string& product);

// Replaces the reader (tests); an empty function restores the OS one.
using SettingsReader = std::function<SettingsKey(const std::string&)>;
void SetSettingsReader(SettingsReader reader);

}  // namespace qv::plat
