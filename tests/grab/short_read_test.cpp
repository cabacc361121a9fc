// A drive that sends less than a chunk asked for, without failing: what it
// left unsent is zeros in the grabbed file, never the chunk read before.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "support/cli_fixture.h"
#include "vdrive/qvdrive.h"

namespace {

using nlohmann::json;

class GrabShortRead : public qvtest::CliTest {};

TEST_F(GrabShortRead, UnsentBytesAreZeros) {
  std::mt19937 rng(11);
  std::string data(1000000, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  home.Write("src/data.bin", data);
  ASSERT_EQ(Run("vdrive create d --media cd-r"), 0) << out;
  ASSERT_EQ(Run("burn --drive d " + At("src")), 0) << out;
  ASSERT_EQ(Run("vdrive export d --track 1 --out " + At("ref.iso")), 0) << out;
  ASSERT_EQ(Run("--json info --drive d"), 0) << out;
  const int first = json::parse(out, nullptr, false)["disc"]["tracks"][0]["start"];
  // The second chunk of 30 blocks comes back with its first 5000 bytes only.
  const std::string rule = "{\"rules\": [{\"kind\": \"short\", \"opcode\": 190, \"length\": 5000, \"lba\": [" +
                           std::to_string(first + 40) + ", " + std::to_string(first + 40) + "], \"times\": 1}]}";
  ASSERT_EQ(QvDrive_SetFaults("d", rule.c_str()), 0u);
  ASSERT_EQ(Run("grab --drive d --track 1 --out " + At("t.iso")), 0) << out;
  std::string want = qvtest::ReadFile(home / "ref.iso");
  const size_t chunk = 30 * 2048;
  want.replace(chunk + 5000, chunk - 5000, chunk - 5000, '\0');
  const std::string got = qvtest::ReadFile(home / "t.iso");
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want) << "first difference at byte "
                           << std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
}

}  // namespace
