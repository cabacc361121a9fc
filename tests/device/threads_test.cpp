// The object lock: one operation at a time per object, re-entered by the
// operations that call others, and Cancel outside it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "drive_rig.h"

namespace devtest {
namespace {

// Holds the drive before one command until the test lets it go.
class Gate {
 public:
  void Hold() {
    std::unique_lock<std::mutex> lock(m_);
    held_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return open_; });
  }
  void WaitHeld() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return held_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool held_ = false, open_ = false;
};

using ObjectLock = DeviceTest;

TEST_F(ObjectLock, CancelGetsThroughWhileAnOperationHoldsTheLockAndOthersWait) {
  auto& g = Create("cd-r");
  Gate gate;
  std::atomic<bool> loadDone{false};
  commands.before = [&](uint8_t opcode) {
    if (opcode == 0x1B) gate.Hold();
  };

  std::thread loader([&] {
    g.Load();
    loadDone = true;
  });
  gate.WaitHeld();
  // Load holds the object lock inside START STOP UNIT; Cancel must not wait.
  g.Cancel();
  EXPECT_TRUE(g.IsCancel());
  EXPECT_FALSE(loadDone);

  std::atomic<uint32_t> type{99};
  std::thread reader([&] { type = g.GetInsertedDiscType(); });
  // The reader cannot get in before Load is over: its GET CONFIGURATION
  // must come after Load's last command. Give it time to queue up.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  gate.Open();
  loader.join();
  reader.join();
  EXPECT_TRUE(loadDone);
  EXPECT_EQ(type, 2u);
  const std::vector<uint8_t> ops = Opcodes();
  const auto lastLoadCommand = std::find(ops.rbegin(), ops.rend(), 0x00);
  const auto readerCommand = std::find(ops.rbegin(), ops.rend(), 0x46);
  ASSERT_NE(lastLoadCommand, ops.rend());
  EXPECT_LT(readerCommand - ops.rbegin(), lastLoadCommand - ops.rbegin());
}

}  // namespace
}  // namespace devtest
