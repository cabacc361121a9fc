// What a drive derives from a disc's sessions and tracks: track numbers,
// the track under an address, the invisible track that the next recording
// would make, and the CD session areas (lead-out, lead-in, pause).
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "vdrive/medium.h"

namespace qv::vdrive {

// CD session gaps: the first session's lead-out lasts 90 seconds, later
// ones 30; every lead-in lasts 60 seconds; a first track's pause 2.
inline constexpr uint32_t kCdFirstLeadOutBlocks = 6750;
inline constexpr uint32_t kCdLaterLeadOutBlocks = 2250;
inline constexpr uint32_t kCdLeadInBlocks = 4500;
inline constexpr uint32_t kCdPauseBlocks = 150;

struct TrackRef {
  const Track* track = nullptr;
  uint8_t number = 0;   // 1-99, counted over the whole disc
  uint8_t session = 0;  // 1-99
  bool sessionClosed = false;
  bool firstInSession = false;
  bool lastInSession = false;
};

// The next track a recorder would write: on a CD-R the invisible track, on
// sequential DVDs the incomplete track after the last one.
struct InvisibleTrack {
  uint8_t number = 1;
  uint8_t session = 1;
  uint32_t start = 0;       // its next writable address
  uint32_t freeBlocks = 0;
};

class DiscLayout {
 public:
  explicit DiscLayout(const Medium& medium);

  const Medium& medium() const { return m_; }
  const std::vector<TrackRef>& tracks() const { return tracks_; }
  const TrackRef* Track(uint8_t number) const;
  // The track whose area (its CD pause included) holds an address.
  const TrackRef* TrackAt(int64_t lba) const;
  const std::optional<InvisibleTrack>& invisible() const { return invisible_; }

  // Sessions READ DISC INFORMATION counts: an empty or open last session too.
  uint32_t SessionCount() const;
  uint32_t ClosedSessionCount() const;
  // The first and last track numbers of the last session, the invisible
  // track included.
  uint8_t FirstTrackInLastSession() const;
  uint8_t LastTrackInLastSession() const;
  // CD: the lead-out start of a session (1-based) and where the area of the
  // session after it begins.
  uint32_t LeadOutStart(uint32_t session) const;
  int64_t NextProgramArea(uint32_t session) const;
  // CD: the disc type of a session: 00h CD-DA or CD-ROM, 20h CD-ROM XA.
  uint8_t SessionDiscType(uint32_t session) const;

 private:
  const Medium& m_;
  std::vector<TrackRef> tracks_;
  std::optional<InvisibleTrack> invisible_;
};

}  // namespace qv::vdrive
