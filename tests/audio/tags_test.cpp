// Title and artist from files that other tools tagged.
#include <gtest/gtest.h>

#include "audio/tags.h"
#include "support/test_support.h"

namespace {

// The same tone tagged by each tool in each form (FLAC's and a bare wave
// file's: RawCli, through cd-info); ffmpeg writes ID3v2.3 text outside
// Latin-1 as UTF-16 with a byte order mark, ID3v2.4 text as UTF-8, the
// id3v2 tool Latin-1.
TEST(AudioTags, ReadsWhatEachToolWrites) {
  for (const char* tool : {"ffmpeg", "oggenc", "id3v2"}) QVTEST_REQUIRE_PROGRAM(tool);
  qvtest::TempDir dir;
  const std::string tone = (dir / "tone.wav").string();
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("ffmpeg -v error -f lavfi -i sine=d=1 -ac 2 -ar 44100 " + tone + " 2>&1", &out), 0) << out;
  const std::string title = "Été à Kyōto 🎵", artist = "Zoë Ωmega";
  const std::string meta = " -metadata 'title=" + title + "' -metadata 'artist=" + artist + "' ";
  const struct {
    const char* file;
    std::string command;  // {} is the file
    std::string title, artist;
  } cases[] = {
      {"v24.mp3", "ffmpeg -v error -i tone.wav" + meta + "{}", title, artist},
      {"v23.mp3", "ffmpeg -v error -i tone.wav -id3v2_version 3" + meta + "{}", title, artist},
      {"latin.mp3", "ffmpeg -v error -i tone.wav {} && id3v2 -2 -t Chanson -a Groupe {}", "Chanson", "Groupe"},
      {"only-v1.mp3", "ffmpeg -v error -i tone.wav -id3v2_version 0 {} && id3v2 -1 -t Old -a Tag {}", "Old", "Tag"},
      {"x.ogg", "oggenc -Q -t '" + title + "' -a '" + artist + "' -o {} tone.wav", title, artist},
      {"x.wav", "ffmpeg -v error -i tone.wav -metadata title=Info -metadata artist=Chunk {}", "Info", "Chunk"},
  };
  for (const auto& c : cases) {
    std::string command = c.command;
    for (size_t at; (at = command.find("{}")) != std::string::npos;) command.replace(at, 2, c.file);
    ASSERT_EQ(qvtest::RunCommand("cd '" + dir.path().string() + "' && " + command + " 2>&1", &out), 0) << command << out;
    QuorvaneI_AudioTags tags;
    std::string error;
    ASSERT_TRUE(QuorvaneI_ReadAudioTags((dir / c.file).string(), &tags, &error)) << error;
    EXPECT_EQ(tags.title, c.title) << c.file;
    EXPECT_EQ(tags.artist, c.artist) << c.file;
  }
}

// A length that points past the end gives no strings, and no read beyond.
// (Any bytes: fuzz_audio_tags.)
TEST(AudioTags, AHostileLengthGivesNothing) {
  const std::string bytes("ID3\x03\x00\x00\x7F\x7F\x7F\x7FTIT2\xFF\xFF\xFF\xF0\x00\x00\x00x", 22);
  const QuorvaneI_AudioTags tags = QuorvaneI_ParseAudioTags(
      [&](uint64_t offset, uint8_t* buffer, size_t n) -> size_t {
        EXPECT_LE(offset + n, bytes.size());
        if (offset >= bytes.size()) return 0;
        n = std::min<size_t>(n, bytes.size() - offset);
        std::copy_n(bytes.data() + offset, n, buffer);
        return n;
      },
      bytes.size());
  EXPECT_TRUE(tags.title.empty() && tags.artist.empty());
}

}  // namespace
