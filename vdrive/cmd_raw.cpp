// Raw writing (MMC write type 3, disc-at-once): the host sends every
// sector from the lead-in start the ATIP gives to the end of the lead-out,
// each with its subchannel: formatted P-Q (data block type 1, 2368 bytes),
// packed P-W (type 2, 2448: P and Q as recorded, R-W de-interleaved, which
// the drive interleaves) or raw P-W (type 3, 2448, recorded as sent).
// Type 0 carries no subchannel to write raw with, and is refused by MODE
// SELECT. The drive learns the disc from what it is sent, as a recorder
// does: the TOC from the lead-in's Q (mode 1, TNO 0), the CD-Text from the
// lead-in's R-W (never interleaved there), each track's start from the
// program area's Q, the end of the session from the lead-out's. The
// program area's R-W is kept, pauses included, to be read back.
//
// Refused as a recorder refuses them: a first write away from the lead-in
// start, a write not at the next address, a lead-in that ends before or
// after -150, a bad Q CRC from the pre-gap on, a lead-out start or track
// start that the lead-in's TOC does not list, or lists as the other kind
// of track (data or audio).
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "vdrive/bytes.h"
#include "vdrive/cd_address.h"
#include "vdrive/cd_text.h"
#include "vdrive/commands.h"
#include "vdrive/disc_layout.h"
#include "vdrive/mode_pages.h"
#include "vdrive/raw_write.h"
#include "vdrive/subchannel.h"

namespace qv::vdrive {

namespace {

constexpr Asc kInvalidAddressForWrite{0x21, 0x02};
constexpr Asc kIllegalModeForTrack{0x64, 0x00};
constexpr int32_t kProgramAreaStart = -kMsfOffset;  // the first pause

uint8_t FromBcd(uint8_t v) { return static_cast<uint8_t>((v >> 4) * 10 + (v & 0x0F)); }

// ECMA-130 Annex B: bytes 12-2351 XORed with x^15 + x + 1 from 1, low bit first.
const std::array<uint8_t, 2340>& ScramblerTable() {
  static const std::array<uint8_t, 2340> table = [] {
    std::array<uint8_t, 2340> t{};
    uint32_t reg = 1;
    for (auto& byte : t)
      for (int bit = 0; bit < 8; ++bit) {
        byte |= static_cast<uint8_t>((reg & 1) << bit);
        const uint32_t feedback = (reg ^ (reg >> 1)) & 1;
        reg = (reg >> 1) | (feedback << 14);
      }
    return t;
  }();
  return table;
}

// The 12 Q bytes of a sector's subchannel.
void ExtractQ(const uint8_t* sub, bool rawPw, uint8_t* q) {
  if (!rawPw) return static_cast<void>(std::memcpy(q, sub, 12));
  std::memset(q, 0, 12);
  for (int i = 0; i < 96; ++i)
    if (sub[i] & 0x40) q[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
}

bool QCrcGood(const uint8_t* q) {
  const uint16_t crc = QCrc(q);
  return q[10] == (crc >> 8) && q[11] == (crc & 0xFF);
}

Track* LastTrack(Medium& m) {
  if (m.sessions.empty() || m.sessions.back().tracks.empty()) return nullptr;
  return &m.sessions.back().tracks.back();
}

// Ends the track being written where the next area begins.
void EndTrack(Medium& m, int64_t nextArea) {
  if (Track* t = LastTrack(m); t != nullptr && !t->finished()) {
    t->blocks = t->recorded = static_cast<uint32_t>(std::max<int64_t>(nextArea - t->start, 1));
  }
}

// Q mode 2: thirteen BCD digits from byte 1 on; "" when they are not digits.
std::string DecodeMcn(const uint8_t* q) {
  std::string mcn;
  for (int i = 0; i < 13; ++i) {
    const int digit = (q[1 + i / 2] >> (i % 2 ? 0 : 4)) & 0x0F;
    if (digit > 9) return "";
    mcn.push_back(static_cast<char>('0' + digit));
  }
  return mcn;
}

// Q mode 3: five 6-bit characters (0-9 as 00h-09h, A-Z as 11h-2Ah), then
// seven BCD digits; "" when any is not one of those.
std::string DecodeIsrc(const uint8_t* q) {
  const uint32_t bits = uint32_t{q[1]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[3]} << 8 | q[4];
  std::string isrc;
  for (int i = 0; i < 5; ++i) {
    const uint32_t c = bits >> (26 - 6 * i) & 0x3F;
    if (c <= 9) isrc.push_back(static_cast<char>('0' + c));
    else if (c >= 0x11 && c <= 0x2A) isrc.push_back(static_cast<char>('A' + c - 0x11));
    else return "";
  }
  for (int i = 0; i < 7; ++i) {
    const int digit = (q[5 + i / 2] >> (i % 2 ? 0 : 4)) & 0x0F;
    if (digit > 9) return "";
    isrc.push_back(static_cast<char>('0' + digit));
  }
  return isrc;
}

struct Failure {
  Asc asc;
  int32_t lba;
};

}  // namespace

bool RawWriteRequested(const Exec& x) {
  const std::vector<uint8_t> p = ModePage(kPageWriteParameters, kCurrentValues, x.model(), x.record.state);
  return p.size() > 4 && (p[2] & 0x0F) == 3;
}

void WriteRaw(Exec& x) {
  Medium& m = *x.state().disc;
  const std::vector<uint8_t> page = ModePage(kPageWriteParameters, kCurrentValues, x.model(), x.record.state);
  const uint8_t blockType = page[4] & 0x0F;
  const bool test = (page[2] & 0x10) != 0;
  // Raw with formatted P-Q or P-W; the drive makes no subchannel of its own.
  if (!m.IsCd() || m.type->pressed || !x.model().Writes(m.profile) || blockType < 1 || blockType > 3)
    return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack));
  const bool rawPw = blockType != 1, packedPw = blockType == 2;
  const uint32_t size = rawPw ? 2448 : 2368;
  const auto lba = static_cast<int32_t>(Be32(x.cdb + 2));
  const uint32_t blocks = Be16(x.cdb + 7);
  if (uint64_t{blocks} * size != x.outLength) return x.Check(InvalidCdbField(7));
  if (blocks == 0) return;

  std::shared_ptr<RawWrite>& raw = x.state().rawWrite;
  if (!raw) {
    if (m.status != DiscStatus::Blank || lba != m.leadInStart)
      return x.Check(Sense(kIllegalRequest, kInvalidAddressForWrite).Information(static_cast<uint32_t>(lba)));
    raw = std::make_shared<RawWrite>();
    raw->next = lba;
  }
  if (lba != raw->next) return x.Check(Sense(kIllegalRequest, kInvalidAddressForWrite).Information(static_cast<uint32_t>(lba)));

  // First every sector is checked, so a refused WRITE leaves the disc as it was.
  RawWrite after = *raw;
  std::vector<std::pair<int32_t, const uint8_t*>> stores;
  std::vector<std::vector<uint8_t>> kept;  // pauses handed to their tracks, until stored
  std::vector<std::pair<int32_t, std::array<uint8_t, 96>>> rwStores;  // the program area's R-W, where not all zero
  Medium disc = m;
  for (uint32_t i = 0; i < blocks; ++i) {
    const int32_t at = lba + static_cast<int32_t>(i);
    const uint8_t* sector = x.out + uint64_t{i} * size;
    const uint8_t* sub = sector + 2352;
    uint8_t q[12];
    ExtractQ(sub, rawPw, q);
    const bool good = QCrcGood(q);
    const uint8_t adr = q[0] & 0x0F, tno = q[1];
    const auto refuse = [&] { x.Check(Sense(kIllegalRequest, kIllegalModeForTrack).Information(static_cast<uint32_t>(at))); };
    if (at < kProgramAreaStart) {
      // The lead-in: a damaged Q is read past, as the lead-in repeats it.
      if (good && adr == 1) {
        if (tno != 0) return refuse();  // the lead-in ended early
        after.toc[q[2]] = {q[0], q[7], q[8], q[9]};
      }
      if (rawPw) after.cdText.AddSector(sub);
      continue;
    }
    if (!good) return refuse();
    if (rawPw && after.leadOutStart == 0 && !(adr == 1 && tno == 0xAA)) {
      std::array<uint8_t, 96> rw{};
      if (packedPw) {
        uint8_t three[288];
        std::memcpy(three, after.packedTail.data(), 192);
        for (int k = 0; k < 96; ++k) three[192 + k] = sub[k] & 0x3F;
        InterleaveRw(three, rw.data());
        std::memcpy(after.packedTail.data(), three + 96, 192);
      } else {
        for (int k = 0; k < 96; ++k) rw[k] = sub[k] & 0x3F;
      }
      if (std::any_of(rw.begin(), rw.end(), [](uint8_t b) { return b != 0; })) rwStores.emplace_back(at, rw);
    }
    // The catalogue number and a track's ISRC, which replace a position
    // now and then; the sector is the track's all the same.
    if ((adr == 2 || adr == 3) && after.leadOutStart == 0) {
      Track* t = LastTrack(disc);
      const bool inTrack = t != nullptr && !t->finished() && FromBcd(after.trackNumberOf) == after.track;
      if (adr == 2) {
        if (std::string mcn = DecodeMcn(q); !mcn.empty()) disc.mcn = mcn, disc.AddCodeFrame(at, 2);
      } else if (std::string isrc = DecodeIsrc(q); !isrc.empty()) {
        (inTrack ? t->isrc : after.pauseIsrc) = isrc;
        disc.AddCodeFrame(at, 3);
      }
      if (inTrack) {
        t->recorded = static_cast<uint32_t>(at - t->start + 1);
        stores.emplace_back(at, sector);
      } else if (at >= 0) {  // a pause's sector, kept with the others until its track starts
        const size_t k = static_cast<size_t>(at - std::max(after.areaStart, 0));
        if (after.pause.size() < (k + 1) * 2352) after.pause.resize((k + 1) * 2352);
        std::memcpy(after.pause.data() + k * 2352, sector, 2352);
      }
      continue;
    }
    if (adr != 1) continue;
    if (tno == 0) return refuse();  // the lead-in runs on past -150
    if (after.leadOutStart == 0 && tno != 0xAA) {
      const uint8_t track = FromBcd(tno), index = FromBcd(q[2]);
      if (track != after.track) {  // a new track's pause or start
        EndTrack(disc, at);
        after.track = track;
        after.areaStart = at;
        after.pause.clear();
      }
      if (index == 0 && at >= 0) {
        const size_t k = static_cast<size_t>(at - std::max(after.areaStart, 0));
        if (after.pause.size() < (k + 1) * 2352) after.pause.resize((k + 1) * 2352);
        std::memcpy(after.pause.data() + k * 2352, sector, 2352);
      }
      if (index >= 1 && (LastTrack(disc) == nullptr || FromBcd(after.trackNumberOf) != track)) {
        // Listed at this address, and as the same kind (data or audio).
        const auto listed = after.toc.find(tno);
        if (listed == after.toc.end() || ((listed->second[0] ^ q[0]) & 0x40) != 0 ||
            MsfToLba(FromBcd(listed->second[1]), FromBcd(listed->second[2]), FromBcd(listed->second[3])) != at)
          return refuse();
        if (disc.sessions.empty()) disc.sessions.push_back(Session{{}, false});
        Track t;
        t.start = static_cast<uint32_t>(at);
        t.pregap = static_cast<uint32_t>(at - after.areaStart);
        t.mode = (q[0] & 0x40) ? TrackMode::Mode1 : TrackMode::Audio;
        t.isrc = std::move(after.pauseIsrc);
        after.pauseIsrc.clear();
        t.blocks = m.capacity - t.start;
        if (const Track* last = LastTrack(disc))
          t.dataOffset = last->dataOffset +
                         uint64_t(last->end() - std::max<int64_t>(last->areaStart(), 0)) * last->storedSectorBytes();
        disc.sessions.back().tracks.push_back(t);
        after.trackNumberOf = tno;
        // The pause is the track's too; its sectors may have come in earlier WRITEs.
        const int32_t first = std::max(after.areaStart, 0);
        kept.push_back(std::move(after.pause));
        after.pause.clear();
        for (size_t k = 0; k < kept.back().size() / 2352; ++k)
          stores.emplace_back(first + static_cast<int32_t>(k), kept.back().data() + k * 2352);
      }
      if (index >= 1) {
        Track& t = *LastTrack(disc);
        t.recorded = static_cast<uint32_t>(at - t.start + 1);
        // Where index 2, 3, ... begin: the first sector that carries each.
        if (index >= 2 && t.indexes.size() == size_t{index} - 2u) t.indexes.push_back(static_cast<uint32_t>(at - t.start));
        stores.emplace_back(at, sector);
      }
      continue;
    }
    if (after.leadOutStart == 0) {
      const auto listed = after.toc.find(0xA2);
      if (listed == after.toc.end() ||
          MsfToLba(FromBcd(listed->second[1]), FromBcd(listed->second[2]), FromBcd(listed->second[3])) != at ||
          LastTrack(disc) == nullptr)
        return refuse();
      after.leadOutStart = at;
      EndTrack(disc, at);
      disc.sessions.back().closed = true;
      disc.status = (page[3] & 0xC0) == 0xC0 ? DiscStatus::Appendable : DiscStatus::Complete;
      disc.cdText = after.cdText.Packs();
    }
  }
  after.next = lba + static_cast<int32_t>(blocks);
  *raw = after;
  x.state().bufferFill += uint64_t{blocks} * size;
  if (test) return;
  const DiscLayout layout(disc);
  for (const auto& [at, sector] : stores) {
    const TrackRef* ref = layout.TrackAt(at);
    if (ref == nullptr) continue;  // cannot be: the sector's track was made above
    const Track& t = *ref->track;
    const uint64_t offset = t.dataOffset + uint64_t(at - std::max<int64_t>(t.areaStart(), 0)) * t.storedSectorBytes();
    uint8_t main[2352];
    std::memcpy(main, sector, sizeof main);
    if (t.data()) {
      const auto& table = ScramblerTable();
      for (size_t k = 12; k < 2352; ++k) main[k] ^= table[k - 12];
    }
    const uint8_t* user = t.data() ? main + 16 : main;
    if (x.disc.Write(offset, user, t.storedSectorBytes()) != 0)
      return x.Check(Sense(kHardwareError, asc::kInternalTargetFailure).Information(static_cast<uint32_t>(at)));
  }
  if (!rwStores.empty() && disc.rwOffset == 0)
    disc.rwOffset = (uint64_t{disc.capacity} + 150) * 2352 / 4096 * 4096 + 4096;
  for (const auto& [at, rw] : rwStores)
    if (x.disc.Write(disc.RwOffsetOf(at), rw.data(), rw.size()) != 0)
      return x.Check(Sense(kHardwareError, asc::kInternalTargetFailure).Information(static_cast<uint32_t>(at)));
  m = disc;
  if (m.status != DiscStatus::Blank || !m.sessions.empty()) {
    if (m.status == DiscStatus::Blank) m.status = DiscStatus::Appendable;
    x.StateChanged();
  }
}

void EndRawWrite(Exec& x) { x.state().rawWrite.reset(); }

}  // namespace qv::vdrive
