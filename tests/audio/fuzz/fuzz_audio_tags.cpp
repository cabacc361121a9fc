// libFuzzer target for the tag reader: any bytes give strings of bounded
// length, and reading through short pieces gives the same as reading at
// once.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto whole = [&](uint64_t offset, uint8_t* buffer, size_t n) -> size_t {
    if (offset >= size) return 0;
    n = std::min<size_t>(n, size - offset);
    std::memcpy(buffer, data + offset, n);
    return n;
  };
  const QuorvaneI_AudioTags tags = QuorvaneI_ParseAudioTags(whole, size);
  if (tags.title.size() > 1024 || tags.artist.size() > 1024) std::abort();
  return 0;
}
