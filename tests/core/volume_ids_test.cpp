// Reading the primary volume identifier of a device or image.
#include <cstring>

#include "core/engine_fixture.h"
#include "quorvane.h"

namespace {

TEST(VolumeIds, ReadsTheIdentifierOfAGenisoimageImage) {
  QVTEST_REQUIRE_PROGRAM("genisoimage");
  qvtest::TempDir dir;
  dir.Write("tree/hello.txt", "hello\n");
  const auto image = dir / "v.iso";
  std::string out;
  ASSERT_EQ(qvtest::RunCommand("genisoimage -quiet -V QUORVANE_TEST -o " + image.string() + " " +
                                   (dir / "tree").string(),
                               &out),
            0)
      << out;
  char id[33] = {};
  ASSERT_EQ(Quorvane_GetVolumeIDs(image.string().c_str(), id), 0u);
  EXPECT_EQ(std::string(id, 32), "QUORVANE_TEST                   ");
}

struct BadInput {
  const char* name;
  std::string contents;  // empty name: no file at all
  uint32_t expected;
};

class VolumeIdsFails : public ::testing::TestWithParam<BadInput> {};

TEST_P(VolumeIdsFails, WithTheRightStatus) {
  qvtest::TempDir dir;
  const auto path = dir / "input";
  if (std::string(GetParam().name) != "Missing") dir.Write("input", GetParam().contents);
  char id[32];
  std::memset(id, '#', sizeof id);
  EXPECT_EQ(Quorvane_GetVolumeIDs(path.string().c_str(), id), GetParam().expected);
  EXPECT_EQ(id[0], '#') << "the caller's buffer is untouched";
}

std::string NotIso() {
  std::string s(40000, '\0');
  std::memcpy(&s[32769], "BEA01", 5);
  return s;
}

INSTANTIATE_TEST_SUITE_P(Inputs, VolumeIdsFails,
                         ::testing::Values(BadInput{"Missing", "", 2}, BadInput{"JustShort", std::string(34815, 'a'), 996},
                                           BadInput{"NotIso", NotIso(), 13}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VolumeIds, AFolderIsNotAVolume) {
  qvtest::TempDir dir;
  char id[32];
  EXPECT_EQ(Quorvane_GetVolumeIDs(dir.path().string().c_str(), id), 5u);
  EXPECT_EQ(Quorvane_GetVolumeIDs(nullptr, id), 87u);
}

}  // namespace
