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

struct Mismatch {
  size_t offset;
  int width;
  uint32_t value;
  const char* field;  // must be named in the log line
  const char* found;  // the value found, as logged
};

// One row per field, in the order they are checked.
const Mismatch kMismatches[] = {
    {0, 4, 0x46464952 + 1, "m__ULONG__Riff", "0x46464953"},
    {8, 4, 0x45564157 + 1, "m__ULONG__Wave", "0x45564158"},
    {12, 4, 0x20746d67, "m__ULONG__FormatTag", "0x20746d67"},
    {16, 4, 14, "m__ULONG__FormatLength", "== 14 instead of at least 16"},
    {20, 2, 3, "m__USHORT__Format", "== 3 instead of 1"},
    {22, 2, 1, "m__SONVEX_WAVE_FORMAT_CHUNK.m__USHORT__Channels", "== 1 instead of 2"},
    {24, 4, 48000, "m__ULONG__SamplesPerSecond", "== 48000 instead of 44100"},
    {28, 4, 192000, "m__ULONG__AverageSamplesPerSecond", "== 192000 instead of 176400"},
    {32, 2, 2, "m__USHORT__Alignment", "== 2 instead of 4"},
    {34, 2, 24, "m__USHORT__BitsPerSample", "== 24 instead of 16"},
};

// Breaks every field from the last to the first: each time the earliest
// broken one, and only it, is named with the value found.
TEST(WaveHeader, TheFirstMismatchInOrderFailsWith87NamingTheField) {
  SONVEX_WAVE_FILE_HEADER h = GoodHeader();
  for (size_t i = std::size(kMismatches); i-- > 0;) {
    const Mismatch& m = kMismatches[i];
    Poke(h, m.offset, m.width, m.value);
    qvtest::LogCapture log;
    EXPECT_EQ(Sonvex_WaveFileHeaderVerify(&h), 87u) << m.field;
    EXPECT_EQ(log.Count(m.field), 1u) << log.Text();
    for (size_t j = 0; j < std::size(kMismatches); ++j)
      EXPECT_EQ(log.Count(kMismatches[j].found), j == i ? 1u : 0u) << kMismatches[j].field;
    EXPECT_EQ(log.Count("Sonvex_WaveFileHeaderVerify(): <<< EXITing with failure, status 87 ( 0x57 )"), 1u);
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
      {"empty.wav", "", 996},
      {"noise.raw", "anything at all", 0},
      {"NOISE.RaW", "", 0},
      {"noise.raw.txt", std::string(100, 'x'), 87},
      {"folder.raw/track.bin", std::string(100, 'x'), 87},  // only the file's own extension counts
      {".raw", "", 0},
  };
  qvtest::TempDir dir;
  for (const ProbeCase& c : cases) {
    const auto path = dir.Write(c.name, c.contents);
    qvtest::LogCapture log;
    EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(path.c_str()), c.status) << c.name;
    const bool raw = c.status == 0 && c.contents != cdWave;
    EXPECT_EQ(log.Count("Uncompressed RAW stream detected"), raw ? 1u : 0u) << c.name;
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
