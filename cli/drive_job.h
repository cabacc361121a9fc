// What burn, erase and format share: the drive opened for one long job,
// Ctrl-C turned into the engine's Cancel, and the engine's progress shown.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common.h"

namespace qvcli {

class Mastering;

// What a command needs of the disc in the drive.
enum class DiscUse { Write, Erase, Format, Read };

class DriveJob {
 public:
  explicit DriveJob(std::string verb) : verb_(std::move(verb)) {}
  ~DriveJob();
  DriveJob(const DriveJob&) = delete;
  DriveJob& operator=(const DriveJob&) = delete;

  // Starts the engine and opens the drive (the default virtual drive when
  // drive is empty), holding it against other programs, and checks that the
  // disc in it suits the use. Returns 0 or the exit code, having said why.
  int Open(const std::string& drive, bool quiet, DiscUse use);
  QV_HANDLE handle() const { return handle_; }
  const std::string& shown() const { return shown_; }
  bool cancelled() const { return cancelled_.load(); }
  // Says why a call failed; first the drive gets its speed back and,
  // when asked, ejects the disc.
  int Fail(const std::string& what, const CallStatus& s);
  // A cancel that took effect outside an engine call; says what became of
  // the disc.
  int Cancelled(const std::string& outcome) const;

  // A write speed for this job alone: a drive keeps the speed it is told,
  // across commands and (with SET STREAMING) discs, so the job gives it
  // back its fastest when done, before any eject.
  int SetWriteSpeed(uint32_t kilobytesPerSecond);
  void RestoreSpeed();
  void EjectAfterFailure(bool eject) { ejectAfterFailure_ = eject; }

  // Files that change while they are recorded are told to this.
  void ReportChangesTo(Mastering* changes) { changes_ = changes; }
  // A blank or format that ended well: its progress reaches 100%.
  void LongOperationDone();
  // The progress bar of a grab, from now on.
  void BeginProgress(const std::string& label);
  // A grab's blocks are this many bytes each, for its progress.
  void SetGrabBlockBytes(uint32_t bytes) { grabBlockBytes_ = bytes; }
  // Stretches of blocks a grab could not read and wrote as zeros, and the
  // chunks it read again block by block.
  struct Replaced {
    int64_t lba;
    uint64_t blocks;
  };
  const std::vector<Replaced>& replaced() const { return replaced_; }
  // Stretches of raw blocks kept as read though their EDC/ECC is wrong.
  const std::vector<Replaced>& badChecks() const { return badChecks_; }
  uint64_t retries() const { return retries_; }
  // The callback the drive was opened with reports here.
  void OnCallback(QV_ULONG reason, uint64_t parameter1, uint64_t parameter2);

 private:
  int CheckDisc(DiscUse use);

  std::string verb_;
  std::string shown_;
  std::unique_ptr<InterruptScope> interrupts_;
  QV_HANDLE handle_ = nullptr;
  EngineSession* engine_ = nullptr;
  std::thread watcher_;
  // The watcher looks at the signal flag between waits on this, which the
  // end of the job cuts short: a command's exit never waits out a pause.
  std::mutex stopMutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::atomic<bool> cancelled_{false};
  bool quiet_ = false;
  Mastering* changes_ = nullptr;
  ProgressBar* bar_ = nullptr;
  uint64_t totalBlocks_ = 0;
  int driveBuffer_ = -1;
  std::string phase_;
  bool speedSet_ = false;
  bool ejectAfterFailure_ = false;
  uint32_t grabBlockBytes_ = 2048;
  std::vector<Replaced> replaced_, badChecks_;
  uint64_t retries_ = 0;
  uint64_t replacedBlocks_ = 0;
};

}  // namespace qvcli
