// Trees recorded while the image is generated: what the entry point
// refuses. (Folders burnt on the fly on every medium are the command's
// tests, their discs read by bsdtar, xorriso, pycdlib and 7z.)
#include "burn_support.h"
#include "iso9660/iso_support.h"

namespace qvtest {
namespace {

using TreeBurn = BurnFixture;

// Trees the entry point must refuse before the drive is touched.
TEST_F(TreeBurn, RefusesMissingOrUnbuiltTrees) {
  Make("dvd+rw");
  ASSERT_EQ(Open(), 0u) << s.text;
  qviso::Tree unbuilt;
  ASSERT_NE(unbuilt.AddFolder("empty"), nullptr) << unbuilt.lastText;
  struct Case {
    QV_HANDLE tree;
    const char* says;
  };
  for (const Case& c : {Case{nullptr, "'tree' is NULL"}, Case{unbuilt.handle(), "not built"}}) {
    EXPECT_EQ(Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(handle, QV_STATUS(s), c.tree, 0, 0, 0, 1, 1),
              static_cast<QV_ULONG>(EN_INVALID_PARAMETER));
    EXPECT_NE(std::string(s.text).find(c.says), std::string::npos) << s.text;
  }
  EXPECT_EQ(Describe()["disc"]["status"], "blank");
}

}  // namespace
}  // namespace qvtest
