#include "vdrive/toc.h"

#include "vdrive/bytes.h"
#include "vdrive/cd_address.h"

namespace qv::vdrive {

namespace {

constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr uint8_t kAdrPosition = 0x10;  // ADR 1 in the high nibble
constexpr uint8_t kAdrMode5 = 0x50;     // ADR 5: multi-session pointers

// A track address: an LBA, or 0/M/S/F in binary. A DVD's address is too
// far for a minute byte; its minutes stop at 255.
void PutAddress(Bytes& d, int64_t lba, bool msf) {
  if (!msf) return d.U32(static_cast<uint32_t>(lba));
  const int64_t frames = lba + kMsfOffset;
  d.U8(0);
  d.U8(static_cast<uint32_t>(std::min<int64_t>(frames / kFramesPerMinute, 255)));
  d.U8(static_cast<uint32_t>(frames / kFramesPerSecond % 60));
  d.U8(static_cast<uint32_t>(frames % kFramesPerSecond));
}

void PutMsf(Bytes& d, int64_t lba) {
  const Msf t = LbaToMsf(static_cast<int32_t>(lba));
  d.U8(t.m);
  d.U8(t.s);
  d.U8(t.f);
}

// The tracks a TOC shows: those of closed sessions; a random-access disc
// shows its format as one track.
struct TocTrack {
  uint8_t number;
  uint8_t session;
  uint8_t control;
  int64_t start;
};

struct TocView {
  std::vector<TocTrack> tracks;
  int64_t leadOut = 0;
  uint8_t lastSessionControl = 0;
};

std::optional<TocView> View(const DiscLayout& layout) {
  const Medium& m = layout.medium();
  TocView v;
  if (m.RandomAccess()) {
    if (m.FormattedBlocks() == 0) return std::nullopt;
    v.tracks.push_back({1, 1, 0x04, 0});
    v.leadOut = m.FormattedBlocks();
    return v;
  }
  for (const TrackRef& r : layout.tracks()) {
    if (!r.sessionClosed) continue;
    v.tracks.push_back({r.number, r.session, r.track->control(), r.track->start});
    v.leadOut = r.track->end();
  }
  if (v.tracks.empty()) return std::nullopt;
  return v;
}

std::vector<uint8_t> Finish(Bytes& d) {
  PutBe16(d.data().data(), static_cast<uint32_t>(d.size() - 2));
  return d.data();
}

}  // namespace

std::optional<std::vector<uint8_t>> TocTracks(const DiscLayout& layout, bool msf, uint8_t firstTrack) {
  const std::optional<TocView> v = View(layout);
  if (!v) return std::nullopt;
  const uint8_t last = v->tracks.back().number;
  if (firstTrack == 0) firstTrack = 1;
  if (firstTrack > last && firstTrack != kLeadOutTrack) return std::nullopt;
  Bytes d;
  d.U16(0);
  d.U8(v->tracks.front().number);
  d.U8(last);
  for (const TocTrack& t : v->tracks) {
    if (t.number < firstTrack) continue;
    d.U8(0);
    d.U8(kAdrPosition | t.control);
    d.U8(t.number);
    d.U8(0);
    PutAddress(d, t.start, msf);
  }
  d.U8(0);
  d.U8(kAdrPosition | v->tracks.back().control);
  d.U8(kLeadOutTrack);
  d.U8(0);
  PutAddress(d, v->leadOut, msf);
  return Finish(d);
}

std::optional<std::vector<uint8_t>> TocSessionInfo(const DiscLayout& layout, bool msf) {
  const std::optional<TocView> v = View(layout);
  if (!v) return std::nullopt;
  const uint8_t lastSession = v->tracks.back().session;
  const TocTrack* first = nullptr;
  for (const TocTrack& t : v->tracks)
    if (t.session == lastSession && first == nullptr) first = &t;
  Bytes d;
  d.U16(0);
  d.U8(1);
  d.U8(lastSession);
  d.U8(0);
  d.U8(kAdrPosition | first->control);
  d.U8(first->number);
  d.U8(0);
  PutAddress(d, first->start, msf);
  return Finish(d);
}

std::optional<std::vector<uint8_t>> TocFull(const DiscLayout& layout, uint8_t firstSession) {
  const Medium& m = layout.medium();
  if (!m.IsCd()) return std::nullopt;
  const uint32_t closed = layout.ClosedSessionCount();
  if (firstSession == 0) firstSession = 1;
  if (closed == 0 || firstSession > closed) return std::nullopt;
  const bool recordable = !m.type->pressed;
  Bytes d;
  d.U16(0);
  d.U8(1);
  d.U8(closed);
  auto entry = [&](uint32_t session, uint8_t adrControl, uint8_t point, int64_t atLba, bool withTime, uint8_t zero,
                   uint8_t pm, uint8_t ps, uint8_t pf) {
    d.U8(session);
    d.U8(adrControl);
    d.U8(0);  // TNO: the lead-in
    d.U8(point);
    if (withTime) PutMsf(d, atLba);
    else d.Zeros(3);
    d.U8(zero);
    d.U8(pm);
    d.U8(ps);
    d.U8(pf);
  };
  for (uint32_t s = firstSession; s <= closed; ++s) {
    std::vector<const TrackRef*> tracks;
    for (const TrackRef& r : layout.tracks())
      if (r.session == s) tracks.push_back(&r);
    const Track& first = *tracks.front()->track;
    const Track& last = *tracks.back()->track;
    const Msf leadOut = LbaToMsf(static_cast<int32_t>(last.end()));
    entry(s, kAdrPosition | first.control(), 0xA0, 0, false, 0, tracks.front()->number, layout.SessionDiscType(s), 0);
    entry(s, kAdrPosition | last.control(), 0xA1, 0, false, 0, tracks.back()->number, 0, 0);
    entry(s, kAdrPosition | last.control(), 0xA2, 0, false, 0, leadOut.m, leadOut.s, leadOut.f);
    for (const TrackRef* r : tracks) {
      const Msf start = LbaToMsf(static_cast<int32_t>(r->track->start));
      entry(s, kAdrPosition | r->track->control(), r->number, 0, false, 0, start.m, start.s, start.f);
    }
    // A session that another may follow points at where it would begin and
    // at the last possible lead-out; a recordable disc's first session also
    // carries the ATIP lead-in start (C0h).
    const bool more = s < m.sessions.size() || m.status != DiscStatus::Complete;
    const bool c0 = recordable && s == 1;
    if (more) {
      const Msf outer = LbaToMsf(static_cast<int32_t>(m.capacity));
      entry(s, kAdrMode5 | (last.data() ? 0x04 : 0x00), 0xB0, layout.NextProgramArea(s), true, c0 ? 2 : 1, outer.m,
            outer.s, outer.f);
    }
    if (c0) {
      const Msf leadIn = LbaToMsf(m.leadInStart);
      entry(s, kAdrMode5 | (last.data() ? 0x04 : 0x00), 0xC0, 0, false, 0, leadIn.m, leadIn.s, leadIn.f);
    }
  }
  return Finish(d);
}

std::optional<std::vector<uint8_t>> TocAtip(const DiscLayout& layout) {
  const Medium& m = layout.medium();
  if (!m.IsCd() || m.type->pressed) return std::nullopt;
  const bool rw = m.type->rewritable;
  Bytes d;
  d.U16(0);
  d.Zeros(2);
  d.U8(0x80 | 0x50 | 0x01);      // indicative writing power 5, reference speed 1
  d.U8(0x00);                    // URU clear: a general-use disc
  d.U8(0x80 | (rw ? 0x40 : 0));  // disc type: CD-R or CD-RW; no A1-A3 values
  d.U8(0);
  const Msf leadIn = LbaToMsf(m.leadInStart);
  const Msf leadOut = LbaToMsf(static_cast<int32_t>(m.capacity));
  d.U8(leadIn.m);
  d.U8(leadIn.s);
  d.U8(leadIn.f);
  d.U8(0);
  d.U8(leadOut.m);
  d.U8(leadOut.s);
  d.U8(leadOut.f);
  d.U8(0);
  d.Zeros(12);  // A1, A2, A3
  return Finish(d);
}

}  // namespace qv::vdrive
