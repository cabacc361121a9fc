#include "core/settings.h"

#include <atomic>

#include "core/log.h"
#include "quorvane.h"

namespace {

struct Switches {
  std::atomic<uint8_t> ejectAfterFail{1};
  std::atomic<uint8_t> fastReadTOC{0};
  std::atomic<uint8_t> fastReadTOCLastTrack{0};
  std::atomic<uint32_t> bufferUnderrunTimeOutInMs{1000};
  std::atomic<uint8_t> padding{1};
  std::atomic<uint8_t> compatibleClose{0};
  std::atomic<uint8_t> testUnitReadyBeforeRead{0};
  std::atomic<uint8_t> skipNameCheck{0};
};

Switches g;

// Getters and setters that log, in the engine's line vocabulary.
template <class T>
T LoggedGet(const char* name, const std::atomic<T>& value) {
  const T v = value.load(std::memory_order_relaxed);
  QuorvaneI_Log("\nQuorvane:%s(): ENTERed and EXITing with success, about to return %d\n", name, static_cast<int>(v));
  return v;
}

template <class T>
T LoggedSet(const char* name, std::atomic<T>& value, T newValue) {
  QuorvaneI_Log("\nQuorvane:%s(): ENTERed for %d\n", name, static_cast<int>(newValue));
  value.store(newValue, std::memory_order_relaxed);
  const T v = value.load(std::memory_order_relaxed);
  QuorvaneI_Log("\nQuorvane:%s(): EXITing with success, about to return %d\n", name, static_cast<int>(v));
  return v;
}

}  // namespace

bool QuorvaneI_EjectAfterFail() { return g.ejectAfterFail.load(std::memory_order_relaxed) != 0; }
bool QuorvaneI_FastReadTOC() { return g.fastReadTOC.load(std::memory_order_relaxed) != 0; }
bool QuorvaneI_FastReadTOCLastTrack() { return g.fastReadTOCLastTrack.load(std::memory_order_relaxed) != 0; }
uint32_t QuorvaneI_BufferUnderrunTimeOutInMs() { return g.bufferUnderrunTimeOutInMs.load(std::memory_order_relaxed); }
bool QuorvaneI_Padding() { return g.padding.load(std::memory_order_relaxed) != 0; }
bool QuorvaneI_CompatibleClose() { return g.compatibleClose.load(std::memory_order_relaxed) != 0; }
bool QuorvaneI_TestUnitReadyBeforeRead() { return g.testUnitReadyBeforeRead.load(std::memory_order_relaxed) != 0; }
bool QuorvaneI_SkipNameCheck() { return g.skipNameCheck.load(std::memory_order_relaxed) != 0; }

void QuorvaneI_ResetSettings() {
  g.ejectAfterFail = 1;
  g.fastReadTOC = 0;
  g.fastReadTOCLastTrack = 0;
  g.bufferUnderrunTimeOutInMs = 1000;
  g.padding = 1;
  g.compatibleClose = 0;
  g.testUnitReadyBeforeRead = 0;
  g.skipNameCheck = 0;
}

// One getter and setter pair of a switch: logged, or plain.
#define QV_LOGGED_SWITCH(Name, field)                                                \
  QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_Get##Name(void) {                   \
    return LoggedGet("Quorvane_Get" #Name, g.field);                                 \
  }                                                                                  \
  QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_Set##Name(QV_BOOLEAN value) {       \
    return LoggedSet<uint8_t>("Quorvane_Set" #Name, g.field, value);                 \
  }
#define QV_PLAIN_SWITCH(Name, field)                                                                            \
  QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_Get##Name(void) { return g.field.load(); }                     \
  QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_Set##Name(QV_BOOLEAN value) { return g.field = value; }

QV_LOGGED_SWITCH(EjectAfterFail, ejectAfterFail)
QV_LOGGED_SWITCH(FastReadTOC, fastReadTOC)
QV_LOGGED_SWITCH(FastReadTOCLastTrack, fastReadTOCLastTrack)
QV_PLAIN_SWITCH(Padding, padding)
QV_PLAIN_SWITCH(CompatibleClose, compatibleClose)
QV_PLAIN_SWITCH(TestUnitReadyBeforeRead, testUnitReadyBeforeRead)
QV_PLAIN_SWITCH(SkipNameCheck, skipNameCheck)

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetBufferUnderrunTimeOutInMs(void) {
  return LoggedGet("Quorvane_GetBufferUnderrunTimeOutInMs", g.bufferUnderrunTimeOutInMs);
}
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_SetBufferUnderrunTimeOutInMs(QV_ULONG value) {
  // A time-out of 0 would turn every pause of the drive into an underrun.
  return LoggedSet<uint32_t>("Quorvane_SetBufferUnderrunTimeOutInMs", g.bufferUnderrunTimeOutInMs,
                             value == 0 ? 1000u : value);
}
