// The Device's drive settings and single-step members in-process on virtual
// drives: what the drive holds afterwards is read back through the
// virtual drive, not through the member that set it.
#include <windows.h>

#include <fstream>
#include <string>

#include "control/win32/com_object.h"
#include "control/win32/server.h"
#include "support/vdrive_fixture.h"
#include "com_ptr.h"

namespace {

using namespace qv::control;

class DeviceMembers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override {
    dev.Reset();
    CoUninitialize();
  }
  // The Devices list's first drive, holding the given media.
  void Drive(const char* media) {
    ASSERT_EQ(QvDrive_Create("CdRom0", media, nullptr), 0u);
    Ptr<IClassFactory> factory;
    Ptr<IDevices> devices;
    ASSERT_EQ(GetServerClassObject(CLSID_CDevices, IID_IClassFactory, factory.Out()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDevices, devices.Out()), S_OK);
    ASSERT_EQ(devices->GetDevice(0, &dev.p), S_OK);
  }
  unsigned char SenseKey() {
    unsigned char key = 0xFF;
    dev->get_LastSenseKey(&key);
    return key;
  }

  qvtest::VirtualDriveHome home;
  Ptr<IDevice> dev;
};

TEST_F(DeviceMembers, SpeedsAndBufferUnderrunProtectionReachTheDrive) {
  Drive("cd-r");
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

TEST_F(DeviceMembers, ALockedTrayStaysShutUntilReleased) {
  Drive("cd-rw");
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

TEST_F(DeviceMembers, TheAtipOfACdAndNoneOfADvd) {
  Drive("cd-rw");
  unsigned char atip[256] = {};
  ASSERT_EQ(dev->ReadATIP(atip, sizeof atip), S_OK);
  EXPECT_GE(atip[12], 60) << "the lead-out starts past the hour on a 74 or 80 minute disc";
  EXPECT_LT(atip[13], 60);
  ASSERT_EQ(QvDrive_InsertMedia("CdRom0", "dvd+r"), 0u);
  EXPECT_TRUE(FAILED(dev->ReadATIP(atip, sizeof atip)));
  EXPECT_EQ(SenseKey(), 5);
}

TEST_F(DeviceMembers, AFileBurntAsATrackAndTheSessionClosedAfterwards) {
  Drive("cd-r");
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
