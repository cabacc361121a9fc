// Devices, Device and JolietImage in-process on virtual drives in virtual
// time: what a client sees of listing, burning, erasing and the tree, and
// the Device's settings and single-step members, read back through the
// virtual drive rather than through the member that set them.
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

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

class Notified : public StackSink<IQuorvaneNotificationCallBack> {
 public:
  int calls = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IQuorvaneNotificationCallBack) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE NotifyCallBack() override {
    ++calls;
    return S_OK;
  }
};

class Automation : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override {
    for (auto& h : held) h.Reset();
    devices.Reset();
    file.Reset();
    image.Reset();
    CoUninitialize();
  }

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
  unsigned char SenseKey() {
    unsigned char key = 0xFF;
    held[0]->get_LastSenseKey(&key);
    return key;
  }
  // A built image holding one virtual folder, or the test program itself
  // (a file big enough to burn for a while) as the node `file`.
  void Image(bool withSelf = false) {
    ASSERT_EQ(Create(CLSID_CJolietImage, IID_IJolietImage, image.Out()), S_OK);
    Ptr<INode> root, folder;
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    Bstr name(L"folder"), empty(L""), path(self), label(L"LABEL"), app(L"test");
    ASSERT_EQ(image->get_Root(&root.p), S_OK);
    if (withSelf) {
      ASSERT_EQ(root->AddFile(empty.b, path.b, &file.p), S_OK);
    } else {
      ASSERT_EQ(root->CreateNewFolder(name.b, &folder.p), S_OK);
    }
    ASSERT_EQ(image->Build(0, label.b, app.b), S_OK);
    image->get_FileSystemHandle(&handle);
  }

  qvtest::VirtualDriveHome home;
  Ptr<IDevices> devices;
  Ptr<IDevice> held[8];
  Ptr<IJolietImage> image;
  Ptr<INode> file;
  wchar_t self[MAX_PATH] = {};
  UINT64 handle = 0;
};

TEST_F(Automation, EraseBlanksRewritablesOnlyAndClosingFollowsTestWrite) {
  Drives({"cd-r", "dvd+r", "cd-rw"});
  EXPECT_EQ(Device(0)->Erase(VARIANT_FALSE), S_FALSE) << "a CD-R is not erased";
  Ptr<IDiscInfo> notAnImage;
  ASSERT_EQ(Create(CLSID_CDiscInfo, IID_IDiscInfo, notAnImage.Out()), S_OK);
  EXPECT_EQ(Device(2)->ImportTrack(notAnImage.p, VARIANT_TRUE, 1), E_NOINTERFACE);
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
  IDevice* dvd = Device(1);
  ASSERT_EQ(dvd->put_NotifyCallbackTestWriteDisabled(&notified), S_OK);
  dvd->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_TRUE, VARIANT_FALSE);
  EXPECT_EQ(notified.calls, 1);
  dvd->put_NotifyCallbackTestWriteDisabled(nullptr);
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
  EXPECT_EQ(TakeErrorObject(), "Quorvane.Device.1|SCSI device is busy for a while");
  EXPECT_GE(home.clock().NowMs() - before, 5000u * 100u) << "the engine waited its budget";
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", nullptr), 0u);
  EXPECT_EQ(Device(0)->Load(), S_OK) << "and the drive works again";
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", R"({"rules": [{"kind": "pull", "opcode": 42, "nth": 2}]})"), 0u);
  Image(true);
  const HRESULT pulled = Device(0)->TrackAtOnceFromFileSystemHandle(static_cast<long>(handle), VARIANT_FALSE, VARIANT_FALSE);
  EXPECT_TRUE(FAILED(pulled)) << std::hex << pulled;
  EXPECT_EQ(TakeErrorObject().rfind("Quorvane.Device.1|", 0), 0u);
  BSTR message = nullptr;
  Device(0)->get_ErrorMessage(&message);
  EXPECT_NE(Narrow(message), "");
  SysFreeString(message);
}

TEST_F(Automation, TheTreeWithoutACollisionCallbackRenamesAndRemoves) {
  ASSERT_EQ(Create(CLSID_CJolietImage, IID_IJolietImage, image.Out()), S_OK);
  Ptr<INode> root, first, second, kid;
  ASSERT_EQ(image->get_Root(&root.p), S_OK);
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
  EXPECT_EQ(root->get_FirstKid(&kid.p), S_FALSE) << "the removed root reports no kids";
  // (DVDVideoImage2's is server.vbs's.)
  Ptr<IDVDVideoImage> dvd;
  long dvdHandle = 0;
  ASSERT_EQ(Create(CLSID_CDVDVideoImage, IID_IDVDVideoImage, dvd.Out()), S_OK);
  EXPECT_EQ(dvd->get_FileSystemHandle(&dvdHandle), static_cast<HRESULT>(0x800A0100)) << "DVDVideoImage not built";
}

TEST_F(Automation, SavingIntoAMissingFolderFailsWithTheSystemError) {
  Image();
  Bstr bad(L"C:\\no\\such\\folder\\x.iso");
  EXPECT_EQ(image->SaveImageToFile(bad.b, nullptr), static_cast<HRESULT>(0x80070003));
}

// A file's node carries the file's date, not the time of the run.
TEST_F(Automation, AFileNodeCarriesTheFilesDate) {
  Image(true);
  Ptr<INodeDateTime> stamp;
  ASSERT_EQ(file->get_DateTime(&stamp.p), S_OK);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  FILETIME local;
  SYSTEMTIME made;
  ASSERT_TRUE(GetFileAttributesExW(self, GetFileExInfoStandard, &data));
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  FileTimeToSystemTime(&local, &made);
  USHORT year = 0, day = 0;
  short month = 0;
  stamp->get_Year(&year);
  stamp->get_Month(&month);
  stamp->get_Day(&day);
  EXPECT_EQ(std::vector<int>({year, month, day}), std::vector<int>({made.wYear, made.wMonth, made.wDay}));
}

TEST_F(Automation, SpeedsAndBufferUnderrunProtectionReachTheDrive) {
  Drives({"cd-r"});
  IDevice* dev = Device(0);
  ULONG speed[4] = {};  // current read, maximum read, current write, maximum write
  ASSERT_EQ(dev->GetSpeeds(&speed[0], &speed[1], &speed[2], &speed[3]), S_OK);
  ASSERT_GT(speed[3], 706u) << "a writer faster than 4x";
  ASSERT_EQ(dev->SetSpeeds(706, 706), S_OK);
  ULONG slow[4] = {};
  ASSERT_EQ(dev->GetSpeeds(&slow[0], &slow[1], &slow[2], &slow[3]), S_OK);
  EXPECT_LE(slow[2], 706u) << "the drive writes no faster than asked";
  EXPECT_EQ(slow[3], speed[3]) << "the maximum stays";
  for (VARIANT_BOOL on : {VARIANT_TRUE, VARIANT_FALSE}) {
    ASSERT_EQ(dev->SetBUP(on), S_OK);
    VARIANT_BOOL enabled = 1, supported = 0;
    ASSERT_EQ(dev->GetBUP(&enabled, &supported), S_OK);
    EXPECT_EQ(enabled, on);
    EXPECT_EQ(supported, VARIANT_TRUE);
  }
  // A fresh engine object reads the drive's state, not a copy of its own.
  ASSERT_EQ(dev->SetCacheBufferSizeInMBs(0), S_OK);
  ASSERT_EQ(dev->GetSpeeds(&slow[0], &slow[1], &slow[2], &slow[3]), S_OK);
  EXPECT_LE(slow[2], 706u);
}

TEST_F(Automation, ALockedTrayStaysShutUntilReleased) {
  Drives({"cd-rw"});
  IDevice* dev = Device(0);
  ASSERT_EQ(dev->LockDevice(), S_OK);
  EXPECT_EQ(dev->Eject(), static_cast<HRESULT>(0x800A0208)) << "the command failed";
  EXPECT_EQ(SenseKey(), 5) << "ILLEGAL REQUEST: medium removal prevented";
  ASSERT_EQ(dev->ReleaseDevice(), S_OK);
  EXPECT_EQ(dev->Eject(), S_OK);
  // Calibration failing on an empty tray (NOT READY) is only traced: the
  // sense key stays the refused Eject's.
  EXPECT_EQ(dev->SendOPC(), S_OK);
  EXPECT_EQ(SenseKey(), 5);
}

TEST_F(Automation, TheAtipOfACdAndNoneOfADvd) {
  Drives({"cd-rw"});
  IDevice* dev = Device(0);
  unsigned char atip[256] = {};
  ASSERT_EQ(dev->ReadATIP(atip, sizeof atip), S_OK);
  EXPECT_GE(atip[12], 60) << "the lead-out starts past the hour on a 74 or 80 minute disc";
  EXPECT_LT(atip[13], 60);
  ASSERT_EQ(QvDrive_InsertMedia("CdRom0", "dvd+r"), 0u);
  EXPECT_TRUE(FAILED(dev->ReadATIP(atip, sizeof atip)));
  EXPECT_EQ(SenseKey(), 5);
}

TEST_F(Automation, AFileBurntAsATrackAndTheSessionClosedAfterwards) {
  Drives({"cd-r"});
  IDevice* dev = Device(0);
  std::string data(2048 * 600, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 / 2048 + i);
  const std::string file = (home.path() / "track.iso").string(), exported = (home.path() / "export.iso").string();
  std::ofstream(file, std::ios::binary) << data;
  BSTR name = SysAllocString(std::wstring(file.begin(), file.end()).c_str());
  EXPECT_EQ(dev->TrackAtOnceFromFile(name, VARIANT_FALSE, VARIANT_FALSE), S_OK);
  SysFreeString(name);
  auto status = [&](HRESULT (STDMETHODCALLTYPE IDiscInfo::*get)(unsigned char*)) {
    Ptr<IDiscInfo> info;
    unsigned char value = 0xFF;
    if (SUCCEEDED(dev->GetDiscInfo(&info.p))) (info.p->*get)(&value);
    return value;
  };
  EXPECT_EQ(status(&IDiscInfo::get_LastSessionStatus), 1) << "the session is left open";
  ASSERT_EQ(dev->CloseSession(), S_OK);
  EXPECT_EQ(status(&IDiscInfo::get_DiscStatus), 2) << "complete: closed with no next session allowed";
  ASSERT_EQ(QvDrive_Export("CdRom0", exported.c_str()), 0u);
  std::ifstream in(exported, std::ios::binary);
  const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(back.size() >= data.size() && back.compare(0, data.size(), data) == 0) << back.size();
}

}  // namespace
