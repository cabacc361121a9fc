#include "vdrive/disc_layout.h"

#include <algorithm>

namespace qv::vdrive {

DiscLayout::DiscLayout(const Medium& m) : m_(m) {
  uint8_t number = 0;
  for (size_t si = 0; si < m.sessions.size(); ++si) {
    const Session& s = m.sessions[si];
    for (size_t ti = 0; ti < s.tracks.size(); ++ti) {
      TrackRef r;
      r.track = &s.tracks[ti];
      r.number = ++number;
      r.session = static_cast<uint8_t>(si + 1);
      r.sessionClosed = s.closed;
      r.firstInSession = ti == 0;
      r.lastInSession = ti + 1 == s.tracks.size();
      tracks_.push_back(r);
    }
  }
  if (m.type == nullptr || m.type->pressed || m.RandomAccess() || m.status == DiscStatus::Complete) return;
  InvisibleTrack inv;
  inv.number = static_cast<uint8_t>(number + 1);
  if (m.sessions.empty()) {
    inv.start = 0;
  } else {
    const Session& last = m.sessions.back();
    const vdrive::Track& t = last.tracks.back();
    // An unfinished last track is itself the track being recorded.
    if (!last.closed && !t.finished() && !t.reserved) return;
    if (number >= 99) return;
    inv.session = static_cast<uint8_t>(m.sessions.size() + (last.closed ? 1 : 0));
    if (m.IsCd())
      inv.start = static_cast<uint32_t>((last.closed ? NextProgramArea(static_cast<uint32_t>(m.sessions.size()))
                                                     : int64_t{t.end()}) +
                                        kCdPauseBlocks);
    else
      inv.start = t.end();
  }
  if (inv.start > m.capacity) return;
  inv.freeBlocks = m.capacity - inv.start;
  invisible_ = inv;
}

const TrackRef* DiscLayout::Track(uint8_t number) const {
  for (const auto& r : tracks_)
    if (r.number == number) return &r;
  return nullptr;
}

const TrackRef* DiscLayout::TrackAt(int64_t lba) const {
  for (const auto& r : tracks_)
    if (lba >= r.track->areaStart() && lba < int64_t{r.track->end()}) return &r;
  return nullptr;
}

uint32_t DiscLayout::SessionCount() const {
  const uint32_t n = static_cast<uint32_t>(m_.sessions.size());
  return invisible_ && invisible_->session > n ? n + 1 : std::max<uint32_t>(n, 1);
}

uint32_t DiscLayout::ClosedSessionCount() const {
  uint32_t n = 0;
  for (const auto& s : m_.sessions) n += s.closed ? 1 : 0;
  return n;
}

uint8_t DiscLayout::FirstTrackInLastSession() const {
  if (invisible_ && invisible_->session > m_.sessions.size()) return invisible_->number;
  for (const auto& r : tracks_)
    if (r.session == m_.sessions.size() && r.firstInSession) return r.number;
  return 1;
}

uint8_t DiscLayout::LastTrackInLastSession() const {
  if (invisible_) return invisible_->number;
  return tracks_.empty() ? 1 : tracks_.back().number;
}

uint32_t DiscLayout::LeadOutStart(uint32_t session) const {
  const Session& s = m_.sessions.at(session - 1);
  return s.tracks.back().end();
}

int64_t DiscLayout::NextProgramArea(uint32_t session) const {
  return int64_t{LeadOutStart(session)} + (session == 1 ? kCdFirstLeadOutBlocks : kCdLaterLeadOutBlocks) +
         kCdLeadInBlocks;
}

uint8_t DiscLayout::SessionDiscType(uint32_t session) const {
  for (const auto& t : m_.sessions.at(session - 1).tracks)
    if (t.mode == TrackMode::Mode2 || t.mode == TrackMode::Mode2Form1 || t.mode == TrackMode::Mode2Form2) return 0x20;
  return 0x00;
}

}  // namespace qv::vdrive
