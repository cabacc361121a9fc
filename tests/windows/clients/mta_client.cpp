// A compiled client of the registered Quorvane.ocx, in the multithreaded
// apartment (the server's objects are free-threaded; an STA client would
// reach them through proxies). It knows the server only by its type
// library's header and the internal DiscInfo initialisation interface.
//
//   mta_client registered     the server is registered: use it
//   mta_client unregistered   regsvr32 /u ran: nothing of it is left
//
// Prints "N passed, N failed" last and exits with the failure count.
#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Quorvane.h"
#include "control/win32/disc_info_init.h"
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

template <class A, class B>
void CheckEq(const A& expected, const B& actual, const std::string& what) {
  Check(expected == actual, what + ": expected " + std::to_string(expected) + ", got " + std::to_string(actual));
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

void Put32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

struct DiscCase {
  const char* name;
  uint8_t status;
  long type;
  long trackValid, tocValid;
  uint8_t blank;
  uint32_t nwa, free;
  std::vector<uint32_t> ends;
  uint32_t used, total;
  bool isBlank;
};

// The sums themselves are checked in-process; here the registered server
// answers a client across the apartment.
const DiscCase kDiscs[] = {
    {"blank CD-R", 0, 2, 1, 0, 1, 0, 359849, {}, 0, 359849, true},
    {"closed CD-R", 2, 2, 1, 1, 0, 0, 0, {10000, 20000}, 20000, 20000, false},
    {"appendable CD-R, TOC failed", 1, 2, 1, 0, 0, 30150, 300000, {}, 30150, 330150, false},
};

VARIANT Property(IDispatch* d, const wchar_t* name, HRESULT* hr) {
  VARIANT v;
  VariantInit(&v);
  DISPID id = 0;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  *hr = d->GetIDsOfNames(IID_NULL, &n, 1, 0x409, &id);
  if (FAILED(*hr)) return v;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  *hr = d->Invoke(id, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
  return v;
}

void DiscInfoSizes() {
  for (const auto& c : kDiscs) {
    Ptr<IDiscInfo> info;
    CheckHr(S_OK, Create(CLSID_CDiscInfo, IID_IDiscInfo, info.Out()), "create DiscInfo");
    if (!info) continue;
    Ptr<IQuorvaneDiscInfoInit> init;
    CheckHr(S_OK, info->QueryInterface(__uuidof(IQuorvaneDiscInfoInit), init.Out()), "initialisation interface");
    if (!init) continue;
    unsigned char disc[33] = {}, track[28] = {}, toc[5612] = {};
    disc[0] = 1;
    disc[1] = c.status;
    track[0] = static_cast<unsigned char>(c.trackValid);
    track[1] = 1;
    track[9] = c.blank;
    Put32(track + 16, c.nwa);
    Put32(track + 20, c.free);
    toc[0] = static_cast<unsigned char>(c.tocValid);
    toc[10] = static_cast<unsigned char>(c.ends.size());
    for (size_t k = 0; k < c.ends.size(); ++k) Put32(toc + 12 + k * 34 + 10, c.ends[k]);
    CheckHr(S_OK, init->Initialize(disc, track, toc, c.type, c.trackValid, c.tocValid), "Initialize");
    ULONG used = 0, total = 0;
    VARIANT_BOOL blank = 0;
    info->get_UsedSizeInLBs(&used);
    info->get_TotalSizeInLBs(&total);
    info->get_IsBlank(&blank);
    CheckEq(c.used, used, std::string(c.name) + " UsedSizeInLBs");
    CheckEq(c.total, total, std::string(c.name) + " TotalSizeInLBs");
    CheckEq(c.isBlank ? -1 : 0, static_cast<int>(blank), std::string(c.name) + " IsBlank");
    // The same through IDispatch, by name, as script would.
    HRESULT hr;
    VARIANT v = Property(info.p, L"TotalSizeInLBs", &hr);
    CheckHr(S_OK, hr, "Invoke TotalSizeInLBs");
    Check(V_VT(&v) == VT_UI4 && V_UI4(&v) == c.total, std::string(c.name) + " TotalSizeInLBs by IDispatch");
  }
  Ptr<IDiscInfo> info;
  Create(CLSID_CDiscInfo, IID_IDiscInfo, info.Out());
  if (!info) return;
  CheckHr(E_POINTER, info->get_FreeLBs(nullptr), "null out pointer");
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT v;
  VariantInit(&v);
  CheckHr(DISP_E_MEMBERNOTFOUND, info->Invoke(10, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr),
          "unassigned DISPID");
  Ptr<ISupportErrorInfo> support;
  info->QueryInterface(IID_ISupportErrorInfo, support.Out());
  Check(support && support->InterfaceSupportsErrorInfo(IID_IDiscInfo) == S_OK, "error information for IDiscInfo");
  Check(support && support->InterfaceSupportsErrorInfo(IID_IDAOLayout) == S_FALSE, "none for other interfaces");
}

// ---------------------------------------------------------------------------

void DaoLayout() {
  Ptr<IDAOLayout> layout;
  CheckHr(S_OK, Create(CLSID_CDAOLayout, IID_IDAOLayout, layout.Out()), "create DAOLayout");
  if (!layout) return;
  ULONG count = 99;
  layout->get_TrackCount(&count);
  CheckEq(0ul, count, "new layout");
  VARIANT missing, text, null;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocString(L"Artist");
  V_VT(&null) = VT_NULL;
  BSTR file = SysAllocString(L"Z:\\no\\such\\file.wav");
  CheckHr(S_OK, layout->AddTrack(file, missing, missing), "AddTrack without CD-Text");
  CheckHr(S_OK, layout->AddTrack(file, text, text), "AddTrack with CD-Text");
  CheckHr(E_OUTOFMEMORY, layout->AddTrack(file, null, missing), "AddTrack with a Null CD-Text");
  CheckHr(S_OK, layout->AddCDTextInfo(V_BSTR(&text), V_BSTR(&text)), "AddCDTextInfo");
  layout->get_TrackCount(&count);
  CheckEq(2ul, count, "tracks");
  SysFreeString(file);
  VariantClear(&text);
  // Aggregation hands out only IUnknown.
  struct Outer : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
  } outer;
  Ptr<IUnknown> inner;
  CheckHr(CLASS_E_NOAGGREGATION,
          Create(CLSID_CDAOLayout, IID_IDAOLayout, inner.Out(), &outer), "aggregation asking for an interface");
  CheckHr(S_OK, Create(CLSID_CDAOLayout, IID_IUnknown, inner.Out(), &outer), "aggregation asking for IUnknown");
}

// ---------------------------------------------------------------------------

void Callbacks() {
  Ptr<ISimpleCallBack> simple;
  CheckHr(S_OK, Create(CLSID_CSimpleCallBack, IID_ISimpleCallBack, simple.Out()), "create SimpleCallBack");
  if (!simple) return;
  Ptr<IQuorvaneCallBack> progress;
  CheckHr(S_OK, simple->QueryInterface(IID_IQuorvaneCallBack, progress.Out()), "IQuorvaneCallBack");
  if (!progress) return;
  // Reports arrive on worker threads, without marshaling.
  std::vector<std::thread> workers;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      for (long p = 0; p <= 100; ++p)
        if (progress->ProgressCallBack(p % 25 + 25 * t, 100 - p) != S_OK) ++failures;
      CoUninitialize();
    });
  for (auto& w : workers) w.join();
  CheckEq(0, failures.load(), "reports from four threads");
  long percent = -1;
  simple->get_Percent(&percent);
  Check(percent >= 0 && percent < 100, "Percent is one of the reports");
  progress->ProgressCallBack(64, 5);
  simple->get_Percent(&percent);
  CheckEq(64L, percent, "the last report");
  simple->Reset();
  simple->get_Percent(&percent);
  CheckEq(0L, percent, "after Reset");
  // ProgressCallBack by IDispatch on its own interface.
  VARIANT args[2];
  V_VT(&args[0]) = VT_I4;
  V_I4(&args[0]) = 3;
  V_VT(&args[1]) = VT_I4;
  V_I4(&args[1]) = 77;
  DISPPARAMS two = {args, nullptr, 2, 0};
  CheckHr(S_OK, progress->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &two, nullptr, nullptr, nullptr),
          "ProgressCallBack by IDispatch");
  simple->get_Percent(&percent);
  CheckEq(77L, percent, "after the dispatched report");

  Ptr<INotificationCallBack> notify;
  CheckHr(S_OK,
          Create(CLSID_CNotificationCallBack, IID_INotificationCallBack, notify.Out()), "create NotificationCallBack");
  if (!notify) return;
  Ptr<IQuorvaneNotificationCallBack> event;
  CheckHr(S_OK, notify->QueryInterface(IID_IQuorvaneNotificationCallBack, event.Out()),
          "IQuorvaneNotificationCallBack");
  CheckHr(S_OK, notify->NotifyCallBack(), "NotifyCallBack");
  if (event) CheckHr(S_OK, event->NotifyCallBack(), "NotifyCallBack through the client interface");
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
    DiscInfoSizes();
    DaoLayout();
    Callbacks();
  } else {
    NothingLeft();
  }
  CoUninitialize();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed;
}
