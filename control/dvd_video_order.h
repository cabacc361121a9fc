// The order in which a DVDVideoImage lays out the files given to it: the
// VIDEO_TS set first, backups last, and within a name IFO before VOB, as
// players expect to find them on the disc.
#pragma once
#include <string>
#include <vector>

namespace qv::control {

// A file's name (after the last backslash) and its extension (after the
// name's first '.', empty without one).
struct DvdVideoFileName {
  std::string name;
  std::string extension;
};
DvdVideoFileName SplitDvdVideoPath(const std::string& path);

// True when a must come before b.
bool DvdVideoFileLess(const DvdVideoFileName& a, const DvdVideoFileName& b);

// Indexes of files in layout order; files that are equal keep their order.
std::vector<size_t> DvdVideoLayoutOrder(const std::vector<DvdVideoFileName>& files);

}  // namespace qv::control
