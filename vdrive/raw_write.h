// What a drive remembers between the WRITE commands of a raw (write type
// 3) recording, and the handler's entry points (vdrive/cmd_raw.cpp).
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vdrive/cd_text.h"

namespace qv::vdrive {

struct Exec;

struct RawWrite {
  int32_t next = 0;  // the address the next WRITE must start at
  // The lead-in's TOC: by POINT, CONTROL/ADR and P-MIN, P-SEC, P-FRAME (BCD).
  std::map<uint8_t, std::array<uint8_t, 4>> toc;
  CdTextCollector cdText;
  uint8_t track = 0;          // the track number of the last program-area Q
  uint8_t trackNumberOf = 0;  // TNO (BCD) of the last track started
  int32_t areaStart = 0;      // where that track's pause began
  // The main data of that pause so far (2352 bytes a sector, from LBA 0),
  // stored with the track once its index 1 arrives.
  std::vector<uint8_t> pause;
  int32_t leadOutStart = 0;   // 0 until the lead-out begins
  // An ISRC met in a pause (Q mode 3), the coming track's.
  std::string pauseIsrc;
  // Packed P-W (data block type 2): the R-W of the two program-area
  // sectors before next as sent, which the interleave spreads into it.
  std::array<uint8_t, 192> packedTail{};
};

// Page 05h asks for write type 3.
bool RawWriteRequested(const Exec& x);
void WriteRaw(Exec& x);
// SYNCHRONIZE CACHE ends a raw recording: the next one starts afresh.
void EndRawWrite(Exec& x);

}  // namespace qv::vdrive
