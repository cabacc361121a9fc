// READ TOC/PMA/ATIP, READ DISC INFORMATION, READ TRACK INFORMATION and
// READ FORMAT CAPACITIES (MMC-5 6.26, 6.22, 6.27, 6.24).
#include "vdrive/bytes.h"
#include "vdrive/cd_address.h"
#include "vdrive/commands.h"
#include "vdrive/disc_layout.h"
#include "vdrive/toc.h"

namespace qv::vdrive {

namespace {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;
constexpr uint32_t kDvdBlocking = 16;  // blocks in an ECC block

// CD addresses in disc information are 0/M/S/F.
uint32_t MsfWord(int64_t lba) {
  const Msf t = LbaToMsf(static_cast<int32_t>(lba));
  return uint32_t{t.m} << 16 | uint32_t{t.s} << 8 | t.f;
}

// Disc status and the state of the last session.
void Statuses(const Medium& m, uint8_t* status, uint8_t* lastSession) {
  if (m.profile == kProfileDvdRam) {
    *status = 3;  // others: random access
    *lastSession = 3;
    return;
  }
  if (m.RandomAccess()) {
    *status = m.formatted ? 2 : 0;
    *lastSession = m.formatted ? 3 : 0;
    return;
  }
  switch (m.status) {
    case DiscStatus::Blank: *status = 0, *lastSession = 0; return;
    case DiscStatus::Appendable:
      *status = 1;
      *lastSession = m.sessions.back().closed ? 0 : 1;
      return;
    case DiscStatus::Complete: *status = 2, *lastSession = 3; return;
  }
}

struct TrackInfo {
  uint8_t number = 1, session = 1;
  uint8_t trackMode = 4, dataMode = 1;
  bool reserved = false, blank = false, packet = false, fixedPacket = false;
  bool nwaValid = false, lraValid = false;
  uint32_t start = 0, nwa = 0, freeBlocks = 0, packetSize = 0, size = 0, lra = 0;
};

std::vector<uint8_t> Encode(const TrackInfo& t) {
  Bytes d;
  d.U16(46);
  d.U8(t.number);
  d.U8(t.session);
  d.U8(0);
  d.U8(t.trackMode);
  d.U8((t.reserved ? 0x80 : 0) | (t.blank ? 0x40 : 0) | (t.packet ? 0x20 : 0) | (t.fixedPacket ? 0x10 : 0) | t.dataMode);
  d.U8((t.lraValid ? 0x02 : 0) | (t.nwaValid ? 0x01 : 0));
  d.U32(t.start);
  d.U32(t.nwaValid ? t.nwa : 0);
  d.U32(t.freeBlocks);
  d.U32(t.packetSize);
  d.U32(t.size);
  d.U32(t.lraValid ? t.lra : 0);
  d.Zeros(4);   // track and session number MSBs, reserved
  d.Zeros(12);  // read compatibility LBA, layer jump addresses
  return d.data();
}

TrackInfo Recorded(const Medium& m, const TrackRef& r) {
  const Track& t = *r.track;
  TrackInfo i;
  i.number = r.number;
  i.session = r.session;
  i.trackMode = t.control();
  i.dataMode = t.mode == TrackMode::Audio ? 0x0F : t.mode == TrackMode::Mode1 ? 1 : 2;
  i.start = t.start;
  i.size = t.blocks;
  i.reserved = t.reserved;
  i.blank = t.recorded == 0;
  if (m.IsDvd()) {
    i.packet = m.type->dashFormat;  // DVD-R/-RW record incrementally
    i.packetSize = kDvdBlocking;
    i.nwaValid = !t.finished();
    i.nwa = t.start + t.recorded;
    i.freeBlocks = t.blocks - t.recorded;
  } else {
    i.packet = t.incremental;
  }
  i.lraValid = !m.type->pressed && t.recorded > 0;
  i.lra = t.start + t.recorded - 1;
  return i;
}

TrackInfo Invisible(const Medium& m, const InvisibleTrack& inv) {
  TrackInfo i;
  i.number = inv.number;
  i.session = inv.session;
  i.blank = true;
  i.nwaValid = true;
  i.start = inv.start;
  i.nwa = inv.start;
  i.freeBlocks = inv.freeBlocks;
  i.size = inv.freeBlocks;
  if (m.IsDvd()) {
    i.packet = m.type->dashFormat;
    i.packetSize = kDvdBlocking;
  }
  return i;
}

// A random-access disc is one track over its whole format.
TrackInfo Formatted(const Medium& m) {
  TrackInfo i;
  i.packetSize = kDvdBlocking;
  if (m.profile == kProfileDvdRwRestricted) {
    i.packet = i.fixedPacket = true;
    i.size = m.FormattedBlocks();
  } else if (m.formatted) {
    i.size = m.capacity;
  } else {
    i.blank = true;
    i.nwaValid = true;
    i.size = i.freeBlocks = m.capacity;
  }
  return i;
}

}  // namespace

void ReadToc(Exec& x) {
  const bool msf = (x.cdb[1] & 0x02) != 0;
  uint8_t format = x.cdb[2] & 0x0F;
  if (format == 0) format = x.cdb[9] >> 6;  // where MMC-1 hosts put it
  const DiscLayout layout(*x.state().disc);
  std::optional<std::vector<uint8_t>> answer;
  switch (format) {
    case 0: answer = TocTracks(layout, msf, x.cdb[6]); break;
    case 1: answer = TocSessionInfo(layout, msf); break;
    case 2: answer = TocFull(layout, x.cdb[6]); break;
    case 4: answer = TocAtip(layout); break;
    case 5:
      // The CD-Text packs read from the lead-in; the header alone when there are none.
      if (const Medium& m = layout.medium(); m.IsCd()) {
        const size_t length = m.cdText.size() + 2;
        answer = std::vector<uint8_t>{static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length), 0, 0};
        answer->insert(answer->end(), m.cdText.begin(), m.cdText.end());
      }
      break;
    default: break;
  }
  if (!answer) return x.Check(InvalidCdbField(format == 0 || format == 2 ? 6 : 2));
  x.Send(*answer, Be16(x.cdb + 7));
}

void ReadDiscInformation(Exec& x) {
  if ((x.cdb[1] & 0x07) != 0) return x.Check(InvalidCdbField(1, 0));  // only standard disc information
  const Medium& m = *x.state().disc;
  const DiscLayout layout(m);
  uint8_t status = 0, lastSession = 0;
  Statuses(m, &status, &lastSession);
  Bytes d;
  d.U16(0);
  d.U8((m.type->rewritable ? 0x10 : 0) | lastSession << 2 | status);
  d.U8(1);  // first track on the disc
  const uint32_t sessions = layout.SessionCount();
  d.U8(sessions);
  d.U8(layout.FirstTrackInLastSession());
  d.U8(layout.LastTrackInLastSession());
  // DVD+RW: background format complete once formatted.
  d.U8(m.profile == kProfileDvdPlusRw && m.formatted ? 0x03 : 0x00);
  d.U8(m.IsCd() && !m.sessions.empty() ? layout.SessionDiscType(1) : 0x00);
  d.U8(sessions >> 8);
  d.Zeros(2);  // track number MSBs
  d.Zeros(4);  // disc identification
  uint32_t leadIn = kNoAddress, leadOut = kNoAddress;
  if (const auto& inv = layout.invisible()) {
    if (m.IsCd()) {
      // The lead-in of the session being or to be recorded.
      const Session* open = !m.sessions.empty() && !m.sessions.back().closed ? &m.sessions.back() : nullptr;
      const size_t before = m.sessions.size() - (open != nullptr ? 1 : 0);
      leadIn = MsfWord(before == 0 ? m.leadInStart : layout.NextProgramArea(static_cast<uint32_t>(before)) - kCdLeadInBlocks);
      leadOut = MsfWord(m.capacity);
    } else {
      leadIn = inv->start;
      leadOut = m.capacity;
    }
  }
  d.U32(leadIn);
  d.U32(leadOut);
  d.Zeros(8);  // disc bar code
  d.U8(0);     // disc application code
  d.U8(m.opcSpeed != 0 ? 1 : 0);
  if (m.opcSpeed != 0) {
    d.U16(m.opcSpeed);
    d.Zeros(5);
    d.U8(0x5A);  // this drive's power calibration value
  }
  PutBe16(d.data().data(), static_cast<uint32_t>(d.size() - 2));
  x.Send(d.data(), Be16(x.cdb + 7));
}

void ReadTrackInformation(Exec& x) {
  const uint8_t type = x.cdb[1] & 0x03;
  const uint32_t value = Be32(x.cdb + 2);
  const Medium& m = *x.state().disc;
  const DiscLayout layout(m);
  const auto& inv = layout.invisible();
  std::optional<TrackInfo> info;
  if (m.RandomAccess()) {
    const bool one = (type == 1 && (value == 1 || value == 0xFF)) || (type == 2 && value == 1) ||
                     (type == 0 && value < std::max(m.capacity, 1u));
    if (one) info = Formatted(m);
  } else if (type == 0) {
    if (const TrackRef* r = layout.TrackAt(static_cast<int32_t>(value))) info = Recorded(m, *r);
    else if (inv && value >= inv->start && value < m.capacity) info = Invisible(m, *inv);
  } else if (type == 1) {
    if (inv && (value == 0xFF || value == inv->number)) info = Invisible(m, *inv);
    else if (const TrackRef* r = value > 0 && value < 0xFF ? layout.Track(static_cast<uint8_t>(value)) : nullptr)
      info = Recorded(m, *r);
  } else if (type == 2) {
    if (inv && value == inv->session && inv->session > m.sessions.size()) info = Invisible(m, *inv);
    for (const TrackRef& r : layout.tracks())
      if (!info && r.session == value && r.firstInSession) info = Recorded(m, r);
  }
  if (!info) return x.Check(type == 3 ? InvalidCdbField(1, 1) : InvalidCdbField(2));
  x.Send(Encode(*info), Be16(x.cdb + 7));
}

void ReadFormatCapacities(Exec& x) {
  const Medium& m = *x.state().disc;
  enum : uint8_t { kUnformatted = 1, kFormatted = 2, kUnknown = 3 };
  uint32_t blocks = m.capacity;
  uint8_t kind = kUnknown;
  std::vector<std::pair<uint8_t, uint32_t>> formats;  // format type, type dependent parameter
  switch (m.profile) {
    case kProfileCdRw:
      kind = m.status == DiscStatus::Blank ? kUnformatted : kFormatted;
      if (kind == kFormatted) blocks = m.ReadableBlocks();
      formats = {{0x00, 32}};  // full format, fixed packets of 32 blocks
      break;
    case kProfileDvdRwSequential:
    case kProfileDvdRwRestricted:
      if (m.profile == kProfileDvdRwRestricted) kind = kFormatted, blocks = m.FormattedBlocks();
      else kind = m.status == DiscStatus::Blank ? kUnformatted : kFormatted;
      // Full format, full format for sequential recording, quick grow of a
      // restricted overwrite format, quick format.
      formats = {{0x00, kDvdBlocking}, {0x10, kDvdBlocking}};
      if (m.profile == kProfileDvdRwRestricted) formats.push_back({0x13, kDvdBlocking});
      formats.push_back({0x15, kDvdBlocking});
      break;
    case kProfileDvdPlusRw:
      kind = m.formatted ? kFormatted : kUnformatted;
      formats = {{0x26, 0}};
      break;
    case kProfileDvdRam:
      kind = m.formatted ? kFormatted : kUnformatted;
      formats = {{0x00, 0}};
      break;
    default:
      if (m.ReadableBlocks() > 0) kind = kFormatted, blocks = m.LastCapacityBlock() + 1;
      break;
  }
  Bytes d;
  d.Zeros(3);
  d.U8(static_cast<uint32_t>(8 * (1 + formats.size())));
  d.U32(blocks);
  d.U8(kind);
  d.U24(2048);
  for (const auto& [format, parameter] : formats) {
    d.U32(format == 0x13 ? m.capacity - m.FormattedBlocks() : m.capacity);
    d.U8(static_cast<uint32_t>(format << 2));
    d.U24(parameter);
  }
  x.Send(d.data(), Be16(x.cdb + 7));
}

}  // namespace qv::vdrive
