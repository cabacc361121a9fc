// The order in which a DVDVideoImage lays out the files it was given.
#include <string>
#include <vector>

#include "control/dvd_video_order.h"
#include "support/test_support.h"

namespace {

using namespace qv::control;

std::vector<std::string> Laid(const std::vector<std::string>& paths) {
  std::vector<DvdVideoFileName> names;
  for (const std::string& p : paths) names.push_back(SplitDvdVideoPath(p));
  std::vector<std::string> out;
  for (size_t i : DvdVideoLayoutOrder(names)) out.push_back(names[i].name);
  return out;
}

TEST(DvdVideoOrder, VideoTsFirstBackupsLastIfoBeforeVob) {
  const struct {
    std::vector<std::string> given, laid;
  } cases[] = {
      // Within a base name the extension ranks; unknown ones by their first letter.
      {{"A.ZZZ", "A.VOB", "A.INF", "A.IFO", "A.AOB", "A.XYZ"}, {"A.IFO", "A.INF", "A.VOB", "A.AOB", "A.XYZ", "A.ZZZ"}},
      // The VIDEO_TS set before the backup rule; none at all is fine.
      {{"VTS_01_0.BUP", "VIDEO_TS.BUP", "VTS_01_0.IFO"}, {"VIDEO_TS.BUP", "VTS_01_0.IFO", "VTS_01_0.BUP"}},
      {{}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Laid(c.given), c.laid) << ::testing::PrintToString(c.given);
}

}  // namespace
