#include "iso9660/image_layout.h"

#include <algorithm>

#include "core/exception.h"

namespace {

constexpr uint64_t kFirstDescriptor = 16;

}  // namespace

QuorvaneI_ImageLayout::QuorvaneI_ImageLayout(uint32_t start)
    : m__Start(start), m__NextDescriptor(start + kFirstDescriptor), m__Cursor(start + kFirstDescriptor) {}

uint64_t QuorvaneI_ImageLayout::End() const {
  uint64_t end = m__Cursor;
  for (const Region& r : m__Regions) end = std::max(end, r.block + r.blocks);
  return end;
}

const QuorvaneI_ImageLayout::Region* QuorvaneI_ImageLayout::Overlap(uint64_t block, uint64_t blocks) const {
  for (const Region& r : m__Regions)
    if (block < r.block + r.blocks && r.block < block + blocks) return &r;
  return nullptr;
}

bool QuorvaneI_ImageLayout::IsFree(uint64_t block, uint64_t blocks) const {
  return block >= m__Start + kFirstDescriptor && Overlap(block, blocks) == nullptr;
}

uint64_t QuorvaneI_ImageLayout::ReserveDescriptor(QuorvaneI_ImageWriter* writer, uint32_t region) {
  const uint64_t block = m__NextDescriptor++;
  ReserveAt(block, 1, writer, region);
  m__Cursor = std::max(m__Cursor, m__NextDescriptor);
  return block;
}

uint64_t QuorvaneI_ImageLayout::Reserve(uint64_t blocks, QuorvaneI_ImageWriter* writer, uint32_t region) {
  if (blocks == 0) return m__Cursor;
  uint64_t block = m__Cursor;
  while (const Region* r = Overlap(block, blocks)) block = r->block + r->blocks;
  m__Regions.push_back({block, blocks, writer, region});
  m__Cursor = block + blocks;
  return block;
}

void QuorvaneI_ImageLayout::ReserveAt(uint64_t block, uint64_t blocks, QuorvaneI_ImageWriter* writer,
                                      uint32_t region) {
  if (!IsFree(block, blocks))
    QuorvaneI_Throw("QuorvaneI_ImageLayout::ReserveAt", EN_INVALID_STATE, 0,
                    "QuorvaneI_ImageLayout::ReserveAt(): blocks %llu to %llu are taken already!!!",
                    static_cast<unsigned long long>(block), static_cast<unsigned long long>(block + blocks - 1));
  if (blocks != 0) m__Regions.push_back({block, blocks, writer, region});
}

void QuorvaneI_ImageLayout::SkipTo(uint64_t block) { m__Cursor = std::max(m__Cursor, block); }

std::vector<QuorvaneI_ImageLayout::Region> QuorvaneI_ImageLayout::Regions() const {
  std::vector<Region> regions = m__Regions;
  std::sort(regions.begin(), regions.end(), [](const Region& a, const Region& b) { return a.block < b.block; });
  return regions;
}

QuorvaneI_ImageStream::QuorvaneI_ImageStream(const QuorvaneI_ImageLayout& layout)
    : CQuorvane_File((layout.End() - layout.Start()) * kQuorvaneSectorSize),
      m__ULONGLONG__Start(layout.Start()),
      m__Regions(layout.Regions()) {
  for (const auto& r : m__Regions)
    if (std::find(m__Writers.begin(), m__Writers.end(), r.writer) == m__Writers.end()) m__Writers.push_back(r.writer);
}

CQuorvane_File* QuorvaneI_ImageStream::SeekToBeginUnsafe(uint32_t* budget) {
  for (QuorvaneI_ImageWriter* w : m__Writers) w->Rewind();
  m__Index = 0;
  return CQuorvane_File::SeekToBeginUnsafe(budget);
}

void QuorvaneI_ImageStream::RealRead(uint64_t length, uint8_t* buffer) {
  uint64_t at = m__ULONGLONG__PositionInUCHARs;
  while (length != 0) {
    while (m__Index < m__Regions.size() &&
           (m__Regions[m__Index].block - m__ULONGLONG__Start + m__Regions[m__Index].blocks) * kQuorvaneSectorSize <= at)
      ++m__Index;
    uint64_t part = length;
    if (m__Index < m__Regions.size()) {
      const auto& r = m__Regions[m__Index];
      const uint64_t first = (r.block - m__ULONGLONG__Start) * kQuorvaneSectorSize;
      if (at < first) {
        part = std::min(length, first - at);  // zeros before the region
      } else {
        part = std::min(length, first + r.blocks * kQuorvaneSectorSize - at);
        r.writer->Emit(r.id, at - first, part, buffer);
      }
    }
    at += part;
    buffer += part;
    length -= part;
  }
}
