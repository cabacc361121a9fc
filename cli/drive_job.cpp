#include "drive_job.h"

#include "master.h"

#include <algorithm>
#include <iterator>
#include <chrono>
#include <csignal>
#include <cstdio>

namespace qvcli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// A speed of FFFFh asks SET CD SPEED and SET STREAMING for the fastest.
constexpr QV_ULONG kFastest = 0xFFFF;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

void QUORVANE_CALL Callback(QV_ULONG reason, void* context, void* p1, void* p2) {
  static_cast<DriveJob*>(context)->OnCallback(reason, reinterpret_cast<uintptr_t>(p1), reinterpret_cast<uintptr_t>(p2));
}

}  // namespace

DriveJob::~DriveJob() {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  if (watcher_.joinable()) watcher_.join();
  interrupts_.reset();
  delete bar_;
  RestoreSpeed();
  if (handle_ != nullptr) Quorvane_CdvdBurnerGrabber_Destroy(&handle_);
  delete engine_;
}

int DriveJob::SetWriteSpeed(uint32_t kilobytesPerSecond) {
  CallStatus s;
  speedSet_ = true;
  s.number = Quorvane_CdvdBurnerGrabber_SetSpeeds(handle_, QV_CALL_STATUS(s), kFastest, kilobytesPerSecond);
  return s.number == 0 ? kExitOk : Fail("setting the write speed", s);
}

void DriveJob::RestoreSpeed() {
  if (!speedSet_ || handle_ == nullptr) return;
  speedSet_ = false;
  CallStatus s;
  s.number = Quorvane_CdvdBurnerGrabber_SetSpeeds(handle_, QV_CALL_STATUS(s), kFastest, kFastest);
  if (s.number != 0) std::fprintf(stderr, "quorvane: %s: the drive keeps the speed it was given: %s\n", verb_.c_str(), s.text);
}

int DriveJob::Fail(const std::string& what, const CallStatus& s) {
  if (bar_ != nullptr) bar_->Finish();
  RestoreSpeed();
  if (ejectAfterFailure_) {
    CallStatus e;
    e.number = Quorvane_CdvdBurnerGrabber_Eject(handle_, QV_CALL_STATUS(e));
    if (e.number != 0) std::fprintf(stderr, "quorvane: %s: the disc could not be ejected: %s\n", verb_.c_str(), e.text);
  }
  if (s.number == EN_USER_EXCEPTION && cancelled()) {
    std::fprintf(stderr, "quorvane: %s cancelled; the drive is flushed and usable\n", verb_.c_str());
    return kExitCancelled;
  }
  return Report(what, FromEngine(s, About::Drive));
}

int DriveJob::Cancelled(const std::string& outcome) const {
  if (bar_ != nullptr) bar_->Finish();
  std::fprintf(stderr, "quorvane: %s cancelled; %s\n", verb_.c_str(), outcome.c_str());
  return kExitCancelled;
}

int DriveJob::Open(const std::string& drive, bool quiet, DiscUse use) {
  quiet_ = quiet;
  engine_ = new EngineSession;
  if (engine_->status() != 0) return Report("start-up", FromEngine(engine_->status(), nullptr, 0));
  DriveTarget target;
  if (int rc = OpenDrive(drive, true, &Callback, this, &handle_, &target)) return rc;
  shown_ = target.shown;
  if (int rc = CheckDisc(use)) return rc;
  // Ctrl-C and SIGTERM cancel through the engine, from a thread of its
  // own: the signal handler only raises a flag.
  g_interrupted = 0;
  interrupts_ = std::make_unique<InterruptScope>(&OnInterrupt);
  watcher_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(stopMutex_);
    while (!stopped_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stop_; })) {
      if (g_interrupted == 0 || cancelled_.exchange(true)) continue;
      lock.unlock();
      Quorvane_CdvdBurnerGrabber_Cancel(handle_);
      lock.lock();
    }
  });
  return 0;
}

namespace {

// The discs each use takes; a write is the engine's to judge, and so is a
// disc of a type the drive does not name.
struct UseRow {
  DiscUse use;
  const char* refusal;
  QV_ULONG types[6];
};
constexpr UseRow kDiscUses[] = {
    {DiscUse::Erase, "this disc cannot be erased",
     {DISC_TYPE_UNKNOWN, DISC_TYPE_CDRW, DISC_TYPE_DVDRW_RO, DISC_TYPE_DVDRW_SR, DISC_TYPE_DVDPLUSRW, DISC_TYPE_DVDRAM}},
    {DiscUse::Format, "this disc cannot be formatted",
     {DISC_TYPE_UNKNOWN, DISC_TYPE_DVDPLUSRW, DISC_TYPE_DVDRAM, DISC_TYPE_DVDRW_RO, DISC_TYPE_DVDRW_SR}},
};

}  // namespace

int DriveJob::CheckDisc(DiscUse use) {
  const std::string what = verb_ + " on " + shown_;
  // The drive gets its time to become ready; an empty tray answers at once.
  // Other failures are left to the command to meet.
  CallStatus s;
  s.number = Quorvane_CdvdBurnerGrabber_TestUnitReadyExEx(handle_, QV_CALL_STATUS(s), 10, 1);
  if (s.number != 0) {
    const Outcome o = FromEngine(s, About::Drive);
    if (o.exit == kExitDeviceBusy) return Report(what, o);
  }
  const QV_ULONG type = Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle_);
  for (const UseRow& row : kDiscUses) {
    if (row.use != use || std::find(std::begin(row.types), std::end(row.types), type) != std::end(row.types)) continue;
    return Report(what, {kExitUnsupported, std::string(row.refusal) + " (" + DiscTypeName(type) + ")",
                         "disc type " + std::to_string(type)});
  }
  return 0;
}

void DriveJob::LongOperationDone() { OnCallback(CN_BLANK_FORMAT_PROGRESS, 1, 1); }

void DriveJob::BeginProgress(const std::string& label) {
  delete bar_;
  bar_ = new ProgressBar(label, !quiet_);
}

void DriveJob::OnCallback(QV_ULONG reason, uint64_t p1, uint64_t p2) {
  // From the reader thread: the bar belongs to the writing one.
  if (reason == CN_FILE_CHANGED && changes_ != nullptr)
    changes_->OnChanged(reinterpret_cast<const char*>(static_cast<uintptr_t>(p1)));
  if (reason == CN_GRAB_RETRY) ++retries_;
  if (reason == CN_GRAB_BLOCK_REPLACED || reason == CN_GRAB_BAD_EDC_ECC) {
    // Addresses travel as 32-bit values; a grab's lie at or above -150.
    const int64_t lba = static_cast<int32_t>(static_cast<uint32_t>(p1));
    replacedBlocks_ += p2;
    auto& list = reason == CN_GRAB_BLOCK_REPLACED ? replaced_ : badChecks_;
    if (!list.empty() && list.back().lba + static_cast<int64_t>(list.back().blocks) == lba)
      list.back().blocks += p2;
    else
      list.push_back({lba, p2});
  }
  if (quiet_ && CurrentProgressStyle() != ProgressStyle::Json) return;
  auto say = [&](const char* phase, const char* text) {
    if (bar_ != nullptr) bar_->Finish();
    TellPhase(phase, text);
  };
  switch (reason) {
    case CN_WRITE_SIZE_KNOWN:
      totalBlocks_ = p2;
      break;
    case CN_WRITING_BEGIN:
      delete bar_;
      bar_ = new ProgressBar(verb_ == "burn" ? "Writing" : verb_);
      break;
    case CN_CDVD_WRITE_PROGRESS: {
      QV_ULONG queued = 0, total = 0;
      Quorvane_CdvdBurnerGrabber_GetCacheFill(handle_, &queued, &total);
      if (bar_ != nullptr)
        bar_->Update(p2 * 2048, p1 * 2048, driveBuffer_, total ? static_cast<int>(100 * queued / total) : -1);
      break;
    }
    case CN_CDVD_BUFFER_STATUS:
      if (p1 > 0) driveBuffer_ = static_cast<int>(100 * (p1 - std::min(p1, p2)) / p1);
      break;
    case CN_BUFFER_UNDERRUN: break;  // the bar's speed shows it
    case CN_GRAB_PROGRESS:
      if (bar_ != nullptr)
        bar_->Update(p2 * grabBlockBytes_, p1 * grabBlockBytes_, -1, -1,
                     static_cast<int64_t>(retries_ + replacedBlocks_));
      break;
    case CN_WRITING_END:
      if (bar_ != nullptr) bar_->Update(totalBlocks_ * 2048, totalBlocks_ * 2048, driveBuffer_, 0);
      say("flushing", "flushing the drive's buffer");
      break;
    case CN_DVDPLUSRW_FORMAT_BEGIN:
    case CN_DVDRAM_FORMAT_BEGIN:
    case CN_DVDRW_FORMAT_BEGIN: say("formatting", "formatting the disc"); break;
    case CN_DVD_PADDING_BEGIN: say("padding", "writing DVD padding"); break;
    case CN_BLANK_FORMAT_PROGRESS:
      // The drive's own count of how far it got; the bar is the erase's or
      // the format's, whichever the engine ends up doing.
      if (bar_ == nullptr) bar_ = new ProgressBar(verb_ == "erase" ? "erasing" : "formatting", true, false);
      bar_->Update(std::min(p2, p1), p1);
      break;
    default: break;
  }
}

}  // namespace qvcli
