// A session-at-once layout as the recorder takes it: the tracks of one
// session, each with its source, and the disc's catalogue number.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "record/cue_sheet.h"

class CQuorvane_FileChain;

struct QuorvaneI_SaoTrack : QuorvaneI_CueTrack {
  CQuorvane_FileChain* source = nullptr;  // sizeInBlocks is computed from it
  // One block of the pause before index 1, repeated; zeros when empty.
  std::vector<uint8_t> pauseBlock;
};

struct QuorvaneI_SaoLayout {
  std::vector<QuorvaneI_SaoTrack> tracks;
  std::string catalog;  // 13 digits, or empty
};

struct QuorvaneI_SaoRequest {
  bool xa = false;  // a CD-ROM XA session: data tracks are 2336-byte XA sectors
  bool testWrite = false;
  bool nextSession = false;
  int32_t progressInterval = 0;  // seconds, 0 = never
  int32_t bufferInterval = 0;
};

// Bytes per block the host sends for a track (2048, 2352 audio, 2336 Mode 2
// or any data track of a CD-ROM XA session).
int32_t QuorvaneI_SaoBlockSize(const QuorvaneI_CueTrack& track, bool xa);
