// Audio sources and the audio questions, against the audio library's
// fixtures.
#include <cstring>
#include <filesystem>

#include "files/file.h"
#include "files_support.h"

namespace {

using qvtest::CatchEngine;
using qvtest::ReadChain;

std::string Fixture(const std::string& name) {
  return (std::filesystem::path(qvtest::SourceDir()) / "tests/audio/fixtures" / name).string();
}

std::string Header() { return qvtest::ReadFile(Fixture("tone-cd.wav")).substr(0, 44); }

// The library's own check covers each PCM field (its tests break each); a
// wave source adds that the samples start right behind the 44 bytes.
TEST(WaveHeader, TheLibrarysCheckAndSamplesBehindTheHeader) {
  struct Case {
    const char* name;
    size_t at;
    std::string bytes;
    bool accepted;
  };
  const Case cases[] = {
      {"RIFF size is not checked", 4, std::string("\x01\x02\x03\x04", 4), true},
      {"data size is not checked", 40, std::string("\xFF\xFF\xFF\x7F", 4), true},
      {"format chunk of 18 bytes", 16, std::string("\x12\0\0\0", 4), false},
      {"LIST before data", 36, "LIST", false},
  };
  for (const auto& c : cases) {
    std::string h = Header();
    h.replace(c.at, c.bytes.size(), c.bytes);
    EXPECT_EQ(Quorvane_CheckWaveFileHeader(reinterpret_cast<const QV_UCHAR*>(h.data())), c.accepted ? 1 : 0)
        << c.name;
  }
  EXPECT_EQ(Quorvane_CheckWaveFileHeader(nullptr), 0);
}

// A source over the audio library, padded to four seconds (what a burnt
// track holds: BurnCli.AudioTracksHoldTheDecodedSamples), with a rewind
// that starts the decoder over; a raw image is read as it is.
TEST(SonvexFile, PadsToFourSecondsAndRewinds) {
  qvtest::TempDir dir;
  qvtest::LogCapture log;
  CQuorvane_SonvexFile source(Fixture("tone.ogg").c_str());
  EXPECT_EQ(log.Count("File size patched, old size in UCHAR(s): 176400, New size in UCHAR(s): 705600"), 1u);
  CQuorvane_SonvexFile raw(dir.Write("short.bin", "abc").c_str());
  CQuorvane_FileChain chain;
  chain.AddChainTail(&source);
  chain.AddChainTail(&raw);
  chain.SeekToBegin();
  const std::string first = ReadChain(chain, 2352 * 7);
  EXPECT_EQ(first.substr(705600), "abc" + std::string(705597, '\0'));
  chain.SeekToBegin();
  EXPECT_EQ(ReadChain(chain, 65536), first);
}

TEST(SonvexFile, FailuresCarryTheLibrarysStatus) {
  qvtest::TempDir dir;
  const auto text = dir.Write("notes.txt", "not audio at all");
  auto e = CatchEngine([&] { CQuorvane_SonvexFile f(text.c_str()); });
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 50u);
  EXPECT_NE(std::string(e->Text()).find("Sonvex_CompressedFileReaderObjectCreate("), std::string::npos) << e->Text();
  e = CatchEngine([&] { CQuorvane_SonvexFile f((dir / "missing.ogg").c_str()); });
  EXPECT_EQ(e->SystemError(), 2u);
}

TEST(AudioQuestions, OnlyTheExtensionMakesARawImage) {
  qvtest::TempDir dir;
  const std::string noise(5000, 'n');
  struct Case {
    std::string path;
    uint32_t supported;
    uint32_t sizeResult;
    QV_ULONG size;
    QV_ULONG status;
    const char* logged;
  };
  const Case cases[] = {
      {Fixture("tone-cd.wav"), 0, 0, 88200, 0, "recognized as supported uncompressed"},
      {Fixture("tone.ogg"), 0, 0, 176400, 0, "recognized as supported compressed"},
      {dir.Write("image.bin", noise).string(), 0, 0, 5000, 0, ".BIN extension detected"},
      {dir.Write("IMAGE.BIN", noise).string(), 0, 0, 5000, 0, ".BIN extension detected"},
      {dir.Write("node_modules/.bin/tool", noise).string(), 22, 22, 0, 50, "unrecognized as supported compressed"},
      {dir.Write("a.binary", noise).string(), 22, 22, 0, 50, "unrecognized as supported compressed"},
      {dir.Write("take.raw", noise).string(), 0, 0, 5000 - 44, 0, "recognized as supported uncompressed"},
      {(dir / "missing.bin").string(), 0, 5, 0, 2, ".BIN extension detected"},
  };
  for (const auto& c : cases) {
    qvtest::LogCapture log;
    EXPECT_EQ(Quorvane_IsAudioFileSupported(c.path.c_str()), c.supported) << c.path;
    const std::string logged = c.supported ? "failure, " : "success, ";
    EXPECT_EQ(log.Count("Quorvane:Quorvane_IsAudioFileSupported(): EXITing with " + logged + c.logged), 1u) << c.path;
    QV_ULONG size = 0xDEAD, status = 0xBEEF;
    EXPECT_EQ(Quorvane_GetAudioFileStreamSizeInUCHARs(c.path.c_str(), &size, &status), c.sizeResult) << c.path;
    EXPECT_EQ(status, c.status) << c.path;
    if (c.sizeResult == 0) {
      EXPECT_EQ(size, c.size) << c.path;
    }
  }
  EXPECT_EQ(Quorvane_IsAudioFileSupported(nullptr), 22u);
  EXPECT_EQ(Quorvane_GetAudioFileStreamSizeInUCHARs(nullptr, nullptr, nullptr), 22u);
}

}  // namespace
