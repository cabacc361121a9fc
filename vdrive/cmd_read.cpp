// READ CAPACITY, READ(10), READ CD and READ CD MSF (MMC-5 6.23, 6.15,
// 6.19, 6.20).
#include <algorithm>
#include <cstring>

#include "vdrive/bytes.h"
#include "vdrive/cd_address.h"
#include "vdrive/commands.h"
#include "vdrive/edc_ecc.h"
#include "vdrive/sectors.h"

namespace qv::vdrive {

namespace {

constexpr uint32_t kBlockSize = 2048;
constexpr Asc kIllegalModeForTrack{0x64, 0x00};
constexpr Asc kEndOfUserArea{0x63, 0x00};
constexpr Asc kIncompatibleFormat{0x30, 0x02};

// Where each field lies in a raw sector, by sector kind: sync, header,
// subheader, user data, EDC/ECC (ECMA-130 14; CD-ROM XA forms).
struct Field {
  uint16_t offset, length;
};
struct Fields {
  Field sync, header, subheader, user, edc;
};
Fields FieldsOf(SectorKind kind) {
  switch (kind) {
    case SectorKind::Mode1: return {{0, 12}, {12, 4}, {16, 0}, {16, 2048}, {2064, 288}};
    case SectorKind::Mode2Form1: return {{0, 12}, {12, 4}, {16, 8}, {24, 2048}, {2072, 280}};
    case SectorKind::Mode2Form2: return {{0, 12}, {12, 4}, {16, 8}, {24, 2324}, {2348, 4}};
    case SectorKind::CdDa: break;
  }
  return {{0, 0}, {0, 0}, {0, 0}, {0, 2352}, {0, 0}};
}

// The main channel selection of byte 9: sync (bit 7), header codes (bits
// 6-5: 1 header, 2 subheader, 3 both), user data (bit 4), EDC/ECC (bit 3).
struct Selection {
  bool sync, header, subheader, user, edc;
  uint8_t c2;       // 0 none, 1 C2 pointers (294 bytes), 2 with the block error byte (296)
  uint8_t subchannel;  // 0 none, 1 raw P-W, 2 formatted Q, 4 R-W
};

// Fields must come back as one run of the sector, as the drive reads them;
// the header with the user data but without the subheader is the one gap
// hosts rely on (the Mode 1 cooked-with-header read works the same on
// every data sector).
bool ValidMain(const Selection& s) {
  const bool picked[5] = {s.sync, s.header, s.subheader, s.user, s.edc};
  int first = -1, last = -1;
  for (int i = 0; i < 5; ++i)
    if (picked[i]) {
      if (first < 0) first = i;
      last = i;
    }
  if (first < 0) return true;
  for (int i = first; i <= last; ++i)
    if (!picked[i] && !(i == 2 && s.header && s.user)) return false;
  return true;
}

uint32_t SubchannelBytes(uint8_t selection) {
  return selection == 1 || selection == 4 ? 96 : selection == 2 ? 16 : 0;
}

uint32_t SectorBytes(const Selection& s, SectorKind kind) {
  const Fields f = FieldsOf(kind);
  uint32_t n = 0;
  if (kind == SectorKind::CdDa) {
    n = s.user ? 2352 : 0;
  } else {
    n = (s.sync ? f.sync.length : 0) + (s.header ? f.header.length : 0) + (s.subheader ? f.subheader.length : 0) +
        (s.user ? f.user.length : 0) + (s.edc ? f.edc.length : 0);
  }
  return n + (s.c2 == 1 ? 294 : s.c2 == 2 ? 296 : 0) + SubchannelBytes(s.subchannel);
}

// One READ CD over [first, first + count).
void ReadCdRange(Exec& x, int64_t first, uint32_t count) {
  const uint8_t expected = (x.cdb[1] >> 2) & 0x07;
  if (expected >= 6) return x.Check(InvalidCdbField(1, 2));
  const uint8_t b9 = x.cdb[9];
  Selection s{(b9 & 0x80) != 0, (b9 & 0x20) != 0, (b9 & 0x40) != 0, (b9 & 0x10) != 0, (b9 & 0x08) != 0,
              static_cast<uint8_t>((b9 >> 1) & 0x03), static_cast<uint8_t>(x.cdb[10] & 0x07)};
  if (s.c2 == 3) return x.Check(InvalidCdbField(9, 1));
  if (!ValidMain(s)) return x.Check(InvalidCdbField(9, 7));
  if (s.subchannel == 3 || s.subchannel > 4) return x.Check(InvalidCdbField(10, 2));
  const Medium& m = *x.state().disc;
  if (!m.IsCd()) return x.Check(Sense(kIllegalRequest, kIncompatibleFormat));
  if (count == 0) return;
  const DiscLayout layout(m);
  SectorReader reader(layout, x.disc);
  uint32_t at = 0;
  uint8_t raw[kRawSectorBytes];
  for (uint32_t i = 0; i < count; ++i) {
    const int64_t lba = first + i;
    const TrackRef* ref = reader.Find(lba);
    if (ref == nullptr) {
      const bool beyond = lba >= int64_t{m.ReadableBlocks()} || lba < 0;
      return x.Check((beyond ? Sense(kIllegalRequest, asc::kLbaOutOfRange) : Sense(kIllegalRequest, kEndOfUserArea))
                         .Information(static_cast<uint32_t>(lba)));
    }
    SectorKind kind;
    if (reader.Kind(*ref, lba, &kind) != 0)
      return x.Check(Sense(kMediumError, asc::kUnrecoveredReadError).Information(static_cast<uint32_t>(lba)));
    if (expected != 0 && expected != static_cast<uint8_t>(kind))
      return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack).Information(static_cast<uint32_t>(lba)));
    const uint32_t size = SectorBytes(s, kind);
    if (at + size > x.inCapacity) break;  // the host's buffer takes what fits
    if (reader.Raw(*ref, lba, raw) != 0)
      return x.Check(Sense(kMediumError, asc::kUnrecoveredReadError).Information(static_cast<uint32_t>(lba)));
    uint8_t* out = x.in + at;
    auto put = [&out](const uint8_t* p, size_t n) {
      std::memcpy(out, p, n);
      out += n;
    };
    const Fields f = FieldsOf(kind);
    if (kind == SectorKind::CdDa) {
      if (s.user) put(raw, 2352);
    } else {
      for (const auto& [wanted, field] : {std::pair{s.sync, f.sync}, std::pair{s.header, f.header},
                                          std::pair{s.subheader, f.subheader}, std::pair{s.user, f.user},
                                          std::pair{s.edc, f.edc}})
        if (wanted) put(raw + field.offset, field.length);
    }
    // No C2 errors: the pointers (and the block's error byte) are zero.
    if (s.c2 != 0) {
      const uint32_t n = s.c2 == 1 ? 294 : 296;
      std::memset(out, 0, n);
      out += n;
    }
    if (s.subchannel != 0) {
      // The position, or the catalogue number or ISRC where a raw
      // recording wrote them instead.
      uint8_t q[12];
      const QPosition pos = reader.Position(*ref, lba);
      const uint8_t adr = m.QModeAt(lba);
      if (adr == 1) MakeQ(pos, q);
      else MakeCodeQ(pos.control, adr, adr == 2 ? m.mcn : ref->track->isrc, static_cast<int32_t>(lba), q);
      if (s.subchannel == 2) {
        put(q, 12);
        std::memset(out, 0, 4);
        out += 4;
      } else {
        // The R-W as recorded: raw with P and Q, or de-interleaved alone,
        // which takes the packs spread into the next two sectors.
        uint8_t rw[3 * 96] = {};
        if (m.rwOffset != 0 && x.disc.Read(m.RwOffsetOf(lba), rw, s.subchannel == 1 ? 96 : sizeof rw) != 0)
          return x.Check(Sense(kMediumError, asc::kUnrecoveredReadError).Information(static_cast<uint32_t>(lba)));
        if (s.subchannel == 1) {
          MakeRawPw(q, pos.index == 0, out);
          for (int k = 0; k < 96; ++k) out[k] |= rw[k] & 0x3F;
        } else {
          DeinterleaveRw(rw, out);
        }
        out += 96;
      }
    }
    at += size;
    x.mediaBytes += kRawSectorBytes;
    x.state().pickUp = lba;
  }
  x.result.transferred = at;
}

}  // namespace

void ReadCapacity(Exec& x) {
  if (x.cdb[1] & 0x01) return x.Check(InvalidCdbField(1, 0));  // RelAdr
  if (!(x.cdb[8] & 0x01) && Be32(x.cdb + 2) != 0) return x.Check(InvalidCdbField(2));
  Bytes d;
  d.U32(x.state().disc->LastCapacityBlock());
  d.U32(kBlockSize);
  x.Send(d.data(), 8);
}

void Read10(Exec& x) {
  if (x.cdb[1] & 0x01) return x.Check(InvalidCdbField(1, 0));  // RelAdr
  const uint32_t lba = Be32(x.cdb + 2);
  const uint32_t blocks = Be16(x.cdb + 7);
  if (blocks == 0) return;
  const Medium& m = *x.state().disc;
  const uint32_t readable = m.ReadableBlocks();
  if (lba >= readable || blocks > readable - lba)
    return x.Check(Sense(kIllegalRequest, asc::kLbaOutOfRange).Information(std::max(lba, readable)));
  // The host's buffer takes what fits; the drive reads no further.
  const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{blocks} * kBlockSize, x.inCapacity));
  const bool generated = std::any_of(m.sessions.begin(), m.sessions.end(), [](const Session& s) {
    return std::any_of(s.tracks.begin(), s.tracks.end(), [](const Track& t) { return t.pattern != Pattern::Stored; });
  });
  if (!m.IsCd() && !generated) {
    if (bytes > 0 && x.disc.Read(uint64_t{lba} * kBlockSize, x.in, bytes) != 0)
      return x.Check(Sense(kMediumError, asc::kUnrecoveredReadError).Information(lba));
  } else {
    // Block by block: on a CD only Mode 1 and Form 1 sectors hold 2048
    // bytes of user data, and generated tracks make theirs.
    const DiscLayout layout(m);
    SectorReader reader(layout, x.disc);
    uint8_t block[kBlockSize];
    for (uint32_t done = 0; done < bytes; done += kBlockSize) {
      const uint32_t at = lba + done / kBlockSize;
      const TrackRef* ref = reader.Find(at);
      if (ref == nullptr && m.IsCd()) return x.Check(Sense(kIllegalRequest, kEndOfUserArea).Information(at));
      SectorKind kind = SectorKind::Mode1;
      if (m.IsCd() && (reader.Kind(*ref, at, &kind) != 0 || (kind != SectorKind::Mode1 && kind != SectorKind::Mode2Form1)))
        return x.Check(Sense(kIllegalRequest, kIllegalModeForTrack).Information(at));
      if (reader.UserBlock(at, block) != 0)
        return x.Check(Sense(kMediumError, asc::kUnrecoveredReadError).Information(at));
      std::memcpy(x.in + done, block, std::min(kBlockSize, bytes - done));
    }
  }
  x.result.transferred = bytes;
  x.mediaBytes = bytes;
}

void ReadCd(Exec& x) {
  ReadCdRange(x, static_cast<int32_t>(Be32(x.cdb + 2)), Be24(x.cdb + 6));
}

void ReadCdMsf(Exec& x) {
  const int64_t first = MsfToLba(x.cdb[3], x.cdb[4], x.cdb[5]);
  const int64_t end = MsfToLba(x.cdb[6], x.cdb[7], x.cdb[8]);
  if (end < first) return x.Check(InvalidCdbField(6));
  ReadCdRange(x, first, static_cast<uint32_t>(end - first));
}

}  // namespace qv::vdrive
