// Readers: recognition, decoded sizes and content, odd pieces and rewinds,
// shapes that are refused, missing libraries, and handle checks.
#include <algorithm>
#include <cstring>

#include "audio_support.h"

namespace {

using qvaudio::DecodeAll;
using qvaudio::Fixture;

// One row per decoder path. (What sox makes of the CD-shaped files:
// BurnCli.AudioTracksHoldTheDecodedSamples.)
const struct Format {
  const char* file;
  uint32_t frames;        // decoded length in 44100 Hz frames
  uint32_t tolerance;     // in frames: codecs pad and trim differently
  bool channelsApart;     // 440 Hz left, 880 Hz right; else mono, the same 440 Hz in both
  const char* identical;  // a wave fixture whose PCM must come out exactly
} kFormats[] = {
    {"tone-cd.wav", 22050, 0, true, "tone-cd.wav"},
    {"tone.ogg", 44100, 0, true, nullptr},
    {"tone-24bit.flac", 22050, 0, true, "tone-cd.wav"},
    // 48 kHz resampled: 1 s stays 44100 frames, give or take a frame or two
    // of the resampler's rounding.
    {"tone-48k.mp3", 44100, 2, true, nullptr},
    // This MPEG-2 stream does not mark its encoder padding: 41 whole frames
    // of 576 samples at 22050 Hz, exactly twice as many at 44100 Hz.
    {"tone-22k-mono-id3.mp3", 47232, 0, false, nullptr},
};

// Each format decodes to its length and tones; however it is read, and
// rewound whole or halfway, the bytes are the same; past the announced size
// a compressed reader has nothing more, so the caller's bytes stay.
TEST(Reader, EachFormatDecodesAlikeInAnyPiecesAndRewinds) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.file);
    const qvaudio::Decoded d = DecodeAll(Fixture(f.file));
    ASSERT_EQ(d.createStatus, 0u);
    EXPECT_EQ(Sonvex_CompressedFileSupportedIs(Fixture(f.file).c_str()), 0u);
    EXPECT_EQ(d.size % 4, 0u);
    EXPECT_NEAR(d.size / 4.0, f.frames, f.tolerance);
    if (f.channelsApart) {
      qvaudio::ExpectChannelsApart(d.pcm, f.file);
    } else {
      for (size_t i = 0; i + 4 <= d.pcm.size(); i += 4) ASSERT_EQ(std::memcmp(&d.pcm[i], &d.pcm[i + 2], 2), 0) << i;
      EXPECT_GT(qvaudio::TonePower(d.pcm, 0, 440), 100 * qvaudio::TonePower(d.pcm, 0, 880));
    }
    if (f.identical) {
      const auto wav = qvaudio::Bytes(Fixture(f.identical));
      EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.end(), wav.begin() + 44, wav.end()));
    }
    for (const auto& pieces : std::vector<std::vector<uint32_t>>{{3, 5, 7}, {1, 65537, 2}})
      EXPECT_TRUE(DecodeAll(Fixture(f.file), pieces, 2).pcm == d.pcm) << "in pieces of " << pieces[0];
    PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
    ASSERT_EQ(Sonvex_CompressedFileReaderObjectCreate(&reader, Fixture(f.file).c_str()), 0u);
    std::vector<uint8_t> skipped(17777), again(10000);
    ASSERT_EQ(Sonvex_CompressedFileReaderObjectRead(reader, skipped.data(), 17777), 0u);
    ASSERT_EQ(Sonvex_CompressedFileReaderObjectBeginSeek(reader), 0u);
    ASSERT_EQ(Sonvex_CompressedFileReaderObjectRead(reader, again.data(), 10000), 0u);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), d.pcm.begin())) << "a rewind halfway";
    if (std::string(f.file) != "tone-cd.wav") {
      ASSERT_EQ(Sonvex_CompressedFileReaderObjectBeginSeek(reader), 0u);
      std::vector<uint8_t> all(d.size + 8192, 0xA5);
      ASSERT_EQ(Sonvex_CompressedFileReaderObjectRead(reader, all.data(), static_cast<uint32_t>(all.size())), 0u);
      size_t last = all.size();
      while (last > 0 && all[last - 1] == 0xA5) --last;
      EXPECT_LE(last, d.size);
      EXPECT_GT(last + 64, d.size) << "the stream runs up to its announced end";
    }
    EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&reader), 0u);
  }
}

// A raw file's first 44 bytes are skipped, however short it is; a short
// read fails but delivers what there is.
TEST(Reader, RawFilesSkipAHeaderAndReadShort) {
  qvtest::TempDir dir;
  for (const auto& [name, contents] : {std::pair<const char*, std::string>{"tail.raw", std::string(44, 'h') + "0123456789"},
                                       {"tiny.RAW", "abc"}}) {
    SCOPED_TRACE(name);
    const std::string tail = contents.size() > 44 ? contents.substr(44) : "";
    PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
    ASSERT_EQ(Sonvex_CompressedFileReaderObjectCreate(&reader, dir.Write(name, contents).c_str()), 0u);
    uint32_t size = 123;
    EXPECT_EQ(Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, &size), 0u);
    EXPECT_EQ(size, tail.size());
    char buffer[16] = {};
    EXPECT_EQ(Sonvex_CompressedFileReaderObjectRead(reader, buffer, 4), tail.empty() ? SONVEX_STATUS_SHORT_READ : 0u);
    EXPECT_EQ(std::string(buffer, std::min<size_t>(4, tail.size())), tail.substr(0, 4));
    EXPECT_EQ(Sonvex_CompressedFileReaderObjectRead(reader, buffer, 16), SONVEX_STATUS_SHORT_READ);
    if (!tail.empty()) {
      EXPECT_EQ(std::string(buffer, 6), tail.substr(4));
      EXPECT_EQ(Sonvex_CompressedFileReaderObjectBeginSeek(reader), 0u);
      EXPECT_EQ(Sonvex_CompressedFileReaderObjectRead(reader, buffer, 10), 0u);
      EXPECT_EQ(std::string(buffer, 10), tail);
    }
    EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&reader), 0u);
  }
}

// (A missing file, a 48 kHz wave file and mono Ogg Vorbis: CliOutcomes.)
TEST(Reader, RefusedShapesAndUnknownContent) {
  qvtest::TempDir dir;
  const struct {
    std::string path;
    uint32_t status;
  } cases[] = {
      {Fixture("tone-48k.ogg"), 0x800700A0u},
      {Fixture("mono.flac"), SONVEX_STATUS_STREAM_SHAPE},
      // Not CD audio, and not to be taken for MPEG audio either.
      {dir.Write("zeros.mp3", std::string(5000, '\0')).string(), 50},
      {dir.Write("short.wav", "RIFF").string(), 50},
  };
  for (const auto& c : cases) {
    PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = reinterpret_cast<PSONVEX_COMPRESSED_FILE_READER_OBJECT>(1);
    EXPECT_EQ(Sonvex_CompressedFileReaderObjectCreate(&reader, c.path.c_str()), c.status) << c.path;
    EXPECT_EQ(reader, nullptr) << c.path;
    EXPECT_EQ(Sonvex_CompressedFileSupportedIs(c.path.c_str()), c.status) << c.path;
  }
}

TEST(Reader, MissingDecoderLibraryMakesOnlyItsFormatUnsupported) {
  const struct {
    const char* variable;
    const char* unsupported;
  } cases[] = {
      {"QUORVANE_LIB_VORBISFILE", "tone.ogg"},
      {"QUORVANE_LIB_MPG123", "tone-48k.mp3"},
      {"QUORVANE_LIB_FLAC", "tone.flac"},
  };
  for (const auto& c : cases) {
    qvaudio::ScopedEnv missing(c.variable, "/nonexistent/libmissing.so.0");
    for (const char* file : {"tone-cd.wav", "tone.ogg", "tone.flac", "tone-48k.mp3"}) {
      const uint32_t status = Sonvex_CompressedFileSupportedIs(Fixture(file).c_str());
      EXPECT_EQ(status, std::string(file) == c.unsupported ? 50u : 0u) << c.variable << " " << file;
    }
  }
}

// Handles of readers and writers: destroyed, forged and mixed ones, and
// missing arguments.
TEST(Handles, DestroyedForgedAndMixedHandlesAreRejected) {
  PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
  ASSERT_EQ(Sonvex_CompressedFileReaderObjectCreate(&reader, Fixture("tone-cd.wav").c_str()), 0u);
  PSONVEX_COMPRESSED_FILE_READER_OBJECT stale = reader;
  ASSERT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&reader), 0u);
  EXPECT_EQ(reader, nullptr);

  // Freed memory is never touched (ASan would stop the test if it were).
  uint8_t buffer[16];
  uint32_t size = 0;
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectRead(stale, buffer, sizeof buffer), 6u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectBeginSeek(stale), 6u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectUncompressedSizeGet(stale, &size), 6u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&stale), 6u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&reader), 6u);  // NULL
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(nullptr), 87u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectCreate(nullptr, Fixture("tone-cd.wav").c_str()), 87u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectCreate(&reader, nullptr), 87u);
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(Sonvex_CompressedFileSupportedIs(nullptr), 87u);
  ASSERT_EQ(Sonvex_CompressedFileReaderObjectCreate(&reader, Fixture("tone-cd.wav").c_str()), 0u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectUncompressedSizeGet(reader, nullptr), 87u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectRead(reader, nullptr, 4), 87u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectDestroy(&reader), 0u);

  // A made-up pointer, and a writer handle passed as a reader.
  alignas(8) uint8_t junk[64] = {};
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectBeginSeek(reinterpret_cast<PSONVEX_COMPRESSED_FILE_READER_OBJECT>(junk)), 6u);
  qvtest::TempDir dir;
  const std::string ogg = (dir / "w.ogg").string();
  PSONVEX_COMPRESSED_FILE_WRITER_OBJECT writer = nullptr;
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectCreate(&writer, nullptr, SONVEX_COMPRESSION_DEFAULT), 87u);
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectCreate(nullptr, ogg.c_str(), SONVEX_COMPRESSION_DEFAULT), 87u);
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectCreate(&writer, (dir / "no/w.ogg").c_str(), SONVEX_COMPRESSION_DEFAULT), 2u);
  ASSERT_EQ(Sonvex_CompressedFileWriterObjectCreate(&writer, ogg.c_str(), SONVEX_COMPRESSION_DEFAULT), 0u);
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectBeginSeek(reinterpret_cast<PSONVEX_COMPRESSED_FILE_READER_OBJECT>(writer)), 6u);
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectWrite(writer, nullptr, 4), 87u);
  PSONVEX_COMPRESSED_FILE_WRITER_OBJECT staleWriter = writer;
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectDestroy(&writer), 0u);
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectWrite(staleWriter, buffer, 4), 6u);
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectDestroy(&staleWriter), 6u);
  const qvaudio::Decoded d = DecodeAll(ogg);
  EXPECT_EQ(d.createStatus, 0u) << "an empty stream is still a valid file";
  EXPECT_EQ(d.size, 0u);
}

std::string Le32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// A CD audio wave file as other writers lay it out: an 18-byte format chunk
// and a LIST chunk before the data.
std::string WaveWithExtraChunks(const std::string& pcm, bool withData) {
  std::string body = "WAVEfmt " + Le32(18) + std::string("\1\0\2\0", 4) + Le32(44100) + Le32(176400) +
                     std::string("\4\0\x10\0\0\0", 6) + "LIST" + Le32(5) + "INFOx" + '\0';
  if (withData) body += "data" + Le32(static_cast<uint32_t>(pcm.size())) + pcm;
  return "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
}

TEST(Reader, WaveSamplesAreFoundBehindOtherChunks) {
  qvtest::TempDir dir;
  std::string pcm;
  for (int i = 0; i < 1000; ++i) pcm += Le32(static_cast<uint32_t>(i * 0x00010003u));
  const auto path = dir.Write("extra.wav", WaveWithExtraChunks(pcm, true) + "trailing");
  EXPECT_EQ(Sonvex_UncompressedFileSupportedIs(path.c_str()), 0u);
  const qvaudio::Decoded d = DecodeAll(path.string(), {2352});
  ASSERT_EQ(d.createStatus, 0u);
  EXPECT_EQ(d.size, pcm.size());  // the data chunk's length, not the file's
  EXPECT_EQ(std::string(d.pcm.begin(), d.pcm.end()), pcm);

  const auto noData = dir.Write("nodata.wav", WaveWithExtraChunks(pcm, false) + std::string(100, 'x'));
  PSONVEX_COMPRESSED_FILE_READER_OBJECT reader = nullptr;
  EXPECT_EQ(Sonvex_CompressedFileReaderObjectCreate(&reader, noData.c_str()), 13u);
}

}  // namespace
