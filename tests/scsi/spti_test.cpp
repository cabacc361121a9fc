// The pass-through transport on the Linux SG_IO path, against a fake bus
// behind the system-call seam, in virtual time: what the OS path adds to
// the shared retry loop (delivery failures and time-outs, the failure
// record), opening, the read-only fallback and the SCSI address.
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "platform/passthrough.h"
#include "scsi/transport_spti.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

using scsitest::Catch;
using scsitest::Fails;

class Spti : public ::testing::Test {
 protected:
  // Keep the auxiliary driver out of these tests: they are about the OS path.
  scsitest::ScopedEnv noDralik{"QUORVANE_LIB_DRALIK", ""};
  qvtest::VirtualTime time;
  qvtest::FakeScsiBus bus;
  unsigned index = bus.Add({.host = 3, .channel = 1, .id = 4, .lun = 0, .type = 5});

  std::string SrPath() const { return (bus.dir().path() / "dev" / ("sr" + std::to_string(index))).string(); }

  // Answers every command but INQUIRY with answer(opcode, call number).
  void Answer(std::function<int(sg_io_hdr_t&, int call)> answer) {
    calls = 0;
    bus.SetHandler([this, answer](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) { return answer(hdr, ++calls); });
  }
  int calls = 0;
};

const uint8_t kTestUnitReady[6] = {0x00, 0, 0, 0, 0, 0};
const uint8_t kWrite10[10] = {0x2A, 0, 0, 0, 0x10, 0, 0, 0, 1, 0};

TEST_F(Spti, FailureRecordHoldsTheCommandAndAllSenseBytes) {
  CQuorvane_ScsiTransportSPTI t("CdRom0");
  Answer([](sg_io_hdr_t& hdr, int) {
    uint8_t sense[32];
    for (int i = 0; i < 32; ++i) sense[i] = static_cast<uint8_t>(0xA0 + i);
    sense[0] = 0x70;
    sense[2] = 0x05;
    sense[12] = 0x24;
    sense[13] = 0x00;
    std::memcpy(hdr.sbp, sense, 32);
    hdr.sb_len_wr = 32;
    hdr.status = 2;
    return 0;
  });
  const uint8_t read10[10] = {0x28, 0, 0x00, 0x01, 0x02, 0x03, 0, 0x00, 0x02, 0};
  uint8_t data[4096];
  auto e = Fails(8, [&] { t.ExecuteCDB(read10, 10, data, sizeof data, 0); });
  const CDB_FAILURE_INFORMATION* info = e->FailureInformation();
  ASSERT_NE(info, nullptr);
  // Valid, the CDB's length and bytes padded to 16, all 32 sense bytes,
  // then transport, target and host adapter status.
  const auto* raw = reinterpret_cast<const uint8_t*>(info);
  std::vector<uint8_t> expected = {1, 10, 0x28, 0, 0x00, 0x01, 0x02, 0x03, 0, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 32};
  for (int i = 0; i < 32; ++i)
    expected.push_back(static_cast<uint8_t>(i == 0 ? 0x70 : i == 2 ? 0x05 : i == 12 ? 0x24 : i == 13 ? 0 : 0xA0 + i));
  expected.insert(expected.end(), {0, 2, 0});
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + 54), expected);
}

// Descriptor-format sense reaches the record in fixed format.
TEST_F(Spti, DescriptorSenseIsRecordedInFixedFormat) {
  CQuorvane_ScsiTransportSPTI t("CdRom0");
  Answer([](sg_io_hdr_t& hdr, int) {
    const uint8_t d[8] = {0x72, 0x03, 0x11, 0x05, 0, 0, 0, 0};
    std::memcpy(hdr.sbp, d, sizeof d);
    hdr.sb_len_wr = sizeof d;
    hdr.status = 2;
    return 0;
  });
  auto e = Fails(8, [&] { t.ExecuteCDB(kTestUnitReady, 6, nullptr, 0, 0); });
  const uint8_t* sense = e->FailureInformation()->m__UCHAR__Sense;
  EXPECT_EQ((std::vector<uint8_t>{sense[0], sense[2], sense[12], sense[13]}), (std::vector<uint8_t>{0x70, 3, 0x11, 5}));
}

// Delivery failures and the OS's time-outs are RetryLoop.DoorFailures's.

TEST_F(Spti, OpensTheDeviceAndReadsItsAddressAndType) {
  {
    CQuorvane_ScsiTransportSPTI t("CdRom0");
    EXPECT_EQ(std::string(t.GetDevicePath()), SrPath());
    EXPECT_FALSE(t.IsReadOnly());
    EXPECT_FALSE(t.IsAuxiliaryDevice());
    EXPECT_EQ((std::vector<int>{t.GetPortId(), t.GetPathId(), t.GetTargetId(), t.GetLUN(), t.GetDeviceType()}),
              (std::vector<int>{3, 1, 4, 0, 5}));
    EXPECT_EQ(bus.Opcodes(), std::vector<uint8_t>{0x12});
    EXPECT_EQ(bus.OpenFiles(), 1u);
  }
  EXPECT_EQ(bus.OpenFiles(), 0u) << "closed when destroyed";
}

TEST_F(Spti, InquiryCarriesTheLunAndAsksFor96Bytes) {
  qvtest::FakeScsiBus lunBus;
  lunBus.Add({.host = 0, .id = 1, .lun = 3, .type = 4});
  std::vector<uint8_t> cdb;
  lunBus.PassInquiryToHandler(true);
  lunBus.SetHandler([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) {
    cdb.assign(hdr.cmdp, hdr.cmdp + hdr.cmd_len);
    static_cast<uint8_t*>(hdr.dxferp)[0] = 0x04;
    return 0;
  });
  CQuorvane_ScsiTransportSPTI t("CdRom0");
  EXPECT_EQ(cdb, (std::vector<uint8_t>{0x12, 0x60, 0, 0, 96, 0}));
  EXPECT_EQ(t.GetLUN(), 3);
  EXPECT_EQ(t.GetDeviceType(), 4);
}

TEST_F(Spti, FallsBackToReadOnlyAndRefusesWritingCommands) {
  bus.DenyReadWrite(SrPath());
  // As the kernel does for a read-only open: writing commands are refused.
  bus.SetReadOnlyFilter([](uint8_t opcode) { return opcode != 0x2A; });
  CQuorvane_ScsiTransportSPTI t("CdRom0");
  Answer([](sg_io_hdr_t&, int) { return 0; });
  EXPECT_TRUE(t.IsReadOnly());
  EXPECT_EQ(Catch([&] { t.ExecuteCDB(kTestUnitReady, 6, nullptr, 0, 0); }), nullptr);

  uint8_t data[2048] = {};
  auto e = Fails(5, [&] { t.ExecuteCDB(kWrite10, 10, data, sizeof data, 1); });
  EXPECT_EQ(e->SystemError(), 5u);
}

TEST_F(Spti, ADeviceThatCannotBeOpenedFailsWithItsSystemError) {
  auto e = Fails(5, [] { CQuorvane_ScsiTransportSPTI t("CdRom7"); });
  EXPECT_EQ(e->SystemError(), 2u);
  EXPECT_EQ(bus.OpenFiles(), 0u);
}

TEST_F(Spti, AFailingInquiryClosesTheDeviceAndPassesTheFailureOn) {
  bus.PassInquiryToHandler(true);
  Answer([](sg_io_hdr_t& hdr, int) {
    qvtest::SetCheckCondition(hdr, 5, 0x25, 0x00);
    return 0;
  });
  Fails(8, [] { CQuorvane_ScsiTransportSPTI t("CdRom0"); });
  EXPECT_EQ(bus.OpenFiles(), 0u);
}

TEST(PassThroughPath, MapsDeviceNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"cdrom12", "/dev/sr12"}, {"\\\\.\\CdRom1", "/dev/sr1"}, {"/dev/sg3", "/dev/sg3"}, {"sg2", "/dev/sg2"},
      {"CdRomX", "/dev/CdRomX"},
  };
  for (const auto& [device, path] : cases) EXPECT_EQ(qv::plat::PassThroughDevicePath(device), path) << device;
}

}  // namespace
