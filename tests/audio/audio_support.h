// Helpers of the audio library's tests: fixtures, whole-stream decoding
// through the C API, and a tone detector.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/sonvex.h"
#include "platform/debug_output.h"
#include "support/test_support.h"

namespace qvaudio {

inline std::string Fixture(const std::string& name) {
  return (std::filesystem::path(qvtest::SourceDir()) / "tests/audio/fixtures" / name).string();
}

inline std::vector<uint8_t> Bytes(const std::string& path) {
  const std::string s = qvtest::ReadFile(path);
  return {s.begin(), s.end()};
}

// Reads a whole stream through a reader handle in pieces of the given sizes
// (cycled), the way the file sources do: each piece zero-filled first.
struct Decoded {
  uint32_t createStatus = 0;
  uint32_t size = 0;  // as the reader announced it
  std::vector<uint8_t> pcm;
};

inline Decoded DecodeAll(const std::string& path, std::vector<uint32_t> pieces = {65536}, int rewinds = 0) {
  Decoded d;
  PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
  d.createStatus = Sonvex_CompressedFileReaderObjectCreate(&reader, path.c_str());
  if (d.createStatus != 0) return d;
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &d.size), 0u);
  for (int pass = 0; pass <= rewinds; ++pass) {
    EXPECT_EQ(Sonvex_CompressedFileReaderObjectBeginSeek(reader), 0u);
    d.pcm.clear();
    std::vector<uint8_t> piece;
    for (size_t i = 0; d.pcm.size() < d.size; ++i) {
      const uint32_t n = std::min<uint32_t>(pieces[i % pieces.size()], d.size - static_cast<uint32_t>(d.pcm.size()));
      piece.assign(n, 0);
      const uint32_t status = Sonvex_CompressedFileReaderObjectRead(reader, piece.data(), n);
      EXPECT_EQ(status, 0u) << "reading " << n << " at " << d.pcm.size();
      if (status != 0) break;
      d.pcm.insert(d.pcm.end(), piece.begin(), piece.end());
    }
  }
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&reader), 0u);
  return d;
}

// Power of one frequency in one channel of CD audio (Goertzel), skipping
// the first and last tenth where encoders fade in and out.
inline double TonePower(const std::vector<uint8_t>& pcm, int channel, double frequency) {
  const size_t frames = pcm.size() / 4;
  const size_t begin = frames / 10, end = frames - frames / 10;
  const double k = 2 * std::cos(2 * M_PI * frequency / 44100.0);
  double s1 = 0, s2 = 0;
  for (size_t i = begin; i < end; ++i) {
    const uint8_t* p = pcm.data() + 4 * i + 2 * channel;
    const double x = static_cast<int16_t>(p[0] | p[1] << 8) / 32768.0;
    const double s0 = x + k * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return (s1 * s1 + s2 * s2 - k * s1 * s2) / static_cast<double>(end - begin);
}

// Left 440 Hz, right 880 Hz, each at least 100 times stronger than the
// other channel's tone.
inline void ExpectChannelsApart(const std::vector<uint8_t>& pcm, const std::string& what) {
  const double l440 = TonePower(pcm, 0, 440), l880 = TonePower(pcm, 0, 880);
  const double r440 = TonePower(pcm, 1, 440), r880 = TonePower(pcm, 1, 880);
  EXPECT_GT(l440, 100 * l880) << what;
  EXPECT_GT(r880, 100 * r440) << what;
  EXPECT_GT(l440, 0.01) << what;  // a -6 dB sine has power 0.0625
}

// A library override for a test's lifetime. Loaded libraries are kept
// otherwise, so they are forgotten as it starts and ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : env_(name, value) { SonvexI_ForgetLibraries(); }
  ~ScopedEnv() { SonvexI_ForgetLibraries(); }

 private:
  qvtest::ScopedEnv env_;
};

}  // namespace qvaudio
