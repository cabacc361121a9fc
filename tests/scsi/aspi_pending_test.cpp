// The ASPI transport against an ASPI library that completes requests later,
// on its own thread, and signals the request's event; and the command lock
// serialising several callers on one transport.
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dynlib.h"
#include "platform/event.h"
#include "scsi/transport_aspi.h"
#include "scsi_fixtures.h"

namespace {

using namespace qv::aspi;
using scsitest::Catch;
using scsitest::Fails;

// The library's state; one test at a time uses it.
struct FakeAspi {
  std::mutex mutex;
  std::vector<std::thread> workers;
  std::vector<SRB_ExecSCSICmd> seen;
  // How the drive answers an execute request (on the worker thread).
  std::function<void(SRB_ExecSCSICmd&)> drive;
  std::atomic<int> inFlight{0};
  std::atomic<bool> overlapped{false};
} g_aspi;

uint32_t SupportInfo() { return (SS_COMP << 8) | 1; }

uint32_t Send(void* p) {
  auto* h = static_cast<SRB_Header*>(p);
  switch (h->SRB_Cmd) {
    case SC_HA_INQUIRY: {
      auto* s = static_cast<SRB_HAInquiry*>(p);
      s->HA_Count = 1;
      std::memcpy(s->HA_ManagerId, "Fake ASPI       ", 16);
      return h->SRB_Status = SS_COMP;
    }
    case SC_GET_SYMBOLIC_NAME:
      return h->SRB_Status = SS_INVALID_CMD;
    case SC_EXEC_SCSI_CMD:
      break;
    default:
      return h->SRB_Status = SS_INVALID_CMD;
  }
  auto* srb = static_cast<SRB_ExecSCSICmd*>(p);
  if (!(h->SRB_Flags & SRB_EVENT_NOTIFY)) {
    // The polled INQUIRY of the construction completes at once.
    srb->SRB_BufPointer[0] = 0x05;
    return h->SRB_Status = SS_COMP;
  }
  {
    std::lock_guard<std::mutex> lock(g_aspi.mutex);
    g_aspi.seen.push_back(*srb);
  }
  if (g_aspi.inFlight.fetch_add(1) != 0) g_aspi.overlapped = true;
  h->SRB_Status = SS_PENDING;
  std::lock_guard<std::mutex> lock(g_aspi.mutex);
  g_aspi.workers.emplace_back([srb] {
    std::this_thread::yield();
    srb->SRB_HaStat = HASTAT_OK;
    srb->SRB_TargStat = 0;
    srb->h.SRB_Status = SS_COMP;
    if (g_aspi.drive) g_aspi.drive(*srb);
    g_aspi.inFlight.fetch_sub(1);
    qv::plat::SignalNativeEvent(srb->SRB_PostProc);
  });
  return SS_PENDING;
}

void* Resolve(const char* symbol) {
  if (std::strcmp(symbol, "GetASPI32SupportInfo") == 0) return reinterpret_cast<void*>(&SupportInfo);
  if (std::strcmp(symbol, "SendASPI32Command") == 0) return reinterpret_cast<void*>(&Send);
  return nullptr;
}
const qv::plat::BuiltinLibrary kFakeAspi{"WnASPI32.dll", &Resolve};

class AspiPending : public ::testing::Test {
 protected:
  void SetUp() override {
    g_aspi.seen.clear();
    g_aspi.drive = nullptr;
    g_aspi.overlapped = false;
  }
  void TearDown() override {
    for (auto& w : g_aspi.workers) w.join();
    g_aspi.workers.clear();
  }
  scsitest::ScopedBuiltinLibrary library{&kFakeAspi};
  qvtest::VirtualTime time;
};

TEST_F(AspiPending, WaitsForTheEventOfAPendingRequest) {
  CQuorvane_ScsiTransportASPI t(0, 0, 3, 0);
  EXPECT_EQ(t.GetDeviceType(), 5);
  g_aspi.drive = [](SRB_ExecSCSICmd& srb) { std::memset(srb.SRB_BufPointer, 0x77, srb.SRB_BufLen); };
  uint8_t in[64] = {};
  const uint8_t read10[10] = {0x28, 0, 0, 0, 0, 5, 0, 0, 1, 0};
  t.ExecuteCDB(read10, 10, in, sizeof in, 0);
  EXPECT_EQ(in[0], 0x77);
  EXPECT_EQ(in[63], 0x77);
  uint8_t out[32] = {};
  const uint8_t write10[10] = {0x2A, 0, 0, 0, 0, 5, 0, 0, 1, 0};
  t.ExecuteCDB(write10, 10, out, sizeof out, 1);

  ASSERT_EQ(g_aspi.seen.size(), 2u);
  // The request is packed: copy its fields out before comparing them.
  // Flags 48h: data in, event notify; adapter, target, length, sense and CDB lengths.
  const SRB_ExecSCSICmd& r = g_aspi.seen[0];
  EXPECT_EQ((std::vector<uint32_t>{r.h.SRB_Flags, r.h.SRB_HaId, r.SRB_Target, r.SRB_BufLen, r.SRB_SenseLen, r.SRB_CDBLen}),
            (std::vector<uint32_t>{0x48, 0, 3, 64, 14, 10}));
  const void* event = r.SRB_PostProc;
  EXPECT_NE(event, nullptr);
  EXPECT_EQ(0, std::memcmp(r.CDBByte, read10, 10));
  const uint8_t outFlags = g_aspi.seen[1].h.SRB_Flags;
  EXPECT_EQ(outFlags, 0x50);  // data out, event notify
}

// A pending request the host adapter failed is exception 8 and is not
// retried, whatever the target said. (The failure record of a target's
// failure is Aspi.FailureRecordKeeps14SenseBytesAndTheRequestStatus's.)
TEST_F(AspiPending, AnAdapterFailureIsNotRetried) {
  CQuorvane_ScsiTransportASPI t(0, 0, 3, 0);
  const uint8_t tur[6] = {};
  g_aspi.drive = [](SRB_ExecSCSICmd& srb) {
    srb.h.SRB_Status = SS_ERR;
    srb.SRB_HaStat = HASTAT_SEL_TO;
    srb.SRB_TargStat = 8;  // BUSY would be retried, but the adapter failed first
  };
  auto e = Fails(8, [&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); });
  EXPECT_EQ(g_aspi.seen.size(), 1u);
  const uint8_t adapterStatus = e->FailureInformation()->m__UCHAR__HostAdapterStatus;
  EXPECT_EQ(adapterStatus, HASTAT_SEL_TO);
}

// Commands from several threads reach the library one at a time.
TEST_F(AspiPending, TheCommandLockSerialisesCallers) {
  CQuorvane_ScsiTransportASPI t(0, 0, 3, 0);
  std::vector<std::thread> callers;
  std::atomic<int> failures{0};
  for (int i = 0; i < 4; ++i) {
    callers.emplace_back([&] {
      for (int n = 0; n < 25; ++n) {
        const uint8_t tur[6] = {};
        if (Catch([&] { t.ExecuteCDB(tur, 6, nullptr, 0, 0); })) ++failures;
      }
    });
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(failures, 0);
  EXPECT_FALSE(g_aspi.overlapped);
  EXPECT_EQ(g_aspi.seen.size(), 100u);
}

}  // namespace
