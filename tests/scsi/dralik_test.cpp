// The pass-through transport's auxiliary-driver door, against a stand-in
// driver registered under its module name, for what the virtual drive's
// driver never does: refuse to attach, to tell its version or to open.
#include "platform/dynlib.h"
#include "scsi/transport_spti.h"
#include "fake_libraries.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

using namespace scsitest;

class Dralik : public ::testing::Test {
 protected:
  void SetUp() override { bus.Add({.host = 0, .id = 0, .type = 5}); }  // the OS's /dev/sr0
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

// The driver serves the name but fails: no fallback, and it is detached.
TEST_F(Dralik, DriverFailuresAreSystemCallFailures) {
  for (const bool versionFails : {true, false}) {
    g_dralik = FakeDralik{};
    (versionFails ? g_dralik.versionResult : g_dralik.openResult) = versionFails ? 31 : 5;
    auto e = Fails(5, [] { CQuorvane_ScsiTransportSPTI t("CdRom3"); });
    EXPECT_EQ(e->SystemError(), versionFails ? 31u : 5u);
    EXPECT_EQ(g_dralik.detached, 1);
  }
  EXPECT_EQ(bus.OpenCount(), 0);
}

}  // namespace
