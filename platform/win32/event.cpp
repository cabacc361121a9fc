// Events on Windows: a manual-reset event object, whose HANDLE the ASPI
// library receives and signals.
#include <windows.h>

#include <new>

#include "platform/errors.h"
#include "platform/event.h"

namespace qv::plat {
namespace {

class Win32Event final : public ManualResetEvent {
 public:
  explicit Win32Event(HANDLE h) : handle_(h) {}
  ~Win32Event() override { CloseHandle(handle_); }
  bool Set(uint32_t* error) override { return Result(SetEvent(handle_), error); }
  bool Reset(uint32_t* error) override { return Result(ResetEvent(handle_), error); }
  uint32_t Wait(uint32_t* error) override { return WaitMs(INFINITE, error); }
  uint32_t WaitFor(uint32_t ms, uint32_t* error) override {
    // INFINITE is a real wait length to Windows; keep a bounded wait bounded.
    return WaitMs(ms == INFINITE ? ms - 1 : ms, error);
  }
  void* NativeHandle() override { return handle_; }

 private:
  uint32_t WaitMs(DWORD ms, uint32_t* error) {
    const DWORD result = WaitForSingleObject(handle_, ms);
    if (result == WAIT_TIMEOUT) {
      if (error) *error = kErrTimeout;
      return kWaitTimedOut;
    }
    if (result == WAIT_OBJECT_0) {
      if (error) *error = 0;
      return 0;
    }
    if (error) *error = result == WAIT_FAILED ? GetLastError() : kErrGenFailure;
    return result;
  }
  static bool Result(BOOL ok, uint32_t* error) {
    if (error) *error = ok ? 0 : GetLastError();
    return ok != FALSE;
  }
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<ManualResetEvent> ManualResetEvent::Create(uint32_t* error) {
  HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (h == nullptr) {
    if (error) *error = GetLastError();
    return nullptr;
  }
  auto* e = new (std::nothrow) Win32Event(h);
  if (e == nullptr) {
    CloseHandle(h);
    if (error) *error = kErrNotEnoughMemory;
    return nullptr;
  }
  if (error) *error = 0;
  return std::unique_ptr<ManualResetEvent>(e);
}

bool SignalNativeEvent(void* nativeHandle) { return nativeHandle != nullptr && SetEvent(nativeHandle) != FALSE; }

}  // namespace qv::plat
