// Conversions and the writer, judged by outside tools where there are some
// (sox reads our wave files, ogginfo checks our Ogg Vorbis files).

#include "audio_support.h"

namespace {

using qvaudio::DecodeAll;
using qvaudio::Fixture;
namespace fs = std::filesystem;

struct Progress {
  std::vector<uint32_t> percents;
  uint32_t stopAt = 1000;  // stop once this percent is reached
};

QV_ULONG QUORVANE_CALL OnProgress(QV_ULONG reason, QV_ULONG percent, void* context) {
  auto* p = static_cast<Progress*>(context);
  EXPECT_EQ(reason, SONVEX_CALLBACK_PROGRESS);
  p->percents.push_back(percent);
  return percent >= p->stopAt ? 1 : 0;
}

// The file-to-file calls with the arguments most cases leave alone.
QV_ULONG Uncompress(const std::string& from, const fs::path& to, QV_ULONG piece = 4096, QV_BOOLEAN header = 1,
                    QV_ULONG* size = nullptr, Progress* progress = nullptr) {
  return Sonvex_CompressedFileUncompress(from.c_str(), to.string().c_str(), piece, header, size,
                                         progress ? &OnProgress : nullptr, progress);
}
QV_ULONG Compress(const std::string& from, const fs::path& to, SONVEX_COMPRESSION compression,
                  QV_ULONG piece = 4096, Progress* progress = nullptr) {
  return Sonvex_UncompressedFileCompress(from.c_str(), to.string().c_str(), piece, progress ? &OnProgress : nullptr,
                                         progress, compression);
}

// Files in dir other than the ones named.
std::vector<std::string> Leftovers(const fs::path& dir, std::vector<std::string> expected) {
  std::vector<std::string> extra;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (std::find(expected.begin(), expected.end(), name) == expected.end()) extra.push_back(name);
  }
  return extra;
}

// (Each format to a wave file: audio_cli, judged by soxi.) Bare PCM
// without the header; an empty stream makes a bare header and calls back
// for no piece; progress is called once a piece, rising to 100.
TEST(Uncompress, BarePcmAndEmptyStreams) {
  qvtest::TempDir dir;
  const auto wav = qvaudio::Bytes(Fixture("tone-cd.wav"));
  SONVEX_WAVE_FILE_HEADER empty;
  ASSERT_EQ(Sonvex_WaveFileHeaderFormat(&empty, 0), 0u);
  const auto* header = reinterpret_cast<const uint8_t*>(&empty);
  const struct {
    std::string source;
    QV_BOOLEAN header;
    std::vector<uint8_t> expected;
  } cases[] = {
      {Fixture("tone.flac"), 0, {wav.begin() + 44, wav.end()}},
      {dir.Write("empty.raw", std::string(44, '\0')).string(), 1, {header, header + 44}},
  };
  for (const auto& c : cases) {
    const fs::path out = dir / "out.bin";
    Progress progress;
    QV_ULONG size = 1;
    ASSERT_EQ(Uncompress(c.source, out, 4096, c.header, &size, &progress), 0u) << c.source;
    EXPECT_EQ(size + (c.header ? 44u : 0u), c.expected.size()) << c.source;
    EXPECT_TRUE(qvaudio::Bytes(out.string()) == c.expected) << c.source;
    EXPECT_EQ(progress.percents.size(), (size + 4095) / 4096) << c.source;
    if (size > 0) {
      EXPECT_TRUE(std::is_sorted(progress.percents.begin(), progress.percents.end()));
      EXPECT_EQ(progress.percents.back(), 100u);
    }
  }
}

// A conversion that fails half-way leaves an existing destination as it
// was. (Stopped by its callback: CliOutput.SignalsKeepAnEarlierFileAndLeaveNoPart.)
TEST(Uncompress, FailuresLeaveTheDestinationAsItWas) {
  qvtest::TempDir dir;
  const std::string flac = qvtest::ReadFile(Fixture("tone.flac"));
  const fs::path cut = dir.Write("cut.flac", flac.substr(0, flac.size() / 2)), out = dir.Write("keep.wav", "precious");
  EXPECT_EQ(Uncompress(cut.string(), out), 13u);
  EXPECT_EQ(qvtest::ReadFile(out), "precious");
  EXPECT_TRUE(Leftovers(dir.path(), {"cut.flac", "keep.wav"}).empty());
}

TEST(Uncompress, RefusesToWriteOverItsSourceAndBadArguments) {
  qvtest::TempDir dir;
  const fs::path source = dir / "a.wav";
  fs::copy_file(Fixture("tone-cd.wav"), source);
  const std::string before = qvtest::ReadFile(source);
  EXPECT_EQ(Uncompress(source.string(), source), 87u);
  EXPECT_EQ(Uncompress(source.string(), dir / "." / "a.wav"), 87u);
  EXPECT_EQ(qvtest::ReadFile(source), before);
  EXPECT_EQ(Uncompress(source.string(), dir / "b.wav", 0), 87u) << "pieces of no bytes";
  EXPECT_EQ(Sonvex_CompressedFileUncompress(source.c_str(), nullptr, 4096, 1, nullptr, nullptr, nullptr), 87u);
  EXPECT_EQ(Uncompress(source.string(), dir / "no/such/folder.wav"), 2u);
  EXPECT_TRUE(Leftovers(dir.path(), {"a.wav"}).empty());
}

// Ogg Vorbis written by us must be accepted by ogginfo and decode back to
// the same number of samples with the tones where they were.
TEST(Compress, WaveToOggVorbisThatOutsideToolsAccept) {
  QVTEST_REQUIRE_PROGRAM("ogginfo");
  qvtest::TempDir dir;
  const fs::path out = dir / "tone.ogg";
  Progress progress;
  ASSERT_EQ(Compress(Fixture("tone-cd.wav"), out, SONVEX_COMPRESSION_OGG_VORBIS_Q3, 5000, &progress), 0u);
  EXPECT_EQ(progress.percents.back(), 100u);
  std::string info;
  ASSERT_EQ(qvtest::RunCommand("ogginfo '" + out.string() + "' 2>&1", &info), 0) << info;
  EXPECT_NE(info.find("Channels: 2"), std::string::npos) << info;
  EXPECT_NE(info.find("Rate: 44100"), std::string::npos) << info;
  EXPECT_NE(info.find("0m:00.500s"), std::string::npos) << info;  // 22050 samples
  const qvaudio::Decoded d = DecodeAll(out.string());
  ASSERT_EQ(d.createStatus, 0u);
  EXPECT_EQ(d.size, 88200u);
  qvaudio::ExpectChannelsApart(d.pcm, "");
  EXPECT_TRUE(Leftovers(dir.path(), {"tone.ogg"}).empty());
}

TEST(Compress, QualityLevelsSelectTheBitRate) {
  qvtest::TempDir dir;
  uintmax_t previous = 0;
  for (SONVEX_COMPRESSION q : {SONVEX_COMPRESSION_OGG_VORBIS_Q0, SONVEX_COMPRESSION_OGG_VORBIS_Q10}) {
    ASSERT_EQ(Compress(Fixture("tone-cd.wav"), dir / "q.ogg", q, 65536), 0u);
    EXPECT_GT(fs::file_size(dir / "q.ogg"), previous) << "quality " << q;
    previous = fs::file_size(dir / "q.ogg");
  }
}

// Refusals leave no file: a quality out of range, a source that is not
// uncompressed CD audio, a missing encoder library.
TEST(Compress, RefusalsLeaveNoFile) {
  qvtest::TempDir dir;
  const struct {
    const char* source;
    int quality;
    uint32_t status;
  } cases[] = {{"tone-cd.wav", -1, 87}, {"tone-cd.wav", 11, 87},
               {"tone.ogg", SONVEX_COMPRESSION_DEFAULT, 87}, {"tone-48k.wav", SONVEX_COMPRESSION_DEFAULT, 87}};
  for (const auto& c : cases)
    EXPECT_EQ(Compress(Fixture(c.source), dir / "x.ogg", static_cast<SONVEX_COMPRESSION>(c.quality)), c.status)
        << c.source << " " << c.quality;
  qvaudio::ScopedEnv missing("QUORVANE_LIB_VORBISENC", "/nonexistent/libvorbisenc.so.2");
  EXPECT_EQ(Compress(Fixture("tone-cd.wav"), dir / "x.ogg", SONVEX_COMPRESSION_DEFAULT), 126u);
  PSONVEX_COMPRESSED_FILE_WRITER_OBJECT writer = nullptr;
  EXPECT_EQ(Sonvex_CompressedFileWriterObjectCreate(&writer, (dir / "y.ogg").c_str(), SONVEX_COMPRESSION_DEFAULT), 126u);
  EXPECT_EQ(writer, nullptr);
  EXPECT_TRUE(Leftovers(dir.path(), {}).empty());
}

TEST(Recompress, Mp3ToOggKeepsLengthAndChannels) {
  qvtest::TempDir dir;
  const fs::path out = dir / "re.ogg";
  uint32_t size = 0;
  Progress progress;
  ASSERT_EQ(Sonvex_CompressedFileRecompress(Fixture("tone-48k.mp3").c_str(), out.c_str(), 30000, &size, &OnProgress,
                                            &progress, SONVEX_COMPRESSION_OGG_VORBIS_Q4),
            0u);
  const qvaudio::Decoded d = DecodeAll(out.string());
  ASSERT_EQ(d.createStatus, 0u);
  EXPECT_EQ(d.size, size);
  qvaudio::ExpectChannelsApart(d.pcm, "");
  progress = {};
  progress.stopAt = 50;
  EXPECT_EQ(Sonvex_CompressedFileRecompress(Fixture("tone.flac").c_str(), (dir / "stop.ogg").c_str(), 30000, nullptr,
                                            &OnProgress, &progress, SONVEX_COMPRESSION_DEFAULT),
            1223u);
  EXPECT_TRUE(Leftovers(dir.path(), {"re.ogg"}).empty());
}

TEST(Writer, PiecesOfAnySizeMakeTheSameStream) {
  // The encoder sees the same samples however the PCM is cut, so the
  // decoded streams are identical.
  qvtest::TempDir dir;
  const auto wav = qvaudio::Bytes(Fixture("tone-cd.wav"));
  std::vector<std::vector<uint8_t>> decoded;
  for (size_t piece : {size_t{88200}, size_t{3}}) {
    const fs::path out = dir / ("p" + std::to_string(piece) + ".ogg");
    PSONVEX_COMPRESSED_FILE_WRITER_OBJECT writer = nullptr;
    ASSERT_EQ(Sonvex_CompressedFileWriterObjectCreate(&writer, out.c_str(), SONVEX_COMPRESSION_OGG_VORBIS_Q2), 0u);
    for (size_t at = 44; at < wav.size(); at += piece) {
      const size_t n = std::min(piece, wav.size() - at);
      ASSERT_EQ(Sonvex_CompressedFileWriterObjectWrite(writer, wav.data() + at, static_cast<uint32_t>(n)), 0u);
    }
    ASSERT_EQ(Sonvex_CompressedFileWriterObjectDestroy(&writer), 0u);
    EXPECT_EQ(writer, nullptr);
    const qvaudio::Decoded d = DecodeAll(out.string());
    ASSERT_EQ(d.createStatus, 0u);
    EXPECT_EQ(d.size, 88200u);
    decoded.push_back(d.pcm);
  }
  EXPECT_TRUE(decoded[0] == decoded[1]);
}

}  // namespace
