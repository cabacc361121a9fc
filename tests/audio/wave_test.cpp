// Wave headers and the uncompressed probe.
#include "audio_support.h"

namespace {

using qvaudio::Fixture;

// (The header written is sox's byte for byte: AudioCli.DecodesEachFormatToACdWaveThatSoxReads.)
TEST(WaveHeader, FormatRejectsSizesBeyondRiff) {
  SONVEX_WAVE_FILE_HEADER h;
  EXPECT_EQ(Sonvex_WaveFileHeaderFormat(&h, 0xFFFFFFFFu - 35), 87u);
  EXPECT_EQ(Sonvex_WaveFileHeaderFormat(&h, 0xFFFFFFFFu - 36), 0u);
  EXPECT_EQ(Sonvex_WaveFileHeaderFormat(nullptr, 0), 87u);
  EXPECT_EQ(Sonvex_WaveFileHeaderVerify(nullptr), 87u);
}

// Every field the check covers, each broken alone, fails with 87; a longer
// format chunk and another chunk where the data's is expected pass.
TEST(WaveHeader, EachFieldTheCheckCovers) {
  const struct {
    size_t offset;
    int width;
    uint32_t value, status;
  } cases[] = {
      {0, 4, 0x46464952 + 1, 87},  // RIFF
      {8, 4, 0x45564157 + 1, 87},  // WAVE
      {12, 4, 0x20746d67, 87},     // fmt tag
      {16, 4, 14, 87},             // format length
      {20, 2, 3, 87},              // format
      {22, 2, 1, 87},              // channels
      {24, 4, 48000, 87},          // samples per second
      {28, 4, 192000, 87},         // bytes per second
      {32, 2, 2, 87},              // alignment
      {34, 2, 24, 87},             // bits per sample
      {16, 4, 18, 0},              // a longer format chunk
      {36, 4, 0x5453494C, 0},      // LIST
  };
  for (const auto& c : cases) {
    SONVEX_WAVE_FILE_HEADER h;
    ASSERT_EQ(Sonvex_WaveFileHeaderFormat(&h, 1000), 0u);
    for (int i = 0; i < c.width; ++i) reinterpret_cast<uint8_t*>(&h)[c.offset + i] = static_cast<uint8_t>(c.value >> (8 * i));
    EXPECT_EQ(Sonvex_WaveFileHeaderVerify(&h), c.status) << "offset " << c.offset;
  }
}

TEST(UncompressedProbe, DecidesByHeaderOrRawExtension) {
  const std::string cdWave = qvtest::ReadFile(Fixture("tone-cd.wav"));
  const std::string wave48k = qvtest::ReadFile(Fixture("tone-48k.wav"));
  const struct {
    const char* name;  // in a temporary folder
    std::string contents;
    uint32_t status;
  } cases[] = {
      {"cd.WAV.bak", cdWave, 0},  // the header decides, not the name
      {"48k.wav", wave48k, 87},
      {"short.wav", cdWave.substr(0, 43), 996},
      {"noise.raw", "anything at all", 0},
      {"NOISE.RaW", "", 0},
      {"noise.raw.txt", std::string(100, 'x'), 87},
      {"folder.raw/track.bin", std::string(100, 'x'), 87},  // only the file's own extension counts
      {".raw", "", 0},
  };
  qvtest::TempDir dir;
  for (const auto& c : cases) {
    const auto path = dir.Write(c.name, c.contents);
    EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(path.c_str()), c.status) << c.name;
  }
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs((dir / "missing.raw").c_str()), 2u);  // opened before the name counts
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(dir.path().c_str()), 5u);           // a folder
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(nullptr), 87u);
}

}  // namespace
