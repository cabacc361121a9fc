#include "control/dvd_video_order.h"

#include <cstring>
#include <utility>

namespace qv::control {
namespace {

int ExtensionRank(const std::string& extension) {
  static const char* const kRanked[] = {"IFO", "INF", "VOB", "AOB", "BUP"};
  for (int i = 0; i < 5; ++i)
    if (extension == kRanked[i]) return i + 1;
  return 6 + (extension.empty() ? 0 : static_cast<unsigned char>(extension[0]));
}

}  // namespace

DvdVideoFileName SplitDvdVideoPath(const std::string& path) {
  DvdVideoFileName f;
  const size_t slash = path.rfind('\\');
  f.name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = f.name.find('.');
  if (dot != std::string::npos) f.extension = f.name.substr(dot + 1);
  return f;
}

bool DvdVideoFileLess(const DvdVideoFileName& a, const DvdVideoFileName& b) {
  const bool aVideoTs = a.name.compare(0, 8, "VIDEO_TS") == 0, bVideoTs = b.name.compare(0, 8, "VIDEO_TS") == 0;
  if (aVideoTs != bVideoTs) return aVideoTs;
  const bool aBackup = a.extension.compare(0, 3, "BUP") == 0, bBackup = b.extension.compare(0, 3, "BUP") == 0;
  if (aBackup != bBackup) return bBackup;
  // The bases, character by character up to the first difference or '.'.
  for (size_t i = 0;; ++i) {
    const char x = i < a.name.size() ? a.name[i] : '\0', y = i < b.name.size() ? b.name[i] : '\0';
    const bool xEnd = x == '\0' || x == '.', yEnd = y == '\0' || y == '.';
    if (xEnd && yEnd) {
      if (x == '.' && y == '.') return ExtensionRank(a.extension) < ExtensionRank(b.extension);
      return false;
    }
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
}

std::vector<size_t> DvdVideoLayoutOrder(const std::vector<DvdVideoFileName>& files) {
  std::vector<size_t> order(files.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  // Adjacent swaps only, so equal files keep the order they were given in.
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (size_t i = 1; i < order.size(); ++i)
      if (DvdVideoFileLess(files[order[i]], files[order[i - 1]])) {
        std::swap(order[i], order[i - 1]);
        swapped = true;
      }
  }
  return order;
}

}  // namespace qv::control
