// The ASPI transport over the engine's own ASPI library on a fake SCSI
// bus: construction, the 14-byte failure record and ASPI's narrower retry
// rule.
#include <cstring>

#include "scsi/transport_aspi.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

using scsitest::Fails;

class Aspi : public ::testing::Test {
 protected:
  qvtest::VirtualTime time;
  qvtest::FakeScsiBus bus;
  unsigned index = bus.Add({.host = 1, .id = 2, .type = 5});
  int calls = 0;
  void Answer(std::function<int(sg_io_hdr_t&, int call)> answer) {
    calls = 0;
    bus.SetHandler([this, answer](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) { return answer(hdr, ++calls); });
  }
};

const uint8_t kTestUnitReady[6] = {};

TEST_F(Aspi, OpensByAddressAndReadsTheDeviceType) { EXPECT_EQ(CQuorvane_ScsiTransportASPI(1, 0, 2, 0).GetDeviceType(), 5); }

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
    auto e = Fails(6, [&] { CQuorvane_ScsiTransportASPI t(c.port, 0, c.target, 0); });
    EXPECT_NE(std::string(e->Text()).find(c.status), std::string::npos) << e->Text();
    EXPECT_EQ(bus.OpenFiles(), 0u);
  }
}

TEST_F(Aspi, FailureRecordKeeps14SenseBytesAndTheRequestStatus) {
  CQuorvane_ScsiTransportASPI t(1, 0, 2, 0);
  Answer([](sg_io_hdr_t& hdr, int) {
    uint8_t sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00, 0xEE, 0xEE, 0xEE, 0xEE};
    std::memcpy(hdr.sbp, sense, sizeof sense);
    hdr.sb_len_wr = sizeof sense;
    hdr.status = 2;
    return 0;
  });
  const uint8_t read10[10] = {0x28, 0, 0, 0, 0x20, 0, 0, 0, 1, 0};
  uint8_t data[2048];
  auto e = Fails(8, [&] { t.ExecuteCDB(read10, 10, data, sizeof data, 0); });
  const CDB_FAILURE_INFORMATION* info = e->FailureInformation();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->m__UCHAR__SenseLength, 14);
  EXPECT_EQ(info->m__UCHAR__Sense[12], 0x24);
  for (int i = 14; i < 32; ++i) EXPECT_EQ(info->m__UCHAR__Sense[i], 0) << i;
  EXPECT_EQ(info->m__UCHAR__TransportStatus, 0x04);  // SS_ERR
  EXPECT_EQ(info->m__UCHAR__TargetStatus, 2);
  EXPECT_EQ(info->m__UCHAR__HostAdapterStatus, 0);
  EXPECT_EQ(0, std::memcmp(info->m__UCHAR__CDB, read10, 10));
}

}  // namespace
