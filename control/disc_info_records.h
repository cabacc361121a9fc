// What a DiscInfo object reads from the three engine records it copies: the
// disc information (33 bytes), the track information of the invisible
// track (28 bytes) and the table of contents (5612 bytes). Every property
// is computed from the copies; the drive is never asked again.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::control {

inline constexpr size_t kDiscRecordSize = 33;
inline constexpr size_t kTrackRecordSize = 28;
inline constexpr size_t kTocRecordSize = 5612;

struct DiscInfoRecords {
  uint8_t disc[kDiscRecordSize] = {};
  uint8_t track[kTrackRecordSize] = {};
  uint8_t toc[kTocRecordSize] = {};
  uint32_t discType = 0;     // QVX_DISC_TYPE
  uint32_t trackValid = 0;   // 0: the track information call failed
  uint32_t tocValid = 0;     // 0: the TOC call failed
};

// The properties, each as the automation member returns it.
bool DiscIsBlank(const DiscInfoRecords& r);
int32_t DiscFreeBlocks(const DiscInfoRecords& r);
int32_t DiscNextWritableAddress(const DiscInfoRecords& r);
int32_t DiscTrackNumber(const DiscInfoRecords& r);
bool DiscIsErasable(const DiscInfoRecords& r);
uint8_t DiscStatusByte(const DiscInfoRecords& r);
uint8_t DiscLastSessionStatus(const DiscInfoRecords& r);
uint32_t DiscUsedSize(const DiscInfoRecords& r);
uint32_t DiscTotalSize(const DiscInfoRecords& r);

// The ending address of track k+1 in the TOC record (k counts from 0), or
// 0 when the record holds no such entry.
uint32_t TocTrackEnd(const DiscInfoRecords& r, int k);

}  // namespace qv::control
