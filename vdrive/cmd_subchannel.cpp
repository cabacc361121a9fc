// READ SUB-CHANNEL (MMC 42h): the Q subchannel's current position, the
// catalogue number and a track's ISRC, as the disc carries them: what a
// stamped disc was made with, or what a raw or session-at-once recording
// wrote. No audio is ever played here, so the audio status is "none" and
// the position is where the pick-up rests: the last sector READ CD read,
// or the first track's start.
#include <cstring>
#include <string>

#include "vdrive/bytes.h"
#include "vdrive/cd_address.h"
#include "vdrive/commands.h"
#include "vdrive/disc_layout.h"
#include "vdrive/sectors.h"

namespace qv::vdrive {

namespace {

constexpr uint8_t kNoAudioStatus = 0x15;

void Address(Bytes& d, int32_t lba, bool msf) {
  if (!msf) return d.U32(static_cast<uint32_t>(lba));
  const Msf t = LbaToMsf(lba);
  d.U8(0);
  d.U8(t.m);
  d.U8(t.s);
  d.U8(t.f);
}

}  // namespace

void ReadSubChannel(Exec& x) {
  const bool msf = (x.cdb[1] & 0x02) != 0, subQ = (x.cdb[2] & 0x40) != 0;
  const uint8_t format = x.cdb[3];
  const Medium& m = *x.state().disc;
  if (!m.IsCd()) return x.Check(Sense(kIllegalRequest, asc::kIncompatibleMedium));
  if (format < 1 || format > 3) return x.Check(InvalidCdbField(3));
  const DiscLayout layout(m);
  const TrackRef* first = layout.tracks().empty() ? nullptr : &layout.tracks().front();
  const TrackRef* track = format == 3 ? layout.Track(x.cdb[6]) : first;
  if (format == 3 && track == nullptr) return x.Check(InvalidCdbField(6));
  Bytes d;
  d.U8(0);
  d.U8(kNoAudioStatus);
  d.U16(0);  // the data length, set below
  if (subQ) {
    d.U8(format);
    if (format == 1) {
      const int64_t rest = first != nullptr ? first->track->start : 0;
      int64_t at = x.state().pickUp.value_or(rest);
      const TrackRef* here = layout.TrackAt(at);
      if (here == nullptr) here = first, at = rest;
      QPosition pos;
      if (here != nullptr) pos = SectorReader(layout, x.disc).Position(*here, at);
      d.U8(here != nullptr ? (1u << 4 | pos.control) : 0x10);
      d.U8(here != nullptr ? pos.track : 0);
      d.U8(here != nullptr ? pos.index : 0);
      Address(d, here != nullptr ? pos.lba : 0, msf);
      // As an LBA the track-relative address is negative through the pause; as MSF it is Q's countdown.
      if (!msf) {
        d.U32(static_cast<uint32_t>(pos.index == 0 ? -static_cast<int64_t>(pos.relative) - 1 : pos.relative));
      } else {
        const Msf r = FramesToMsf(pos.relative);
        d.U8(0);
        d.U8(r.m);
        d.U8(r.s);
        d.U8(r.f);
      }
    } else {
      const std::string& code = format == 2 ? m.mcn : track->track->isrc;
      const size_t digits = format == 2 ? 13 : 12;
      d.U8(format == 3 ? (3u << 4 | track->track->control()) : 0);
      d.U8(format == 3 ? track->number : 0);
      d.U8(0);
      d.U8(code.empty() ? 0x00 : 0x80);  // MCVal / TCVal
      for (size_t i = 0; i < digits; ++i) d.U8(code.empty() ? 0 : static_cast<uint8_t>(code[i]));
      d.Zeros(format == 2 ? 2 : 3);  // zero and the frame it was read in
    }
  }
  std::vector<uint8_t> answer = d.data();
  const size_t length = answer.size() - 4;
  answer[2] = static_cast<uint8_t>(length >> 8);
  answer[3] = static_cast<uint8_t>(length);
  x.Send(answer, Be16(x.cdb + 7));
}

}  // namespace qv::vdrive
