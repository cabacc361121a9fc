// Events on Linux: a condition variable. The native handle is the object
// itself, so in-process libraries signal it with SignalNativeEvent.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/errors.h"
#include "platform/event.h"

namespace qv::plat {
namespace {

class CondEvent final : public ManualResetEvent {
 public:
  bool Set(uint32_t* error) override {
    // Notify under the lock: a waiter that wakes may destroy the event at
    // once, and must not find the signalling thread still inside it.
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    cv_.notify_all();
    if (error) *error = 0;
    return true;
  }
  bool Reset(uint32_t* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
    if (error) *error = 0;
    return true;
  }
  uint32_t Wait(uint32_t* error) override {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    if (error) *error = 0;
    return 0;
  }
  uint32_t WaitFor(uint32_t ms, uint32_t* error) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool got = cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; });
    if (error) *error = got ? 0 : kErrTimeout;
    return got ? 0 : kWaitTimedOut;
  }
  void* NativeHandle() override { return this; }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace

std::unique_ptr<ManualResetEvent> ManualResetEvent::Create(uint32_t* error) {
  auto* e = new (std::nothrow) CondEvent;
  if (error) *error = e ? 0 : kErrNotEnoughMemory;
  return std::unique_ptr<ManualResetEvent>(e);
}

bool SignalNativeEvent(void* nativeHandle) {
  if (nativeHandle == nullptr) return false;
  return static_cast<ManualResetEvent*>(nativeHandle)->Set(nullptr);
}

}  // namespace qv::plat
