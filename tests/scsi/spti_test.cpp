// The pass-through transport on the Linux SG_IO path, against a fake bus
// behind the system-call seam, in virtual time: what the OS path adds to
// the shared retry loop (RetryLoop): the failure record's layout, opening,
// the read-only fallback, the SCSI address and the system's transfer limit.
#include <fcntl.h>

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
  unsigned index = bus.Add({.host = 3, .channel = 1, .id = 4, .lun = 3, .type = 5});

  std::string SrPath() const { return (bus.dir().path() / "dev" / ("sr" + std::to_string(index))).string(); }
  void Answer(qvtest::FakeScsiBus::Handler answer) { bus.SetHandler(std::move(answer)); }
};

const uint8_t kTestUnitReady[6] = {0x00, 0, 0, 0, 0, 0};

// The packed record: valid, the CDB's length and bytes padded to 16, all
// 32 sense bytes, then transport, target and host adapter status.
TEST_F(Spti, FailureRecordHoldsTheCommandAndAllSenseBytes) {
  CQuorvane_ScsiTransportSPTI t("CdRom0");
  uint8_t sense[32];
  for (int i = 0; i < 32; ++i) sense[i] = static_cast<uint8_t>(0xA0 + i);
  sense[0] = 0x70, sense[2] = 0x05, sense[12] = 0x24, sense[13] = 0x00;
  Answer([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) {
    std::memcpy(hdr.sbp, sense, 32);
    hdr.sb_len_wr = 32;
    hdr.status = 2;
    return 0;
  });
  const uint8_t read10[10] = {0x28, 0, 0x00, 0x01, 0x02, 0x03, 0, 0x00, 0x02, 0};
  uint8_t data[4096];
  auto e = Fails(8, [&] { t.ExecuteCDB(read10, 10, data, sizeof data, 0); });
  std::vector<uint8_t> expected = {1, 10};
  expected.insert(expected.end(), read10, read10 + 10);
  expected.resize(18);
  expected.push_back(32);
  expected.insert(expected.end(), sense, sense + 32);
  expected.insert(expected.end(), {0, 2, 0});
  const auto* raw = reinterpret_cast<const uint8_t*>(e->FailureInformation());
  EXPECT_EQ(std::vector<uint8_t>(raw, raw + 54), expected);
}

// INQUIRY asks for 96 bytes with the LUN in byte 1; the descriptor is
// closed with the transport.
TEST_F(Spti, OpensTheDeviceAndReadsItsAddressAndType) {
  bus.PassInquiryToHandler(true);
  std::vector<uint8_t> cdb;
  Answer([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) {
    cdb.assign(hdr.cmdp, hdr.cmdp + hdr.cmd_len);
    static_cast<uint8_t*>(hdr.dxferp)[0] = 0x04;
    return 0;
  });
  {
    CQuorvane_ScsiTransportSPTI t("CdRom0");
    EXPECT_EQ(std::string(t.GetDevicePath()), SrPath());
    EXPECT_FALSE(t.IsReadOnly());
    EXPECT_EQ((std::vector<int>{t.GetPortId(), t.GetPathId(), t.GetTargetId(), t.GetLUN(), t.GetDeviceType()}),
              (std::vector<int>{3, 1, 4, 3, 4}));
    EXPECT_EQ(cdb, (std::vector<uint8_t>{0x12, 0x60, 0, 0, 96, 0}));
    EXPECT_EQ(bus.OpenFiles(), 1u);
  }
  EXPECT_EQ(bus.OpenFiles(), 0u);
}

TEST_F(Spti, FallsBackToReadOnlyAndRefusesWritingCommands) {
  bus.DenyReadWrite(SrPath());
  // As the kernel does for a read-only open: writing commands are refused.
  bus.SetReadOnlyFilter([](uint8_t opcode) { return opcode != 0x2A; });
  CQuorvane_ScsiTransportSPTI t("CdRom0");
  Answer([](const qvtest::FakeScsiDevice&, sg_io_hdr_t&) { return 0; });
  EXPECT_TRUE(t.IsReadOnly());
  EXPECT_EQ(Catch([&] { t.ExecuteCDB(kTestUnitReady, 6, nullptr, 0, 0); }), nullptr);
  const uint8_t write10[10] = {0x2A, 0, 0, 0, 0x10, 0, 0, 0, 1, 0};
  uint8_t data[2048] = {};
  auto e = Fails(5, [&] { t.ExecuteCDB(write10, 10, data, sizeof data, 1); });
  EXPECT_EQ(e->SystemError(), 5u);
}

TEST_F(Spti, OpeningFailuresLeaveNothingOpen) {
  auto e = Fails(5, [] { CQuorvane_ScsiTransportSPTI t("CdRom7"); });
  EXPECT_EQ(e->SystemError(), 2u);
  bus.PassInquiryToHandler(true);
  Answer([](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) {
    qvtest::SetCheckCondition(hdr, 5, 0x25, 0);
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

// How much a long read asks for per command: the system's limit for the
// device (32 KiB from the fake kernel) bounds it.
TEST_F(Spti, LongReadsFollowTheSystemsTransferLimit) {
  CQuorvane_ScsiTransportSPTI transport(bus.DevPath(index).c_str());
  EXPECT_EQ(transport.GetHostTransferLimit(), 32768u);
  const struct {
    uint32_t hostLimit, blockSize, blocks;
  } cases[] = {
      {0, 2048, 30},         // unknown: the classic 60 KiB
      {131072, 2352, 55},    // audio blocks, whole ones only
      {1310720, 2048, 512},  // a large limit stops at 1 MiB
      {1000, 2048, 1},       // less than a block still reads one
  };
  for (const auto& c : cases) EXPECT_EQ(QuorvaneI_ChunkBlocks(c.hostLimit, c.blockSize), c.blocks) << c.hostLimit;
}

}  // namespace
