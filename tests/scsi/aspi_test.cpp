// The ASPI transport's construction over the engine's own ASPI library on
// a fake SCSI bus. (Its 14-byte failure record and narrower retry rule are
// RetryLoop's, over the Aspi door.)
#include "scsi/transport_aspi.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

// The failure names the ASPI status: no adapters, no device at the target,
// no such adapter.
TEST(AspiConstruction, FailsWithTheAspiStatus) {
  const struct {
    uint8_t port, target;
    bool emptyBus;
    const char* status;
  } cases[] = {{0, 0, true, "0xE8"}, {1, 5, false, "0x82"}, {9, 2, false, "0x81"}};
  qvtest::VirtualTime time;
  for (const auto& c : cases) {
    qvtest::FakeScsiBus bus;
    if (!c.emptyBus) bus.Add({.host = 1, .id = 2, .type = 5});
    auto e = scsitest::Fails(6, [&] { CQuorvane_ScsiTransportASPI t(c.port, 0, c.target, 0); });
    EXPECT_NE(std::string(e->Text()).find(c.status), std::string::npos) << e->Text();
    EXPECT_EQ(bus.OpenFiles(), 0u);
  }
}

}  // namespace
