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

struct Outcome {
  const char* name;
  std::function<int(sg_io_hdr_t&)> answer;
  uint32_t systemError;
  uint8_t status;
  uint8_t senseKey, asc;
};

class SgIoOutcomes : public SgIo, public ::testing::WithParamInterface<Outcome> {};

TEST_P(SgIoOutcomes, MapsTheReply) {
  const Outcome& o = GetParam();
  bus.SetHandler([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) { return o.answer(hdr); });
  const ScsiReply r = Send(0x00);
  EXPECT_EQ(r.systemError, o.systemError);
  EXPECT_EQ(r.status, o.status);
  EXPECT_EQ(r.sense[2] & 0x0F, o.senseKey);
  EXPECT_EQ(r.sense[12], o.asc);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SgIoOutcomes,
    ::testing::Values(
        Outcome{"Good", [](sg_io_hdr_t&) { return 0; }, 0, 0, 0, 0},
        Outcome{"CheckCondition",
                [](sg_io_hdr_t& h) {
                  qvtest::SetCheckCondition(h, 5, 0x20, 0);
                  return 0;
                },
                0, 2, 5, 0x20},
        Outcome{"DescriptorSense",
                [](sg_io_hdr_t& h) {
                  const uint8_t d[8] = {0x72, 0x06, 0x28, 0x00, 0, 0, 0, 0};
                  std::memcpy(h.sbp, d, 8);
                  h.sb_len_wr = 8;
                  h.status = 2;
                  return 0;
                },
                0, 2, 6, 0x28},
        Outcome{"SenseWithGoodStatusByte",
                [](sg_io_hdr_t& h) {
                  qvtest::SetCheckCondition(h, 2, 0x04, 0x01);
                  h.status = 0;
                  return 0;
                },
                0, 2, 2, 0x04},
        Outcome{"Busy",
                [](sg_io_hdr_t& h) {
                  h.status = 8;
                  return 0;
                },
                0, 8, 0, 0},
        // The host failed the command without sense: never a success.
        Outcome{"HostErrorWithoutSense",
                [](sg_io_hdr_t& h) {
                  h.host_status = 0x07;
                  return 0;
                },
                1117, 0, 0, 0},
        Outcome{"HostTimeout",
                [](sg_io_hdr_t& h) {
                  h.host_status = 0x03;
                  return 0;
                },
                121, 0, 0, 0},
        Outcome{"NoConnect",
                [](sg_io_hdr_t& h) {
                  h.host_status = 0x01;
                  return 0;
                },
                1167, 0, 0, 0},
        Outcome{"DriverError",
                [](sg_io_hdr_t& h) {
                  h.driver_status = 0x04;
                  return 0;
                },
                1117, 0, 0, 0},
        Outcome{"IoctlFails",
                [](sg_io_hdr_t&) {
                  errno = ENODEV;
                  return -1;
                },
                1167, 0, 0, 0},
        Outcome{"IoctlPermission",
                [](sg_io_hdr_t&) {
                  errno = EPERM;
                  return -1;
                },
                5, 0, 0, 0}),
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
