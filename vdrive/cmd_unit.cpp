// TEST UNIT READY, REQUEST SENSE, INQUIRY, START STOP UNIT, PREVENT
// ALLOW MEDIUM REMOVAL and MECHANISM STATUS (SPC-3, MMC-5).
#include "platform/clock.h"
#include "vdrive/bytes.h"
#include "vdrive/commands.h"

namespace qv::vdrive {

void TestUnitReady(Exec&) {
  // The dispatcher's readiness check is the whole command.
}

void RequestSense(Exec& x) {
  if (x.cdb[1] & 0x01) return x.Check(InvalidCdbField(1, 0));  // descriptor format
  Sense sense;
  DriveState& state = x.state();
  if (x.initiator.lastSense) {
    sense = *x.initiator.lastSense;
    x.initiator.lastSense.reset();
  } else if (state.unitAttention) {
    sense = Sense(kUnitAttention, *state.unitAttention);
    state.unitAttention.reset();
    x.StateChanged();
  } else if (const Readiness r = state.PeekReady(x.model()); r != Readiness::Ready) {
    sense = NotReadySense(r);
  } else {
    sense = Sense(kNoSense, asc::kNone);
  }
  x.Send(std::vector<uint8_t>(sense.bytes, sense.bytes + Sense::kLength), x.cdb[4]);
}

void Inquiry(Exec& x) {
  const DriveModel& m = x.model();
  const uint32_t allocation = Be16(x.cdb + 3);
  const bool evpd = x.cdb[1] & 0x01;
  const uint8_t page = x.cdb[2];
  if (x.cdb[1] & 0x02) return x.Check(InvalidCdbField(1, 1));  // CmdDt is obsolete
  Bytes d;
  if (evpd) {
    // Vital product data: the list of pages and the unit serial number.
    d.U8(m.deviceType);
    d.U8(page);
    d.U8(0);
    if (page == 0x00) {
      d.U8(2);
      d.U8(0x00);
      d.U8(0x80);
    } else if (page == 0x80) {
      d.U8(static_cast<uint32_t>(m.serial.size()));
      d.Text(m.serial, m.serial.size());
    } else {
      return x.Check(InvalidCdbField(2));
    }
    return x.Send(d.data(), allocation);
  }
  if (page != 0) return x.Check(InvalidCdbField(2));
  d.U8(m.deviceType);  // peripheral qualifier 0: connected
  d.U8(0x80);          // RMB: removable medium
  d.U8(0x00);          // version
  d.U8(m.physicalInterface == 2 ? 0x32 : 0x02);  // ATAPI transport version 3; response data format 2
  d.U8(91);            // additional length: 96 bytes in all
  d.Zeros(3);
  d.Text(m.vendor, 8);
  d.Text(m.product, 16);
  d.Text(m.revision, 4);
  d.Zeros(96 - d.size());
  x.Send(d.data(), allocation);
}

void StartStopUnit(Exec& x) {
  const uint8_t b4 = x.cdb[4];
  // A power condition change, or spinning up and down, moves no disc.
  if ((b4 & 0xF0) != 0 || (b4 & 0x02) == 0) return;
  DriveState& state = x.state();
  if (b4 & 0x01) {
    state.CloseTray(x.model(), plat::NowMs());
  } else {
    if (state.Locked()) return x.Check(Sense(kIllegalRequest, asc::kMediumRemovalPrevented));
    // Some mechanisms jam unless told to return at once, and then only
    // with track-at-once write parameters in place.
    if (x.model().Has(kQuirkEjectNeedsTaoImmed)) {
      const bool immediate = (x.cdb[1] & 0x01) != 0;
      const bool tao = !state.page05.empty() && (state.page05[2] & 0x0F) == 1;
      if (!immediate || !tao) return x.Check(Sense(kHardwareError, asc::kInternalTargetFailure));
    }
    state.OpenTray();
  }
  x.StateChanged();
}

void PreventAllowMediumRemoval(Exec& x) {
  const uint8_t prevent = x.cdb[4] & 0x03;
  if (x.state().prevent != prevent) {
    x.state().prevent = prevent;
    x.StateChanged();
  }
}

}  // namespace qv::vdrive

namespace qv::vdrive {

void MechanismStatus(Exec& x) {
  const DriveState& state = x.state();
  Bytes d;
  d.U8(0);  // no fault, no changer, slot 0
  d.U8(state.tray == Tray::Open ? 0x10 : 0x00);  // mechanism idle; door open
  d.U24(0);                                       // current LBA (obsolete)
  d.U8(0);                                        // no slot tables
  d.U16(0);
  x.Send(d.data(), Be16(x.cdb + 8));
}

}  // namespace qv::vdrive
