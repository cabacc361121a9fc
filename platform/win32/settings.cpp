// Windows settings: the values of HKEY_LOCAL_MACHINE
// "SOFTWARE\Tarnwell Software\<product>". Numbers (REG_DWORD) become
// decimal text, strings are taken as they are, other types are skipped.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/settings.h"

namespace qv::plat {

SettingsKey OsReadSettingsKey(const std::string& product) {
  SettingsKey key;
  const std::string path = "SOFTWARE\\Tarnwell Software\\" + product;
  HKEY hkey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return key;
  key.exists = true;
  DWORD maxName = 0, maxData = 0;
  if (RegQueryInfoKeyA(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    RegCloseKey(hkey);
    return key;
  }
  std::vector<char> name(maxName + 1);
  std::vector<BYTE> data(maxData + 2);
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size() - 2), type = 0;
    const LONG rc = RegEnumValueA(hkey, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;  // a value that grew meanwhile is skipped
    if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
      DWORD v = 0;
      memcpy(&v, data.data(), sizeof v);
      key.values[std::string(name.data(), nameSize)] = std::to_string(v);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      data[dataSize] = 0;  // stored strings need not be terminated
      key.values[std::string(name.data(), nameSize)] = reinterpret_cast<const char*>(data.data());
    }
  }
  RegCloseKey(hkey);
  return key;
}

std::string DefaultLogFilePath(const std::string& product) { return "C:\\" + product + ".log"; }

}  // namespace qv::plat
