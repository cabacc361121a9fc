// Folders mastered by the ISO9660/Joliet builder and recorded while the
// image is generated: the disc, read back through the engine and exported,
// must be accepted by the outside checkers with every file intact. (The
// command line's multisession folder burn appends a tree built where it
// lands.)
#include "burn_support.h"
#include "iso9660/iso_support.h"

namespace qvtest {
namespace {

class TreeBurn : public BurnFixture {
 protected:
  // What image iso does with a folder: its entries at the root.
  static void AddContents(qviso::Tree& tree, const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      ASSERT_NE(tree.Add(entry.path().string()), nullptr) << tree.lastText;
  }
};

class TreeBurnMedium : public TreeBurn, public ::testing::WithParamInterface<const char*> {};

TEST_P(TreeBurnMedium, FolderOnTheFlyPassesTheOutsideCheckers) {
  QVISO_REQUIRE_OUTSIDE_CHECKERS();
  Make(GetParam());
  ASSERT_EQ(Open(), 0u) << s.text;
  // A file that ends mid-block, an empty one, one of exactly two blocks,
  // a Joliet-only name.
  Files files = SampleFiles(1, 300001);
  files["s1/two blocks.bin"] = std::vector<uint8_t>(4096, 0xA5);
  files["s1/Gr\xC3\xBC\xC3\x9F" "e mixed Case.txt"] = {'u', 'm'};
  qviso::Tree tree;
  AddContents(tree, Folder(files, "src"));
  ASSERT_EQ(tree.Build(0, "FOLDER_BURN"), 0u) << tree.lastText;

  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_TrackAtOnceFromTree(handle, QV_STATUS(s), tree.handle(), 0, 0, 0, 1, 1), 0u)
      << s.text;
  ASSERT_EQ(Quorvane_CdvdBurnerGrabber_CloseSession(handle, QV_STATUS(s)), 0u) << s.text;

  // The engine reads back what the tree streams, block for block.
  // The recording left the stream at its end.
  char text[256] = {};
  QV_ULONG system = 0;
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_SeekToBegin(tree.handle(), text, sizeof text, &system), 0u) << text;
  const std::string stream = tree.Image();
  ASSERT_EQ(stream.size() % 2048, 0u);
  const std::vector<uint8_t> back = ReadBack(static_cast<uint32_t>(stream.size() / 2048));
  // Compared as bytes: the stream's chars are signed.
  const std::vector<uint8_t> streamed(stream.begin(), stream.end());
  ASSERT_EQ(back.size(), streamed.size());
  const auto diff = std::mismatch(back.begin(), back.end(), streamed.begin());
  EXPECT_EQ(diff.first, back.end()) << "the disc differs from the stream at byte " << (diff.first - back.begin());
  // The export, judged by pycdlib, xorriso, 7z, bsdtar and isovfy.
  const auto exported = home.path() / "export.iso";
  ASSERT_EQ(QvDrive_Export("CdRom0", exported.c_str()), 0u);
  EXPECT_EQ(qviso::OutsideProblems(tree, exported.string()), "");
}

INSTANTIATE_TEST_SUITE_P(Media, TreeBurnMedium, ::testing::Values("dvd+rw", "cd-r"), MediaName);

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
