// A manual-reset event that an outside library can signal: the ASPI
// library sets it when a posted request completes.
#pragma once
#include <cstdint>
#include <memory>

namespace qv::plat {

class ManualResetEvent {
 public:
  // Creates the event, not signalled; nullptr with *error set on failure.
  static std::unique_ptr<ManualResetEvent> Create(uint32_t* error);
  virtual ~ManualResetEvent() = default;
  virtual bool Set(uint32_t* error) = 0;
  virtual bool Reset(uint32_t* error) = 0;
  // Waits without limit; 0 when signalled, else a wait failure code with
  // *error set.
  virtual uint32_t Wait(uint32_t* error) = 0;
  // Waits up to ms of real time: 0 when signalled, kWaitTimedOut otherwise.
  virtual uint32_t WaitFor(uint32_t ms, uint32_t* error) = 0;
  static constexpr uint32_t kWaitTimedOut = 0x102;
  // What the outside library receives and signals (a HANDLE on Windows).
  virtual void* NativeHandle() = 0;
};

// Signals an event by its native handle, as the library that got it does.
bool SignalNativeEvent(void* nativeHandle);

}  // namespace qv::plat
