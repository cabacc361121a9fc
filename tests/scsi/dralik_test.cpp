// The pass-through transport's auxiliary-driver door, against a stand-in
// driver registered under its module name: when it serves a name the
// transport uses its handle; otherwise the OS device.
#include <cstring>

#include "platform/dynlib.h"
#include "scsi/transport_spti.h"
#include "fake_libraries.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

using namespace scsitest;

class Dralik : public ::testing::Test {
 protected:
  void SetUp() override {
    g_dralik = FakeDralik{};
    bus.Add({.host = 0, .id = 0, .type = 5});  // the OS's /dev/sr0
  }
  scsitest::ScopedBuiltinLibrary library{&kFakeDralik};
  qvtest::VirtualTime time;
  qvtest::FakeScsiBus bus;
};

// Without the driver, or for a name it does not serve, the OS device.
TEST_F(Dralik, FallsBackToTheOsDevice) {
  const struct {
    uint32_t attachResult;
    bool noModule;
    const char* why;
  } cases[] = {
      {2, false, "the driver cannot be reached"},
      {0, false, "the driver does not serve the name"},
      {0, true, "the driver is not installed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    g_dralik = FakeDralik{};
    g_dralik.attachResult = c.attachResult;
    if (c.noModule) qv::plat::UnregisterBuiltinLibrary(&kFakeDralik);
    scsitest::ScopedEnv none("QUORVANE_LIB_DRALIK", c.noModule ? "/nonexistent/libnothing.so" : nullptr);
    const int opened = bus.OpenCount();
    CQuorvane_ScsiTransportSPTI t("CdRom0");
    EXPECT_FALSE(t.IsAuxiliaryDevice());
    EXPECT_EQ(bus.OpenCount(), opened + 1);
    EXPECT_EQ(g_dralik.attached, g_dralik.detached);
  }
}

TEST_F(Dralik, DriverFailuresAreSystemCallFailures) {
  g_dralik.versionResult = 31;
  auto e = Fails(5, [] { CQuorvane_ScsiTransportSPTI t("CdRom3"); });
  EXPECT_EQ(e->SystemError(), 31u);
  EXPECT_EQ(g_dralik.detached, 1);

  g_dralik = FakeDralik{};
  g_dralik.openResult = 5;
  e = Fails(5, [] { CQuorvane_ScsiTransportSPTI t("CdRom3"); });
  EXPECT_EQ(e->SystemError(), 5u);
  EXPECT_EQ(g_dralik.detached, 1);
  EXPECT_EQ(bus.OpenCount(), 0);
}

}  // namespace
