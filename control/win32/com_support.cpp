#include <mutex>

#include "control/trace.h"
#include "control/win32/com_object.h"

namespace qv::control {
namespace {

std::atomic<long> g_locks{0};

std::mutex g_typeLibMutex;
ITypeLib* g_typeLib = nullptr;

HMODULE ServerModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ServerModulePath), &module);
  return module;
}

}  // namespace

void ModuleLock() { ++g_locks; }
void ModuleUnlock() { --g_locks; }
long ModuleLockCount() { return g_locks.load(); }

std::wstring ServerModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(ServerModule(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

HRESULT GetServerTypeInfo(REFGUID guid, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  std::lock_guard<std::mutex> lock(g_typeLibMutex);
  if (g_typeLib == nullptr) {
    // The module's own TYPELIB resource 1.
    const HRESULT hr = LoadTypeLibEx(ServerModulePath().c_str(), REGKIND_NONE, &g_typeLib);
    if (FAILED(hr)) {
      QVX("\nGetServerTypeInfo(): LoadTypeLibEx() failed, hr=%08lX\n", static_cast<unsigned long>(hr));
      g_typeLib = nullptr;
      return hr;
    }
  }
  return g_typeLib->GetTypeInfoOfGuid(guid, info);
}

void ReleaseServerTypeLib() {
  std::lock_guard<std::mutex> lock(g_typeLibMutex);
  if (g_typeLib != nullptr) g_typeLib->Release();
  g_typeLib = nullptr;
}

bool CheckOutPointer(const char* method, void* pointer, size_t size) {
  if (pointer != nullptr && !IsBadWritePtr(pointer, size)) return true;
  QVX("\n%s(): Invalid pointer\n", method);
  return false;
}

std::string NarrowFromBstr(BSTR text) {
  if (text == nullptr) return {};
  const int length = static_cast<int>(SysStringLen(text));
  if (length == 0) return {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

HRESULT StringResult(const char* method, const std::string& text, BSTR* out) {
  if (!CheckOutPointer(method, out, sizeof *out)) return E_POINTER;
  *out = nullptr;
  const int n = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (b == nullptr) {
    QVX("\n%s(): SysAllocString(%s) failed\n", method, text.c_str());
    return E_OUTOFMEMORY;
  }
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), b, n);
  *out = b;
  return S_OK;
}

}  // namespace qv::control
