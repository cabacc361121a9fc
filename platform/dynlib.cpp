#include "platform/dynlib.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

namespace qv::plat {

std::vector<const BuiltinLibrary*>& BuiltinLibraries() {
  static std::vector<const BuiltinLibrary*> list;
  return list;
}
std::mutex& BuiltinLibrariesMutex() {
  static std::mutex m;
  return m;
}

void RegisterBuiltinLibrary(const BuiltinLibrary* library) {
  std::lock_guard<std::mutex> lock(BuiltinLibrariesMutex());
  auto& list = BuiltinLibraries();
  for (auto& entry : list) {
    bool same = true;
    const char *a = entry->name, *b = library->name;
    for (; *a && *b; ++a, ++b) {
      if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
        same = false;
        break;
      }
    }
    if (same && *a == *b) {
      entry = library;  // a later registration replaces an earlier one
      return;
    }
  }
  list.push_back(library);
}

void UnregisterBuiltinLibrary(const BuiltinLibrary* library) {
  std::lock_guard<std::mutex> lock(BuiltinLibrariesMutex());
  auto& list = BuiltinLibraries();
  std::erase(list, library);
}

}  // namespace qv::plat
