// The quorvane command's burn, erase, format and vdrive export against
// virtual drives, checked with outside tools.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "support/cli_fixture.h"
#include "vdrive/qvdrive.h"

namespace {

class BurnCli : public qvtest::CliTest {
 protected:
  // The files an image holds, by the names of one of its trees (Joliet,
  // or the plain ISO9660 tree), with their bytes.
  std::map<std::string, std::string> Files(const std::string& image, bool plain) {
    const auto dir = home.path() / ("x-" + image + (plain ? "-iso" : "-joliet"));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string text;
    EXPECT_EQ(qvtest::RunCommand(std::string("bsdtar ") + (plain ? "--options '!joliet,!rockridge' " : "") + "-xf " +
                                     At(image) + " -C '" + dir.string() + "'", &text), 0) << text;
    return Tree(dir);
  }
  // The last track's volume on a drive's disc, extracted by xorriso.
  // (An open DVD+R also lists the empty track it is written in next.)
  std::filesystem::path LastSession(const std::string& drive) {
    const auto disc = Disc(drive);
    int start = 0;
    for (const auto& t : disc["tracks"])
      if (!disc["free"].contains("nextWritableAddress") || t["start"] < disc["free"]["nextWritableAddress"])
        start = t["start"];
    EXPECT_EQ(Run("vdrive export " + drive + " --out " + At("last.iso")), 0) << out;
    EXPECT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("last.iso") + " -load sbsector " +
                                     std::to_string(start) + " -osirrox on -extract / " + At("last") + " 2>&1", &out),
              0) << out;
    return home.path() / "last";
  }
  // A multisession burn held by a rule until Ctrl-C.
  int Interrupted(const std::string& drive, const std::string& rule, const std::string& folder) {
    return Held(drive, rule, {"burn", "--drive", drive, "--multisession", (home.path() / folder).string()},
                [](pid_t child) { kill(child, SIGINT); });
  }
};

// Names whose ISO9660 forms clash get fresh ones in both trees, as image
// iso gives them, and each rename is told. (The burn on every medium is
// EachSessionShowsTheEarlierFiles'.)
TEST_F(BurnCli, ClashingNamesAreRenamedAndTold) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  const std::map<std::string, std::string> sources = {{"Case.txt", "upper\n"}, {"case.txt", "lower\n"},
                                                      {"report-2023-01.pdf", "january\n"},
                                                      {"report-2023-02.pdf", "february\n"}};
  for (const auto& [name, bytes] : sources) home.Write("src/" + name, bytes);
  ASSERT_EQ(Run("image iso --out " + At("ref.iso") + " " + At("src")), 0) << out;
  ASSERT_EQ(Run("vdrive create d --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive d " + At("src")), 0) << out;
  EXPECT_NE(out.find("src/case.txt is named CASE_1.TXT"), std::string::npos) << out;
  EXPECT_NE(out.find("src/report-2023-02.pdf is named"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive export d --out " + At("disc.iso")), 0) << out;
  for (bool plain : {false, true}) {
    const auto files = Files("disc.iso", plain);
    std::multiset<std::string> contents, expected;
    for (const auto& [name, bytes] : files) contents.insert(bytes);
    for (const auto& [name, bytes] : sources) expected.insert(bytes);
    EXPECT_EQ(contents, expected) << "every file, whole";
    EXPECT_EQ(files, Files("ref.iso", plain)) << "as image iso names them";
  }
}

// A path the engine cannot take (260 bytes or more) is refused by name,
// never read from a shortened path; typed relative, it is short enough.
TEST_F(BurnCli, LongPathsAreRefusedByNameNeverCut) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  const std::string folder = "f" + std::string(221 - home.path().string().size() - 1, 'd');  // 222 bytes absolute
  const std::string long40 = std::string(36, 'a') + ".txt", short36 = std::string(32, 'b') + ".txt";
  home.Write(folder + "/" + long40, "forty\n");
  home.Write(folder + "/" + short36, "thirty-six\n");
  ASSERT_EQ((home.path() / folder).string().size(), 222u);
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  for (const std::string& command : {"image iso --out " + At("long.iso") + " " + At(folder), "burn --drive cd " + At(folder)}) {
    EXPECT_EQ(Run(command), 2) << out;
    EXPECT_NE(out.find((home.path() / folder / long40).string()), std::string::npos) << out;
  }
  EXPECT_FALSE(std::filesystem::exists(home.path() / "long.iso"));
  EXPECT_EQ(Disc("cd")["status"], "blank");
  ASSERT_EQ(qvtest::RunCommand("cd '" + home.path().string() + "' && " + qvtest::QuorvaneCommand() +
                                   " image iso --out rel.iso " + folder + " 2>&1", &out), 0) << out;
  EXPECT_EQ(Files("rel.iso", false), (std::map<std::string, std::string>{{long40, "forty\n"}, {short36, "thirty-six\n"}}));
}

// burn --image records data blocks as they are: a name does not make an
// image audio, a size between blocks is padded with a note, and what is
// not an image of 2048-byte blocks is refused before anything is written.
TEST_F(BurnCli, ImagesGoOnTheDiscAsTheyAreOrAreRefused) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  home.Write("src/hello.txt", "hello\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -as mkisofs -quiet -J -o " + At("x.bin") + " " + At("src"), &out), 0) << out;
  std::string small(3000, '\0');
  for (size_t i = 0; i < small.size(); ++i) small[i] = static_cast<char>(i * 7 + 1);
  home.Write("small.img", small);
  std::string raw(2352 * 4, '\x11');
  raw.replace(0, 12, std::string("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0", 12));
  home.Write("raw.bin", raw);
  const struct {
    const char* file;
    int code;
    const char* says;
    std::string disc;  // the exported disc; empty: left blank
  } cases[] = {
      {"x.bin", 0, "Burned", File("x.bin")},
      {"small.img", 0, "padded with 1096 zero bytes", small + std::string(1096, '\0')},
      {"raw.bin", 7, "raw 2352-byte CD sectors", ""},
      {"tone.wav", 2, "burn it with --audio", ""},
  };
  std::filesystem::copy_file(std::string(qvtest::SourceDir()) + "/tests/audio/fixtures/tone-cd.wav", home.path() / "tone.wav");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
    EXPECT_EQ(Run("burn --drive cd --image " + At(c.file)), c.code) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    const auto disc = Disc("cd");
    if (c.disc.empty()) {
      EXPECT_EQ(disc["status"], "blank");
    } else {
      EXPECT_EQ(disc["tracks"][0]["type"], "data");
      ASSERT_EQ(Run("vdrive export cd --out " + At("out.iso")), 0) << out;
      EXPECT_TRUE(File("out.iso") == c.disc) << "the disc holds every byte";
    }
    ASSERT_EQ(Run("vdrive delete cd"), 0) << out;
  }
}

// Each must change the disc: written CD-RW and DVD-RW, blanked quick or
// full, read blank with their whole capacity free; DVD-RAM and DVD+RW,
// unformatted or written, read formatted and hold no volume.
TEST_F(BurnCli, EraseAndFormatChangeTheDisc) {
  home.Write("src/a.txt", "on the disc\n");
  const std::string unformatted = std::string(qvtest::SourceDir()) + "/vdrive/discs/dvd+rw-unformatted.json";
  home.Write("ram.json", R"({"media": "dvd-ram", "formatted": false})");
  const struct {
    const char* media;
    std::string insert;  // a disc instead of the written one
    const char* command;
  } cases[] = {{"cd-rw", "", "erase"}, {"dvd-rw", "", "erase --full"}, {"dvd+rw", "", "erase"},
               {"dvd-ram", At("ram.json"), "erase"}, {"dvd+rw", unformatted, "format"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.media) + " " + c.command);
    ASSERT_EQ(Run(std::string("vdrive create d --media ") + c.media), 0) << out;
    const auto blank = Disc("d")["free"]["blocks"];
    ASSERT_EQ(c.insert.empty() ? Run("burn --drive d " + At("src")) : Run("vdrive insert d --disc " + c.insert), 0) << out;
    ASSERT_EQ(Run(std::string(c.command) + " --drive d"), 0) << out;
    const auto disc = Disc("d");
    if (std::string(c.media).ends_with("-rw") && std::string(c.media) != "dvd+rw") {
      EXPECT_EQ(disc["status"], "blank") << out;
      EXPECT_TRUE(disc["tracks"].empty()) << out;
      EXPECT_EQ(disc["free"]["blocks"], blank) << out;
    } else {
      ASSERT_EQ(Run("--json vdrive list"), 0) << out;
      EXPECT_EQ(nlohmann::json::parse(out)["drives"][0]["disc"]["formatted"], true) << out;
      EXPECT_NE(Run("vdrive export d --out " + At("erased.iso")), 0) << "no volume is left to read";
    }
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
  ASSERT_EQ(Run("vdrive create d --media dvd+rw"), 0) << out;
  EXPECT_EQ(Run("burn --drive d"), 2) << out;  // nothing to burn
}

// Folders mastered on the fly on the default drive's DVD+RW (made once, by
// the first command that needs it), each burn what readers find; a speed
// lasts for its burn only. (What each session holds is the next test's.)
TEST_F(BurnCli, FoldersMasteredOnTheFly) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("one/sub/hello.txt", "first session\n");
  home.Write("loose.txt", "a file at the root\n");
  home.Write("two/later.txt", "second session\n");
  // The folder's contents and the file land at the root, under the label.
  ASSERT_EQ(Run("burn --speed 5540 --label MY_FOLDERS " + At("one") + " " + At("loose.txt")), 0) << out;
  EXPECT_NE(out.find("made the default virtual drive 'default'"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive export default --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Files("plus.iso", false)["sub/hello.txt"], "first session\n");
  EXPECT_EQ(Files("plus.iso", false)["loose.txt"], "a file at the root\n");
  ASSERT_EQ(qvtest::RunCommand("xorriso -indev stdio:" + At("plus.iso") + " -pvd_info 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("Volume Id    : MY_FOLDERS"), std::string::npos) << out;
  // A burn without --multisession is all readers find; an image made for
  // block 0 would be read over the volume there: refused.
  ASSERT_EQ(Run("burn " + At("two")), 0) << out;
  EXPECT_EQ(out.find("made the default"), std::string::npos) << "made once: " << out;
  ASSERT_EQ(Run("vdrive export default --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Files("plus.iso", false), (std::map<std::string, std::string>{{"later.txt", "second session\n"}}));
  EXPECT_EQ(Run("burn --image " + At("plus.iso")), 7) << out;

  // A speed lasts for its burn: the next disc has the fastest again.
  ASSERT_EQ(Run("vdrive insert default --media dvd+rw"), 0) << out;
  ASSERT_EQ(Run("--json info"), 0) << out;
  EXPECT_EQ(nlohmann::json::parse(out)["drive"]["speeds"]["currentWrite"], 22160) << out;

  ASSERT_EQ(Run("vdrive create cdr --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession --speed 1411 " + At("one")), 0) << out;
  ASSERT_EQ(Run("burn --drive cdr --multisession " + At("two")), 0) << out;
  ASSERT_EQ(Run("--json info --drive cdr"), 0) << out;
  EXPECT_EQ(nlohmann::json::parse(out)["drive"]["speeds"]["currentWrite"], 8467) << out;
}

// Three sessions on each medium written in sequence, each adding,
// replacing and removing files: the last session, as xorriso extracts it,
// holds every file the user expects, and the old data is not written again.
TEST_F(BurnCli, EachSessionShowsTheEarlierFiles) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  home.Write("s0/a.txt", "a one");
  home.Write("s0/dir/b.txt", "b one");
  home.Write("s0/dir/keep.txt", "kept");
  home.Write("s1/a.txt", "a two");
  home.Write("s1/c.txt", "c two");
  home.Write("s2/dir/d.txt", "d three");
  home.Write("s2/c.txt", "c three");
  using Files = std::map<std::string, std::string>;
  const struct {
    const char* options;
    Files expected;
  } sessions[] = {
      {"", {{"a.txt", "a one"}, {"dir/b.txt", "b one"}, {"dir/keep.txt", "kept"}}},
      {"--replace --remove /dir/b.txt ", {{"a.txt", "a two"}, {"c.txt", "c two"}, {"dir/keep.txt", "kept"}}},
      {"--replace ", {{"a.txt", "a two"}, {"c.txt", "c three"}, {"dir/keep.txt", "kept"}, {"dir/d.txt", "d three"}}},
  };
  // An extent of each file, as ls shows it after each session.
  const auto extents = [&](const std::string& drive) {
    EXPECT_EQ(Run("--json ls --drive " + drive), 0) << out;
    std::map<std::string, int> listed;
    const auto answer = nlohmann::json::parse(out);
    for (const auto& e : answer["entries"]) listed[e["path"]] = e["extent"];
    return listed;
  };
  // DVD-RW is written in restricted overwrite: its sessions grow one
  // volume, which 7z reads from the start too. (DVD+RW and DVD-RAM grow
  // as grow_cli's test has them.)
  QVTEST_REQUIRE_PROGRAM("7z");
  for (const std::string media : {"cd-r", "dvd+r", "dvd-r", "dvd-rw"}) {
    SCOPED_TRACE(media);
    const std::string drive = "ms-" + std::string(media == "dvd+r" ? "dvdplusr" : media);
    ASSERT_EQ(Run("vdrive create " + drive + " --media " + media), 0) << out;
    std::map<std::string, int> first;
    for (int i = 0; i < 3; ++i) {
      if (i == 2) {  // a clash with an old file, refused before anything is written
        const auto before = Disc(drive);
        ASSERT_EQ(Run("burn --drive " + drive + " --multisession " + At("s2")), 2) << out;
        EXPECT_NE(out.find("/c.txt is in the earlier session already"), std::string::npos) << out;
        EXPECT_EQ(Disc(drive), before);
      }
      ASSERT_EQ(Run("burn --drive " + drive + " --multisession " + sessions[i].options + At("s" + std::to_string(i))), 0)
          << out;
      std::filesystem::remove_all(home.path() / "last");
      EXPECT_EQ(Tree(LastSession(drive)), sessions[i].expected) << "session " << i + 1;
      if (media == "dvd-rw") {
        std::filesystem::remove_all(home.path() / "7z");
        EXPECT_EQ(qvtest::RunCommand("7z x -y -o" + At("7z") + " " + At("last.iso") + " 2>&1", &out), 0) << out;
        EXPECT_EQ(Tree(home.path() / "7z"), sessions[i].expected) << "7z, session " << i + 1;
      }
      const auto now = extents(drive);
      if (i == 0) first = now;
      // Old files stay where they were written.
      if (i == 2) {
        EXPECT_EQ(now.at("/dir/keep.txt"), first.at("/dir/keep.txt"));
        EXPECT_LT(first.at("/dir/keep.txt"), now.at("/a.txt"));
        EXPECT_LT(now.at("/a.txt"), now.at("/dir/d.txt"));
        EXPECT_EQ(now.count("/dir/b.txt"), 0u);
      }
    }
    if (media == "cd-r") {  // an earlier session, as it was
      ASSERT_EQ(Run("--json ls --drive " + drive + " --session 1 /dir"), 0) << out;
      EXPECT_NE(out.find("\"/dir/b.txt\""), std::string::npos) << out;
    }
  }
}

// One audio track per file, the disc closed. Each track, as the drive
// exports it and as grab reads it, holds the samples sox decodes from its file (equal for the
// lossless formats, within rounding for MP3, whose encoder delay sox keeps
// and the engine drops), then silence up to four seconds.
TEST_F(BurnCli, AudioTracksHoldTheDecodedSamples) {
  QVTEST_REQUIRE_PROGRAM("sox");
  const std::string fixtures = std::string(qvtest::SourceDir()) + "/tests/audio/fixtures/";
  const struct {
    const char* file;
    size_t delay;   // stereo samples sox gives before the first the engine gives
    int tolerance;  // the largest difference of a sample
  } tracks[] = {{"tone-cd.wav", 0, 0}, {"tone.flac", 0, 0}, {"tone.ogg", 0, 0}, {"tone.mp3", 2257, 1}};
  std::string files;
  for (const auto& t : tracks) files += " '" + fixtures + t.file + "'";
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive cd --audio" + files), 0) << out;
  const auto disc = Disc("cd");
  EXPECT_EQ(disc["status"], "complete");
  ASSERT_EQ(disc["tracks"].size(), 4u) << disc;
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(tracks[i].file);
    EXPECT_EQ(disc["tracks"][i]["type"], "audio");
    ASSERT_EQ(Run("vdrive export cd --track " + std::to_string(i + 1) + " --out " + At("t.wav")), 0) << out;
    ASSERT_EQ(Run("audio decode " + At("t.wav") + " --out " + At("check.wav")), 0) << "a CD wave file: " << out;
    ASSERT_EQ(Run("grab --drive cd --track " + std::to_string(i + 1) + " --out " + At("g.wav")), 0) << out;
    EXPECT_TRUE(File("g.wav") == File("t.wav")) << "grabbed";
    ASSERT_EQ(qvtest::RunCommand("sox '" + fixtures + tracks[i].file + "' -t raw -e signed -b 16 -c 2 -r 44100 " +
                                     At("ref.raw"), &out), 0) << out;
    const std::string track = File("t.wav").substr(44);
    const std::string ref = File("ref.raw").substr(tracks[i].delay * 4);
    ASSERT_EQ(track.size(), 705600u) << "four seconds";
    ASSERT_LE(ref.size(), track.size());
    std::vector<int16_t> a(track.size() / 2), b(ref.size() / 2);
    std::memcpy(a.data(), track.data(), track.size());
    std::memcpy(b.data(), ref.data(), ref.size());
    // sox's MP3 decode also ends a little earlier: only the silence after
    // an exact decode is known.
    for (size_t j = 0; j < (tracks[i].delay ? b.size() : a.size()); ++j)
      if (std::abs(a[j] - (j < b.size() ? b[j] : 0)) > tracks[i].tolerance) {
        ADD_FAILURE() << "sample " << j / 2 << ": " << a[j] << " instead of " << (j < b.size() ? b[j] : 0);
        break;
      }
  }
}

// A file that changes while it is read: the image or the disc keeps the
// size it had when added, the command names it and ends with exit code 8.
TEST_F(BurnCli, FilesChangedWhileReadAreNamedAndEndWithExit8) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  const std::string quorvane = qvtest::QuorvaneCommand();
  // image iso into a FIFO: the command waits in the pipe, ahead of the file
  // it has not read yet, while the test changes that file.
  home.Write("src/a.bin", std::string(4 << 20, 'a'));
  home.Write("src/z.txt", "zzzz\n");
  const auto fifo = home.path() / "image.fifo", log = home.path() / "log";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(std::system(("(" + quorvane + " image iso --out '" + fifo.string() + "' " + At("src") + " >'" +
                         log.string() + "' 2>&1; echo $? >'" + log.string() + ".rc') &").c_str()), 0);
  // The command opens its output once every file is sized, and reads none
  // before the first megabyte is taken (z.txt lies after a.bin's 4 MB).
  std::ifstream in(fifo, std::ios::binary);
  std::ofstream(home.path() / "src/z.txt", std::ios::app) << "more";
  const std::string image(std::istreambuf_iterator<char>(in), {});
  for (int i = 0; i < 600 && !std::filesystem::exists(log.string() + ".rc"); ++i) usleep(100000);
  EXPECT_EQ(qvtest::ReadFile(log.string() + ".rc"), "8\n");
  EXPECT_NE(qvtest::ReadFile(log).find("src/z.txt changed while it was read"), std::string::npos);
  home.Write("changed.iso", image);
  EXPECT_EQ(Files("changed.iso", false)["z.txt"], "zzzz\n");

  // burn: the blank DVD+RW's FORMAT UNIT comes after the files were added
  // and before they are read; held there, the file grows before its read.
  home.Write("grow/g.bin", std::string(100000, 'g'));
  ASSERT_EQ(Run("vdrive create plus --media dvd+rw"), 0) << out;
  EXPECT_EQ(Held("plus", R"({"kind": "busy", "opcode": 4, "times": 0})", {"burn", "--drive", "plus", (home.path() / "grow").string()},
                 [&](pid_t) { std::ofstream(home.path() / "grow/g.bin", std::ios::app) << "gg"; }),
            8) << out;
  EXPECT_NE(out.find("grow/g.bin changed while it was read"), std::string::npos) << out;
  ASSERT_EQ(Run("vdrive export plus --out " + At("plus.iso")), 0) << out;
  EXPECT_EQ(Files("plus.iso", false)["g.bin"], std::string(100000, 'g'));
}

// A test burn writes nothing on any disc: where the disc cannot simulate,
// it is refused. A DVD-R's next real burn works.
TEST_F(BurnCli, TestBurnsNeverWrite) {
  QVTEST_REQUIRE_PROGRAM("bsdtar");
  home.Write("src/file.txt", "real");
  const std::pair<const char*, int> cases[] = {{"cd-r", 0}, {"dvd-r", 0}, {"dvd+r", 7}, {"dvd-ram", 7}};
  for (const auto& [media, expected] : cases) {
    SCOPED_TRACE(media);
    ASSERT_EQ(Run("vdrive create d --media " + std::string(media)), 0) << out;
    const auto before = Disc("d");
    EXPECT_EQ(Run("burn --test --drive d " + At("src")), expected) << out;
    EXPECT_EQ(Disc("d"), before);
    ASSERT_EQ(Run("burn --drive d " + At("src")), 0) << out;
    ASSERT_EQ(Run("vdrive export d --out " + At("d.iso")), 0) << out;
    EXPECT_EQ(Files("d.iso", false)["file.txt"], "real");
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// Data larger than the free space is refused with both numbers, the
// write-once disc still blank.
TEST_F(BurnCli, WhatDoesNotFitIsRefused) {
  std::filesystem::resize_file(home.Write("big.iso", ""), uint64_t{800} << 20);
  for (int i = 0; i < 3; ++i) std::filesystem::resize_file(home.Write("many/" + std::to_string(i), ""), 2ull << 30);
  const char* cases[][3] = {{"cd-r", "big.iso", "409600 blocks"}, {"dvd+r", "many", "2295104 free"}};
  for (const auto& [media, source, number] : cases) {
    ASSERT_EQ(Run("vdrive create d --media " + std::string(media)), 0) << out;
    EXPECT_EQ(Run("burn --drive d " + std::string(source[0] == 'b' ? "--image " : "") + At(source)), 7) << out;
    EXPECT_NE(out.find(number), std::string::npos) << out;
    EXPECT_EQ(Disc("d")["status"], "blank") << media;
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// Ctrl-C before anything is written leaves the disc as it was; while a
// burn writes, or while it closes its session: the command says it was
// cancelled, the session is closed, and the next burn is the session
// readers find.
TEST_F(BurnCli, AfterACancelTheNextBurnIsFound) {
  QVTEST_REQUIRE_PROGRAM("xorriso");
  home.Write("one/big.bin", std::string(3 << 20, 'x'));
  home.Write("two/two.txt", "closed while cancelled");
  home.Write("three/three.txt", "after the cancels");
  ASSERT_EQ(Run("vdrive create cd --media cd-r"), 0) << out;
  // Held where burn reads the free space, between mastering and writing.
  EXPECT_EQ(Interrupted("cd", R"({"kind": "busy", "opcode": 82, "times": 0})", "three"), 130) << out;
  EXPECT_EQ(Disc("cd")["status"], "blank") << out;
  EXPECT_EQ(Interrupted("cd", R"({"kind": "long-write-in-progress", "opcode": 42, "nth": 5, "times": 0})", "one"), 130)
      << out;
  EXPECT_EQ(Interrupted("cd", R"({"kind": "busy", "opcode": 91, "times": 0})", "two"), 130) << out;
  ASSERT_EQ(Run("burn --drive cd --multisession " + At("three")), 0) << out;
  EXPECT_EQ(qvtest::ReadFile(LastSession("cd") / "three.txt"), "after the cancels");
  // Three sessions of a track each, and the empty one after them.
  const auto disc = Disc("cd");
  EXPECT_EQ(disc["sessions"], 4) << out;
  EXPECT_EQ(disc["tracks"].size(), 3u) << out;
}

}  // namespace
