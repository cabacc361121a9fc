#include <algorithm>
#include <cstring>

#include "core/exception.h"
#include "files/file.h"

namespace {

constexpr uint32_t kSubheaderSize = kQuorvaneMpegSectorSize - kQuorvaneMpegBlockSize;  // 8
constexpr uint8_t kEmptySubheader[4] = {1, 0, 0x60, 0x00};

// Writes the part of sector `sector` (subheader twice + block, then zeros
// up to sectorBytes) that falls into the stream range [from, from + length)
// held by out.
void CopySectorPart(uint64_t sector, uint32_t sectorBytes, const uint8_t* subheader, const uint8_t* block,
                    uint64_t from, uint64_t length, uint8_t* out) {
  const uint64_t start = sector * sectorBytes;
  uint8_t whole[kQuorvaneMpegXaSectorSize] = {};
  std::memcpy(whole, subheader, 4);
  std::memcpy(whole + 4, subheader, 4);
  if (block) std::memcpy(whole + kSubheaderSize, block, kQuorvaneMpegBlockSize);
  const uint64_t a = std::max(start, from);
  const uint64_t b = std::min(start + (block ? kQuorvaneMpegSectorSize : kSubheaderSize), from + length);
  if (a < b) std::memcpy(out + (a - from), whole + (a - start), b - a);
}

}  // namespace

void QuorvaneI_MpegSubheader(const uint8_t* block, uint8_t subheader[4]) {
  const bool pack = block[0] == 0x00 && block[1] == 0x00 && block[2] == 0x01 && block[3] == 0xBA;
  if (!pack) {
    std::memcpy(subheader, kEmptySubheader, 4);
    return;
  }
  uint8_t streamId;
  if (block[12] == 0x00 && block[13] == 0x00 && block[14] == 0x01 && block[15] == 0xBB)
    streamId = block[24];
  else if (block[12] == 0x00 && block[13] == 0x00 && block[14] == 0x01)
    streamId = block[15];
  else
    streamId = block[17];
  const bool audio = streamId == 0xC0 || streamId == 0xC1;
  subheader[0] = 1;
  subheader[1] = 1;
  subheader[2] = audio ? 0x64 : 0x62;
  subheader[3] = audio ? 0x7F : 0x0F;
}

CQuorvane_MPEG12DiskFile::CQuorvane_MPEG12DiskFile(const char* fileName, uint32_t sectorBytes)
    : CQuorvane_DiskFile(Deferred{}, fileName, 0),
      m__ULONG__SectorBytes(sectorBytes),
      m__PUCHAR__Work(new uint8_t[kQuorvaneMpegSectorsPerRead * kQuorvaneMpegBlockSize]) {
  OpenByName("CQuorvane_MPEG12DiskFile::CQuorvane_MPEG12DiskFile");
  m__ULONGLONG__SizeInUCHARs = m__ULONGLONG__DiskSizeInUCHARs / kQuorvaneMpegBlockSize * sectorBytes;
  m__BOOLEAN__IsVideoStuff = 1;
}

void CQuorvane_MPEG12DiskFile::RealRead(uint64_t length, uint8_t* buffer) {
  // Any length at any position: whole runs of sectors are read a work
  // buffer at a time, and a sector cut by either end of the request is
  // built whole and copied in part.
  const uint64_t from = m__ULONGLONG__PositionInUCHARs;
  const bool last = EndsStream(length);
  const uint32_t size = m__ULONG__SectorBytes;
  uint64_t sector = from / size;
  const uint64_t endSector = (from + length + size - 1) / size;
  uint8_t* work = m__PUCHAR__Work.get();
  while (sector < endSector) {
    const uint64_t run = std::min<uint64_t>(endSector - sector, kQuorvaneMpegSectorsPerRead);
    std::memset(work, 0, run * kQuorvaneMpegBlockSize);
    ReadFileBytes(sector * kQuorvaneMpegBlockSize, run * kQuorvaneMpegBlockSize, work);
    for (uint64_t i = 0; i < run; ++i, ++sector) {
      const uint8_t* block = work + i * kQuorvaneMpegBlockSize;
      uint8_t subheader[4];
      QuorvaneI_MpegSubheader(block, subheader);
      const uint64_t start = sector * size;
      if (start >= from && start + size <= from + length) {
        uint8_t* out = buffer + (start - from);
        std::memcpy(out, subheader, 4);
        std::memcpy(out + 4, subheader, 4);
        std::memcpy(out + kSubheaderSize, block, kQuorvaneMpegBlockSize);
      } else {
        CopySectorPart(sector, size, subheader, block, from, length, buffer);
      }
    }
  }
  if (last) CheckUnchangedAtEnd();
}

CQuorvane_MPEG12ZeroFile::CQuorvane_MPEG12ZeroFile(uint64_t sizeInUCHARs, uint32_t sectorBytes)
    : CQuorvane_File(sizeInUCHARs), m__ULONG__SectorBytes(sectorBytes) {
  m__BOOLEAN__IsVideoStuff = 1;
}

void CQuorvane_MPEG12ZeroFile::RealRead(uint64_t length, uint8_t* buffer) {
  const uint64_t from = m__ULONGLONG__PositionInUCHARs;
  const uint32_t size = m__ULONG__SectorBytes;
  const uint64_t endSector = (from + length + size - 1) / size;
  for (uint64_t sector = from / size; sector < endSector; ++sector)
    CopySectorPart(sector, size, kEmptySubheader, nullptr, from, length, buffer);
}
