// A burn that fails at any of its commands, loses its drive, cannot read
// its source, is refused or is cancelled: the right exception, a flush
// exactly when something was written, nothing sent when the caller's
// arguments are refused, the reader thread stopped (a test binary that ends
// is the proof; ASan and TSan watch for leaks and races) and a drive that
// still answers.
#include <unistd.h>

#include <thread>

#include "burn_support.h"
#include "core/exception.h"
#include "files/file.h"
#include "files/file_chain.h"
#include "record/burner_grabber.h"

namespace qvtest {
namespace {

constexpr int kGetConfiguration = 0x46, kModeSelect = 0x55, kWrite = 0x2A, kSynchronize = 0x35, kStartStop = 0x1B;

struct FaultCase {
  const char* name;
  const char* media;
  const char* rule;    // a fault rule of the virtual drive
  QV_ULONG expected;   // exception number
  bool written;        // data reached the drive before the fault: the drive is told to flush
  bool ejectAfterFail;
  bool earlier = false;  // an image burnt before the image that fails
};

// TrackAtOnce of a data track as the entry points call it: the exception number.
QV_ULONG Record(QV_HANDLE handle, std::initializer_list<CQuorvane_File*> files) {
  CQuorvane_FileChain chain;
  for (auto* file : files) chain.AddChainTail(file);
  chain.SeekToBegin();
  try {
    static_cast<CQuorvane_CdvdBurnerGrabber*>(handle)->TrackAtOnce(&chain, false, false, false, 0, 0, 1, 0, 0, 0, 0);
  } catch (CQuorvane_Exception* e) {
    QuorvaneI_Caught owned(e);
    return e->Number();
  }
  return EN_SUCCESS;
}

class BurnFault : public BurnFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(BurnFault, FailsCleanly) {
  const FaultCase& c = GetParam();
  Make(c.media);
  ASSERT_EQ(Open(), 0u) << s.text;
  auto file = Source("source.dat", 1 << 20, 0x5A);
  if (c.earlier) {
    ASSERT_EQ(Burn(Master(SampleFiles(1, 100000), "first"), true), 0u) << s.text;
    file = Master(SampleFiles(2, 1 << 20), "second");
  }
  Quorvane_SetEjectAfterFail(c.ejectAfterFail ? 1 : 0);
  Arm(c.rule, {kSynchronize});
  EXPECT_EQ(Burn(file), c.expected) << s.text;
  EXPECT_NE(s.text[0], 0) << "a failure says what went wrong";
  EXPECT_EQ(Seen(kSynchronize) > 0, c.written);
  const auto d = Describe();
  if (d["vanished"].get<bool>()) return;
  EXPECT_EQ(d["tray"], c.ejectAfterFail ? "open" : "closed");
  if (!c.ejectAfterFail) {
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_TestUnitReady(handle, QV_STATUS(s)), 0u) << s.text;
  }
}

// One row per way the recorder ends: refused before a write (ejecting),
// a reservation refused, a write failing after data went out (ejecting),
// a flush that fails, a drive that vanishes. (Every command's failure
// before data ends the first way.)
INSTANTIATE_TEST_SUITE_P(
    Commands, BurnFault,
    ::testing::Values(
        // The first MODE SELECT belongs to reading the track; the second sets the page.
        FaultCase{"ModeSelect", "cd-r", R"({"kind": "sense", "opcode": 85, "nth": 2, "sense": [5, 38, 0]})",
                  EN_CDB_CALL_FAILED, false, true},
        FaultCase{"ReserveTrackRefused", "dvd-r", R"({"kind": "sense", "opcode": 83, "sense": [5, 100, 0]})",
                  EN_RESERVE_TRACK_REFUSED, false, false},
        FaultCase{"LaterWrite", "dvd+r", R"({"kind": "sense", "opcode": 42, "nth": 4, "sense": [3, 12, 0]})",
                  EN_CDB_CALL_FAILED, true, true},
        // The new volume descriptors over the old ones, after the data.
        FaultCase{"VolumeDescriptorUpdate", "dvd+rw",
                  R"({"kind": "sense", "opcode": 42, "lba": [16, 16], "sense": [3, 12, 0]})", EN_CDB_CALL_FAILED, true,
                  false, true},
        FaultCase{"SynchronizeCache", "cd-rw", R"({"kind": "sense", "opcode": 53, "times": 0, "sense": [3, 12, 0]})",
                  EN_CDB_CALL_FAILED, true, false},
        // The flush goes nowhere.
        FaultCase{"DriveVanishes", "dvd+rw", R"({"kind": "vanish", "opcode": 42, "nth": 3})", EN_SYSTEM_CALL_FAILED,
                  false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// What the caller asks for that cannot be recorded is refused before the
// drive hears of it: no write parameters change, nothing is written and,
// with eject-after-fail on, the disc stays in.
struct RefusalCase {
  const char* name;
  const char* media;
  const char* file;  // of size bytes
  size_t size;
  bool discTypeAsked;  // the refusal needs the disc type
};

class Refusal : public BurnFixture, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, ChangesNothing) {
  const RefusalCase& c = GetParam();
  Make(c.media);
  ASSERT_EQ(Open(), 0u) << s.text;
  Quorvane_SetEjectAfterFail(1);
  const auto source = Source(c.file, c.size, 1);
  Arm("", {kGetConfiguration, kModeSelect, kWrite, kStartStop});
  EXPECT_EQ(Burn(source), static_cast<QV_ULONG>(EN_INVALID_PARAMETER)) << s.text;
  EXPECT_NE(s.text[0], 0);
  EXPECT_EQ(Seen(kGetConfiguration) > 0, c.discTypeAsked);
  EXPECT_EQ(Seen(kModeSelect) + Seen(kWrite) + Seen(kStartStop), 0u);
  const auto d = Describe();
  EXPECT_EQ(d["tray"], "closed");
  EXPECT_TRUE(d["disc"]["sessions"].empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, Refusal,
                         ::testing::Values(RefusalCase{"EmptySource", "cd-r", "e.dat", 0, false},
                                           // Audio (a raw CD audio image) is no track for a DVD.
                                           RefusalCase{"AudioOnDvd", "dvd+r", "a.bin", 2352 * 400, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Cancel from another thread takes effect in whichever phase it comes:
// waiting for the cache, padding, flushing (while writing is the burn
// command's Ctrl-C test). The recording ends as cancelled, what was
// written is flushed, and the object burns again.
struct CancelCase {
  const char* name;
  const char* media;
  QV_ULONG reason;  // the callback in which Cancel is called
  bool written;  // data reached the drive before the cancel took effect
};

struct CancelContext {
  QV_HANDLE handle = nullptr;
  QV_ULONG reason = 0;
  int fired = 0;
};

void QUORVANE_CALL CancelAt(QV_ULONG reason, void* context, void*, void*) {
  auto* c = static_cast<CancelContext*>(context);
  if (reason != c->reason || c->fired++ != 0) return;
  std::thread([h = c->handle] { Quorvane_CdvdBurnerGrabber_Cancel(h); }).join();
}

class CancelPhase : public BurnFixture, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelPhase, EndsTheRecordingAsCancelled) {
  const CancelCase& c = GetParam();
  Make(c.media);
  CancelContext context{nullptr, c.reason};
  // The whole source fits the cache: the reader is done before writing starts.
  ASSERT_EQ(Open(64, &CancelAt, &context), 0u) << s.text;
  context.handle = handle;
  Quorvane_SetPadding(c.reason == CN_DVD_PADDING_BEGIN ? 1 : 0);
  Arm("", {kSynchronize});
  EXPECT_EQ(Burn(Source("big.dat", 12 << 20, 0x33)), static_cast<QV_ULONG>(EN_USER_EXCEPTION)) << s.text;
  EXPECT_EQ(context.fired, 1);
  EXPECT_EQ(Seen(kSynchronize) > 0, c.written);
  context.reason = 0;
  Quorvane_SetPadding(0);
  EXPECT_EQ(Burn(Source("small.dat", 40960, 0x44)), 0u) << s.text;
}

INSTANTIATE_TEST_SUITE_P(Phases, CancelPhase,
                         ::testing::Values(CancelCase{"WaitingForCache", "cd-r", CN_WAITING_FOR_CACHE, false},
                                           CancelCase{"Padding", "dvd+r", CN_DVD_PADDING_BEGIN, true},
                                           CancelCase{"Flushing", "cd-rw", CN_SYNCHRONIZE_CACHE_BEGIN, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A source that never delivers (a pipe nobody writes to, a file that never
// reaches the size it was promised) does not hold up a cancel or a failure:
// the reader thread gives up its read and the recording ends.
TEST_F(BurnFixture, CancelEndsAReadThatWaitsForever) {
  Make("cd-r");
  CancelContext context{nullptr, CN_WAITING_FOR_CACHE};
  ASSERT_EQ(Open(1, &CancelAt, &context), 0u) << s.text;
  context.handle = handle;
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const auto growing = Source("growing.dat", 4096, 0x22);
  FILE* unfinished = std::fopen(growing.c_str(), "rb");
  for (auto* file : {new CQuorvane_DiskFile(reinterpret_cast<QV_HANDLE>(intptr_t{pipeEnds[0]}), 1 << 20),
                     new CQuorvane_DiskFile(reinterpret_cast<QV_HANDLE>(intptr_t{fileno(unfinished)}), 1 << 20, true)}) {
    std::unique_ptr<CQuorvane_DiskFile> owned(file);
    context.fired = 0;
    EXPECT_EQ(Record(handle, {file}), static_cast<QV_ULONG>(EN_USER_EXCEPTION));
  }
  EXPECT_EQ(Describe()["disc"]["status"], "blank");
  // Nor a write that fails while the reader waits in the pipe: by the
  // 120th write of the first file (7 of its 8 MB) the reader, a cache
  // ahead, has reached the second.
  context.fired = 1;
  CQuorvane_DiskFile whole(Source("whole.dat", 8 << 20, 0x11).c_str());
  CQuorvane_DiskFile never(reinterpret_cast<QV_HANDLE>(intptr_t{pipeEnds[0]}), 1 << 20);
  Arm(R"({"kind": "sense", "opcode": 42, "nth": 120, "sense": [3, 12, 0]})");
  EXPECT_EQ(Record(handle, {&whole, &never}), static_cast<QV_ULONG>(EN_CDB_CALL_FAILED));
  std::fclose(unfinished);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}

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
  Arm("", {kSynchronize});
  EXPECT_EQ(Record(handle, {&file}), static_cast<QV_ULONG>(EN_SYSTEM_CALL_FAILED));
  // The whole source fits the cache, so the failure overtakes every
  // buffer queued before it: nothing was written, nothing is flushed.
  EXPECT_EQ(Seen(kSynchronize), 0u);
  EXPECT_EQ(Describe()["disc"]["status"], "blank");
}

}  // namespace
}  // namespace qvtest
