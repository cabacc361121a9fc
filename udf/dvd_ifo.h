// The parts of DVD-Video information files (IFO, and their BUP copies)
// that hold sector addresses, read and rewritten in place. Every offset is
// checked against the file's size: an IFO comes from outside and may be
// anything. All addresses are big-endian sectors relative to the first
// sector of the file's own IFO (of VIDEO_TS.IFO for the title table).
//
//   0  12 bytes  "DVDVIDEO-VMG" (VIDEO_TS.IFO) or "DVDVIDEO-VTS" (a title set)
//  12  32-bit    the last sector of the set (its BUP included)
// 192  32-bit    the first sector of the menu VOB (0: no menu)
// 196  32-bit    VMG only: the sector of the title search pointer table,
//                whose 16-bit title count is followed from byte 8 by
//                12-byte entries; entry byte 6 is the title set number,
//                bytes 8-11 the title set's first sector
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

enum class QuorvaneI_IfoKind { kNone, kVideoManager, kTitleSet };

QuorvaneI_IfoKind QuorvaneI_IfoKindOf(const uint8_t* data, size_t size);

// The header's last sector of the set becomes lastSector, its menu's first
// sector ownBlocks (the file's size in blocks: the menu VOB follows it)
// when the set has a menu. False, changing nothing, without the signature
// of either kind.
bool QuorvaneI_PatchIfoHeader(uint8_t* data, size_t size, uint32_t lastSector, uint32_t ownBlocks);

struct QuorvaneI_IfoTitle {
  uint8_t titleSet;
  uint32_t startSector;
};
// The title search pointer table of a VIDEO_TS.IFO; false when the file is
// no video manager or the table does not lie inside it (or is empty).
bool QuorvaneI_ReadIfoTitles(const uint8_t* data, size_t size, std::vector<QuorvaneI_IfoTitle>* titles);
// Sets each title's start sector to startOf(title set), where that gives a
// value other than 0; false as QuorvaneI_ReadIfoTitles.
bool QuorvaneI_PatchIfoTitles(uint8_t* data, size_t size, const std::function<uint32_t(uint8_t)>& startOf);
