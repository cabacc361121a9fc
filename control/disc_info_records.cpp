#include "control/disc_info_records.h"

#include <cstring>

namespace qv::control {
namespace {

// Record layouts (host byte order, as the engine fills them).
constexpr size_t kDiscStatus = 1, kDiscLastSession = 2, kDiscErasable = 3;
constexpr size_t kTrackNumber = 1, kTrackBlank = 9, kTrackNextWritable = 16, kTrackFree = 20;
constexpr size_t kTocLastTrack = 10, kTocEntries = 12, kTocEntrySize = 34, kTocEntryEnd = 10, kTocMaxEntries = 100;

constexpr uint8_t kStatusIncomplete = 1, kStatusComplete = 2;
constexpr uint32_t kTypeDvdR = 5, kTypeDvdRwRestricted = 7, kTypeDvdRwSequential = 8, kTypeDvdPlusR = 13;

uint32_t U32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint32_t NextWritable(const DiscInfoRecords& r) { return U32(r.track + kTrackNextWritable); }
uint32_t FreeBlocks(const DiscInfoRecords& r) { return U32(r.track + kTrackFree); }
int LastTrack(const DiscInfoRecords& r) { return r.toc[kTocLastTrack]; }

// Discs still written to: incomplete, and DVD-RW whatever it reports.
bool AppendableLike(const DiscInfoRecords& r) {
  return r.disc[kDiscStatus] == kStatusIncomplete || r.discType == kTypeDvdRwRestricted ||
         r.discType == kTypeDvdRwSequential;
}

// Used blocks of a disc still written to. On DVD-R and DVD+R the last TOC
// entry is the open track, so the used part ends with the one before it.
uint32_t AppendableUsed(const DiscInfoRecords& r) {
  if (r.tocValid) {
    const bool openTrackLast = r.discType == kTypeDvdR || r.discType == kTypeDvdPlusR;
    return TocTrackEnd(r, LastTrack(r) - (openTrackLast ? 2 : 1));
  }
  return r.trackValid ? NextWritable(r) : 0;
}

}  // namespace

uint32_t TocTrackEnd(const DiscInfoRecords& r, int k) {
  if (k < 0 || static_cast<size_t>(k) >= kTocMaxEntries) return 0;
  return U32(r.toc + kTocEntries + static_cast<size_t>(k) * kTocEntrySize + kTocEntryEnd);
}

bool DiscIsBlank(const DiscInfoRecords& r) {
  return r.trackValid && NextWritable(r) == 0 && r.track[kTrackBlank] != 0;
}

int32_t DiscFreeBlocks(const DiscInfoRecords& r) { return r.trackValid ? static_cast<int32_t>(FreeBlocks(r)) : 0; }

int32_t DiscNextWritableAddress(const DiscInfoRecords& r) {
  return r.trackValid ? static_cast<int32_t>(NextWritable(r)) : 0;
}

int32_t DiscTrackNumber(const DiscInfoRecords& r) {
  if (r.trackValid) return r.track[kTrackNumber];
  if (r.tocValid) return LastTrack(r);
  return 0;
}

bool DiscIsErasable(const DiscInfoRecords& r) { return r.disc[kDiscErasable] != 0; }
uint8_t DiscStatusByte(const DiscInfoRecords& r) { return r.disc[kDiscStatus]; }
uint8_t DiscLastSessionStatus(const DiscInfoRecords& r) { return r.disc[kDiscLastSession]; }

uint32_t DiscUsedSize(const DiscInfoRecords& r) {
  uint32_t used = 0;
  const uint8_t status = r.disc[kDiscStatus];
  if (status != 0) {
    if (AppendableLike(r))
      used = AppendableUsed(r);
    else if (status == kStatusComplete && r.tocValid)
      used = TocTrackEnd(r, LastTrack(r) - 1);
  }
  return used == 0xFFFFFFFFu ? 0 : used;
}

uint32_t DiscTotalSize(const DiscInfoRecords& r) {
  uint32_t used = 0, free = 0;
  const uint8_t status = r.disc[kDiscStatus];
  if (status != 0 && (r.track[kTrackBlank] == 0 || NextWritable(r) != 0)) {
    if (AppendableLike(r)) {
      if (r.trackValid) free = FreeBlocks(r);
      used = AppendableUsed(r);
    } else if (status == kStatusComplete && r.tocValid) {
      used = TocTrackEnd(r, LastTrack(r) - 1);
    }
  } else if (r.trackValid) {
    free = FreeBlocks(r);
  }
  const uint32_t total = used + free;
  return total == 0xFFFFFFFFu ? 0 : total;
}

}  // namespace qv::control
