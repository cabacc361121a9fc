// Devices, Device and JolietImage in-process on virtual drives in virtual
// time: what a client sees of listing, burning, erasing and the tree.
#include <windows.h>

#include <string>

#include "control/win32/com_object.h"
#include "control/win32/server.h"
#include "support/vdrive_fixture.h"
#include "com_ptr.h"

namespace {

using namespace qv::control;

HRESULT Create(REFCLSID clsid, REFIID iid, void** ppv) {
  Ptr<IClassFactory> factory;
  HRESULT hr = GetServerClassObject(clsid, IID_IClassFactory, factory.Out());
  return FAILED(hr) ? hr : factory->CreateInstance(nullptr, iid, ppv);
}

std::wstring Text(BSTR b) {
  std::wstring s = b ? b : L"";
  SysFreeString(b);
  return s;
}

struct Bstr {
  BSTR b;
  explicit Bstr(const std::wstring& s) : b(SysAllocString(s.c_str())) {}
  ~Bstr() { SysFreeString(b); }
};

class Notified : public IQuorvaneNotificationCallBack {
 public:
  int calls = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IQuorvaneNotificationCallBack) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE NotifyCallBack() override {
    ++calls;
    return S_OK;
  }
};

class Automation : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override { CoUninitialize(); }

  // Drives CdRom0.. with the given media ("" leaves the tray empty).
  void Drives(std::initializer_list<const char*> media) {
    int i = 0;
    for (const char* m : media) {
      const std::string name = "CdRom" + std::to_string(i++);
      ASSERT_EQ(QvDrive_Create(name.c_str(), *m ? m : "cd-r", nullptr), 0u);
      if (!*m) {
        ASSERT_EQ(QvDrive_Eject(name.c_str()), 0u);
      }
    }
    ASSERT_EQ(Create(CLSID_CDevices, IID_IDevices, devices.Out()), S_OK);
  }
  IDevice* Device(long i) {
    held[i].Reset();
    EXPECT_EQ(devices->GetDevice(i, &held[i].p), S_OK);
    return held[i].p;
  }
  // A built image holding one virtual folder.
  void Image() {
    ASSERT_EQ(Create(CLSID_CJolietImage, IID_IJolietImage, image.Out()), S_OK);
    Ptr<INode> root, folder;
    Bstr name(L"folder"), label(L"LABEL"), app(L"test");
    ASSERT_EQ(image->get_Root(&root.p), S_OK);
    ASSERT_EQ(root->CreateNewFolder(name.b, &folder.p), S_OK);
    ASSERT_EQ(image->Build(0, label.b, app.b), S_OK);
    image->get_FileSystemHandle(&handle);
  }

  qvtest::VirtualDriveHome home;
  Ptr<IDevices> devices;
  Ptr<IDevice> held[8];
  Ptr<IJolietImage> image;
  UINT64 handle = 0;
};

TEST_F(Automation, EraseBlanksRewritablesOnlyAndClosingFollowsTestWrite) {
  Drives({"cd-r", "dvd-r", "cd-rw", "dvd+r"});
  EXPECT_EQ(Device(0)->Erase(VARIANT_FALSE), S_FALSE) << "a CD-R is not erased";
  EXPECT_EQ(Device(1)->Erase(VARIANT_TRUE), S_FALSE) << "nor a DVD-R";
  EXPECT_EQ(Device(2)->Erase(VARIANT_FALSE), S_OK);
  Image();
  // A test write leaves the disc blank and its session open; a real one
  // closes the session even when another may follow.
  EXPECT_EQ(Device(0)->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_TRUE, VARIANT_TRUE), S_OK);
  Ptr<IDiscInfo> info;
  VARIANT_BOOL blank = VARIANT_FALSE;
  ASSERT_EQ(Device(0)->GetDiscInfo(&info.p), S_OK);
  info->get_IsBlank(&blank);
  EXPECT_EQ(blank, VARIANT_TRUE) << "a test write records nothing";
  EXPECT_EQ(Device(0)->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_FALSE, VARIANT_TRUE), S_OK);
  info.Reset();
  ASSERT_EQ(Device(0)->GetDiscInfo(&info.p), S_OK);
  unsigned char status = 0, session = 0;
  info->get_DiscStatus(&status);
  info->get_LastSessionStatus(&session);
  EXPECT_EQ(status, 1) << "appendable";
  EXPECT_EQ(session, 0) << "closed: the last session is the next, empty one";
  // No test write on DVD+R: the client hears of it.
  Notified notified;
  IDevice* dvd = Device(3);
  ASSERT_EQ(dvd->put_NotifyCallbackTestWriteDisabled(&notified), S_OK);
  dvd->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_TRUE, VARIANT_FALSE);
  EXPECT_EQ(notified.calls, 1);
  dvd->put_NotifyCallbackTestWriteDisabled(nullptr);
}

// The source (or description) of the error object the last failed call
// left on this thread.
std::wstring ErrorSource(bool description = false) {
  Ptr<IErrorInfo> info;
  if (GetErrorInfo(0, &info.p) != S_OK) return L"(none)";
  BSTR text = nullptr;
  description ? info->GetDescription(&text) : info->GetSource(&text);
  return Text(text);
}

TEST_F(Automation, ABusyDriveIsWaitedForAndADiscPulledMidBurnFails) {
  Drives({"dvd+r"});
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "busy", "opcode": 27, "times": 3}]})"), 0u);
  EXPECT_EQ(Device(0)->Eject(), S_OK);
  EXPECT_EQ(Device(0)->Load(), S_OK);
  // One that stays busy: the whole retry budget, in virtual time.
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "busy", "opcode": 27, "times": 0}]})"), 0u);
  const uint64_t before = home.clock().NowMs();
  EXPECT_EQ(Device(0)->Eject(), static_cast<HRESULT>(0x800A0207));
  EXPECT_EQ(ErrorSource(true), L"SCSI device is busy for a while");
  EXPECT_GE(home.clock().NowMs() - before, 5000u * 100u) << "the engine waited its budget";
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", nullptr), 0u);
  EXPECT_EQ(Device(0)->Load(), S_OK) << "and the drive works again";
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "pull", "opcode": 42, "nth": 2}]})"), 0u);
  ASSERT_EQ(Create(CLSID_CJolietImage, IID_IJolietImage, image.Out()), S_OK);
  Ptr<INode> root, file;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);  // a file big enough to burn for a while
  Bstr empty(L""), path(self), label(L"L"), app(L"t");
  ASSERT_EQ(image->get_Root(&root.p), S_OK);
  ASSERT_EQ(root->AddFile(empty.b, path.b, &file.p), S_OK);
  ASSERT_EQ(image->Build(0, label.b, app.b), S_OK);
  image->get_FileSystemHandle(&handle);
  const HRESULT pulled = Device(0)->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_FALSE, VARIANT_FALSE);
  EXPECT_TRUE(FAILED(pulled)) << std::hex << pulled;
  EXPECT_EQ(ErrorSource(), L"Quorvane.Device.1");
  BSTR message = nullptr;
  Device(0)->get_ErrorMessage(&message);
  EXPECT_FALSE(Text(message).empty());
}

TEST_F(Automation, TheTreeWithoutACollisionCallbackRenamesAndRemoves) {
  ASSERT_EQ(Create(CLSID_CJolietImage, IID_IJolietImage, image.Out()), S_OK);
  Ptr<INode> root, first, second, kid;
  ASSERT_EQ(image->get_Root(&root.p), S_OK);
  EXPECT_EQ(root->get_FirstKid(&kid.p), S_FALSE) << "a new image is empty";
  EXPECT_EQ(kid.p, nullptr);
  Ptr<IQuorvaneCollisionCallBack> none;
  EXPECT_EQ(image->get_CollisionCallback(&none.p), S_FALSE);
  Bstr name(L"same.txt");
  ASSERT_EQ(root->CreateNewFolder(name.b, &first.p), S_OK);
  ASSERT_EQ(root->CreateNewFolder(name.b, &second.p), S_OK);
  // Both stay (the time-stamp name is the new one's Joliet name), none merged.
  Ptr<INode> a, b, c;
  ASSERT_EQ(root->get_FirstKid(&a.p), S_OK);
  ASSERT_EQ(a->get_NextKid(&b.p), S_OK);
  EXPECT_EQ(b->get_NextKid(&c.p), S_FALSE);
  Bstr path(L"C:\\no\\such\\file.txt"), empty(L"");
  Ptr<INode> missing;
  EXPECT_NE(root->AddFile(empty.b, path.b, &missing.p), S_OK);
  ASSERT_EQ(root->Remove(), S_OK);
  kid.Reset();
  EXPECT_EQ(root->get_FirstKid(&kid.p), S_FALSE) << "the removed root reports no kids";
  Bstr file(L"x.iso");
  EXPECT_EQ(image->SaveImageToFile(file.b, nullptr), static_cast<HRESULT>(0x800A0100));
}

}  // namespace
