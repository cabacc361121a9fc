// Wave headers and the uncompressed probe.
#include <cstring>

#include "audio_support.h"

namespace {

using qvaudio::Fixture;

SONVEX_WAVE_FILE_HEADER GoodHeader(uint32_t dataSize = 1000) {
  SONVEX_WAVE_FILE_HEADER h;
  EXPECT_EQ(Sonvex_WaveFileHeaderFormat(&h, dataSize), 0u);
  return h;
}

void Poke(SONVEX_WAVE_FILE_HEADER& h, size_t offset, int width, uint32_t value) {
  auto* p = reinterpret_cast<uint8_t*>(&h) + offset;
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// sox wrote this fixture's header: ours must agree byte for byte.
TEST(WaveHeader, FormatWritesTheCdAudioHeaderAsSoxDoes) {
  const auto wav = qvaudio::Bytes(Fixture("tone-cd.wav"));
  const SONVEX_WAVE_FILE_HEADER ours = GoodHeader(static_cast<uint32_t>(wav.size() - 44));
  EXPECT_EQ(std::memcmp(&ours, wav.data(), 44), 0);
  EXPECT_EQ(Sonvex_WaveFileHeaderVerify(&ours), 0u);
}

TEST(WaveHeader, FormatRejectsSizesBeyondRiff) {
  SONVEX_WAVE_FILE_HEADER h;
  EXPECT_EQ(Sonvex_WaveFileHeaderFormat(&h, 0xFFFFFFFFu - 35), 87u);
  EXPECT_EQ(Sonvex_WaveFileHeaderFormat(&h, 0xFFFFFFFFu - 36), 0u);
  EXPECT_EQ(Sonvex_WaveFileHeaderFormat(nullptr, 0), 87u);
  EXPECT_EQ(Sonvex_WaveFileHeaderVerify(nullptr), 87u);
}

// Every field the check covers, each broken alone: the header fails with 87.
struct Mismatch {
  size_t offset;
  int width;
  uint32_t value;
  const char* field;
};

const Mismatch kMismatches[] = {
    {0, 4, 0x46464952 + 1, "RIFF"},       {8, 4, 0x45564157 + 1, "WAVE"}, {12, 4, 0x20746d67, "fmt tag"},
    {16, 4, 14, "format length"},         {20, 2, 3, "format"},           {22, 2, 1, "channels"},
    {24, 4, 48000, "samples per second"}, {28, 4, 192000, "bytes per second"},
    {32, 2, 2, "alignment"},              {34, 2, 24, "bits per sample"},
};

TEST(WaveHeader, EachBrokenFieldFailsWith87) {
  for (const Mismatch& m : kMismatches) {
    SONVEX_WAVE_FILE_HEADER h = GoodHeader();
    Poke(h, m.offset, m.width, m.value);
    EXPECT_EQ(Sonvex_WaveFileHeaderVerify(&h), 87u) << m.field;
  }
}

TEST(WaveHeader, LongerFormatChunkAndOtherDataTagsPass) {
  SONVEX_WAVE_FILE_HEADER h = GoodHeader();
  Poke(h, 16, 4, 18);
  EXPECT_EQ(Sonvex_WaveFileHeaderVerify(&h), 0u);
  Poke(h, 36, 4, 0x5453494C);  // "LIST"
  EXPECT_EQ(Sonvex_WaveFileHeaderVerify(&h), 0u);
}

struct ProbeCase {
  const char* name;      // file name inside a temporary folder
  std::string contents;  // written as they are
  uint32_t status;
};

TEST(UncompressedProbe, DecidesByHeaderOrRawExtension) {
  const std::string cdWave = qvtest::ReadFile(Fixture("tone-cd.wav"));
  const std::string wave48k = qvtest::ReadFile(Fixture("tone-48k.wav"));
  const ProbeCase cases[] = {
      {"cd.wav", cdWave, 0},
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
  for (const ProbeCase& c : cases) {
    const auto path = dir.Write(c.name, c.contents);
    EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(path.c_str()), c.status) << c.name;
  }
}

TEST(UncompressedProbe, UnopenableFilesGiveTheSystemError) {
  qvtest::TempDir dir;
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs((dir / "missing.wav").c_str()), 2u);
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs((dir / "missing.raw").c_str()), 2u);  // opened before the name counts
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(dir.path().c_str()), 5u);           // a folder
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(nullptr), 87u);
}

}  // namespace
