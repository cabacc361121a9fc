// quorvane burn --vcd|--svcd: one MPEG file as a Video CD or Super Video CD.
#pragma once
#include <cstdint>
#include <string>

#include "common.h"

namespace qvcli {

struct VideoCdBurn {
  bool super = false;  // Super Video CD: MPEG-2; else Video CD: MPEG-1
  bool sessionAtOnce = false;  // both tracks in one session at once, not track by track
  std::string drive, file, album;
  bool test = false, eject = false;
  uint32_t speed = 0;
};

int BurnVideoCd(const GlobalOptions& global, const VideoCdBurn& o);

}  // namespace qvcli
