// A compiled client of the registered Quorvane.ocx, in the multithreaded
// apartment: what registration writes and what unregistration leaves. The
// objects it creates are the ones the in-process tests drive (the server
// is free-threaded: no proxy comes between), and the script client reaches
// them through proxies.
//
//   mta_client registered     the server is registered: use it
//   mta_client unregistered   regsvr32 /u ran: nothing of it is left
//
// Prints "N passed, N failed" last and exits with the failure count.
#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Quorvane.h"
#include "tests/windows/com_ptr.h"

namespace {

int g_passed = 0, g_failed = 0;

void Check(bool ok, const std::string& what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

std::string Hex(HRESULT hr) {
  char s[16];
  std::snprintf(s, sizeof s, "%08lX", static_cast<unsigned long>(hr));
  return s;
}

void CheckHr(HRESULT expected, HRESULT actual, const std::string& what) {
  Check(expected == actual, what + ": expected " + Hex(expected) + ", got " + Hex(actual));
}

struct Served {
  const wchar_t* progId;
  const CLSID* clsid;
};
const Served kServed[] = {
    {L"Quorvane.DiscInfo.1", &CLSID_CDiscInfo},
    {L"Quorvane.DAOLayout.1", &CLSID_CDAOLayout},
    {L"Quorvane.SimpleCallBack.1", &CLSID_CSimpleCallBack},
    {L"Quorvane.NotificationCallBack.1", &CLSID_CNotificationCallBack},
};
const Served kNotServed[] = {
    {L"Quorvane.Devices.1", &CLSID_CDevices},       {L"Quorvane.Device.1", &CLSID_CDevice},
    {L"Quorvane.JolietImage.1", &CLSID_CJolietImage}, {L"Quorvane.Node.1", &CLSID_CNode},
    {L"Quorvane.NodeDateTime.1", &CLSID_CNodeDateTime}, {L"Quorvane.DVDVideoImage.1", &CLSID_CDVDVideoImage},
    {L"Quorvane.DVDVideoImage2.1", &CLSID_CDVDVideoImage2},
};

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c < 128 ? c : '?');
  return s;
}

std::wstring GuidText(REFGUID g) {
  wchar_t text[64];
  StringFromGUID2(g, text, 64);
  return text;
}

HRESULT Create(REFCLSID clsid, REFIID iid, void** out, IUnknown* outer = nullptr) {
  return CoCreateInstance(clsid, outer, CLSCTX_INPROC_SERVER, iid, out);
}

// A value under HKEY_CLASSES_ROOT, or "(missing)".
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[1024];
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"(missing)";
  return data;
}

bool ClassesKeyExists(const std::wstring& key) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

// ---------------------------------------------------------------------------

void ProgIdsAndRegistry() {
  for (const auto& s : kServed) {
    const std::string name = Narrow(s.progId);
    CLSID clsid;
    CheckHr(S_OK, CLSIDFromProgID(s.progId, &clsid), "CLSIDFromProgID " + name);
    Check(IsEqualCLSID(clsid, *s.clsid), name + " names its class");
    std::wstring vi = s.progId;
    vi.resize(vi.rfind(L'.'));
    CheckHr(S_OK, CLSIDFromProgID(vi.c_str(), &clsid), "CLSIDFromProgID " + Narrow(vi));
    Check(ClassesValue(vi + L"\\CurVer") == s.progId, Narrow(vi) + " CurVer");
    const std::wstring key = L"CLSID\\" + GuidText(*s.clsid);
    Check(ClassesValue(key + L"\\InprocServer32", L"ThreadingModel") == L"free", name + " ThreadingModel free");
    Check(ClassesValue(key + L"\\TypeLib") == GuidText(LIBID_Quorvane), name + " TypeLib");
    Check(ClassesValue(key + L"\\ProgID") == s.progId, name + " ProgID key");
    Check(ClassesValue(key + L"\\VersionIndependentProgID") == vi, name + " version-independent ProgID key");
    Check(ClassesKeyExists(key + L"\\Programmable"), name + " Programmable");
    const std::wstring module = ClassesValue(key + L"\\InprocServer32");
    Check(module.size() > 13 && module.compare(module.size() - 13, 13, L"\\Quorvane.ocx") == 0,
          name + " InprocServer32 is the module's full path: " + Narrow(module));
    Ptr<IUnknown> object;
    CheckHr(S_OK, Create(*s.clsid, IID_IUnknown, object.Out()), "CoCreateInstance " + name);
  }
  for (const auto& s : kNotServed) {
    CLSID clsid;
    Check(FAILED(CLSIDFromProgID(s.progId, &clsid)), Narrow(s.progId) + " is not registered");
    Ptr<IUnknown> object;
    CheckHr(REGDB_E_CLASSNOTREG, Create(*s.clsid, IID_IUnknown, object.Out()), "CoCreateInstance " + Narrow(s.progId));
  }
  Ptr<ITypeLib> lib;
  CheckHr(S_OK, LoadRegTypeLib(LIBID_Quorvane, 1, 0, 0x409, reinterpret_cast<ITypeLib**>(lib.Out())),
          "the type library is registered");
  // Dual interfaces are marshaled by the type library.
  Check(ClassesKeyExists(L"Interface\\" + GuidText(IID_IDiscInfo)), "IDiscInfo is registered for marshaling");
}

// ---------------------------------------------------------------------------

void NothingLeft() {
  std::vector<Served> all(std::begin(kServed), std::end(kServed));
  all.insert(all.end(), std::begin(kNotServed), std::end(kNotServed));
  for (const auto& s : all) {
      CLSID clsid;
      Check(FAILED(CLSIDFromProgID(s.progId, &clsid)), Narrow(s.progId) + " is gone");
      std::wstring vi = s.progId;
      vi.resize(vi.rfind(L'.'));
      Check(!ClassesKeyExists(vi), Narrow(vi) + " is gone");
      Check(!ClassesKeyExists(L"CLSID\\" + GuidText(*s.clsid)), Narrow(s.progId) + " class key is gone");
      Ptr<IUnknown> object;
      CheckHr(REGDB_E_CLASSNOTREG,
              Create(*s.clsid, IID_IUnknown, object.Out()), "CoCreateInstance " + Narrow(s.progId));
  }
  Check(ClassesKeyExists(L"CLSID"), "the shared CLSID key stays");
  Ptr<ITypeLib> lib;
  Check(FAILED(LoadRegTypeLib(LIBID_Quorvane, 1, 0, 0x409, reinterpret_cast<ITypeLib**>(lib.Out()))),
        "the type library is unregistered");
  Check(!ClassesKeyExists(L"TypeLib\\" + GuidText(LIBID_Quorvane)), "the TypeLib key is gone");
  Check(!ClassesKeyExists(L"Interface\\" + GuidText(IID_IDiscInfo)), "IDiscInfo's marshaling key is gone");
  Check(!ClassesKeyExists(L"AppID\\Quorvane.ocx"), "the module's AppID key is gone");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode != "registered" && mode != "unregistered") {
    std::printf("usage: mta_client registered|unregistered\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::printf("CoInitializeEx failed\n");
    return 2;
  }
  if (mode == "registered") {
    ProgIdsAndRegistry();
  } else {
    NothingLeft();
  }
  CoUninitialize();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed;
}
