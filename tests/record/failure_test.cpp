// A burn that fails at any of its commands, loses its drive, cannot read
// its source, or is cancelled from another thread: the right exception, a
// flush when something was written, an eject when asked, the reader
// thread stopped (a test binary that ends is the proof; ASan and TSan
// watch for leaks and races) and a drive that still answers.
#include <thread>

#include "burn_support.h"
#include "core/exception.h"
#include "record/burner_grabber.h"
#include "files/file.h"
#include "files/file_chain.h"

namespace qvtest {
namespace {

struct FaultCase {
  const char* name;
  const char* media;
  const char* rule;     // a fault rule of the virtual drive
  QV_ULONG expected;    // exception number
  bool written;         // data reached the drive before the fault
  bool ejectAfterFail;
};

class BurnFault : public BurnFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(BurnFault, FailsCleanly) {
  const FaultCase& c = GetParam();
  Make(c.media);
  ASSERT_EQ(Open(), 0u) << s.text;
  Quorvane_SetEjectAfterFail(c.ejectAfterFail ? 1 : 0);
  const auto file = Source("source.dat", 1 << 20, 0x5A);
  ASSERT_EQ(QvDrive_SetFaults("CdRom0", (std::string("{\"rules\": [") + c.rule + "]}").c_str()), 0u);
  EXPECT_EQ(Burn(file), c.expected) << s.text;
  EXPECT_NE(s.text[0], 0) << "a failure says what went wrong";
  EXPECT_EQ((log.Count("TrackAtOnce(): Synchronizing cache") > 0), c.written);
  const auto d = Describe();
  if (d["vanished"].get<bool>()) return;
  EXPECT_EQ(d["tray"], c.ejectAfterFail ? "open" : "closed");
  if (!c.ejectAfterFail) {
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_TestUnitReady(handle, QV_STATUS(s)), 0u) << s.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, BurnFault,
    ::testing::Values(
        FaultCase{"ReadTrackInformation", "cd-r", R"({"kind": "sense", "opcode": 82, "sense": [5, 36, 0]})",
                  EN_CDB_CALL_FAILED, false, false},
        // The first MODE SELECT belongs to reading the track; the second sets the page.
        FaultCase{"ModeSelect", "cd-r", R"({"kind": "sense", "opcode": 85, "nth": 2, "sense": [5, 38, 0]})",
                  EN_CDB_CALL_FAILED, false, true},
        FaultCase{"FormatUnit", "dvd+rw", R"({"kind": "sense", "opcode": 4, "sense": [3, 49, 0]})",
                  EN_CDB_CALL_FAILED, false, false},
        FaultCase{"ReserveTrackRefused", "dvd-r", R"({"kind": "sense", "opcode": 83, "sense": [5, 100, 0]})",
                  EN_RESERVE_TRACK_REFUSED, false, false},
        FaultCase{"FirstWrite", "cd-r", R"({"kind": "sense", "opcode": 42, "sense": [3, 12, 0]})", EN_CDB_CALL_FAILED,
                  false, false},
        FaultCase{"LaterWrite", "dvd+r", R"({"kind": "sense", "opcode": 42, "nth": 4, "sense": [3, 12, 0]})",
                  EN_CDB_CALL_FAILED, true, true},
        FaultCase{"ReadBufferCapacity", "cd-r", R"({"kind": "sense", "opcode": 92, "sense": [4, 68, 0]})",
                  EN_CDB_CALL_FAILED, true, false},
        FaultCase{"SynchronizeCache", "cd-rw", R"({"kind": "sense", "opcode": 53, "times": 0, "sense": [3, 12, 0]})",
                  EN_CDB_CALL_FAILED, true, false},
        FaultCase{"DriveVanishes", "dvd+rw", R"({"kind": "vanish", "opcode": 42, "nth": 3})", EN_SYSTEM_CALL_FAILED,
                  true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A source whose read fails (here an unreadable file) fails in the reader
// thread; the writer throws what the reader caught.
TEST_F(BurnFixture, SourceReadErrorReachesTheCaller) {
  struct Unreadable : CQuorvane_File {
    Unreadable() : CQuorvane_File(600000) {}
    void RealRead(uint64_t, uint8_t*) override {
      QuorvaneI_Throw("Unreadable::RealRead", EN_SYSTEM_CALL_FAILED, 23, "Unreadable::RealRead(): data error!!!");
    }
  } file;
  Make("cd-r");
  ASSERT_EQ(Open(), 0u) << s.text;
  CQuorvane_FileChain chain;
  chain.AddChainTail(&file);
  chain.SeekToBegin();
  auto* g = static_cast<CQuorvane_CdvdBurnerGrabber*>(handle);
  QV_ULONG number = 0;
  try {
    g->TrackAtOnce(&chain, false, false, false, 0, 0, 1, 0, 0, 0, 0);
  } catch (CQuorvane_Exception* e) {
    number = e->Number();
    delete e;
  }
  EXPECT_EQ(number, static_cast<QV_ULONG>(EN_SYSTEM_CALL_FAILED));
  // The whole source fits the cache, so the failure overtakes every
  // buffer queued before it: nothing was written, nothing is flushed.
  EXPECT_EQ(log.Count("TrackAtOnce(): Synchronizing cache"), 0u);
  EXPECT_EQ(Describe()["disc"]["status"], "blank");
}

// Cancel from another thread once writing has begun: exception 14, the
// drive flushed, and a second burn on the same object works.
struct CancelContext {
  QV_HANDLE handle = nullptr;
  bool fired = false;
};

void QUORVANE_CALL CancelOnCacheFilled(QV_ULONG reason, void* context, void*, void*) {
  auto* c = static_cast<CancelContext*>(context);
  if (reason != CN_CACHE_FILLED || c->fired) return;
  c->fired = true;
  std::thread([h = c->handle] { Quorvane_CdvdBurnerGrabber_Cancel(h); }).join();
}

TEST_F(BurnFixture, CancelFromAnotherThread) {
  Make("dvd+rw");
  CancelContext context;
  ASSERT_EQ(Open(1, &CancelOnCacheFilled, &context), 0u) << s.text;
  context.handle = handle;
  // Three times the smallest cache.
  EXPECT_EQ(Burn(Source("big.dat", 12 << 20, 0x33)), static_cast<QV_ULONG>(EN_USER_EXCEPTION)) << s.text;
  EXPECT_TRUE(context.fired);
  EXPECT_NE(std::string(s.text).find("Cancel set at offset"), std::string::npos) << s.text;
  EXPECT_TRUE((log.Count("TrackAtOnce(): Synchronizing cache") > 0));
  // The object and the drive are fit for the next burn.
  context.fired = true;
  EXPECT_EQ(Burn(Source("small.dat", 40960, 0x44)), 0u) << s.text;
}

}  // namespace
}  // namespace qvtest
