// SG_IO delivery through the system-call seam.
#include <fcntl.h>

#include <cerrno>
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

// One answer of the driver: an ioctl failure (errno), or the header's
// status bytes with sense of a key and code in fixed (0x70) or descriptor
// (0x72) form.
struct Outcome {
  const char* name;
  int ioctlErrno;
  uint8_t statusByte, hostStatus, driverStatus;
  uint8_t senseFormat, senseKey, asc, ascq;
  uint32_t systemError;  // expected
  uint8_t status;        // expected
};

class SgIoOutcomes : public SgIo, public ::testing::WithParamInterface<Outcome> {};

TEST_P(SgIoOutcomes, MapsTheReply) {
  const Outcome& o = GetParam();
  bus.SetHandler([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& h) {
    if (o.ioctlErrno != 0) {
      errno = o.ioctlErrno;
      return -1;
    }
    if (o.senseFormat == 0x70) qvtest::SetCheckCondition(h, o.senseKey, o.asc, o.ascq);
    if (o.senseFormat == 0x72) {
      const uint8_t d[8] = {0x72, o.senseKey, o.asc, o.ascq, 0, 0, 0, 0};
      std::memcpy(h.sbp, d, 8);
      h.sb_len_wr = 8;
    }
    h.status = o.statusByte;
    h.host_status = o.hostStatus;
    if (o.driverStatus) h.driver_status = o.driverStatus;
    return 0;
  });
  const ScsiReply r = Send(0x00);
  EXPECT_EQ(r.systemError, o.systemError);
  EXPECT_EQ(r.status, o.status);
  EXPECT_EQ(r.sense[2] & 0x0F, o.senseFormat ? o.senseKey : 0);
  EXPECT_EQ(r.sense[12], o.senseFormat ? o.asc : 0);
}

INSTANTIATE_TEST_SUITE_P(Replies, SgIoOutcomes,
                         ::testing::Values(
                             // name, errno, status, host, driver, sense form, key, asc, ascq; error, status
                             Outcome{"Good", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                             Outcome{"CheckCondition", 0, 2, 0, 0, 0x70, 5, 0x20, 0, 0, 2},
                             Outcome{"DescriptorSense", 0, 2, 0, 0, 0x72, 6, 0x28, 0, 0, 2},
                             Outcome{"SenseWithGoodStatusByte", 0, 0, 0, 0, 0x70, 2, 0x04, 0x01, 0, 2},
                             Outcome{"Busy", 0, 8, 0, 0, 0, 0, 0, 0, 0, 8},
                             // The host failed the command without sense: never a success.
                             Outcome{"HostErrorWithoutSense", 0, 0, 0x07, 0, 0, 0, 0, 0, 1117, 0},
                             Outcome{"HostTimeout", 0, 0, 0x03, 0, 0, 0, 0, 0, 121, 0},
                             Outcome{"NoConnect", 0, 0, 0x01, 0, 0, 0, 0, 0, 1167, 0},
                             Outcome{"DriverError", 0, 0, 0, 0x04, 0, 0, 0, 0, 1117, 0},
                             Outcome{"IoctlFails", ENODEV, 0, 0, 0, 0, 0, 0, 0, 1167, 0},
                             Outcome{"IoctlPermission", EPERM, 0, 0, 0, 0, 0, 0, 0, 5, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

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

TEST(SgOpen, FallsBackToReadOnly) {
  qvtest::FakeScsiBus bus;
  const unsigned i = bus.Add({});
  bus.DenyReadWrite(bus.DevPath(i));
  bool readOnly = false;
  uint32_t err = 0;
  const int fd = qv::plat::lnx::OpenScsiDevice(bus.DevPath(i).c_str(), &readOnly, &err);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(readOnly);
  bus.Close(fd);
  EXPECT_LT(qv::plat::lnx::OpenScsiDevice((bus.dir().path() / "dev" / "sg9").c_str(), &readOnly, &err), 0);
  EXPECT_EQ(err, 2u);
}

}  // namespace
