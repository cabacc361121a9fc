// READ CAPACITY and READ(10) (MMC-5 6.23, 6.15).
#include <algorithm>

#include "vdrive/bytes.h"
#include "vdrive/commands.h"

namespace qv::vdrive {

namespace {
constexpr uint32_t kBlockSize = 2048;
}

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
  const uint32_t readable = x.state().disc->ReadableBlocks();
  if (lba >= readable || blocks > readable - lba)
    return x.Check(Sense(kIllegalRequest, asc::kLbaOutOfRange).Information(std::max(lba, readable)));
  // The host's buffer takes what fits; the drive reads no further.
  const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{blocks} * kBlockSize, x.inCapacity));
  if (bytes > 0 && x.disc.Read(uint64_t{lba} * kBlockSize, x.in, bytes) != 0)
    return x.Check(Sense(kMediumError, asc::kUnrecoveredReadError).Information(lba));
  x.result.transferred = bytes;
  x.mediaBytes = bytes;
}

}  // namespace qv::vdrive
