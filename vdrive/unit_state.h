// The drive's own state between commands: tray, disc, becoming ready, the
// pending unit attention, medium removal prevention, media events and the
// current values of the mode pages. Kept in the drive folder's state.json.
#pragma once
#include <cstdint>
#include <deque>
#include <nlohmann/json_fwd.hpp>
#include <memory>
#include <optional>
#include <vector>

#include "vdrive/medium.h"
#include "vdrive/model.h"
#include "vdrive/sense.h"

namespace qv::vdrive {

enum class Tray : uint8_t { Closed, Open };

// Lengths of the stored mode pages, their two-byte headers included.
inline constexpr size_t kPage01Length = 12;
inline constexpr size_t kPage05Length = 52;
inline constexpr size_t kPage30Length = 8;

// Speeds a host chose, in kB/s; 0 for the drive's fastest. SET CD SPEED
// lasts until the disc changes; SET STREAMING until the host says
// otherwise (MMC-5 6.37, 6.39).
struct SpeedChoice {
  uint16_t read = 0;
  uint16_t write = 0;
  bool streaming = false;  // set by SET STREAMING
};

// Media event codes of GET EVENT STATUS NOTIFICATION (MMC-5, media class).
enum class MediaEvent : uint8_t { NoChange = 0, EjectRequest = 1, NewMedia = 2, MediaRemoval = 3, MediaChanged = 4 };

// Whether a command that needs the disc may run, and if not, why.
enum class Readiness : uint8_t { Ready, NoDiscTrayClosed, NoDiscTrayOpen, BecomingReady, Incompatible };

struct RawWrite;
class CdTextCollector;

struct DriveState {
  Tray tray = Tray::Closed;
  std::optional<Medium> disc;        // on the tray or in the drive
  // While a loaded disc spins up: when it will be ready, on the machine's
  // monotonic clock, which every process shares; 0 once it is.
  uint64_t readyAtMs = 0;
  std::optional<Asc> unitAttention;  // reported once to the next command that may see it
  uint8_t prevent = 0;               // PREVENT ALLOW MEDIUM REMOVAL field: bit 0 prevent, bit 1 persistent
  std::deque<MediaEvent> events;     // media events not yet reported
  std::vector<uint8_t> page01;       // current mode pages, header included; empty: the defaults
  std::vector<uint8_t> page05;
  std::vector<uint8_t> page30;
  SpeedChoice cdSpeeds;              // SET CD SPEED / SET STREAMING, per family of media
  SpeedChoice dvdSpeeds;
  bool vanished = false;             // the device is gone: door calls fail

  // Recording, kept in memory only: what a drive forgets at power-off.
  // The buffer fills with each WRITE and drains at the write speed.
  uint64_t bufferFill = 0;           // bytes waiting to be recorded
  uint64_t bufferStampMs = 0;        // when bufferFill was last brought up to date
  // A long operation started with Immed (flush, close, blank, format):
  // until endMs, commands that need the disc answer NOT READY with its
  // code and progress.
  Asc operation = asc::kNone;
  uint64_t operationStartMs = 0;
  uint64_t operationEndMs = 0;
  // Session-at-once: the cue sheet sent, and the next block the host must
  // send (from -150); empty once the session is written.
  std::vector<uint8_t> cueSheet;
  int64_t saoNext = 0;
  // The CD-Text of the lead-in's R-W the host sent, when the cue sheet's
  // lead-in entry asked for it.
  std::shared_ptr<CdTextCollector> saoCdText;
  // A raw (write type 3) recording under way (vdrive/raw_write.h).
  std::shared_ptr<RawWrite> rawWrite;
  // Where the pick-up rests: the last sector read, which READ SUB-CHANNEL's
  // current position reports; unset, the first track's start.
  std::optional<int64_t> pickUp;

  bool DiscLoaded() const { return disc.has_value() && tray == Tray::Closed; }
  bool Locked() const { return (prevent & 0x03) != 0; }
  // The profile GET CONFIGURATION reports: none while the disc is not
  // ready or not one the model reads.
  uint16_t CurrentProfile(const DriveModel& model) const;
  // The loaded, ready and readable disc, or nullptr.
  const Medium* ReadyDisc(const DriveModel& model) const;

  // Brings the spin-up up to nowMs: a disc whose time has come is ready,
  // and the drive raises a unit attention (medium may have changed) and a
  // new-media event. A spin-up that ends further ahead than the model's
  // whole spin-up time was stamped before the clock restarted (a reboot)
  // and is over too. True when the state changed.
  bool Settle(const DriveModel& model, uint64_t nowMs);
  // The spin-up is over: announce the disc.
  void BecomeReady();
  // What a command that needs the disc meets, once settled.
  Readiness PeekReady(const DriveModel& model) const;

  // Tray and disc changes, with their media events.
  void OpenTray();
  void CloseTray(const DriveModel& model, uint64_t nowMs);
  // A person puts a disc in the drive and closes the tray.
  void Insert(Medium medium, const DriveModel& model, uint64_t nowMs);
  // A person takes the disc out; the tray ends closed and empty.
  void Remove();
  void PostEvent(MediaEvent event);

  // The choice for the family of the disc in the drive (CD without one).
  SpeedChoice& Speeds(const DriveModel& model);
  const SpeedChoice& Speeds(const DriveModel& model) const;
  // The speeds the drive runs at now, in kB/s.
  uint32_t ReadSpeed(const DriveModel& model) const;
  uint32_t WriteSpeed(const DriveModel& model) const;
};

// The sense data of a readiness other than Ready.
Sense NotReadySense(Readiness readiness);

nlohmann::json StateToJson(const DriveState& state);
// Throws BadJson.
DriveState StateFromJson(const nlohmann::json& json);

}  // namespace qv::vdrive
