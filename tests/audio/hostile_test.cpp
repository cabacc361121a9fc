// Damaged and hostile files: every opener and reader must answer with a
// status, never crash, hang or read out of bounds (ASan runs this too).
// The libFuzzer target fuzz_audio_open explores the same paths further.
#include <random>
#include <set>

#include "audio_support.h"

namespace {

using qvaudio::Fixture;

const std::set<uint32_t> kAllowed = {0, 13, 25, 50, 87, 996, SONVEX_STATUS_STREAM_SHAPE, SONVEX_STATUS_SHORT_READ};

// Opens, reads up to 8 MB in sector pieces, rewinds, reads again.
void Exercise(const std::string& path, const std::string& what) {
  EXPECT_EQ(kAllowed.count(Sonvex_CompressedFileSupportedIs(path.c_str())), 1u) << what;
  PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
  const uint32_t status = Sonvex_CompressedFileReaderObjectCreate(&reader, path.c_str());
  EXPECT_EQ(kAllowed.count(status), 1u) << what << " status " << status;
  if (status != 0) return;
  uint32_t size = 0;
  const uint32_t sizeStatus = Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &size);
  EXPECT_TRUE(sizeStatus == 0 || sizeStatus == 223) << what << " size status " << sizeStatus;  // 223: over 4 GiB
  std::vector<uint8_t> sector(2352);
  for (int pass = 0; pass < 2; ++pass) {
    for (uint64_t done = 0; done < size && done < 8u << 20; done += sector.size()) {
      const uint32_t s = Sonvex_CompressedFileReaderObjectRead(reader, sector.data(), 2352);
      EXPECT_EQ(kAllowed.count(s), 1u) << what << " read status " << s;
      if (s != 0) break;
    }
    EXPECT_EQ(kAllowed.count(Sonvex_CompressedFileReaderObjectBeginSeek(reader)), 1u) << what;
  }
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&reader), 0u) << what;
}

TEST(Hostile, TruncatedAndBitFlippedFixtures) {
  qvtest::TempDir dir;
  std::mt19937 random(20060630);
  for (const char* name : {"tone-cd.wav", "tone.ogg", "tone.flac", "tone-24bit.flac", "tone-48k.mp3",
                           "tone-22k-mono-id3.mp3", "mono.ogg"}) {
    const std::string original = qvtest::ReadFile(Fixture(name));
    const std::string extension = std::filesystem::path(name).extension().string();
    for (size_t cut : {size_t{1}, size_t{4}, size_t{11}, size_t{44}, size_t{100}, size_t{1000}, original.size() / 2,
                       original.size() - 1}) {
      const auto path = dir.Write("cut" + extension, original.substr(0, cut));
      Exercise(path.string(), std::string(name) + " cut at " + std::to_string(cut));
    }
    for (int round = 0; round < 30; ++round) {
      std::string damaged = original;
      // A few flips early, where the headers are, and a few anywhere.
      for (int i = 0; i < 4; ++i) damaged[random() % std::min<size_t>(damaged.size(), 256)] ^= 1 << (random() % 8);
      for (int i = 0; i < 4; ++i) damaged[random() % damaged.size()] = static_cast<char>(random());
      const auto path = dir.Write("flip" + extension, damaged);
      Exercise(path.string(), std::string(name) + " round " + std::to_string(round));
    }
  }
}

TEST(Hostile, CraftedHeaders) {
  qvtest::TempDir dir;
  // An MPEG-1 layer III frame header (128 kbit/s, 44100 Hz: 417 bytes).
  const std::string frame = std::string("\xFF\xFB\x90\x64", 4) + std::string(413, '\0');
  const struct {
    const char* name;
    std::string contents;
  } cases[] = {
      {"huge-id3.mp3", std::string("ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10) + frame + frame},
      {"id3-only.mp3", std::string("ID3\x03\x00\x00\x00\x00\x00\x05", 10) + "abcde"},
      {"one-frame.mp3", frame},
      {"frames-then-junk.mp3", frame + frame + std::string(5000, '\x55')},
      {"flac-magic.flac", "fLaC" + std::string(100, '\xFF')},
      {"flac-streaminfo-lies.flac",
       std::string("fLaC\x80\x00\x00\x22", 8) + std::string("\x10\x00\x10\x00\x00\x00\x00\x00\x00\x00", 10) +
           std::string("\x0A\xC4\x42\xF0\xFF\xFF\xFF\xFF", 8) + std::string(16, '\0')},
      {"ogg-magic.ogg", "OggS" + std::string(200, '\0')},
      {"riff-only.wav", "RIFF\x24\x00\x00\x00WAVE"},
  };
  for (const auto& c : cases) Exercise(dir.Write(c.name, c.contents).string(), c.name);
}

}  // namespace
