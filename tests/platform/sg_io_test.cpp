// SG_IO delivery through the system-call seam.
#include <fcntl.h>

#include <cstring>

#include "platform/linux/sg_io.h"
#include "support/fake_scsi.h"

namespace {

using qv::plat::ScsiDirection;
using qv::plat::ScsiReply;
using qv::plat::ScsiRequest;

class SgIo : public ::testing::Test {
 protected:
  qvtest::FakeScsiBus bus;
  unsigned index = bus.Add({.host = 2, .id = 0, .type = 5});
  int fd = -1;
  void SetUp() override {
    uint32_t err = 0;
    fd = qv::plat::lnx::OpenScsiDevice(bus.DevPath(index).c_str(), nullptr, &err);
    ASSERT_GE(fd, 0);
  }
  void TearDown() override { bus.Close(fd); }
  ScsiReply Send(uint8_t opcode, ScsiDirection dir = ScsiDirection::None, void* buf = nullptr, uint32_t size = 0) {
    uint8_t cdb[10] = {opcode};
    ScsiRequest req;
    req.cdb = cdb;
    req.cdbLength = 10;
    req.buffer = buf;
    req.bufferSize = size;
    req.direction = dir;
    req.timeoutSeconds = 30;
    ScsiReply reply;
    qv::plat::lnx::SgExecute(fd, req, reply);
    return reply;
  }
};

// Every combination of the four parts of an answer: status byte, host
// status, driver status and sense (none, a recovered error, a failure).
// A host failure decides first, then a driver failure; only then do the
// status byte and the sense speak, and failing sense is never a success.
struct Part {
  uint8_t value;
  uint32_t systemError;  // what this part alone makes of the answer; 0 when it leaves it to the rest
};
constexpr Part kHosts[] = {{0x00, 0}, {0x01, 1167}, {0x02, 170}, {0x03, 121}, {0x07, 1117}, {0x08, 1117}};
// A suggestion in the high bits changes nothing.
constexpr Part kDrivers[] = {{0x00, 0}, {0x08, 0}, {0x28, 0}, {0x01, 170}, {0x06, 121}, {0x04, 1117}, {0x17, 1117}};
constexpr uint8_t kStatuses[] = {0x00, 0x02, 0x08};
constexpr int kSenseKeys[] = {-1, 0x01, 0x05};  // -1: no sense bytes

TEST_F(SgIo, EveryAnswerIsDecidedFromAllFourParts) {
  for (const uint8_t status : kStatuses)
    for (const Part& host : kHosts)
      for (const Part& driver : kDrivers)
        for (const int senseKey : kSenseKeys) {
          SCOPED_TRACE(::testing::Message() << "status " << int{status} << ", host " << int{host.value} << ", driver "
                                            << int{driver.value} << ", sense key " << senseKey);
          bus.SetHandler([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& h) {
            if (senseKey >= 0) {
              // Descriptor format: its key is found only once converted.
              const uint8_t sense[8] = {0x72, static_cast<uint8_t>(senseKey), 0x44, 0, 0, 0, 0, 0};
              std::memcpy(h.sbp, sense, sizeof sense);
              h.sb_len_wr = sizeof sense;
            }
            h.status = status;
            h.host_status = host.value;
            h.driver_status = driver.value;
            return 0;
          });
          const ScsiReply r = Send(0x00);
          const uint32_t error = host.systemError != 0 ? host.systemError : driver.systemError;
          EXPECT_EQ(r.systemError, error);
          const bool failingSense = senseKey > 1 || (senseKey < 0 && (driver.value & 0x0F) == 0x08);
          if (error == 0) {
            EXPECT_EQ(r.status, status == 0 && failingSense ? 2 : status);
          }
        }
}

TEST_F(SgIo, TransfersInBothDirectionsAndCountsTheResidue) {
  sg_io_hdr_t seen{};
  bus.SetHandler([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) {
    seen = hdr;
    if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
      std::memset(hdr.dxferp, 0x5A, 100);
      hdr.resid = static_cast<int>(hdr.dxfer_len - 100);
    }
    return 0;
  });
  uint8_t buf[512] = {};
  ScsiReply r = Send(0x28, ScsiDirection::In, buf, sizeof buf);
  EXPECT_EQ(seen.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(seen.dxfer_len, 512u);
  EXPECT_EQ(seen.mx_sb_len, 32);
  EXPECT_EQ(seen.timeout, 30000u);
  EXPECT_EQ(seen.cmd_len, 10);
  EXPECT_EQ(r.transferred, 100u);
  EXPECT_EQ(buf[99], 0x5A);
  EXPECT_EQ(buf[100], 0);

  r = Send(0x2A, ScsiDirection::Out, buf, sizeof buf);
  EXPECT_EQ(seen.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(r.transferred, 512u);

  r = Send(0x00, ScsiDirection::In, nullptr, 0);
  EXPECT_EQ(seen.dxfer_direction, SG_DXFER_NONE) << "no data means no direction";
}

}  // namespace
