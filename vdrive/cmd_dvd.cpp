// READ DVD STRUCTURE (MMC-5 6.22: formats 00h, 01h, 20h and FFh) and
// REPORT KEY (6.29: the RPC state, format 08h). Physical format facts from
// ECMA-267 (DVD-ROM), ECMA-272/330 (DVD-RAM), ECMA-359 (DVD-R), ECMA-338
// (DVD-RW), ECMA-337 (DVD+RW), ECMA-349 (DVD+R) and ECMA-364 (DVD+R DL).
#include "vdrive/bytes.h"
#include "vdrive/commands.h"

namespace qv::vdrive {

namespace {

constexpr uint32_t kDataZoneStart = 0x030000;     // first physical sector of the data zone
constexpr uint32_t kDvdRamDataZoneStart = 0x031000;
constexpr uint32_t kSingleLayerBlocks = 2295104;  // beyond this a pressed DVD has two layers
constexpr Asc kIncompatibleFormat{0x30, 0x02};

// Book type and part version, for byte 0 of the physical format.
uint8_t BookByte(uint16_t profile) {
  switch (profile) {
    case kProfileDvdRam: return 0x16;
    case kProfileDvdR: return 0x25;
    case kProfileDvdRwSequential:
    case kProfileDvdRwRestricted: return 0x32;
    case kProfileDvdPlusRw: return 0x92;
    case kProfileDvdPlusR: return 0xA1;
    case kProfileDvdPlusRDl: return 0xE1;
    default: return 0x01;  // DVD-ROM
  }
}

// The blocks of layer 0 on a two-layer disc, 0 on a single layer.
uint32_t LayerZeroBlocks(const Medium& m) {
  if (m.profile == kProfileDvdPlusRDl) return m.layerBreak != 0 ? m.layerBreak : m.capacity / 2;
  if (m.type->pressed && m.capacity > kSingleLayerBlocks) return (m.capacity / 2 + 15) / 16 * 16;
  return 0;
}

std::vector<uint8_t> PhysicalFormat(const Medium& m) {
  const uint32_t l0 = LayerZeroBlocks(m);
  const bool dual = l0 != 0;
  const uint32_t start = m.profile == kProfileDvdRam ? kDvdRamDataZoneStart : kDataZoneStart;
  const uint8_t layerType = m.type->pressed ? 0x01 : m.type->rewritable ? 0x04 : 0x02;
  Bytes d;
  d.U16(2050);
  d.Zeros(2);
  d.U8(BookByte(m.profile));
  d.U8(m.type->pressed ? 0x02 : 0x0F);  // 120 mm; maximum rate 10.08 Mbit/s, or not given
  d.U8((dual ? 0x20 : 0x00) | (dual ? 0x10 : 0x00) | layerType);  // layers, opposite track path
  d.U8(dual && m.type->pressed ? 0x10 : 0x00);  // linear and track density
  d.U32(start);
  if (dual) {
    // Opposite track path: layer 1 counts on from the bitwise complement
    // of layer 0's last sector.
    const uint32_t l0End = start + l0 - 1;
    d.U32(((~l0End) & 0xFFFFFF) + (m.capacity - l0) - 1);
    d.U32(l0End);
  } else {
    d.U32(start + m.capacity - 1);
    d.U32(0);
  }
  d.U8(0);  // no burst cutting area
  d.Zeros(2048 - 17);  // the rest of the 2048-byte structure
  return d.data();
}

}  // namespace

void ReadDvdStructure(Exec& x) {
  if ((x.cdb[1] & 0x0F) != 0) return x.Check(InvalidCdbField(1, 3));  // only DVD structures
  const uint8_t format = x.cdb[7];
  const uint8_t layer = x.cdb[6];
  const Medium& m = *x.state().disc;
  if (!m.IsDvd()) return x.Check(Sense(kIllegalRequest, kIncompatibleFormat));
  const bool dual = LayerZeroBlocks(m) != 0;
  Bytes d;
  switch (format) {
    case 0x00:
      if (layer > (dual ? 1 : 0)) return x.Check(InvalidCdbField(6));
      return x.Send(PhysicalFormat(m), Be16(x.cdb + 8));
    case 0x01:
      d.U16(6);
      d.Zeros(2);
      d.U8(m.protection);
      d.U8(m.regionMask);
      d.Zeros(2);
      break;
    case 0x20:
      if (m.profile != kProfileDvdPlusRDl) return x.Check(InvalidCdbField(7));
      d.U16(10);
      d.Zeros(2);
      d.U8(m.layerBreakFixed ? 0x80 : 0x00);
      d.Zeros(3);
      d.U32(LayerZeroBlocks(m));
      break;
    case 0xFF: {
      // The structures this disc has: code, readable (RDS), length.
      d.U16(0);
      d.Zeros(2);
      const std::pair<uint8_t, uint16_t> list[] = {{0x00, 2052}, {0x01, 8}, {0x20, 12}, {0xFF, 0}};
      for (const auto& [code, length] : list) {
        if (code == 0x20 && m.profile != kProfileDvdPlusRDl) continue;
        d.U8(code);
        d.U8(0x40);
        d.U16(length);
      }
      PutBe16(d.data().data(), static_cast<uint32_t>(d.size() - 2));
      break;
    }
    default: return x.Check(InvalidCdbField(7));
  }
  x.Send(d.data(), Be16(x.cdb + 8));
}

void ReportKey(Exec& x) {
  if (x.cdb[7] != 0) return x.Check(InvalidCdbField(7));  // key class 0: DVD CSS/CPPM
  const uint8_t format = x.cdb[10] & 0x3F;
  // Authentication is not emulated: only the region playback state.
  if (format != 0x08) return x.Check(InvalidCdbField(10, 5));
  const DriveModel& m = x.model();
  Bytes d;
  d.U16(6);
  d.Zeros(2);
  d.U8(static_cast<uint32_t>(m.rpcTypeCode << 6 | (m.rpcVendorResets & 7) << 3 | (m.rpcUserChanges & 7)));
  d.U8(m.rpcRegionMask);
  d.U8(m.rpcScheme);
  d.U8(0);
  x.Send(d.data(), Be16(x.cdb + 8));
}

}  // namespace qv::vdrive
