// Session-at-once, MMC write type 2: SEND CUE SHEET (MMC-5 6.33) and the
// WRITE and SYNCHRONIZE CACHE of a session laid out by its cue sheet.
//
// A cue sheet is a list of 8-byte entries: CTL/ADR, TNO, INDEX, DATA FORM,
// SCMS, and the absolute time M:S:F (binary) where the entry begins.
// - ADR 1 entries lay out the lead-in (TNO 0, first), the indexes of each
//   track in order, and the lead-out (TNO AAh, last).
// - ADR 2: the catalogue number, 13 digits over two entries (bytes 1-7,
//   then 1-6), before the lead-in entry.
// - ADR 3: a track's ISRC, 12 characters over two entries (bytes 2-7 of
//   each, byte 1 the track), before the track's first index.
// The drive makes the lead-in and lead-out itself; the host sends every
// block from the first pre-gap (LBA -150) up to the lead-out, in order,
// each of the size its DATA FORM says. Forms ending in 1h or 4h are made
// by the drive (zeros) and take nothing from the host.
// - The lead-in entry's sub-channel form (DATA FORM bits 7-6) 01b: the
//   host sends the lead-in's R-W (CD-Text packs), 96 bytes a block with
//   the R-W in bits 5-0, from the ATIP's lead-in start up to -150.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>

#include "vdrive/bytes.h"
#include "vdrive/cd_text.h"
#include "vdrive/commands.h"
#include "vdrive/disc_layout.h"
#include "vdrive/mode_pages.h"

namespace qv::vdrive {

namespace {

constexpr Asc kInvalidAddressForWrite{0x21, 0x02};
constexpr Asc kCommandSequenceError{0x2C, 0x00};
constexpr Asc kIllegalModeForTrack{0x64, 0x00};
constexpr uint8_t kLeadOutTrack = 0xAA;
constexpr int64_t kFirstPregap = -150;
constexpr int64_t kNone = INT64_MIN;  // an index the cue sheet did not give
constexpr uint32_t kLeadInRwBytes = 96;

// The raw data forms: the host sends the whole 2352-byte sector, sync,
// header, data and EDC/ECC, and the drive writes it as it is (MMC-5 table
// "Cue sheet data form of main data": 11h Mode 1, 21h CD-ROM XA, 31h Mode 2).
bool RawDataForm(uint8_t form) { return form == 0x11 || form == 0x21 || form == 0x31; }

// Where the sector's stored part begins in what the host sent: the drive
// keeps a data sector's user data (and sub-header) and makes the rest again
// when it is read, so a raw sector gives up its sync and header.
uint32_t StoredPartOffset(uint8_t form) { return RawDataForm(form) ? 16 : 0; }

// Bytes per block the host sends for a DATA FORM, 0 when the drive makes
// the blocks, -1 for a form this drive does not take. Forms with raw or
// packed subchannel (bits 7-6) are not taken.
int BlockBytes(uint8_t form) {
  if (RawDataForm(form)) return 2352;
  switch (form) {
    case 0x00: return 2352;  // CD-DA
    case 0x10: return 2048;  // CD-ROM Mode 1, the drive adds sync, header, EDC/ECC
    case 0x20: return 2336;  // CD-ROM XA: subheader and data, the drive adds the rest
    case 0x30: return 2336;  // CD-ROM Mode 2
    case 0x01: case 0x14: case 0x24: case 0x34: return 0;
    default: return -1;
  }
}

// A form fits the track's CONTROL: audio forms for audio, data for data.
bool FitsControl(uint8_t form, uint8_t control) {
  const bool audioForm = form < 0x10;
  return audioForm == ((control & 0x04) == 0);
}

struct CueTrack {
  uint8_t control = 0;
  uint8_t form = 0;          // of index 1 and after
  uint8_t pregapForm = 0;    // of index 0
  int64_t index0 = kNone;    // kNone: no pre-gap
  int64_t index1 = kNone;
  std::vector<int64_t> more;  // index 2, 3, ...
  std::string isrc;
};

struct CuePlan {
  std::vector<CueTrack> tracks;
  int64_t leadOut = -1;
  std::string catalog;
  bool leadInText = false;  // the host sends the lead-in's R-W
};

// A run of blocks of one size the host sends (or the drive makes).
struct Area {
  int64_t start, end;
  int bytes;
  size_t track;
  uint8_t form;
};

std::vector<Area> Areas(const CuePlan& plan) {
  std::vector<Area> areas;
  for (size_t i = 0; i < plan.tracks.size(); ++i) {
    const CueTrack& t = plan.tracks[i];
    const int64_t end = i + 1 < plan.tracks.size()
                            ? (plan.tracks[i + 1].index0 != kNone ? plan.tracks[i + 1].index0 : plan.tracks[i + 1].index1)
                            : plan.leadOut;
    if (t.index0 != kNone) areas.push_back({t.index0, t.index1, BlockBytes(t.pregapForm), i, t.pregapForm});
    areas.push_back({t.index1, end, BlockBytes(t.form), i, t.form});
  }
  return areas;
}

const Area* AreaAt(const std::vector<Area>& areas, int64_t lba) {
  for (const Area& a : areas)
    if (lba >= a.start && lba < a.end) return &a;
  return nullptr;
}

// The next block from lba the host has to send; the lead-out when none.
int64_t NextSent(const CuePlan& plan, int64_t lba) {
  for (const Area& a : Areas(plan))
    if (a.bytes > 0 && a.end > lba) return std::max(a.start, lba);
  return plan.leadOut;
}

// Checks a cue sheet as MMC lays it out; the sense of the first fault.
std::optional<Sense> Parse(const uint8_t* p, size_t length, uint32_t capacity, CuePlan& plan) {
  const size_t count = length / 8;
  bool leadIn = false;
  int lastIndex = -1;
  int64_t lastAddress = kFirstPregap - 1;
  std::string pendingIsrc;
  uint8_t pendingIsrcTrack = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = p + i * 8;
    const auto at = [i](uint16_t byte) { return std::optional<Sense>(InvalidParameterField(uint16_t(i * 8 + byte))); };
    const uint8_t adr = e[0] & 0x0F, control = e[0] >> 4;
    if (plan.leadOut >= 0) return at(0);  // nothing after the lead-out
    if (adr == 2) {
      if (leadIn || !plan.catalog.empty() || i + 1 >= count || (e[8] & 0x0F) != 2) return at(0);
      std::string digits(reinterpret_cast<const char*>(e + 1), 7);
      digits.append(reinterpret_cast<const char*>(e + 9), 6);
      for (size_t k = 0; k < digits.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(digits[k]))) return at(static_cast<uint16_t>(k < 7 ? 1 + k : 2 + k));
      plan.catalog = digits;
      ++i;
      continue;
    }
    if (adr == 3) {
      const auto next = static_cast<uint8_t>(plan.tracks.size() + 1);
      if (!leadIn || !pendingIsrc.empty() || i + 1 >= count || (e[8] & 0x0F) != 3) return at(0);
      if (e[1] != next || e[9] != next) return at(1);
      std::string code(reinterpret_cast<const char*>(e + 2), 6);
      code.append(reinterpret_cast<const char*>(e + 10), 6);
      for (size_t k = 0; k < code.size(); ++k) {
        const auto c = static_cast<unsigned char>(code[k]);
        const bool ok = k < 5 ? (std::isdigit(c) || std::isupper(c)) : std::isdigit(c) != 0;
        if (!ok) return at(static_cast<uint16_t>(k < 6 ? 2 + k : 4 + k));
      }
      pendingIsrc = code;
      pendingIsrcTrack = next;
      ++i;
      continue;
    }
    if (adr != 1) return at(0);
    const uint8_t tno = e[1], index = e[2], form = e[3];
    if (e[6] > 59) return at(6);
    if (e[7] > 74) return at(7);
    const int64_t address = int64_t{e[5]} * 4500 + e[6] * 75 + e[7] + kFirstPregap;
    // Only the lead-in takes R-W from the host.
    const uint8_t mainForm = !leadIn && (form & 0xC0) == 0x40 ? form & 0x3F : form;
    const int bytes = BlockBytes(mainForm);
    if (bytes < 0 || !FitsControl(mainForm, control)) return at(3);
    if (!leadIn) {
      if (tno != 0) return at(1);
      if (bytes != 0) return at(3);
      if (address != kFirstPregap) return at(5);
      plan.leadInText = mainForm != form;
      leadIn = true;
      continue;
    }
    if (address <= lastAddress) return at(5);
    CueTrack* current = plan.tracks.empty() ? nullptr : &plan.tracks.back();
    if (tno == kLeadOutTrack) {
      if (current == nullptr || current->index1 == kNone) return at(1);
      if (index != 1) return at(2);
      if (bytes != 0) return at(3);
      if (address > int64_t{capacity}) return at(5);
      plan.leadOut = address;
      continue;
    }
    if (current != nullptr && tno == plan.tracks.size()) {
      if (index != lastIndex + 1 || index > 99) return at(2);
      if (control != current->control) return at(0);
      if (index == 1) {
        if (bytes == 0) return at(3);
        // Every disc begins with a pause of at least two seconds.
        if (plan.tracks.size() == 1 && address < 0) return at(5);
        current->index1 = address, current->form = form;
      } else {
        if (form != current->form) return at(3);
        current->more.push_back(address);
      }
    } else {
      if (tno != plan.tracks.size() + 1 || tno > 99) return at(1);
      if (current != nullptr && current->index1 == kNone) return at(1);
      if (plan.tracks.empty() && (index != 0 || address != kFirstPregap)) return at(index != 0 ? 2 : 5);
      if (index > 1) return at(2);
      if (!pendingIsrc.empty() && pendingIsrcTrack != tno) return at(1);
      CueTrack t;
      t.control = control;
      t.isrc = pendingIsrc;
      pendingIsrc.clear();
      if (index == 0) {
        t.index0 = address, t.pregapForm = form;
        if (bytes != 0 && !FitsControl(form, control)) return at(3);
      } else {
        if (bytes == 0) return at(3);
        t.index1 = address, t.form = form;
      }
      plan.tracks.push_back(t);
    }
    lastIndex = index;
    lastAddress = address;
  }
  if (!leadIn || plan.leadOut < 0) return std::optional<Sense>(InvalidParameterField(uint16_t(length - 8)));
  if (plan.tracks[0].index1 == kNone) return std::optional<Sense>(InvalidParameterField(13));
  return std::nullopt;
}

TrackMode ModeOf(uint8_t form) {
  if (form < 0x10) return TrackMode::Audio;
  if (form < 0x20) return TrackMode::Mode1;
  return TrackMode::Mode2;
}

uint64_t StoredEnd(const Medium& m) {
  uint64_t end = 0;
  for (const auto& s : m.sessions)
    for (const auto& t : s.tracks)
      end = std::max(end, t.dataOffset + uint64_t(t.end() - std::max<int64_t>(t.areaStart(), 0)) * t.storedSectorBytes());
  return end;
}

// The session the cue sheet lays out, open and empty, on a blank disc.
void OpenSession(Medium& m, const CuePlan& plan) {
  Session s{{}, false};
  uint64_t offset = StoredEnd(m);
  const std::vector<Area> areas = Areas(plan);
  for (size_t i = 0; i < plan.tracks.size(); ++i) {
    const CueTrack& c = plan.tracks[i];
    Track t;
    t.start = static_cast<uint32_t>(c.index1);
    t.pregap = c.index0 != kNone ? static_cast<uint32_t>(c.index1 - c.index0) : 0;
    for (int64_t ix : c.more) t.indexes.push_back(static_cast<uint32_t>(ix - c.index1));
    t.mode = ModeOf(c.form);
    t.copy = (c.control & 0x02) != 0;
    t.preemphasis = t.mode == TrackMode::Audio && (c.control & 0x01) != 0;
    const auto end = std::find_if(areas.begin(), areas.end(), [&](const Area& a) { return a.track == i && a.start == c.index1; })->end;
    t.blocks = static_cast<uint32_t>(end - c.index1);
    t.isrc = c.isrc;
    t.dataOffset = offset;
    offset += uint64_t(t.end() - std::max<int64_t>(t.areaStart(), 0)) * t.storedSectorBytes();
    s.tracks.push_back(std::move(t));
  }
  m.sessions.push_back(std::move(s));
  m.mcn = plan.catalog;
  m.status = DiscStatus::Appendable;
}

bool ParseCurrent(const DriveState& s, CuePlan& plan) {
  return !s.cueSheet.empty() && s.disc && !Parse(s.cueSheet.data(), s.cueSheet.size(), s.disc->capacity, plan);
}

}  // namespace

void SendCueSheet(Exec& x) {
  Medium& m = *x.state().disc;
  const uint32_t length = Be24(x.cdb + 6);
  if (!m.IsCd() || m.type->pressed || !x.model().Writes(m.profile) || !x.model().sessionAtOnce)
    return x.Check(Sense(kIllegalRequest, asc::kIncompatibleMedium));
  const std::vector<uint8_t> page = ModePage(kPageWriteParameters, kCurrentValues, x.model(), x.state());
  if (page.size() < 3 || (page[2] & 0x0F) != 2 || m.status != DiscStatus::Blank)
    return x.Check(Sense(kIllegalRequest, kCommandSequenceError));
  if (length == 0 || length % 8 != 0 || length > x.outLength) return x.Check(InvalidCdbField(6));
  CuePlan plan;
  if (auto fault = Parse(x.out, length, m.capacity, plan)) return x.Check(*fault);
  x.state().cueSheet.assign(x.out, x.out + length);
  x.state().saoNext = plan.leadInText ? int64_t{m.leadInStart} : NextSent(plan, kFirstPregap);
  x.state().saoCdText = std::make_shared<CdTextCollector>();
}

void WriteSessionAtOnce(Exec& x, bool testWrite) {
  DriveState& s = x.state();
  Medium& m = *s.disc;
  CuePlan plan;
  if (!ParseCurrent(s, plan)) return x.Check(Sense(kIllegalRequest, kCommandSequenceError));
  const auto lba = static_cast<int64_t>(static_cast<int32_t>(Be32(x.cdb + 2)));
  const uint32_t blocks = Be16(x.cdb + 7);
  if (lba != s.saoNext || lba >= plan.leadOut)
    return x.Check(Sense(kIllegalRequest, kInvalidAddressForWrite).Information(static_cast<uint32_t>(lba)));
  if (blocks == 0) return;
  if (lba < kFirstPregap) {
    // The lead-in's R-W: no block past it, each 96 bytes.
    if (lba + blocks > kFirstPregap || uint64_t{blocks} * kLeadInRwBytes != x.outLength)
      return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack).Information(static_cast<uint32_t>(lba)));
    if (!s.saoCdText) s.saoCdText = std::make_shared<CdTextCollector>();
    for (uint32_t i = 0; i < blocks; ++i) s.saoCdText->AddSector(x.out + uint64_t{i} * kLeadInRwBytes);
    s.saoNext = lba + blocks == kFirstPregap ? NextSent(plan, kFirstPregap) : lba + blocks;
    x.mediaBytes += x.outLength;
    return;
  }
  // One WRITE carries blocks of one size, all of them the host's to send.
  const std::vector<Area> areas = Areas(plan);
  const int bytes = AreaAt(areas, lba)->bytes;
  for (int64_t b = lba; b < lba + blocks; ++b) {
    const Area* a = AreaAt(areas, b);
    if (a == nullptr) return x.Check(Sense(kIllegalRequest, asc::kLbaOutOfRange).Information(static_cast<uint32_t>(lba)));
    if (a->bytes != bytes) return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack).Information(static_cast<uint32_t>(b)));
  }
  if (uint64_t{blocks} * static_cast<uint32_t>(bytes) != x.outLength)
    return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack).Information(static_cast<uint32_t>(lba)));
  if (!testWrite) {
    if (m.sessions.empty() || m.sessions.back().closed) OpenSession(m, plan);
    Session& session = m.sessions.back();
    for (uint32_t i = 0; i < blocks; ++i) {
      const int64_t b = lba + i;
      Track& t = session.tracks[AreaAt(areas, b)->track];
      if (b >= int64_t{t.start}) t.recorded = std::max<uint32_t>(t.recorded, static_cast<uint32_t>(b - t.start + 1));
      if (b < 0) continue;  // the first pause lies before the disc's first block
      const uint32_t stored = t.storedSectorBytes();
      const uint32_t skip = StoredPartOffset(AreaAt(areas, b)->form);
      std::vector<uint8_t> sector(stored, 0);
      std::memcpy(sector.data(), x.out + uint64_t{i} * static_cast<uint32_t>(bytes) + skip,
                  std::min<uint32_t>(stored, static_cast<uint32_t>(bytes) - skip));
      const uint64_t at = t.dataOffset + uint64_t(b - std::max<int64_t>(t.areaStart(), 0)) * stored;
      if (x.disc.Write(at, sector.data(), stored) != 0)
        return x.Check(Sense(kHardwareError, asc::kInternalTargetFailure).Information(static_cast<uint32_t>(b)));
    }
    x.StateChanged();
  }
  s.saoNext = NextSent(plan, lba + blocks);
  x.mediaBytes += x.outLength;
}

bool FlushSessionAtOnce(Exec& x, bool testWrite, bool multiSession) {
  DriveState& s = x.state();
  CuePlan plan;
  if (!ParseCurrent(s, plan) || s.saoNext < plan.leadOut) return false;
  // Everything up to the lead-out arrived: the drive writes the lead-in
  // with the TOC and the lead-out, and the session is closed.
  s.cueSheet.clear();
  Medium& m = *s.disc;
  if (!testWrite && !m.sessions.empty()) {
    for (Track& t : m.sessions.back().tracks) t.recorded = t.blocks;
    if (plan.leadInText && s.saoCdText) m.cdText = s.saoCdText->Packs();
    m.sessions.back().closed = true;
    m.status = multiSession ? DiscStatus::Appendable : DiscStatus::Complete;
    x.StateChanged();
  }
  return true;
}

}  // namespace qv::vdrive
