// DllRegisterServer and DllUnregisterServer: the registration scripts of
// the module (REGISTRY 101) and of each served class (REGISTRY 102, one
// template for all), and the type library.
#include <map>
#include <string>

#include "control/registry_script.h"
#include "control/trace.h"
#include "control/win32/classes.h"
#include "control/win32/com_object.h"
#include "control/win32/server.h"

namespace qv::control {
namespace {

constexpr int kModuleScript = 101;
constexpr int kClassScript = 102;

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string GuidText(REFGUID guid) {
  wchar_t text[64] = {};
  StringFromGUID2(guid, text, 64);
  return ToUtf8(text);
}

class Win32Registry final : public RegistryWriter {
 public:
  uint32_t CreateKey(const std::string& root, const std::string& path) override {
    HKEY key = nullptr;
    const uint32_t e = Open(root, path, &key);
    if (key) RegCloseKey(key);
    return e;
  }
  uint32_t SetString(const std::string& root, const std::string& path, const std::string& name,
                     const std::string& value) override {
    HKEY key = nullptr;
    if (const uint32_t e = Open(root, path, &key)) return e;
    const std::wstring v = FromUtf8(value);
    const LONG rc = RegSetValueExW(key, name.empty() ? nullptr : FromUtf8(name).c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(v.c_str()),
                                   static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return static_cast<uint32_t>(rc);
  }
  uint32_t SetNumber(const std::string& root, const std::string& path, const std::string& name,
                     uint32_t value) override {
    HKEY key = nullptr;
    if (const uint32_t e = Open(root, path, &key)) return e;
    const DWORD v = value;
    const LONG rc = RegSetValueExW(key, name.empty() ? nullptr : FromUtf8(name).c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&v), sizeof v);
    RegCloseKey(key);
    return static_cast<uint32_t>(rc);
  }
  uint32_t DeleteTree(const std::string& root, const std::string& path) override {
    HKEY hive = Hive(root);
    if (hive == nullptr) return ERROR_INVALID_PARAMETER;
    const LONG rc = RegDeleteTreeW(hive, FromUtf8(path).c_str());
    return rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND ? 0 : static_cast<uint32_t>(rc);
  }

 private:
  static HKEY Hive(const std::string& root) {
    if (root == "HKCR" || root == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
    if (root == "HKCU" || root == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
    return nullptr;
  }
  static uint32_t Open(const std::string& root, const std::string& path, HKEY* key) {
    HKEY hive = Hive(root);
    if (hive == nullptr) return ERROR_INVALID_PARAMETER;
    return static_cast<uint32_t>(RegCreateKeyExW(hive, FromUtf8(path).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                                 key, nullptr));
  }
};

bool LoadScript(int id, std::string* text) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LoadScript), &module);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"REGISTRY");
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return false;
  text->assign(static_cast<const char*>(data), SizeofResource(module, found));
  return true;
}

std::map<std::string, std::string> ModuleSubstitutions() {
  return {{"MODULE", ToUtf8(ServerModulePath())},
          {"MODULETYPE", "InprocServer32"},
          {"APPID", ""},
          {"MODULEGUID", GuidText(LIBID_Quorvane)}};
}

std::map<std::string, std::string> ClassSubstitutions(const ServerClass& c) {
  auto subs = ModuleSubstitutions();
  subs["CLSID"] = GuidText(*c.clsid);
  subs["PROGID"] = c.progId;
  subs["VIPROGID"] = VersionIndependentProgId(c);
  subs["FriendlyName"] = std::string(c.name) + " Object";
  return subs;
}

HRESULT RunScript(int id, const std::map<std::string, std::string>& subs, ScriptAction action) {
  std::string script;
  if (!LoadScript(id, &script)) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
  Win32Registry registry;
  std::string error;
  const uint32_t e = ApplyRegistryScript(script, subs, action, registry, &error);
  if (e != 0) {
    QVX("\nRegistration script %d failed, status %lu %s\n", id, static_cast<unsigned long>(e), error.c_str());
    return HRESULT_FROM_WIN32(e);
  }
  return S_OK;
}

}  // namespace

HRESULT RegisterServer() {
  try {
    if (HRESULT hr = RunScript(kModuleScript, ModuleSubstitutions(), ScriptAction::Register); FAILED(hr)) return hr;
    for (const ServerClass& c : ServerClasses()) {
      if (c.create == nullptr) continue;  // not served yet
      if (HRESULT hr = RunScript(kClassScript, ClassSubstitutions(c), ScriptAction::Register); FAILED(hr)) return hr;
    }
    const std::wstring path = ServerModulePath();
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(lib, const_cast<LPOLESTR>(path.c_str()), nullptr);
    lib->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UnregisterServer() {
  try {
    HRESULT first = S_OK;
    auto keep = [&first](HRESULT hr) {
      if (SUCCEEDED(first) && FAILED(hr)) first = hr;
    };
    // Every class, served or not: nothing of an older registration stays.
    for (const ServerClass& c : ServerClasses())
      keep(RunScript(kClassScript, ClassSubstitutions(c), ScriptAction::Unregister));
    keep(RunScript(kModuleScript, ModuleSubstitutions(), ScriptAction::Unregister));
    BSTR registeredPath = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(LIBID_Quorvane, 1, 0, 0x409, &registeredPath))) {
      SysFreeString(registeredPath);
      keep(UnRegisterTypeLib(LIBID_Quorvane, 1, 0, 0x409, SYS_WIN32));
    }
    return first;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace qv::control
