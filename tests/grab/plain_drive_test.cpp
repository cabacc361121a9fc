// A drive without READ CD (QEMU's virtio CD-ROM is one): a data track is
// still grabbed whole through READ(10); what needs READ CD (audio, raw
// sectors) is refused plainly and leaves no file.
#include <gtest/gtest.h>

#include "support/cli_fixture.h"
#include "vdrive/qvdrive.h"

namespace {

namespace fs = std::filesystem;

using PlainDrive = qvtest::CliTest;

TEST_F(PlainDrive, DataTracksThroughRead10AndClearRefusals) {
  const std::string at = home.path().string() + "/";
  struct Case {
    const char* disc;
    std::string args;
    int exit;
    const char* file;
  } cases[] = {{"data-cd", "--track 1 --out '" + at + "t.iso'", 0, "t.iso"},
               {"data-cd", "--disc --out '" + at + "g'", 7, "g.mds"},
               {"audio-cd", "--track 1 --out '" + at + "a.wav'", 7, "a.wav"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.disc) + " " + c.args);
    ASSERT_EQ(Run("vdrive create d --media cd-rom"), 0) << out;
    ASSERT_EQ(Run("vdrive insert d --disc '" + std::string(QUORVANE_DISCS_DIR) + "/" + c.disc + ".json'"), 0) << out;
    ASSERT_EQ(QvDrive_SetFaults("d", R"({"rules": [{"kind": "sense", "opcode": 190, "sense": [5, 32, 0], "times": 0}]})"),
              0u);
    EXPECT_EQ(Run("grab --drive d " + c.args), c.exit) << out;
    if (c.exit == 0) {
      ASSERT_EQ(Run("vdrive export d --track 1 --out '" + at + "ref'"), 0) << out;
      EXPECT_TRUE(qvtest::ReadFile(home / c.file) == qvtest::ReadFile(home / "ref")) << "the grab differs from the export";
    } else {
      EXPECT_NE(out.find("READ CD"), std::string::npos) << out;
      EXPECT_FALSE(fs::exists(home / c.file));
    }
    ASSERT_EQ(Run("vdrive delete d"), 0) << out;
  }
}

}  // namespace
