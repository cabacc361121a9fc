// The C entry points of raw sectors.
#include <cstring>

#include "quorvane.h"
#include "device/raw_sector.h"

namespace {

const CQuorvane_EDCECC& Encoder() {
  static const CQuorvane_EDCECC encoder;
  return encoder;
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_BuildRawSectors(QV_ULONG layout, QV_LONG firstAddress, QV_ULONG count,
                                                            const QV_UCHAR* userData, const QV_UCHAR* subHeader,
                                                            QV_UCHAR* sectors) {
  using L = QuorvaneI_SectorLayout;
  if (userData == nullptr || sectors == nullptr || layout < QVX_SECTOR_MODE1 || layout > QVX_SECTOR_MODE2_FORM2)
    return EN_INVALID_PARAMETER;
  const L kind = layout == QVX_SECTOR_MODE1 ? L::Mode1 : layout == QVX_SECTOR_MODE2_FORM1 ? L::Mode2Form1 : L::Mode2Form2;
  CQuorvane_RawSectorBuilder(Encoder()).BuildMany(kind, firstAddress, count, userData, subHeader, sectors,
                                                  kQuorvaneRawSectorSize);
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CheckRawSector(QV_UCHAR* sector, QV_LONG expectedMode, QV_LONG address,
                                                           QV_BOOLEAN repair, QV_ULONG* fault,
                                                           QV_ULONG* repairResult) {
  if (sector == nullptr || fault == nullptr || expectedMode < 0 || expectedMode > 2) return EN_INVALID_PARAMETER;
  const CQuorvane_EDCECC& e = Encoder();
  *fault = static_cast<QV_ULONG>(e.Inspect(sector, expectedMode, true));
  if (repairResult != nullptr) *repairResult = QVX_REPAIR_NOT_TRIED;
  if (*fault == QVX_SECTOR_GOOD || !repair) return EN_SUCCESS;
  // The engine's own acceptance (CheckLB) decides, and the sector must then
  // pass every check: a sector it lets through unmended stays as it was.
  const int mode = expectedMode != 0 ? expectedMode : sector[15];
  uint8_t mended[kQuorvaneRawSectorSize];
  std::memcpy(mended, sector, sizeof mended);
  bool done = (mode == 1 || mode == 2) && e.CheckLB(mended, mode, address) &&
              e.Inspect(mended, mode, true) == CQuorvane_EDCECC::Fault::None;
  // CheckLB takes the form from the first sub-header copy; when the copies
  // disagree on it, Form 1 is the reading the parity can mend.
  if (!done && mode == 2 && ((sector[18] ^ sector[22]) & 0x20)) {
    std::memcpy(mended, sector, sizeof mended);
    done = e.Repair(mended, CQuorvane_EDCECC::kTypeMode2Form1) == CQuorvane_EDCECC::kCorrected &&
           e.Inspect(mended, mode, true) == CQuorvane_EDCECC::Fault::None;
  }
  if (done) std::memcpy(sector, mended, sizeof mended);
  if (repairResult != nullptr) *repairResult = done ? QVX_REPAIR_DONE : QVX_REPAIR_IMPOSSIBLE;
  return EN_SUCCESS;
}
