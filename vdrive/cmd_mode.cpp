// MODE SENSE(10) and MODE SELECT(10) (SPC-3 6.10, 6.8).
#include "vdrive/bytes.h"
#include "vdrive/commands.h"
#include "vdrive/mode_pages.h"

namespace qv::vdrive {

void ModeSense10(Exec& x) {
  const auto control = static_cast<PageControl>(x.cdb[2] >> 6);
  const uint8_t code = x.cdb[2] & 0x3F;
  if (control == kSavedValues) return x.Check(Sense(kIllegalRequest, asc::kSavingNotSupported));
  if (x.cdb[3] != 0) return x.Check(InvalidCdbField(3));  // no sub-pages
  Bytes d;
  d.Zeros(8);  // mode parameter header; no block descriptors
  const std::vector<uint8_t> codes = code == kPageAll ? ModePageCodes(x.model()) : std::vector<uint8_t>{code};
  for (uint8_t c : codes) {
    const std::vector<uint8_t> page = ModePage(c, control, x.model(), x.state());
    if (page.empty()) return x.Check(InvalidCdbField(2, 5));
    d.Append(page.data(), page.size());
  }
  PutBe16(d.data().data(), static_cast<uint32_t>(d.size() - 2));
  x.Send(d.data(), Be16(x.cdb + 7));
}

void ModeSelect10(Exec& x) {
  if (x.cdb[1] & 0x01) return x.Check(InvalidCdbField(1, 0));  // SP: pages cannot be saved
  if (!(x.cdb[1] & 0x10)) return x.Check(InvalidCdbField(1, 4));  // PF: only the standard page format
  const uint32_t length = Be16(x.cdb + 7);
  if (length > x.outLength) return x.Check(Sense(kIllegalRequest, asc::kParameterListLengthError));
  if (auto sense = SelectModePages(x.out, length, x.model(), x.state())) return x.Check(*sense);
  if (length > 0) x.StateChanged();
}

}  // namespace qv::vdrive
