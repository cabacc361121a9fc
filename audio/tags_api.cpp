// The C API's view of audio tags: what CD-Text takes from a file.
#include <algorithm>
#include <cstring>
#include <string>

#include "audio/tags.h"
#include "quorvane/qv_files.h"

namespace {

void CopyOut(const std::string& text, char* out, QV_ULONG size) {
  if (out == nullptr || size == 0) return;
  const size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_ReadAudioTags(const char* fileName, char* title, QV_ULONG titleSize,
                                                          char* performer, QV_ULONG performerSize) {
  QuorvaneI_AudioTags tags;
  std::string error;
  if (fileName == nullptr || !QuorvaneI_ReadAudioTags(fileName, &tags, &error)) return 5;
  CopyOut(tags.title, title, titleSize);
  CopyOut(tags.artist, performer, performerSize);
  return 0;
}
