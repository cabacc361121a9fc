// A disc with graphics in its sub-channel: grabbed raw, R-W written into
// every sector of the image, burnt back with burn --mds and grabbed again:
// main data and all of P-W come back byte for byte (the image holds the
// tracks from index 1; burn --mds makes the pauses).
#include <gtest/gtest.h>

#include "support/cli_fixture.h"

namespace {

using RwBurnCli = qvtest::CliTest;

TEST_F(RwBurnCli, SubchannelGraphicsSurviveABurnBack) {
  home.Write("disc.json", R"({"media": "cd-rom", "sessions": [{"closed": true, "tracks": [
      {"mode": "audio", "blocks": 300, "source": "tone"},
      {"mode": "audio", "pregap": 150, "blocks": 300, "source": "counter"}]}]})");
  ASSERT_EQ(Run("vdrive create src --media cd-rom"), 0) << out;
  ASSERT_EQ(Run("vdrive insert src --disc " + At("disc.json")), 0) << out;
  ASSERT_EQ(Run("grab --drive src --disc --raw --out " + At("G")), 0) << out;
  std::string image = qvtest::ReadFile(home.path() / "G.xmf");
  ASSERT_EQ(image.size(), 600u * 2448);
  // Six R-W bits under P and Q that tell sector and byte apart, never all zero.
  for (size_t n = 0; n < 600; ++n)
    for (size_t i = 0; i < 96; ++i) {
      char& b = image[n * 2448 + 2352 + i];
      b = char((b & 0xC0) | ((n * 5 + i * 3) % 63 + 1));
    }
  home.Write("G.xmf", image);
  ASSERT_EQ(Run("vdrive create dst --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive dst --mds " + At("G.mds")), 0) << out;
  ASSERT_EQ(Run("grab --drive dst --disc --raw --out " + At("H")), 0) << out;
  const std::string back = qvtest::ReadFile(home.path() / "H.xmf");
  ASSERT_EQ(back.size(), image.size());
  const auto differ = std::mismatch(image.begin(), image.end(), back.begin());
  EXPECT_TRUE(differ.first == image.end()) << "sector " << (differ.first - image.begin()) / 2448 << " byte "
                                           << (differ.first - image.begin()) % 2448;
}

}  // namespace
