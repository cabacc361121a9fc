// libFuzzer target for the openers of outside audio files. Built three
// times: SONVEX_FUZZ_WAVE (the header check, the probe and the uncompressed
// reader), SONVEX_FUZZ_OGG and SONVEX_FUZZ_MP3 (the sniffers and the decoder
// libraries behind them, FLAC included for the MP3 build's media step).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/sonvex.h"

namespace {

constexpr size_t kMaxDecode = 4u << 20;  // enough to reach every frame of a small input

const std::string& InputPath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvane-fuzz-" + std::to_string(getpid());
#if defined(SONVEX_FUZZ_WAVE)
    return p + ".wav";
#elif defined(SONVEX_FUZZ_OGG)
    return p + ".ogg";
#else
    return p + ".mp3";
#endif
  }();
  return path;
}

[[maybe_unused]] void Drain(CSonvex_Decoder& decoder) {
  std::vector<uint8_t> buffer(16384);
  size_t total = 0;
  for (size_t n; total < kMaxDecode && (n = decoder.Decode(buffer.data(), buffer.size())) != 0;) total += n;
  decoder.Rewind();
  decoder.Decode(buffer.data(), buffer.size());
  (void)decoder.UncompressedSize();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (FILE* f = std::fopen(InputPath().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
#if defined(SONVEX_FUZZ_WAVE)
  if (size >= sizeof(SONVEX_WAVE_FILE_HEADER)) {
    SONVEX_WAVE_FILE_HEADER header;
    std::memcpy(&header, data, sizeof header);
    Sonvex_WaveFileHeaderVerify(&header);
  }
  Sonvex_UncompressedFileSupportedIs(InputPath().c_str());
  PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
  if (Sonvex_CompressedFileReaderObjectCreate(&reader, InputPath().c_str()) == 0) {
    QV_ULONG total = 0;
    Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &total);
    std::vector<uint8_t> sector(2352);
    for (QV_ULONG done = 0; done < total && done < kMaxDecode; done += 2352)
      if (Sonvex_CompressedFileReaderObjectRead(reader, sector.data(), 2352) != 0) break;
    Sonvex_CompressedFileReaderObjectBeginSeek(reader);
    Sonvex_CompressedFileReaderObjectDestroy(&reader);
  }
#else
  try {
#if defined(SONVEX_FUZZ_OGG)
    if (auto decoder = SonvexI_OpenVorbis(InputPath())) Drain(*decoder);
#else
    if (auto decoder = SonvexI_OpenFlac(InputPath())) Drain(*decoder);
    if (auto decoder = SonvexI_OpenMpeg(InputPath())) Drain(*decoder);
#endif
  } catch (const CSonvex_Failure&) {
    // a refusal with a status is a correct answer
  }
#endif
  return 0;
}
