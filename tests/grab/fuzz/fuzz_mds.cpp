// libFuzzer target for what the image tools take from outside: a
// description file, and the first blocks of an image file.
#include <cstring>
#include <string>
#include <vector>

#include "grab/mds.h"

namespace {

class Bytes : public QuorvaneI_MdsSource {
 public:
  Bytes(const uint8_t* data, size_t size, uint32_t block) : data_(data), size_(size), block_(block) {}
  int64_t ReadAt(uint64_t offset, void* buffer, size_t size, uint32_t*) override {
    if (offset >= size_) return 0;
    const size_t n = std::min<size_t>(size, size_ - offset);
    std::memcpy(buffer, data_ + offset, n);
    return static_cast<int64_t>(n);
  }
  int64_t ImageSize(const std::string&, uint32_t*) override { return static_cast<int64_t>(size_) * block_; }

 private:
  const uint8_t* data_;
  size_t size_;
  uint32_t block_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes source(data, size, 2448);
  QuorvaneI_MdsLayout layout;
  int mode = 0;
  std::string name;
  if (QuorvaneI_ParseMDSFrom(source, &layout, &mode, &name) == 0) {
    // What a parse gives must be safe to use as it is.
    if (layout.trackCount <= 0 || layout.trackCount > 99 || (mode != 1 && mode != 2) || name.empty() ||
        name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos)
      __builtin_trap();
    for (int i = 0; i < layout.rawTrackCount; ++i)
      if (layout.rawTrackSizes[i] <= 0 || (i > 0 && layout.trackStarts[i] < layout.trackStarts[i - 1])) __builtin_trap();
    // Sessions cover the tracks in order, each track in exactly one.
    if (layout.sessionCount <= 0 || layout.sessionCount > 99 || layout.sessions[0].firstTrack != 0 ||
        layout.sessions[layout.sessionCount - 1].lastTrack != layout.trackCount - 1)
      __builtin_trap();
    for (int s = 0; s < layout.sessionCount; ++s)
      if (layout.sessions[s].firstTrack > layout.sessions[s].lastTrack ||
          (s > 0 && layout.sessions[s].firstTrack != layout.sessions[s - 1].lastTrack + 1))
        __builtin_trap();
  }
  // A DVD's parts: plain names, each of the blocks its file holds.
  Bytes dvd(data, size, 2048);
  std::vector<QuorvaneI_MdsDvdPart> parts;
  if (QuorvaneI_ParseMDSForDVDFrom(dvd, &parts) == 0) {
    if (parts.empty()) __builtin_trap();
    for (const QuorvaneI_MdsDvdPart& p : parts)
      if (p.blocks != size || p.name.empty() || p.name.find_first_of("/\\:") != std::string::npos) __builtin_trap();
  }
  QuorvaneI_IsMDFBytes("image.xmf", data, size, &mode);
  QuorvaneI_IsISOBytes(data, size);
  return 0;
}
