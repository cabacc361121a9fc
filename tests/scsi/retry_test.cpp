// The one retry loop every transport shares, run over each transport's own
// delivery: the pass-through device, the run-time library, the auxiliary
// driver and ASPI. What a caller sees must not depend on the door.
#include <cerrno>
#include <cstring>
#include <memory>

#include "fake_libraries.h"
#include "scsi/transport_aspi.h"
#include "scsi/transport_sptd.h"
#include "scsi/transport_spti.h"
#include "scsi_fixtures.h"
#include "support/fake_scsi.h"

namespace {

using namespace scsitest;

// What the drive answers to the n-th delivery.
using Script = std::function<Answer(int call)>;

class Rig {
 public:
  virtual ~Rig() = default;
  virtual std::unique_ptr<CQuorvane_ScsiTransport> Open() = 0;
  virtual void Play(Script script) = 0;
  int calls = 0;

 protected:
  // Fills the library's reply; returns the door's own result.
  static uint32_t Fill(QVDRIVE_REQUEST& r, const Answer& a) {
    r.scsiStatus = a.status;
    if (a.status == 2) {
      r.senseLength = 18;
      r.sense[0] = 0x70, r.sense[2] = a.key, r.sense[7] = 10, r.sense[12] = a.asc, r.sense[13] = a.ascq;
    }
    return a.doorError;
  }
};

// The OS device and ASPI both reach a fake bus through SG_IO.
class BusRig : public Rig {
 public:
  explicit BusRig(bool aspi) : aspi_(aspi) { bus_.Add({.host = 1, .id = 2, .type = 5}); }
  std::unique_ptr<CQuorvane_ScsiTransport> Open() override {
    if (aspi_) return std::make_unique<CQuorvane_ScsiTransportASPI>(1, 0, 2, 0);
    return std::make_unique<CQuorvane_ScsiTransportSPTI>("CdRom0");
  }
  void Play(Script script) override {
    calls = 0;
    bus_.SetHandler([this, script](const qvtest::FakeScsiDevice&, sg_io_hdr_t& hdr) {
      const Answer a = script(++calls);
      // The kernel's ways of failing: a time-out at the host, or no device.
      if (a.doorError == 121) hdr.host_status = 0x03;
      if (a.doorError == 1167) return errno = ENODEV, -1;
      if (a.status == 2) qvtest::SetCheckCondition(hdr, a.key, a.asc, a.ascq);
      else hdr.status = a.status;
      return 0;
    });
  }

 private:
  ScopedEnv noDralik_{"QUORVANE_LIB_DRALIK", ""};
  qvtest::FakeScsiBus bus_;
  bool aspi_;
};

class SptdRig : public Rig {
 public:
  SptdRig() {
    g_sptd = FakeSptd{};
    g_sptd.devices = {{u"CdRom1", 0}};
  }
  std::unique_ptr<CQuorvane_ScsiTransport> Open() override {
    return std::make_unique<CQuorvane_ScsiTransportSPTD>(u"CdRom1", 1);
  }
  void Play(Script script) override {
    calls = 0;
    g_sptd.send = [this, script](QVDRIVE_REQUEST& r) { return Fill(r, script(++calls)); };
  }

 private:
  ScopedBuiltinLibrary library_{&kFakeSptd};
};

class DralikRig : public Rig {
 public:
  DralikRig() { g_dralik = FakeDralik{}; }
  std::unique_ptr<CQuorvane_ScsiTransport> Open() override {
    return std::make_unique<CQuorvane_ScsiTransportSPTI>("CdRom3");
  }
  void Play(Script script) override {
    calls = 0;
    g_dralik.drive = [this, script](QVDRIVE_REQUEST& r) { return Fill(r, script(++calls)); };
  }

 private:
  ScopedBuiltinLibrary library_{&kFakeDralik};
  qvtest::FakeScsiBus bus_;
};

enum class Door { PassThrough, Library, Driver, Aspi };

class RetryLoop : public ::testing::TestWithParam<Door> {
 protected:
  void SetUp() override {
    switch (GetParam()) {
      case Door::PassThrough: rig = std::make_unique<BusRig>(false); break;
      case Door::Aspi: rig = std::make_unique<BusRig>(true); break;
      case Door::Library: rig = std::make_unique<SptdRig>(); break;
      case Door::Driver: rig = std::make_unique<DralikRig>(); break;
    }
    transport = rig->Open();
  }
  qvtest::VirtualTime time;
  std::unique_ptr<Rig> rig;
  std::unique_ptr<CQuorvane_ScsiTransport> transport;
};

const uint8_t kTestUnitReady[6] = {0x00, 0, 0, 0, 0, 0};
const uint8_t kWrite10[10] = {0x2A, 0, 0, 0, 0x10, 0, 0, 0, 1, 0};

// Three failing answers, then GOOD: a retryable failure is invisible to the
// caller and costs three 100 ms pauses; any other fails at once with 8 and
// its sense in the failure record.
TEST_P(RetryLoop, RetriesOnlyTheRetryList) {
  const struct {
    Answer failing;
    bool retried;
  } cases[] = {
      {Check(6, 0x28, 0x00), true},  {Check(6, 0x2E, 0x01), true},  {Check(2, 0x02, 0x00), true},
      {Check(2, 0x04, 0x08), true},  {Answer{8}, true},             {Check(2, 0x04, 0x01), false},
      {Check(5, 0x20, 0x00), false}, {Check(6, 0x29, 0x00), false}, {Check(6, 0x28, 0x01), false},
  };
  for (const auto& c : cases) {
    const Answer& f = c.failing;
    SCOPED_TRACE(testing::Message() << int(f.status) << " " << int(f.key) << "/" << int(f.asc) << "/" << int(f.ascq));
    rig->Play([&](int call) { return call > 3 ? Answer{} : f; });
    const uint64_t start = time.clock().NowMs();
    auto e = Catch([&] { transport->ExecuteCDB(kTestUnitReady, 6, nullptr, 0, 0); });
    if (c.retried) {
      EXPECT_EQ(e, nullptr) << e->Text();
      EXPECT_EQ(rig->calls, 4);
      EXPECT_EQ(time.clock().NowMs() - start, 300u);
      continue;
    }
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Number(), 8u);
    EXPECT_EQ(rig->calls, 1);
    EXPECT_EQ(time.clock().NowMs(), start);
    const CDB_FAILURE_INFORMATION* info = e->FailureInformation();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->m__UCHAR__TargetStatus, 2);
    EXPECT_EQ(info->m__UCHAR__SenseLength, GetParam() == Door::Aspi ? 14 : 32);
    EXPECT_EQ(info->m__UCHAR__Sense[2] & 0x0F, f.key);
    EXPECT_EQ(info->m__UCHAR__Sense[12], f.asc);
    EXPECT_EQ(info->m__UCHAR__Sense[13], f.ascq);
    EXPECT_EQ(0, std::memcmp(info->m__UCHAR__CDB, kTestUnitReady, 6));
  }
}

// A drive that never stops asking for patience uses up the budget: one
// attempt counter for the whole call whatever the cause, then exception 7.
// Only WRITE(10) meeting "long write in progress" gets the long budget.
TEST_P(RetryLoop, RunsOutOfBudgetWithException7) {
  const struct {
    const uint8_t* cdb;
    Script script;
    uint32_t pauses, pauseMs;
  } cases[] = {
      {kTestUnitReady, [](int) { return Answer{8}; }, 5000, 100},
      {kTestUnitReady, [](int) { return Check(2, 0x04, 0x08); }, 5000, 100},
      {kTestUnitReady, [](int call) { return call <= 4000 ? Answer{8} : Check(6, 0x28, 0); }, 5000, 100},
      {kWrite10, [](int) { return Check(2, 0x04, 0x08); }, 30000, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "opcode " << int(c.cdb[0]) << ", " << c.pauses << " pauses");
    rig->Play(c.script);
    const bool write = c.cdb[0] == 0x2A;
    uint8_t data[2048] = {};
    const uint64_t sleeps = time.clock().SleepCount(), start = time.clock().NowMs();
    Fails(7, [&] {
      transport->ExecuteCDB(c.cdb, write ? 10 : 6, write ? data : nullptr, write ? sizeof data : 0, write);
    });
    EXPECT_EQ(static_cast<uint32_t>(rig->calls), c.pauses + 1);
    EXPECT_EQ(time.clock().SleepCount() - sleeps, c.pauses);
    EXPECT_EQ(time.clock().NowMs() - start, uint64_t{c.pauses} * c.pauseMs);
  }
}

TEST_P(RetryLoop, RejectsImpossibleRequestsBeforeTheDrive) {
  rig->Play([](int) { return Answer{}; });
  const uint8_t cdb[17] = {};
  // No CDB, one too long, and a buffer size without a buffer.
  for (const auto& [length, size] : {std::pair<uint8_t, uint32_t>{0, 0}, {17, 0}, {10, 512}})
    Fails(2, [&] { transport->ExecuteCDB(cdb, length, nullptr, size, 0); });
  EXPECT_EQ(rig->calls, 0);
}

// The door itself fails: the device is gone (1167), or the OS gave up
// waiting (121). Only the pass-through device and the auxiliary driver
// deliver a time-out again, counted against the same budget; the library
// reports it at once, and ASPI, whose adapter failed, never retries.
TEST_P(RetryLoop, DoorFailuresAreSystemCallFailures) {
  const Door door = GetParam();
  const bool redelivers = door == Door::PassThrough || door == Door::Driver;
  const struct {
    uint32_t error;
    bool always;
    uint32_t number;  // 0: the call succeeds
    int calls;
  } cases[] = {
      {1167, true, door == Door::Aspi ? 8u : 5u, 1},
      {121, false, redelivers ? 0u : door == Door::Aspi ? 8u : 5u, redelivers ? 3 : 1},
      {121, true, door == Door::Aspi ? 8u : 5u, redelivers ? 5001 : 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.error << (c.always ? " always" : " twice"));
    rig->Play([&](int call) { return c.always || call <= 2 ? Answer{.doorError = c.error} : Answer{}; });
    auto e = Catch([&] { transport->ExecuteCDB(kTestUnitReady, 6, nullptr, 0, 0); });
    EXPECT_EQ(rig->calls, c.calls);
    if (c.number == 0) {
      EXPECT_EQ(e, nullptr) << e->Text();
      continue;
    }
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Number(), c.number) << e->Text();
    if (c.number == 5) {
      EXPECT_EQ(e->SystemError(), c.error);
    }
  }
}

std::string DoorName(const ::testing::TestParamInfo<Door>& info) {
  static const char* const names[] = {"PassThrough", "Library", "Driver", "Aspi"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Doors, RetryLoop,
                         ::testing::Values(Door::PassThrough, Door::Library, Door::Driver, Door::Aspi), DoorName);

}  // namespace
