// ANSI code page <-> UTF-16: the names Windows hands the engine.
#include <windows.h>

#include "platform/errors.h"
#include "platform/text.h"

namespace qv::plat {

bool NarrowToWide(std::string_view narrow, std::u16string* wide, uint32_t* error) {
  wide->clear();
  if (narrow.empty()) {
    *error = 0;
    return true;
  }
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.data(), static_cast<int>(narrow.size()),
                                    nullptr, 0);
  if (n <= 0) {
    *error = GetLastError();
    return false;
  }
  wide->resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.data(), static_cast<int>(narrow.size()),
                      reinterpret_cast<wchar_t*>(wide->data()), n);
  *error = 0;
  return true;
}

bool WideToNarrow(std::u16string_view wide, std::string* narrow, uint32_t* error) {
  narrow->clear();
  if (wide.empty()) {
    *error = 0;
    return true;
  }
  const auto* w = reinterpret_cast<const wchar_t*>(wide.data());
  const int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), nullptr, 0, "_", nullptr);
  if (n <= 0) {
    *error = GetLastError();
    return false;
  }
  narrow->resize(static_cast<size_t>(n));
  WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), narrow->data(), n, "_", nullptr);
  *error = 0;
  return true;
}

}  // namespace qv::plat
