// Cue sheets written by other tools, read as a burn reads them; where the
// tracks start is what cuebreakpoints and cd-info make of the same sheet.
#include <gtest/gtest.h>

#include "core/subcode_crc.h"
#include "files/cue_sheet_file.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kRaw = 2352;

// One raw file: a 10-second Mode 1 track, then audio of 8 and 6 seconds.
const char* const kToc =
    "CD_ROM\nTRACK MODE1_RAW\nDATAFILE \"disc.bin\" 00:10:00\n"
    "TRACK AUDIO\nFILE \"disc.bin\" #1764000 0 00:08:00\nSTART 00:02:00\n"
    "TRACK AUDIO\nPREGAP 00:01:00\nFILE \"disc.bin\" #3175200 0 00:06:00\n";

std::string Tool(const std::string& command) {
  std::string out;
  EXPECT_EQ(qvtest::RunCommand("(" + command + ") 2>&1", &out), 0) << command << "\n" << out;
  return out;
}

bool Read(const fs::path& cue, QuorvaneI_CueSheet* sheet, std::string* error) {
  return QuorvaneI_ReadCueSheet(cue.string(), sheet, error);
}

// The sheets toc2cue and cueconvert write for the same layout; each tool's
// quirk (cueconvert's INDEX 00 equal to INDEX 01) is read as meant.
TEST(CueSheet, ReadsWhatOtherToolsWriteWhereTheirReadersPlaceIt) {
  for (const char* tool : {"toc2cue", "cueconvert", "cuebreakpoints", "cd-info"}) QVTEST_REQUIRE_PROGRAM(tool);
  qvtest::TempDir dir;
  dir.Write("disc.bin", std::string(1800 * kRaw, '\x5A'));
  dir.Write("disc.toc", kToc);
  const std::string at = "cd '" + dir.path().string() + "' && ";
  Tool(at + "toc2cue disc.toc disc.cue && mkdir other && cueconvert -i cue -o cue disc.cue other/disc.cue && "
            "ln -s ../disc.bin other/disc.bin");
  for (const fs::path& cue : {dir / "disc.cue", dir / "other/disc.cue"}) {
    QuorvaneI_CueSheet sheet;
    std::string error;
    ASSERT_TRUE(Read(cue, &sheet, &error)) << error << "\n" << qvtest::ReadFile(cue);
    ASSERT_EQ(sheet.tracks.size(), 3u);
    // cuebreakpoints: where the pre-gap and where INDEX 01 of tracks 2 and 3 begin.
    std::string prepend, append;
    for (size_t i = 1; i < 3; ++i) {
      const QuorvaneI_CueSheetTrack& t = sheet.tracks[i];
      auto mss = [](uint64_t b) { char s[32]; std::snprintf(s, sizeof s, "%u:%02u.%02u", unsigned(b / 4500), unsigned(b / 75 % 60), unsigned(b % 75)); return std::string(s); };
      prepend += mss(t.offset / kRaw) + "\n";
      append += mss(t.offset / kRaw + t.FilePregapBlocks()) + "\n";
    }
    EXPECT_EQ(Tool("cuebreakpoints --prepend-gaps '" + cue.string() + "'"), prepend);
    EXPECT_EQ(Tool("cuebreakpoints --append-gaps '" + cue.string() + "'"), append);
    // cd-info: each track's INDEX 01 as an address in the file.
    const std::string info = Tool("cd-info --no-header --no-device-info --no-cddb --cue-file '" + cue.string() + "'");
    for (const QuorvaneI_CueSheetTrack& t : sheet.tracks) {
      char lsn[32];
      std::snprintf(lsn, sizeof lsn, "%06llu", static_cast<unsigned long long>(t.offset / kRaw + t.FilePregapBlocks()));
      EXPECT_NE(info.find(std::string(lsn) + (t.mode == QuorvaneI_CueMode::kAudio ? " audio" : " data")),
                std::string::npos) << info;
    }
    EXPECT_EQ(sheet.tracks[2].pregapBlocks, 75u);
    EXPECT_EQ(sheet.tracks[2].offset + sheet.tracks[2].bytes, 1800 * kRaw);
  }
}

// Every field of a sheet, with a WAVE file sox wrote that is no whole
// number of blocks (its last block is filled with silence), and a
// CDTEXTFILE as a recorder reads it from a disc: READ TOC header, packs,
// trailing NUL.
TEST(CueSheet, ReadsEveryFieldAndTheCdTextFile) {
  QVTEST_REQUIRE_PROGRAM("sox");
  qvtest::TempDir dir;
  Tool("sox -n -r 44100 -c 2 -b 16 '" + (dir / "song.wav").string() + "' synth 5.001 sine 440");
  dir.Write("data.iso", std::string(300 * 2048, '\0'));
  // Title packs: disc "Album", track 1 "Hi", track 2 TAB (same as track 1);
  // performer pack for the disc only.
  // The packs' CRC is CRC-16/XMODEM, whose published check value anchors it.
  ASSERT_EQ(QuorvaneI_SubcodeCrc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);
  std::string packs;
  auto pack = [&](uint8_t type, uint8_t track, const std::string& text12) {
    std::string p = std::string(1, char(type)) + char(track) + char(packs.size() / 18) + '\0' + text12;
    p.resize(16, '\0');
    const uint16_t crc = static_cast<uint16_t>(~QuorvaneI_SubcodeCrc(reinterpret_cast<const uint8_t*>(p.data()), 16));
    packs += p + char(crc >> 8) + char(crc & 0xFF);
  };
  pack(0x80, 0, std::string("Album\0Hi\0\t\0", 11));
  pack(0x81, 0, std::string("Band\0", 5));
  const uint16_t length = static_cast<uint16_t>(packs.size() + 2);
  dir.Write("text.cdt", std::string{char(length >> 8), char(length & 0xFF), 0, 0} + packs + '\0');
  dir.Write("x.cue",
            "\xEF\xBB\xBFREM written by hand\r\nCATALOG 0123456789012\r\nCDTEXTFILE text.cdt\r\nPERFORMER \"Cue Band\"\r\n"
            "FILE \"song.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"Own title\"\r\n    FLAGS DCP PRE 4CH SCMS\r\n"
            "    ISRC usabc1234567\r\n    INDEX 01 00:00:00\r\n    INDEX 02 00:03:00\r\n    POSTGAP 00:00:10\r\n"
            "FILE data.iso BINARY\r\n  TRACK 02 MODE1/2048\r\n    PREGAP 00:03:00\r\n    INDEX 01 00:00:00\r\n");
  QuorvaneI_CueSheet sheet;
  std::string error;
  ASSERT_TRUE(Read(dir / "x.cue", &sheet, &error)) << error;
  EXPECT_EQ(sheet.catalog, "0123456789012");
  EXPECT_EQ(sheet.text.title, "Album");
  EXPECT_EQ(sheet.text.performer, "Cue Band");
  ASSERT_EQ(sheet.tracks.size(), 2u);
  const QuorvaneI_CueSheetTrack& song = sheet.tracks[0];
  EXPECT_EQ(song.fileType, QuorvaneI_CueFileType::kWave);
  EXPECT_EQ(song.bytes, 220544u * 4);  // what sox wrote, after the 44-byte header
  EXPECT_EQ(song.blocks, 376u);
  EXPECT_EQ(song.indexes.back().block, 225u);
  EXPECT_EQ(song.postgapBlocks, 10u);
  EXPECT_EQ(song.isrc, "USABC1234567");
  EXPECT_TRUE(song.dcp && song.preEmphasis && song.fourChannel && song.scms);
  EXPECT_EQ(song.text.title, "Own title");
  EXPECT_EQ(sheet.tracks[1].text.title, "Hi");  // the TAB repeats track 1's text from the file
  EXPECT_EQ(sheet.tracks[1].file, (dir / "data.iso").string());
  EXPECT_EQ(sheet.tracks[1].blocks, 300u);
  EXPECT_EQ(sheet.tracks[1].pregapBlocks, 225u);

  // One flipped bit in a pack: the file is refused, naming the line.
  std::string bad = qvtest::ReadFile(dir / "text.cdt");
  bad[4 + 18 + 6] ^= 1;
  dir.Write("text.cdt", bad);
  EXPECT_FALSE(Read(dir / "x.cue", &sheet, &error));
  EXPECT_EQ(error.find((dir / "x.cue").string() + ": line 3: "), 0u) << error;
  EXPECT_NE(error.find("pack 2"), std::string::npos) << error;
}

// Sheets that cannot be honoured: the line each refusal names. (A missing
// file, a CDG track, a track past its file's end, a file of no whole number
// of blocks: CueCli.SheetsThatCannotBeRecordedAreRefusedNamingTheLine.)
TEST(CueSheet, RefusesWhatItCannotHonourNamingTheLine) {
  qvtest::TempDir dir;
  dir.Write("a.bin", std::string(900 * kRaw, '\0'));
  dir.Write("notes.txt", std::string(900 * kRaw, 'x'));
  const std::string head = "FILE a.bin BINARY\nTRACK 01 AUDIO\n";
  const struct {
    std::string sheet;
    int line;
  } cases[] = {
      {head + "INDEX 01 00:00:00\nINDEX 00 00:02:00\n", 4},  // INDEX 00 after INDEX 01
      {head + "INDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:05:00\n", 4},
      {head + "INDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:-1:00\n", 5},  // cueconvert's odd time
      {head + "INDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n", 5},  // no later than track 1
      {head + "INDEX 01 00:00:00\nPREGAP 00:02:00\n", 4},
      {head + "INDEX 01 00:00:00\nISRC US-AB-12\n", 4},
      {head + "FLAGS DCP COPY\nINDEX 01 00:00:00\n", 3},
      {head + "TITLE \"unclosed\nINDEX 01 00:00:00\n", 3},
      {head + "INDEX 01 00:02:00\n", 2},  // 150 blocks before track 1 belong to no track
      {head + "INDEX 00 00:00:00\nFILE a.bin BINARY\nINDEX 01 00:00:00\n", 5},  // a track over two files
      {"FILE a.mp3 MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1},
      {"FILE notes.txt WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1},  // no audio file
      {"FILE a.bin WAVE\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", 2},
      {"TRACK 01 AUDIO\n", 1},
      {head + "ARRANGER \"x\"\n", 3},
      {head, 2},  // no INDEX 01
      {"REM nothing\n", 2},
  };
  for (const auto& c : cases) {
    dir.Write("bad.cue", c.sheet);
    QuorvaneI_CueSheet sheet;
    std::string error;
    EXPECT_FALSE(Read(dir / "bad.cue", &sheet, &error)) << c.sheet;
    EXPECT_EQ(error.find("bad.cue: line " + std::to_string(c.line) + ": "), (dir / "").string().size())
        << c.sheet << "\n" << error;
  }
}

}  // namespace
