// A compiled client of the registered Quorvane.ocx, in the multithreaded
// apartment: what registration writes and what unregistration leaves, and
// what only a compiled client does: a name answered to a collision, a
// second session, and cancelling from another thread.
//
//   mta_client registered     the server is registered: use it
//   mta_client unregistered   regsvr32 /u ran: nothing of it is left
//   mta_client scenario SOURCE OTHER SCRATCH
//                             the user's scenario against the virtual drives
//
// Prints "N passed, N failed" last and exits with the failure count.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

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
    {L"Quorvane.DVDVideoImage.1", &CLSID_CDVDVideoImage},
    {L"Quorvane.DVDVideoImage2.1", &CLSID_CDVDVideoImage2},
    {L"Quorvane.DiscInfo.1", &CLSID_CDiscInfo},
    {L"Quorvane.DAOLayout.1", &CLSID_CDAOLayout},
    {L"Quorvane.SimpleCallBack.1", &CLSID_CSimpleCallBack},
    {L"Quorvane.NotificationCallBack.1", &CLSID_CNotificationCallBack},
    {L"Quorvane.Devices.1", &CLSID_CDevices},
    {L"Quorvane.Device.1", &CLSID_CDevice},
    {L"Quorvane.JolietImage.1", &CLSID_CJolietImage},
    {L"Quorvane.Node.1", &CLSID_CNode},
    {L"Quorvane.NodeDateTime.1", &CLSID_CNodeDateTime},
};

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
    std::wstring vi = s.progId;
    vi.resize(vi.rfind(L'.'));
    for (const std::wstring& progId : {std::wstring(s.progId), vi}) {
      CLSID clsid = GUID_NULL;
      CLSIDFromProgID(progId.c_str(), &clsid);
      Check(IsEqualCLSID(clsid, *s.clsid), Narrow(progId.c_str()) + " names its class");
    }
    const std::wstring key = L"CLSID\\" + GuidText(*s.clsid);
    Check(ClassesValue(key + L"\\InprocServer32", L"ThreadingModel") == L"free", name + " ThreadingModel free");
    Check(ClassesValue(key + L"\\TypeLib") == GuidText(LIBID_Quorvane), name + " TypeLib");
    const std::wstring module = ClassesValue(key + L"\\InprocServer32");
    Check(module.size() > 13 && module.compare(module.size() - 13, 13, L"\\Quorvane.ocx") == 0,
          name + " InprocServer32 is the module's full path: " + Narrow(module.c_str()));
    Ptr<IUnknown> object;
    CheckHr(S_OK, Create(*s.clsid, IID_IUnknown, object.Out()), "CoCreateInstance " + name);
  }
  Ptr<ITypeLib> lib;
  CheckHr(S_OK, LoadRegTypeLib(LIBID_Quorvane, 1, 0, 0x409, &lib.p), "the type library is registered");
}

// ---------------------------------------------------------------------------

void NothingLeft() {
  for (const auto& s : kServed) {
    std::wstring vi = s.progId;
    vi.resize(vi.rfind(L'.'));
    for (const std::wstring& key : {std::wstring(s.progId), vi, L"CLSID\\" + GuidText(*s.clsid)})
      Check(!ClassesKeyExists(key), Narrow(key.c_str()) + " is gone");
  }
  Check(ClassesKeyExists(L"CLSID"), "the shared CLSID key stays");
  for (const std::wstring& key : {L"TypeLib\\" + GuidText(LIBID_Quorvane), L"Interface\\" + GuidText(IID_IDiscInfo),
                                  std::wstring(L"AppID\\Quorvane.ocx")})
    Check(!ClassesKeyExists(key), Narrow(key.c_str()) + " is gone");
}

// ---------------------------------------------------------------------------
// The scenario: callbacks as a compiled client writes them. Given a cancel
// call, the first progress report has a second thread make it and waits
// until that call has returned.

class Sink : public StackSink<IQuorvaneCallBack, IQuorvaneCollisionCallBack> {
 public:
  explicit Sink(std::function<HRESULT()> cancel = nullptr) : cancel_(std::move(cancel)) {}
  std::atomic<int> reports{0}, lastPercent{-1}, collisions{0};
  HRESULT cancelled = E_PENDING;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IQuorvaneCallBack)) {
      *out = static_cast<IQuorvaneCallBack*>(this);
    } else if (IsEqualIID(iid, IID_IQuorvaneCollisionCallBack)) {
      *out = static_cast<IQuorvaneCollisionCallBack*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ProgressCallBack(long percent, long) override {
    if (reports++ == 0 && cancel_) std::thread([this] { cancelled = cancel_(); }).join();
    lastPercent = percent;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnCollision(BSTR, BSTR, BSTR* name, QVX_NAME_COLLISION_SOLUTION* solution) override {
    ++collisions;
    SysFreeString(*name);
    *name = SysAllocString(L"cpp.txt");
    *solution = QVX_NAME_COLLISION_RENAME_NEW;
    return S_OK;
  }

 private:
  std::function<HRESULT()> cancel_;
};

std::wstring Wide(const char* s) { return std::wstring(s, s + std::strlen(s)); }

HRESULT FindDrive(IDevices* devs, QVX_DISC_TYPE type, VARIANT_BOOL blank, IDevice** out) {
  long count = 0;
  devs->get_Count(&count);
  for (long i = 0; i < count; ++i) {
    Ptr<IDevice> dev;
    Ptr<IDiscInfo> info;
    QVX_DISC_TYPE t = QVX_DISC_TYPE_UNKNOWN;
    VARIANT_BOOL b = VARIANT_FALSE;
    if (FAILED(devs->GetDevice(i, &dev.p)) || FAILED(dev->GetInsertedDiscType(&t)) || t != type ||
        FAILED(dev->GetDiscInfo(&info.p)) || FAILED(info->get_IsBlank(&b)) || b != blank)
      continue;
    *out = dev.p;
    dev.p = nullptr;
    return S_OK;
  }
  return E_FAIL;
}

// A second session on dvd: the first one's files imported, one added. Its
// start goes to scratch\cpp-session2.txt for run-wine.sh to read it.
void NextSession(IDevice* dvd, const std::wstring& other, const std::wstring& scratch) {
  Ptr<IJolietImage> next;
  CheckHr(S_OK, Create(CLSID_CJolietImage, IID_IJolietImage, next.Out()), "create the next JolietImage");
  if (!next) return;
  CheckHr(S_OK, dvd->ImportTrack(next.p, VARIANT_TRUE, 1), "ImportTrack");
  Ptr<IDiscInfo> info;
  long start = 0;
  CheckHr(S_OK, dvd->GetDiscInfo(&info.p), "GetDiscInfo before appending");
  if (info) info->get_NextWritableAddress(&start);
  Check(start > 0, "the next session starts after the first");
  Ptr<INode> root, added;
  Bstr name(L"second.txt"), file(other + L"\\a.txt"), volume(L"CPP2"), app(L"Quorvane test");
  next->get_Root(&root.p);
  CheckHr(S_OK, root->AddFile(name.b, file.b, &added.p), "AddFile to the next session");
  CheckHr(S_OK, next->Build(static_cast<ULONG>(start), volume.b, app.b), "Build the next session");
  UINT64 handle = 0;
  next->get_FileSystemHandle(&handle);
  CheckHr(S_OK, dvd->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_FALSE, VARIANT_FALSE),
          "burn the next session");
  const std::string text = std::to_string(start) + "\n";
  HANDLE f = CreateFileW((scratch + L"\\cpp-session2.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                         nullptr);
  DWORD written = 0;
  Check(f != INVALID_HANDLE_VALUE && WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr),
        "the session's start written down");
  if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
}

void Scenario(const std::wstring& source, const std::wstring& other, const std::wstring& scratch) {
  Ptr<IDevices> devs;
  CheckHr(S_OK, Create(CLSID_CDevices, IID_IDevices, devs.Out()), "create Devices");
  if (!devs) return;
  // The image, with a collision this client answers with a new name.
  Sink sink;
  Ptr<IJolietImage> img;
  CheckHr(S_OK, Create(CLSID_CJolietImage, IID_IJolietImage, img.Out()), "create JolietImage");
  if (!img) return;
  CheckHr(S_OK, img->put_CollisionCallback(&sink), "CollisionCallback");
  {
    Ptr<INode> root, folder, renamed;
    CheckHr(S_OK, img->get_Root(&root.p), "Root");
    Bstr empty(L""), src(source), file(other + L"\\a.txt");
    CheckHr(S_OK, root->AddFolder(empty.b, src.b, &folder.p), "AddFolder");
    if (folder) CheckHr(S_OK, folder->AddFile(empty.b, file.b, &renamed.p), "AddFile with a collision");
    Check(sink.collisions == 1, "the client answered one collision");
    Bstr volume(L"CPP"), app(L"Quorvane test");
    CheckHr(S_OK, img->Build(0, volume.b, app.b), "Build");
  }

  Ptr<IDevice> dvd;
  CheckHr(S_OK, FindDrive(devs.p, QVX_DISC_TYPE_DVDPLUSR, VARIANT_TRUE, &dvd.p), "a blank DVD+R");
  if (dvd) {
    UINT64 handle = 0;
    img->get_FileSystemHandle(&handle);
    CheckHr(S_OK, dvd->put_Callback(&sink), "Callback");
    CheckHr(S_OK, dvd->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_FALSE, VARIANT_TRUE), "burn");
    Check(sink.reports > 0 && sink.lastPercent > 0 && sink.lastPercent <= 100, "progress reports");
    dvd->put_Callback(nullptr);
    NextSession(dvd.p, other, scratch);
  }
  // Cancelling from a second thread: a burn fails with the cancellation's
  // number.
  Ptr<IDevice> other2;
  if (SUCCEEDED(FindDrive(devs.p, QVX_DISC_TYPE_DVDPLUSR, VARIANT_TRUE, &other2.p))) {
    Sink burn([&] { return other2->Cancel(); });
    UINT64 handle = 0;
    img->get_FileSystemHandle(&handle);
    other2->put_Callback(&burn);
    CheckHr(static_cast<HRESULT>(0x800A020E),
            other2->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_FALSE, VARIANT_FALSE),
            "a cancelled burn");
    CheckHr(S_OK, burn.cancelled, "Device.Cancel");
    other2->put_Callback(nullptr);
  } else {
    Check(false, "a second blank DVD+R");
  }
  // A save cancelled from a second thread ends early, and well.
  {
    Sink save([&] { return img->Cancel(); });
    Bstr part(scratch + L"\\cancelled.iso");
    CheckHr(S_OK, img->SaveImageToFile(part.b, &save), "a cancelled save");
    CheckHr(S_OK, save.cancelled, "JolietImage.Cancel");
    UINT64 size = 0;
    img->get_ImageSizeInBytes(&size);
    WIN32_FILE_ATTRIBUTE_DATA file{};
    GetFileAttributesExW(part.b, GetFileExInfoStandard, &file);
    Check(file.nFileSizeLow > 0 && file.nFileSizeLow < size, "the cancelled save is shorter than the image");
  }
}
}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode != "registered" && mode != "unregistered" && !(mode == "scenario" && argc == 5)) {
    std::printf("usage: mta_client registered|unregistered|scenario SOURCE OTHER SCRATCH\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::printf("CoInitializeEx failed\n");
    return 2;
  }
  if (mode == "registered") {
    ProgIdsAndRegistry();
  } else if (mode == "scenario") {
    Scenario(Wide(argv[2]), Wide(argv[3]), Wide(argv[4]));
  } else {
    NothingLeft();
  }
  CoUninitialize();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed;
}
