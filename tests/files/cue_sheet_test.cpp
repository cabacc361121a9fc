// Cue sheets read as a burn reads them: what burnt discs cannot show, and
// the line each refusal names. (Sheets of toc2cue and cueconvert: CueCli.)
#include <gtest/gtest.h>

#include "core/subcode_crc.h"
#include "files/cue_sheet_file.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kRaw = 2352;

bool Read(const fs::path& cue, QuorvaneI_CueSheet* sheet, std::string* error) {
  return QuorvaneI_ReadCueSheet(cue.string(), sheet, error);
}

// What burnt sheets do not show (CueCli has catalogue, texts, indexes,
// pregaps and DCP through cd-info): a byte order mark and CRLF lines, the
// other flags, POSTGAP, a lower-case ISRC, a WAVE file sox wrote that is no
// whole number of blocks (its last block filled with silence), and a
// CDTEXTFILE as a recorder reads it from a disc (READ TOC header, packs,
// trailing NUL) whose TAB repeats the previous track's text.
TEST(CueSheet, ReadsWhatBurntSheetsDoNotShow) {
  QVTEST_REQUIRE_PROGRAM("sox");
  qvtest::TempDir dir;
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("sox -n -r 44100 -c 2 -b 16 '" + (dir / "song.wav").string() + "' synth 5.001 sine 440", &out), 0);
  dir.Write("data.iso", std::string(300 * 2048, '\0'));
  // The packs' CRC is CRC-16/XMODEM, whose published check value anchors it.
  ASSERT_EQ(QuorvaneI_SubcodeCrc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x31C3);
  std::string packs = std::string("\x80\0\0\0", 4) + std::string("Album\0Hi\0\t\0\0", 12);
  const uint16_t crc = static_cast<uint16_t>(~QuorvaneI_SubcodeCrc(reinterpret_cast<const uint8_t*>(packs.data()), 16));
  packs += std::string{char(crc >> 8), char(crc & 0xFF)};
  dir.Write("text.cdt", std::string{0, 20, 0, 0} + packs + '\0');
  dir.Write("x.cue",
            "\xEF\xBB\xBFREM written by hand\r\nCDTEXTFILE text.cdt\r\nFILE \"song.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n"
            "    TITLE \"Own title\"\r\n    FLAGS DCP PRE 4CH SCMS\r\n    ISRC usabc1234567\r\n    INDEX 01 00:00:00\r\n"
            "    POSTGAP 00:00:10\r\nFILE data.iso BINARY\r\n  TRACK 02 MODE1/2048\r\n    INDEX 01 00:00:00\r\n");
  QuorvaneI_CueSheet sheet;
  std::string error;
  ASSERT_TRUE(Read(dir / "x.cue", &sheet, &error)) << error;
  ASSERT_EQ(sheet.tracks.size(), 2u);
  const QuorvaneI_CueSheetTrack& song = sheet.tracks[0];
  EXPECT_EQ(song.bytes, 220544u * 4);  // what sox wrote, after the 44-byte header
  EXPECT_EQ(song.blocks, 376u);
  EXPECT_EQ(song.postgapBlocks, 10u);
  EXPECT_EQ(song.isrc, "USABC1234567");
  EXPECT_TRUE(song.dcp && song.preEmphasis && song.fourChannel && song.scms);
  EXPECT_EQ(song.text.title, "Own title");
  EXPECT_EQ(sheet.text.title, "Album");
  EXPECT_EQ(sheet.tracks[1].text.title, "Hi");

  // One flipped bit in a pack: the file is refused, naming the line.
  std::string bad = qvtest::ReadFile(dir / "text.cdt");
  bad[4 + 6] ^= 1;
  dir.Write("text.cdt", bad);
  EXPECT_FALSE(Read(dir / "x.cue", &sheet, &error));
  EXPECT_EQ(error.find((dir / "x.cue").string() + ": line 2: "), 0u) << error;
  EXPECT_NE(error.find("pack 1"), std::string::npos) << error;
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
