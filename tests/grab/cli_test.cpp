// quorvane grab as a user meets it: what burn put on a virtual disc comes
// back byte for byte (audio: BurnCli.AudioTracksHoldTheDecodedSamples), damaged stretches end or fill the grab as asked, a
// chunk cut short is zeros where it was cut, and no failure leaves a file
// under the name asked for.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <nlohmann/json.hpp>
#include <random>

#include "support/cli_fixture.h"
#include "vdrive/qvdrive.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class GrabCli : public qvtest::CliTest {
 protected:
  // A drive named d holding one data track burnt from a folder of random
  // bytes; returns the track's first and last block.
  std::pair<int, int> BurnData(const char* media, size_t bytes) {
    std::mt19937 rng(7);
    std::string data(bytes, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    home.Write("src/data.bin", data);
    EXPECT_EQ(Run(std::string("vdrive create d --media ") + media), 0) << out;
    EXPECT_EQ(Run("burn --drive d " + At("src")), 0) << out;
    const json track = Disc("d")["tracks"][0];
    return {track["start"], track["end"]};
  }
  void Damage(int first, int last) {
    const std::string rule = "{\"rules\": [{\"kind\": \"sense\", \"lba\": [" + std::to_string(first) + ", " +
                             std::to_string(last) + "], \"times\": 0}]}";
    ASSERT_EQ(QvDrive_SetFaults("d", rule.c_str()), 0u);
  }
};

// A folder burnt onto CD-R and DVD+R comes back as the disc holds it (its
// files, in the export, are the burn tests' to judge). Audio: the burn's.
TEST_F(GrabCli, DataTrackComesBackByteForByte) {
  for (const char* media : {"cd-r", "dvd+r"}) {
    SCOPED_TRACE(media);
    const auto [first, last] = BurnData(media, 700000);
    ASSERT_EQ(Run("--json grab --drive d --track 1 --out " + At("t1.iso")), 0) << out;
    EXPECT_EQ(json::parse(out, nullptr, false)["unrecoverableBlocks"], 0) << out;
    ASSERT_EQ(Run("vdrive export d --track 1 --out " + At("ref.iso")), 0) << out;
    const std::string grabbed = File("t1.iso");
    EXPECT_EQ(grabbed.size(), size_t(last - first + 1) * 2048);
    EXPECT_TRUE(grabbed == File("ref.iso")) << "the grab differs from the drive's export";
    // Blocks of the track: the same bytes, from where they lie.
    ASSERT_EQ(Run("grab --drive d --track 1 --from " + std::to_string(first + 16) + " --to " + std::to_string(first + 20) +
                  " --out " + At("part.bin")), 0) << out;
    EXPECT_TRUE(File("part.bin") == grabbed.substr(16 * 2048, 5 * 2048));
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// A damaged block some way before the track's end, with and without
// --skip-errors: near the end the rest of the track is zeros either way;
// further in, only the damaged block is, or the grab fails and leaves no
// file.
TEST_F(GrabCli, DamagedBlocksByDistanceFromTheEnd) {
  const auto [first, last] = BurnData("cd-r", 1400000);
  ASSERT_EQ(Run("vdrive export d --track 1 --out " + At("ref.iso")), 0) << out;
  const std::string ref = File("ref.iso");
  struct Case {
    int beforeEnd;  // blocks from the damage to the track's last block
    bool skip;
    int exit;
    bool zerosToTheEnd;  // the damage is taken for the track's true end
  } cases[] = {{120, false, 0, true}, {120, true, 0, true},  {180, false, 0, false},
               {180, true, 0, false}, {400, false, 5, false}, {400, true, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.beforeEnd) + (c.skip ? " skip" : ""));
    const int bad = last - c.beforeEnd;
    Damage(bad, bad);
    EXPECT_EQ(Run("--json grab --drive d --track 1 --retries 1 --out " + At("t.iso") + (c.skip ? " --skip-errors" : "")),
              c.exit) << out;
    const json rules = json::parse(qvtest::ReadFile(home.path() / "d" / "faults.json"))["rules"];
    // Reading the table of contents looks at the last blocks too.
    if (!c.zerosToTheEnd) {
      EXPECT_EQ(rules[0]["fired"], 3) << "the chunk, then the block at each of two levels";
    }
    if (c.exit != 0) {
      EXPECT_FALSE(fs::exists(home / "t.iso"));
      EXPECT_NE(out.find("--skip-errors"), std::string::npos) << out;
      continue;
    }
    std::string expected = ref;
    const size_t from = size_t(bad - first) * 2048, zeros = c.zerosToTheEnd ? ref.size() - from : 2048;
    expected.replace(from, zeros, zeros, '\0');
    EXPECT_TRUE(File("t.iso") == expected) << "zeros where the damage is, and only there";
    const json summary = json::parse(out, nullptr, false);
    EXPECT_EQ(summary["replaced"], json::array({{{"lba", bad}, {"blocks", zeros / 2048}}})) << out;
    EXPECT_EQ(summary["unrecoverableBlocks"], zeros / 2048);
    fs::remove(home / "t.iso");
  }
}

// A disc pulled out, a full disk and Ctrl-C each end the grab with their
// exit code, and no file under the name: a file there before stays.
TEST_F(GrabCli, InterruptedGrabsLeaveNoFile) {
  const auto [first, last] = BurnData("cd-r", 1400000);
  home.Write("t.iso", "earlier");
  // A disk too small for the track.
  fs::create_directories(home / "small");
  if (mount("tmpfs", (home / "small").c_str(), "tmpfs", 0, "size=256k") == 0) {
    EXPECT_EQ(Run("grab --drive d --track 1 --out " + At("small/t.iso")), 6) << out;
    EXPECT_NE(out.find("no space left"), std::string::npos) << out;
    EXPECT_TRUE(fs::is_empty(home / "small")) << "the part written is gone";
    umount((home / "small").c_str());
  } else {
    EXPECT_EQ(Run("grab --drive d --track 1 --out /dev/full"), 6) << out;
  }
  // Ctrl-C while the drive reads slowly.
  const std::string slow = R"({"kind": "slow", "ms": 200, "times": 0, "lba": [)" + std::to_string(first + 60) + ", " +
                           std::to_string(last - 200) + "]}";
  EXPECT_EQ(Held("d", slow, {"grab", "--drive", "d", "--track", "1", "--out", (home / "t.iso").string()},
                 [](pid_t child) { kill(child, SIGINT); }, 2), 130) << out;
  EXPECT_EQ(File("t.iso"), "earlier");
  // The disc pulled out in the middle.
  ASSERT_EQ(QvDrive_SetFaults("d", ("{\"rules\": [{\"kind\": \"pull\", \"lba\": [" + std::to_string(first + 300) + ", " +
                                    std::to_string(first + 300) + "]}]}").c_str()), 0u);
  EXPECT_EQ(Run("grab --drive d --track 1 --out " + At("t.iso")), 4) << out;
  EXPECT_NE(out.find("no disc"), std::string::npos) << out;
  EXPECT_EQ(File("t.iso"), "earlier");
}

// A drive without READ CD (QEMU's virtio CD-ROM is one): a data track is
// still grabbed whole through READ(10); what needs READ CD (audio, raw
// sectors) is refused plainly and leaves no file.
TEST_F(GrabCli, WithoutReadCdDataTracksThroughRead10AndClearRefusals) {
  const struct {
    const char* disc;
    const char* args;
    int exit;
    const char* file;
  } cases[] = {{"data-cd", "--track 1", 0, "t.iso"}, {"audio-cd", "--track 1", 7, "a.wav"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.disc) + " " + c.args);
    ASSERT_EQ(Run("vdrive create d --media cd-rom"), 0) << out;
    ASSERT_EQ(Run("vdrive insert d --disc '" + std::string(QUORVANE_DISCS_DIR) + "/" + c.disc + ".json'"), 0) << out;
    ASSERT_EQ(QvDrive_SetFaults("d", R"({"rules": [{"kind": "sense", "opcode": 190, "sense": [5, 32, 0], "times": 0}]})"),
              0u);
    EXPECT_EQ(Run("grab --drive d " + std::string(c.args) + " --out " + At(c.file)), c.exit) << out;
    if (c.exit == 0) {
      ASSERT_EQ(Run("vdrive export d --track 1 --out " + At("ref")), 0) << out;
      EXPECT_TRUE(qvtest::ReadFile(home / c.file) == File("ref")) << "the grab differs from the export";
    } else {
      EXPECT_NE(out.find("READ CD"), std::string::npos) << out;
      EXPECT_FALSE(fs::exists(home / c.file) || fs::exists(home / (std::string(c.file) + ".mds")));
    }
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

// A drive that sends less than a chunk asked for, without failing: what it
// left unsent is zeros in the grabbed file, never the chunk read before.
TEST_F(GrabCli, UnsentBytesAreZeros) {
  const int first = BurnData("cd-r", 1000000).first;
  ASSERT_EQ(Run("vdrive export d --track 1 --out " + At("ref.iso")), 0) << out;
  // The second chunk of 30 blocks comes back with its first 5000 bytes only.
  const std::string rule = "{\"rules\": [{\"kind\": \"short\", \"opcode\": 190, \"length\": 5000, \"lba\": [" +
                           std::to_string(first + 40) + ", " + std::to_string(first + 40) + "], \"times\": 1}]}";
  ASSERT_EQ(QvDrive_SetFaults("d", rule.c_str()), 0u);
  ASSERT_EQ(Run("grab --drive d --track 1 --out " + At("t.iso")), 0) << out;
  std::string want = File("ref.iso");
  const size_t chunk = 30 * 2048;
  want.replace(chunk + 5000, chunk - 5000, chunk - 5000, '\0');
  EXPECT_TRUE(File("t.iso") == want) << "zeros where the drive sent nothing, and only there";
}

}  // namespace
