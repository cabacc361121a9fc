// The pass-through transport's auxiliary-driver door, against a stand-in
// driver registered under its module name: when it serves a name the
// transport uses its handle; otherwise the OS device.
#include <strings.h>

#include <cstring>

#include "platform/dynlib.h"
#include "scsi/transport_spti.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

using scsitest::Catch;

struct FakeDralik {
  uint32_t attachResult = 0;
  uint32_t versionResult = 0;
  uint32_t openResult = 0;
  std::string served = "CdRom3";
  int attached = 0, detached = 0, closedDevices = 0;
  uint32_t versionMagic = 0;
  DRALIK_OPEN_BLOCK lastOpen{};
  uint32_t lastBlockSize = 0;
  std::vector<std::vector<uint8_t>> cdbs;
  std::function<uint32_t(QVDRIVE_REQUEST&)> drive;
} g_dralik;

int g_driver;
constexpr uint32_t kDeviceHandle = 0x51;

uint32_t Attach(void** driver) {
  if (g_dralik.attachResult) return g_dralik.attachResult;
  ++g_dralik.attached;
  *driver = &g_driver;
  return 0;
}
uint32_t Detach(void* driver) {
  if (driver == &g_driver) ++g_dralik.detached;
  return 0;
}
uint32_t Control(void* driver, uint32_t code, void* block, uint32_t size) {
  if (driver != &g_driver) return 6;
  if (code == DRALIK_IOCTL_GET_VERSION) {
    auto* v = static_cast<DRALIK_VERSION_BLOCK*>(block);
    g_dralik.versionMagic = v->magic;
    v->version = 0x00010002;
    return g_dralik.versionResult;
  }
  if (code == DRALIK_IOCTL_OPEN) {
    auto* o = static_cast<DRALIK_OPEN_BLOCK*>(block);
    g_dralik.lastOpen = *o;
    g_dralik.lastBlockSize = size;
    if (g_dralik.openResult) return g_dralik.openResult;
    if (strcasecmp(o->name, g_dralik.served.c_str()) != 0) return 2;
    o->handle = kDeviceHandle;
    return 0;
  }
  return 1;
}
uint32_t PassThrough(uint32_t handle, QVDRIVE_REQUEST* r) {
  if (handle != kDeviceHandle) return 6;
  g_dralik.cdbs.emplace_back(r->cdb, r->cdb + r->cdbLength);
  if (r->cdb[0] == 0x12 && r->buffer) {
    static_cast<uint8_t*>(r->buffer)[0] = 0x05;
    return 0;
  }
  return g_dralik.drive ? g_dralik.drive(*r) : 0;
}
uint32_t CloseDevice(uint32_t handle) {
  if (handle == kDeviceHandle) ++g_dralik.closedDevices;
  return 0;
}

void* Resolve(const char* symbol) {
  if (std::strcmp(symbol, "QvDralik_Attach") == 0) return reinterpret_cast<void*>(&Attach);
  if (std::strcmp(symbol, "QvDralik_Detach") == 0) return reinterpret_cast<void*>(&Detach);
  if (std::strcmp(symbol, "QvDralik_Control") == 0) return reinterpret_cast<void*>(&Control);
  if (std::strcmp(symbol, "QvDralik_PassThrough") == 0) return reinterpret_cast<void*>(&PassThrough);
  if (std::strcmp(symbol, "QvDralik_CloseDevice") == 0) return reinterpret_cast<void*>(&CloseDevice);
  return nullptr;
}
const qv::plat::BuiltinLibrary kFakeDralik{"Dralik", &Resolve};

class Dralik : public ::testing::Test {
 protected:
  void SetUp() override {
    g_dralik = FakeDralik{};
    bus.Add({.host = 0, .id = 0, .type = 5});  // the OS's /dev/sr0
  }
  scsitest::ScopedBuiltinLibrary library{&kFakeDralik};
  qvtest::VirtualTime time;
  qvtest::LogCapture log;
  qvtest::FakeScsiBus bus;
};

TEST_F(Dralik, ServedNamesUseTheDriversHandle) {
  {
    CQuorvane_ScsiTransportSPTI t("cdrom3");
    EXPECT_TRUE(t.IsAuxiliaryDevice());
    EXPECT_EQ(t.GetDeviceType(), 5);
    EXPECT_EQ(g_dralik.versionMagic, QVDRALIK_MAGIC);
    EXPECT_EQ(g_dralik.lastOpen.magic, QVDRALIK_MAGIC);
    EXPECT_EQ(g_dralik.lastOpen.reserved, 0u);
    EXPECT_STREQ(g_dralik.lastOpen.name, "cdrom3");  // the name as given
    EXPECT_EQ(g_dralik.lastBlockSize, 2060u);
    EXPECT_EQ(g_dralik.detached, 1);  // the driver's own handle is closed at once
    EXPECT_EQ(log.Count("Auxiliary driver version 0x00010002"), 1u);

    const uint8_t tur[6] = {};
    t.ExecuteCDB(tur, 6, nullptr, 0, 0);
    ASSERT_EQ(g_dralik.cdbs.size(), 2u);
    EXPECT_EQ(g_dralik.cdbs[0][0], 0x12);
    EXPECT_EQ(g_dralik.cdbs[1][0], 0x00);
    EXPECT_EQ(bus.OpenCount(), 0);  // the OS device was never touched
  }
  EXPECT_EQ(g_dralik.closedDevices, 1);
}

TEST_F(Dralik, RunsTheRetryAlgorithmOnItsDevices) {
  CQuorvane_ScsiTransportSPTI t("CdRom3");
  int calls = 0;
  g_dralik.drive = [&](QVDRIVE_REQUEST& r) -> uint32_t {
    ++calls;
    if (calls == 1) return 121u;  // semaphore time-out
    return calls == 2 ? scsitest::CheckCondition(r, 0x06, 0x28) : 0u;
  };
  const uint8_t tur[6] = {};
  EXPECT_EQ(Catch([&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); }), nullptr);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(time.clock().SleepCount(), 2u);

  g_dralik.drive = [](QVDRIVE_REQUEST&) { return 1167u; };
  auto e = Catch([&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 1167u);
}

// Without the driver, or for a name it does not serve, the OS device.
TEST_F(Dralik, FallsBackToTheOsDevice) {
  const struct {
    uint32_t attachResult;
    bool noModule;
    const char* logged;
  } cases[] = {
      {2, false, "WARNING! CreateFile( '\\\\.\\Dralik' ) failed, status 2 ( 0x2 ), auxiliary driver is not installed"},
      {0, false, "WARNING! Auxiliary driver does not serve 'CdRom0', opening the device itself"},
      {0, true, "status 126 ( 0x7e ), auxiliary driver is not installed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    g_dralik = FakeDralik{};
    g_dralik.attachResult = c.attachResult;
    if (c.noModule) qv::plat::UnregisterBuiltinLibrary(&kFakeDralik);
    scsitest::ScopedEnv none("QUORVANE_LIB_DRALIK", c.noModule ? "/nonexistent/libnothing.so" : nullptr);
    const int opened = bus.OpenCount();
    CQuorvane_ScsiTransportSPTI t("CdRom0");
    EXPECT_FALSE(t.IsAuxiliaryDevice());
    EXPECT_EQ(bus.OpenCount(), opened + 1);
    EXPECT_EQ(log.Count(c.logged), 1u);
    EXPECT_EQ(g_dralik.attached, g_dralik.detached);
  }
}

TEST_F(Dralik, DriverFailuresAreSystemCallFailures) {
  g_dralik.versionResult = 31;
  auto e = Catch([] { CQuorvane_ScsiTransportSPTI t("CdRom3"); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 31u);
  EXPECT_EQ(g_dralik.detached, 1);

  g_dralik = FakeDralik{};
  g_dralik.openResult = 5;
  e = Catch([] { CQuorvane_ScsiTransportSPTI t("CdRom3"); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 5u);
  EXPECT_EQ(g_dralik.detached, 1);
  EXPECT_EQ(bus.OpenCount(), 0);
}

}  // namespace
