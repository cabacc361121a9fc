// burn --audio --sao and --raw with CD-Text from tags and options, judged
// by cd-info, cdrdao and cdrskin on the drive's export, and the raw Q by
// the Red Book's rules; grab --disc --raw burnt back with burn --mds onto a
// second CD-R, both discs read back raw and compared, R-W graphics
// included; and the refusals that must leave a blank disc blank.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "support/cli_fixture.h"
#include "support/q_crc.h"

namespace {

// A Q field's BCD digits.
std::string Nibbles(const uint8_t* at, int count) {
  std::string digits;
  for (int i = 0; i < count; ++i) digits += static_cast<char>('0' + (at[i / 2] >> (i % 2 ? 0 : 4) & 0x0F));
  return digits;
}

class RawCli : public qvtest::CliTest {
 protected:
  // Run in the home, so that relative names land there.
  int Run(const std::string& args) {
    return qvtest::RunCommand("cd " + At("") + " && " + qvtest::QuorvaneCommand() + " " + args + " 2>&1", &out);
  }
  // Three tracks: two FLAC files tagged as two tools tag them, one bare wave file.
  std::string MakeAlbum() {
    const char* make[] = {
        "sox -n -r 44100 -c 2 -b 16 t1.flac synth 5 sine 300 && metaflac --set-tag=TITLE=Alpha --set-tag=ARTIST=Ann t1.flac",
        "sox -n -r 44100 -c 2 -b 16 t2.flac synth 4.5 sine 400 && metaflac --set-tag=TITLE=Beta --set-tag=ARTIST=Bob t2.flac",
        "sox -n -r 44100 -c 2 -b 16 t3.wav synth 6 sine 500"};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(InHome(make[i], &out), 0) << out;
      const std::string source = i < 2 ? "t" + std::to_string(i + 1) + ".flac" : "t3.wav";
      EXPECT_EQ(InHome("sox " + source + " -t raw t" + std::to_string(i + 1) + ".raw", &out), 0) << out;
    }
    return " t1.flac t2.flac t3.wav";
  }
};

// The same album and options burnt session at once (after one-second
// pauses) and raw (after two-second ones): CD-Text from tags and options,
// the catalogue number, an ISRC and an index 2, read by the drive, cd-info,
// cdrdao and cdrskin; each track's samples the file's, then zeros.
TEST_F(RawCli, AudioWithCdTextFromTagsAndOptions) {
  for (const char* tool : {"sox", "metaflac", "cd-info", "cdrdao", "cdrskin"}) QVTEST_REQUIRE_PROGRAM(tool);
  const std::string files = MakeAlbum();
  for (const auto& [mode, pause] : {std::pair{"sao", size_t{75}}, std::pair{"raw", size_t{150}}}) {
    SCOPED_TRACE(mode);
    const std::string drive = mode, flags = mode == std::string("raw") ? " --raw" : " --sao --gap 1";
    ASSERT_EQ(Run("vdrive create " + drive + " --media cd-r"), 0) << out;
    ASSERT_EQ(Run("--json burn --drive " + drive + " --audio --cd-text --title 'Raw Album' --performer 'The Band' "
                  "--track-title 3=Gamma --track-performer 2=Bea --index 1=00:01:00 --isrc 2=USABC9900002 "
                  "--catalog 4006381333931" + flags + files), 0) << out;
    EXPECT_TRUE(Json().value(pause == 75 ? "sessionAtOnce" : "raw", false) && Json().value("cdText", false)) << out;
    // The drive's own decoding of the lead-in, read through the engine...
    const auto text = Disc(drive)["cdText"];
    EXPECT_EQ(text.value("title", "") + "/" + text.value("performer", ""), "Raw Album/The Band") << out;
    const std::pair<const char*, const char*> tracks[] = {{"Alpha", "Ann"}, {"Beta", "Bea"}, {"Gamma", ""}};
    ASSERT_EQ(text["tracks"].size(), 3u) << text.dump();
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(text["tracks"][i].value("title", ""), tracks[i].first);
      EXPECT_EQ(text["tracks"][i].value("performer", ""), tracks[i].second);
    }
    // ...and by libcdio, cdrdao and cdrskin from the export. cdrskin reads
    // the CD-Text file: the strings run on from pack to pack, so each
    // lands on its own track.
    ASSERT_EQ(Run("vdrive export " + drive + " --out disc.bin --cue disc.cue"), 0) << out;
    const std::string info = CdInfo("disc.cue");
    for (const char* want : {"Raw Album", "The Band", "Alpha", "Ann", "Bea", "Gamma", "MCN): 4006381333931"})
      EXPECT_NE(info.find(want), std::string::npos) << want << " in\n" << info;
    std::string toc, v07t;
    ASSERT_EQ(InHome("cdrdao show-toc disc.cue", &toc), 0) << toc;
    const std::string pregap = pause == 75 ? "PREGAP 00:01:00(    75)" : "PREGAP 00:02:00(   150)";
    for (const std::string& line : {std::string("CATALOG NUMBER: 4006381333931"), std::string("ISRC US ABC 99 00002"),
                                    std::string("INDEX  2 00:01:00(    75)"), pregap})
      EXPECT_NE(toc.find(line), std::string::npos) << line << " in\n" << toc;
    ASSERT_EQ(qvtest::RunCommand("cdrskin textfile_to_v07t=" + At("disc.cdt") + " 2>&1", &v07t), 0) << v07t;
    for (const char* want : {"Album Title         = Raw Album", "Artist Name         = The Band",
                             "Track 01 Title      = Alpha", "Track 02 Artist     = Bea", "Track 03 Title      = Gamma"})
      EXPECT_NE(v07t.find(want), std::string::npos) << v07t;
    const size_t frames[] = {375, 338, 450};
    const std::string bin = File("disc.bin");
    for (size_t i = 0, start = 0; i < 3; start += frames[i++] + pause) {
      SCOPED_TRACE(i + 1);
      EXPECT_NE(info.find(qvtest::CdInfoAudioRow(int(i) + 1, start)), std::string::npos) << info;
      const std::string raw = File("t" + std::to_string(i + 1) + ".raw");
      ASSERT_GE(bin.size(), (start + frames[i]) * 2352);
      const std::string track = bin.substr(start * 2352, frames[i] * 2352);
      EXPECT_TRUE(track.compare(0, raw.size(), raw) == 0);
      EXPECT_EQ(track.find_first_not_of('\0', raw.size()), std::string::npos);
    }
  }
  // The raw burn's program area Q, grabbed back raw from index 1 of each
  // track, by the Red Book's rules for modes 1, 2 and 3 rather than the
  // engine's reader.
  ASSERT_EQ(Run("grab --drive raw --disc --raw --out G"), 0) << out;
  const std::string image = File("G.xmf");
  const size_t frames[] = {375, 338, 450};
  ASSERT_EQ(image.size(), (375u + 338 + 450) * 2448);
  size_t track = 0, trackStart = 0, lastCatalogue = 0, isrcs = 0;
  for (size_t n = 0; n < image.size() / 2448; ++n) {
    SCOPED_TRACE(n);
    if (n == trackStart + frames[track]) trackStart = lastCatalogue = n, ++track;
    uint8_t q[12] = {};
    for (int i = 0; i < 96; ++i)
      if (image[n * 2448 + 2352 + i] & 0x40) q[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    ASSERT_EQ(q[10] << 8 | q[11], qvtest::QCrc(q));
    if ((q[0] & 0x0F) == 2) {
      EXPECT_EQ(Nibbles(q + 1, 13), "4006381333931");
      lastCatalogue = n;
    } else if ((q[0] & 0x0F) == 3) {
      // Five 6-bit characters (A = 11h), then seven BCD digits.
      const uint32_t bits = uint32_t{q[1]} << 24 | q[2] << 16 | q[3] << 8 | q[4];
      std::string isrc;
      for (int i = 0; i < 5; ++i) {
        const uint32_t c = bits >> (26 - 6 * i) & 0x3F;
        isrc += static_cast<char>(c < 10 ? '0' + c : 'A' + c - 0x11);
      }
      EXPECT_EQ(isrc + Nibbles(q + 5, 7), "USABC9900002");
      EXPECT_EQ(track, 1u) << "only track 2 has one";
      ++isrcs;
    } else {
      EXPECT_EQ(q[0] & 0x0F, 1);
    }
    // The catalogue number in at least one of every hundred successive frames of a track.
    EXPECT_LE(n - lastCatalogue, 100u);
  }
  EXPECT_GT(isrcs, 0u);
  // Burnt back with burn --mds: the copy grabs the same, sector and
  // subchannel alike, with the same CD-Text.
  ASSERT_EQ(Run("vdrive create copy --media cd-r"), 0) << out;
  ASSERT_EQ(Run("--json burn --drive copy --mds G.mds"), 0) << out;
  EXPECT_EQ(Json().value("mds", ""), "G.mds") << out;
  ASSERT_EQ(Run("grab --drive copy --disc --raw --out C"), 0) << out;
  EXPECT_TRUE(File("C.xmf") == image) << "the discs' sectors or subchannels differ";
  EXPECT_EQ(Disc("copy")["cdText"], Disc("raw")["cdText"]);
}

// A mixed-mode CD (a Mode 1 data track, then two audio tracks after
// pauses) grabbed raw, with graphics written into the R-W of every sector,
// and burnt back: cdrdao and cd-info read each track's kind from the
// copy's export, and the copy grabbed again is the image, main data and
// all of P-W (the image holds the tracks from index 1; burn --mds makes
// the pauses).
TEST_F(RawCli, MixedModeRoundTripKeepsEachTracksKindAndSubchannel) {
  for (const char* tool : {"cd-info", "cdrdao"}) QVTEST_REQUIRE_PROGRAM(tool);
  ASSERT_EQ(Run("vdrive create a --media cd-r"), 0) << out;
  ASSERT_EQ(Run("vdrive insert a --disc " + qvtest::SourceDir() + "/vdrive/discs/mixed-mode-cd.json"), 0) << out;
  ASSERT_EQ(Run("vdrive create b --media cd-r"), 0) << out;
  ASSERT_EQ(Run("grab --drive a --disc --raw --out A"), 0) << out;
  std::string image = File("A.xmf");
  ASSERT_EQ(image.size(), 8250u * 2448);
  // Six R-W bits under P and Q that tell sector and byte apart, never all zero.
  for (size_t n = 0; n < 8250; ++n)
    for (size_t i = 0; i < 96; ++i) {
      char& b = image[n * 2448 + 2352 + i];
      b = char((b & 0xC0) | ((n * 5 + i * 3) % 63 + 1));
    }
  home.Write("A.xmf", image);
  ASSERT_EQ(Run("burn --drive b --mds A.mds"), 0) << out;
  ASSERT_EQ(Run("vdrive export b --out b.bin --cue b.cue"), 0) << out;
  std::string toc;
  ASSERT_EQ(InHome("cdrdao show-toc b.cue", &toc), 0) << toc;
  const std::string info = CdInfo("b.cue");
  // Track starts: 6000 data blocks, 1500 audio, each audio track after 150.
  const std::pair<const char*, std::string> tracks[] = {
      {"TRACK  1  Mode MODE1_RAW", "  1: 00:02:00  000000 data"},
      {"TRACK  2  Mode AUDIO", qvtest::CdInfoAudioRow(2, 6150)},
      {"TRACK  3  Mode AUDIO", qvtest::CdInfoAudioRow(3, 7800)},
      {"", "170: 01:56:00  008550 leadout"}};
  for (const auto& [cdrdao, cdInfo] : tracks) {
    EXPECT_NE(toc.find(cdrdao), std::string::npos) << cdrdao << " in\n" << toc;
    EXPECT_NE(info.find(cdInfo), std::string::npos) << cdInfo << " in\n" << info;
  }
  ASSERT_EQ(Run("grab --drive b --disc --raw --out B"), 0) << out;
  const std::string back = File("B.xmf");
  ASSERT_EQ(back.size(), image.size());
  const size_t differ = std::mismatch(image.begin(), image.end(), back.begin()).first - image.begin();
  EXPECT_EQ(differ, image.size()) << "sector " << differ / 2448 << " byte " << differ % 2448;
}

// Each refusal comes before anything is written: the disc stays blank.
TEST_F(RawCli, RefusalsLeaveTheDiscBlank) {
  for (const char* tool : {"sox", "metaflac"}) QVTEST_REQUIRE_PROGRAM(tool);
  const std::string files = MakeAlbum();
  ASSERT_EQ(Run("vdrive create a --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive a --audio --raw" + files), 0) << out;
  ASSERT_EQ(Run("grab --drive a --disc --raw --out A"), 0) << out;
  // The same description naming its image one folder up.
  std::string mds = File("A.mds");
  const size_t name = mds.rfind("A.xmf");
  ASSERT_NE(name, std::string::npos);
  home.Write("up.mds", mds.substr(0, name) + "../A.xmf" + std::string(1, '\0'));
  ASSERT_EQ(Run("vdrive create blank --media cd-r"), 0) << out;
  home.Write("small.json", R"({"media": "cd-r", "capacity": 1000})");
  ASSERT_EQ(Run("vdrive create small --media cd-r"), 0) << out;
  ASSERT_EQ(Run("vdrive insert small --disc small.json"), 0) << out;
  // Raw writing starts at the lead-in of a blank disc: a second session
  // cannot be written so.
  ASSERT_EQ(Run("vdrive create two --media cd-rom"), 0) << out;
  ASSERT_EQ(Run("vdrive insert two --disc " + qvtest::SourceDir() + "/vdrive/discs/multisession-cd.json"), 0) << out;
  ASSERT_EQ(Run("grab --drive two --disc --out M"), 0) << out;
  const std::string title161(161, 'x');
  const struct {
    const char* drive;
    std::string args;
  } cases[] = {
      {"blank", "--mds up.mds"},
      {"blank", "--mds M.mds"},
      {"small", "--mds A.mds"},
      {"small", "--audio --raw" + files},
      {"blank", "--audio --raw --track-title 4=Delta" + files},
      {"blank", "--audio --raw --track-performer Bob" + files},
      {"blank", "--audio --raw --title " + title161 + files},
      {"blank", "--audio --raw --title 'Ünïcödé ☃'" + files},
      {"blank", "--audio --cd-text" + files},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const int rc = Run("burn --drive " + std::string(c.drive) + " " + c.args);
    // Too big for the disc, and two sessions, are told as everywhere else.
    EXPECT_TRUE(std::string(c.drive) == "small" || c.args == "--mds M.mds" ? rc == 7 : rc != 0) << out;
    EXPECT_EQ(Disc(c.drive)["status"], "blank") << out;
  }
}

}  // namespace
