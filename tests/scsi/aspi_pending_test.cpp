// The ASPI transport against an ASPI library that completes requests later,
// on its own thread, and signals the request's event, with several callers
// on one transport: the command lock lets one request out at a time.
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
  if (h->SRB_Cmd == SC_HA_INQUIRY) {
    static_cast<SRB_HAInquiry*>(p)->HA_Count = 1;
    return h->SRB_Status = SS_COMP;
  }
  if (h->SRB_Cmd != SC_EXEC_SCSI_CMD) return h->SRB_Status = SS_INVALID_CMD;
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
  void TearDown() override {
    for (auto& w : g_aspi.workers) w.join();
    g_aspi.workers.clear();
  }
  scsitest::ScopedBuiltinLibrary library{&kFakeAspi};
  qvtest::VirtualTime time;
};

// Each caller reads or writes 64 bytes; a read must see what the library
// filled in on its own thread, so the transport waited for the event.
TEST_F(AspiPending, CallersWaitForTheEventOneAtATime) {
  CQuorvane_ScsiTransportASPI t(0, 0, 3, 0);
  EXPECT_EQ(t.GetDeviceType(), 5);
  g_aspi.drive = [](SRB_ExecSCSICmd& srb) {
    if (srb.CDBByte[0] == 0x28) std::memset(srb.SRB_BufPointer, 0x77, srb.SRB_BufLen);
  };
  std::vector<std::thread> callers;
  std::atomic<int> failures{0}, unfilled{0};
  for (int i = 0; i < 4; ++i) {
    callers.emplace_back([&, i] {
      const uint8_t cdb[10] = {static_cast<uint8_t>(i % 2 ? 0x2A : 0x28), 0, 0, 0, 0, 5, 0, 0, 1, 0};
      for (int n = 0; n < 25; ++n) {
        uint8_t data[64] = {};
        if (Catch([&] { t.ExecuteCDB(cdb, 10, data, sizeof data, i % 2); })) ++failures;
        if (i % 2 == 0 && (data[0] != 0x77 || data[63] != 0x77)) ++unfilled;
      }
    });
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(unfilled, 0);
  EXPECT_FALSE(g_aspi.overlapped);
  ASSERT_EQ(g_aspi.seen.size(), 100u);
  // The request is packed: copy its fields out before comparing them.
  // Flags: data in (08h) or out (10h), with event notify (40h).
  for (const SRB_ExecSCSICmd& r : g_aspi.seen) {
    const bool in = r.CDBByte[0] == 0x28;
    EXPECT_EQ((std::vector<uint32_t>{r.h.SRB_Flags, r.SRB_Target, r.SRB_BufLen, r.SRB_SenseLen, r.SRB_CDBLen}),
              (std::vector<uint32_t>{in ? 0x48u : 0x50u, 3, 64, 14, 10}));
  }
}

}  // namespace
