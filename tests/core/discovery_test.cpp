// Finding drives by ASPI address over a fake SCSI bus, and the ASPI loader.
#include <cstdlib>
#include <cstring>

#include "core/engine_fixture.h"
#include "platform/aspi.h"
#include "platform/dynlib.h"
#include "quorvane.h"
#include "support/fake_scsi.h"

namespace {

using Address = std::tuple<int, int, int, int>;

void QUORVANE_CALL Collect(QV_ULONG reason, void* context, void* p1, void* p2) {
  ASSERT_EQ(reason, static_cast<QV_ULONG>(CN_DEVICE_FOUND));
  ASSERT_EQ(p2, nullptr);
  const auto* a = static_cast<const QUORVANE_DEVICE_ADDRESS*>(p1);
  EXPECT_EQ(a->m__UCHAR__IsValid, 1);
  static_cast<std::vector<Address>*>(context)->emplace_back(a->m__UCHAR__PortId, a->m__UCHAR__PathId,
                                                            a->m__UCHAR__TargetId, a->m__UCHAR__LUN);
}

class Discovery : public EngineState {
 protected:
  qvtest::FakeScsiBus bus;
  void SetUp() override {
    EngineState::SetUp();
    bus.Add({.host = 0, .id = 0, .type = 0, .model = "Disk"});
    bus.Add({.host = 0, .id = 1, .type = 5, .model = "Writer A"});
    bus.Add({.host = 1, .id = 0, .type = 5, .model = "Writer B"});
    bus.Add({.host = 1, .id = 3, .type = 1, .model = "Tape", .hasBlock = false});
    bus.Add({.host = 3, .id = 2, .type = 5, .model = "Writer C"});  // hosts need not be contiguous
    bus.Add({.host = 3, .id = 15, .type = 5, .model = "Far Writer"});  // the first past 15 targets
  }
};

// Matching devices in address order; without a bus rescan (platform 1)
// only 15 targets per adapter are probed.
TEST_F(Discovery, FindDeviceReportsMatchesInAddressOrder) {
  const struct {
    uint8_t type;
    bool stopAtFirst;
    uint32_t platformId;
    std::vector<Address> expected;
  } cases[] = {
      {5, false, 2, {{0, 0, 1, 0}, {1, 0, 0, 0}, {3, 0, 2, 0}, {3, 0, 15, 0}}},
      {5, true, 2, {{0, 0, 1, 0}}},
      {0xFF, false, 2, {{0, 0, 0, 0}, {0, 0, 1, 0}, {1, 0, 0, 0}, {1, 0, 3, 0}, {3, 0, 2, 0}, {3, 0, 15, 0}}},
      {5, false, 1, {{0, 0, 1, 0}, {1, 0, 0, 0}, {3, 0, 2, 0}}},
  };
  for (const auto& c : cases) {
    qv::plat::SetOsVersionOverride(qv::plat::OsVersion{10, 0, 0, c.platformId});
    std::vector<Address> found;
    EXPECT_EQ(Quorvane_FindDevice(c.type, c.stopAtFirst, &Collect, &found), c.expected.size());
    EXPECT_EQ(found, c.expected) << int{c.type} << (c.stopAtFirst ? " first" : "") << " on " << c.platformId;
  }
}

// Unknown addresses, and (on old systems) no drive letters, are not found.
TEST_F(Discovery, DeviceNamesAndTimeOutsByAddress) {
  char name[260] = {};
  ASSERT_EQ(Quorvane_GetDeviceNameByDeviceAddress(1, 0, 0, 0, name), 0u);
  EXPECT_EQ(std::string(name), (bus.dir().path() / "dev" / "sr2").string());
  ASSERT_EQ(Quorvane_GetDeviceNameByDeviceAddress(1, 0, 3, 0, name), 0u);
  EXPECT_EQ(std::string(name), (bus.dir().path() / "dev" / "sg3").string()) << "no block node: the sg node";
  EXPECT_EQ(Quorvane_GetDeviceNameByDeviceAddress(1, 0, 9, 0, name), 17u);
  QV_ULONG got = 0;
  EXPECT_EQ(Quorvane_GetDeviceTimeOutByDeviceAddress(0, 0, 9, 0, &got), 17u);
  EXPECT_EQ(Quorvane_SetDeviceTimeOutByDeviceAddress(9, 0, 0, 0, 5), 17u);
  qv::plat::SetOsVersionOverride(qv::plat::OsVersion{4, 90, 0, 1});
  EXPECT_EQ(Quorvane_GetDeviceNameByDeviceAddress(1, 0, 0, 0, name), 17u);
}

TEST_F(Discovery, TimeOutReachesTheCommand) {
  ASSERT_EQ(Quorvane_SetDeviceTimeOutByDeviceAddress(3, 0, 2, 0, 42), 0u);
  unsigned seen = 0;
  bus.SetHandler([&](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) {
    seen = hdr.timeout;
    return 0;
  });
  PQUORVANE_GET_ASPI32_SUPPORT_INFO info = nullptr;
  PQUORVANE_SEND_ASPI32_COMMAND send = nullptr;
  QV_HANDLE module = nullptr;
  ASSERT_EQ(Quorvane_StartUpASPI(&info, &send, &module), 0u);
  EXPECT_EQ(info() & 0xFFFF, qv::aspi::SS_COMP << 8 | 4u) << "hosts 0 to 3";
  qv::aspi::SRB_ExecSCSICmd srb{};  // an all-zero CDB: TEST UNIT READY
  srb.h.SRB_Cmd = qv::aspi::SC_EXEC_SCSI_CMD;
  srb.h.SRB_HaId = 3;
  srb.SRB_Target = 2;
  srb.SRB_CDBLen = 6;
  EXPECT_EQ(send(&srb), qv::aspi::SS_COMP);
  EXPECT_EQ(seen, 42000u);
  Quorvane_ReleaseASPI(module);
}

// A missing library, and one without the GetId export (the built-in one).
TEST(AspiLoader, MissingLibraryOrExportIsReported) {
  EXPECT_EQ(Quorvane_GetId(nullptr, nullptr, nullptr), 127u);
  setenv("QUORVANE_LIB_WNASPI32", "/nonexistent/libaspi.so", 1);
  PQUORVANE_GET_ASPI32_SUPPORT_INFO info = nullptr;
  PQUORVANE_SEND_ASPI32_COMMAND send = nullptr;
  EXPECT_EQ(Quorvane_StartUpASPI(&info, &send, nullptr), 126u);
  EXPECT_EQ(Quorvane_FindDevice(5, false, nullptr, nullptr), 0u);
  unsetenv("QUORVANE_LIB_WNASPI32");
}

// An ASPI library whose requests stay pending: FindDevice polls each one
// ten times, 100 ms apart, then moves on.
int g_pendingSends = 0;
uint32_t PendingInfo() { return (qv::aspi::SS_COMP << 8) | 1; }
uint32_t PendingSend(void* p) {
  auto* h = static_cast<qv::aspi::SRB_Header*>(p);
  if (h->SRB_Cmd != qv::aspi::SC_EXEC_SCSI_CMD) return h->SRB_Status = qv::aspi::SS_COMP;
  ++g_pendingSends;
  return h->SRB_Status = qv::aspi::SS_PENDING;
}
void* ResolvePending(const char* symbol) {
  if (std::strcmp(symbol, "GetASPI32SupportInfo") == 0) return reinterpret_cast<void*>(&PendingInfo);
  if (std::strcmp(symbol, "SendASPI32Command") == 0) return reinterpret_cast<void*>(&PendingSend);
  return nullptr;
}
const qv::plat::BuiltinLibrary kPendingAspi{"WNASPI32.DLL", &ResolvePending};

TEST(AspiLoader, PendingRequestsArePolledTenTimes) {
  qvtest::VirtualTime time;
  qv::plat::RegisterBuiltinLibrary(&kPendingAspi);
  g_pendingSends = 0;
  EXPECT_EQ(Quorvane_FindDevice(5, false, nullptr, nullptr), 0u);
  qv::plat::UnregisterBuiltinLibrary(&kPendingAspi);
  EXPECT_EQ(g_pendingSends, 63);
  EXPECT_EQ(time.clock().NowMs(), 63u * 10u * 100u);
}

}  // namespace
