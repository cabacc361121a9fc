// GET CONFIGURATION and GET EVENT STATUS NOTIFICATION (MMC-5 6.6, 6.7).
#include "vdrive/bytes.h"
#include "vdrive/commands.h"
#include "vdrive/features.h"

namespace qv::vdrive {

namespace {
constexpr uint8_t kMediaClass = 4;  // notification class number
constexpr uint8_t kSupportedClasses = 1u << kMediaClass;
}  // namespace

void GetConfiguration(Exec& x) {
  const uint8_t type = x.cdb[1] & 0x03;
  if (type == 3) return x.Check(InvalidCdbField(1, 1));
  x.Send(Configuration(static_cast<RequestType>(type), Be16(x.cdb + 2), x.model(), x.state()), Be16(x.cdb + 7));
}

void GetEventStatusNotification(Exec& x) {
  if (!(x.cdb[1] & 0x01)) return x.Check(InvalidCdbField(1, 0));  // asynchronous: not supported
  const uint8_t requested = x.cdb[4];
  Bytes d;
  if ((requested & kSupportedClasses) == 0) {
    // No class asked for is supported: the header alone, with NEA.
    d.U16(2);
    d.U8(0x80);
    d.U8(kSupportedClasses);
    return x.Send(d.data(), Be16(x.cdb + 7));
  }
  DriveState& state = x.state();
  MediaEvent event = MediaEvent::NoChange;
  if (!state.events.empty()) {
    event = state.events.front();
    state.events.pop_front();
    x.StateChanged();
  }
  d.U16(6);
  d.U8(kMediaClass);
  d.U8(kSupportedClasses);
  d.U8(static_cast<uint8_t>(event));
  d.U8((state.DiscLoaded() ? 0x02 : 0x00) | (state.tray == Tray::Open ? 0x01 : 0x00));
  d.U8(0);  // start slot
  d.U8(0);  // end slot
  x.Send(d.data(), Be16(x.cdb + 7));
}

}  // namespace qv::vdrive
