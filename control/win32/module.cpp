// The five exports of Quorvane.ocx.
#include <windows.h>

#include <cstdio>

#include "control/trace.h"
#include "control/win32/com_object.h"
#include "control/win32/server.h"
#include "quorvane.h"

namespace {

constexpr uintptr_t kBuildStamp = 0x20060516;
constexpr unsigned kSupportedEngineVersion = 0x20060630;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  using qv::control::QVX;
  if (reason == DLL_PROCESS_ATTACH) {
    const unsigned current = Quorvane_GetVersion();
    QVX("\nQuorvaneX.DllMain(): QuorvaneX Build Date = %p\nSupported SDK version = %08X, Current SDK version %08X.\n",
        reinterpret_cast<void*>(kBuildStamp), kSupportedEngineVersion, current);
    if (current != kSupportedEngineVersion) {
      char text[256];
      std::snprintf(text, sizeof text, "Wrong version of Quorvane.dll\nExpected version : %08X\nCurrent version : %08X\n",
                    kSupportedEngineVersion, current);
      MessageBoxA(nullptr, text, "QuorvaneX", MB_ICONEXCLAMATION);  // and load all the same
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    QVX("\nQuorvaneX.DllMain(): EXITing\n");
    Quorvane_DownShut();
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
  return qv::control::GetServerClassObject(clsid, iid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  if (qv::control::ModuleLockCount() != 0) return S_FALSE;
  qv::control::ReleaseServerTypeLib();
  return S_OK;
}

extern "C" HRESULT WINAPI DllRegisterServer() { return qv::control::RegisterServer(); }

extern "C" HRESULT WINAPI DllUnregisterServer() { return qv::control::UnregisterServer(); }
