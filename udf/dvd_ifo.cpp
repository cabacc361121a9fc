#include "udf/dvd_ifo.h"

#include <cstring>

#include "core/bytes.h"
#include "core/log.h"

namespace {

constexpr size_t kLastSectorAt = 12;
constexpr size_t kMenuAt = 192;
constexpr size_t kTitleTableAt = 196;
constexpr size_t kSector = 2048;
constexpr size_t kEntriesAt = 8;
constexpr size_t kEntrySize = 12;

}  // namespace

QuorvaneI_IfoKind QuorvaneI_IfoKindOf(const uint8_t* data, size_t size) {
  if (size < kTitleTableAt + 4) return QuorvaneI_IfoKind::kNone;
  if (std::memcmp(data, "DVDVIDEO-VMG", 12) == 0) return QuorvaneI_IfoKind::kVideoManager;
  if (std::memcmp(data, "DVDVIDEO-VTS", 12) == 0) return QuorvaneI_IfoKind::kTitleSet;
  return QuorvaneI_IfoKind::kNone;
}

bool QuorvaneI_PatchIfoHeader(uint8_t* data, size_t size, uint32_t lastSector, uint32_t ownBlocks) {
  if (QuorvaneI_IfoKindOf(data, size) == QuorvaneI_IfoKind::kNone) {
    QuorvaneI_Log("\nQuorvaneI_PatchHeader(): Wrong IFO/BUP signature!!!\n");
    return false;
  }
  const uint32_t menu = QuorvaneI_BE32(data + kMenuAt);
  QuorvaneI_Log("\nQuorvaneI_PatchHeader(): ( BEFORE ) BUP last touched RBA: %d\n"
                "QuorvaneI_PatchHeader(): ( BEFORE ) Menu VOBS: %d ( 0x%08X )\n",
                static_cast<int>(QuorvaneI_BE32(data + kLastSectorAt)), static_cast<int>(menu), menu);
  QuorvaneI_PutBE32(data + kLastSectorAt, lastSector);
  // A set without a menu keeps 0 there: its next file is the BUP.
  if (menu != 0) QuorvaneI_PutBE32(data + kMenuAt, ownBlocks);
  QuorvaneI_Log("\nQuorvaneI_PatchHeader(): ( AFTER ) BUP last touched RBA: %d\n"
                "QuorvaneI_PatchHeader(): ( AFTER ) Menu VOBS: %d ( 0x%08X )\n",
                static_cast<int>(lastSector), static_cast<int>(QuorvaneI_BE32(data + kMenuAt)),
                QuorvaneI_BE32(data + kMenuAt));
  return true;
}

namespace {

// The table's first entry and how many there are; 0 entries when the table
// cannot be used.
size_t TitleTable(const uint8_t* data, size_t size, size_t* entries) {
  *entries = 0;
  if (QuorvaneI_IfoKindOf(data, size) != QuorvaneI_IfoKind::kVideoManager) {
    QuorvaneI_Log("\nQuorvaneI_PatchTable(): Wrong IFO/BUP signature!!!\n");
    return 0;
  }
  const uint64_t table = uint64_t{QuorvaneI_BE32(data + kTitleTableAt)} * kSector;
  if (table == 0) {
    QuorvaneI_Log("\nQuorvaneI_PatchTable(): EXITing with failure, table of titles is zero!!!\n");
    return 0;
  }
  if (table + kEntriesAt > size) {
    QuorvaneI_Log("\nQuorvaneI_PatchTable(): EXITing with failure, the table of titles lies past the file's end!!!\n");
    return 0;
  }
  const size_t titles = QuorvaneI_BE16(data + table);
  if (titles == 0) {
    QuorvaneI_Log("\nQuorvaneI_PatchTable(): EXITing with failure, number of titles is zero!!!\n");
    return 0;
  }
  if (table + kEntriesAt + titles * kEntrySize > size) {
    QuorvaneI_Log("\nQuorvaneI_PatchTable(): EXITing with failure, %u titles run past the file's end!!!\n",
                  static_cast<unsigned>(titles));
    return 0;
  }
  *entries = titles;
  return static_cast<size_t>(table + kEntriesAt);
}

}  // namespace

bool QuorvaneI_ReadIfoTitles(const uint8_t* data, size_t size, std::vector<QuorvaneI_IfoTitle>* titles) {
  size_t count = 0;
  const size_t at = TitleTable(data, size, &count);
  titles->clear();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = data + at + i * kEntrySize;
    titles->push_back({e[6], QuorvaneI_BE32(e + 8)});
  }
  return count != 0;
}

bool QuorvaneI_PatchIfoTitles(uint8_t* data, size_t size, const std::function<uint32_t(uint8_t)>& startOf) {
  size_t count = 0;
  const size_t at = TitleTable(data, size, &count);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* e = data + at + i * kEntrySize;
    const uint32_t before = QuorvaneI_BE32(e + 8);
    const uint32_t start = startOf(e[6]);
    QuorvaneI_Log("\nQuorvaneI_PatchTable(): title %u, title set %u: start sector %u ( BEFORE ), %u ( AFTER )\n",
                  static_cast<unsigned>(i + 1), e[6], before, start != 0 ? start : before);
    if (start == 0) {
      QuorvaneI_Log("\nQuorvaneI_LookupRBAByVideoTitleSetNumber( 0x%02X, 0x%p ) failed, RBA %u\n", e[6],
                    static_cast<void*>(data), start);
      continue;
    }
    QuorvaneI_PutBE32(e + 8, start);
  }
  return count != 0;
}
