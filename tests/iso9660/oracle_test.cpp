// Images built around the cases that break writers, each accepted by
// pycdlib, xorriso, 7z, bsdtar (both trees) and isovfy, with every file
// extracted equal to its source, and passing our own structural checks.
#include <random>

#include "iso_support.h"

namespace {

class Oracles : public ::testing::Test {
 protected:
  void SetUp() override {
    QVISO_REQUIRE_OUTSIDE_CHECKERS();
  }
  // Renames every collision to a fresh name, as a careful caller would.
  static void Renamer(QUORVANE_NAME_COLLISION& r) {
    static int counter = 0;
    if (r.m__ULONG__Solution == QVX_NAME_COLLISION_MERGE_FOLDERS) return;
    qviso::Answer(r, QVX_NAME_COLLISION_RENAME_NEW, (r.m__UCHAR__IsWide ? "renamed " : "R") + std::to_string(++counter) + ".x");
  }
  std::string Body(size_t size) {
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(random());
    return body;
  }
  void Check(qviso::Tree& tree, const std::string& name, bool boot = false, bool bootHidden = false) {
    ASSERT_EQ(tree.Build(0, "ORACLE_TEST"), 0u) << tree.lastText;
    EXPECT_EQ(qviso::OutsideProblems(tree, tree.WriteImage(dir, name), boot, bootHidden), "");
  }
  qvtest::TempDir dir;
  qvtest::VirtualTime time;
  std::mt19937 random{11};
};

TEST_F(Oracles, MixedTreeWithJolietAndPlainNames) {
  dir.Write("src/empty1", "");
  dir.Write("src/sub/empty2.txt", "");
  for (int i = 0; i < 3; ++i) dir.Write("src/two sectors " + std::to_string(i) + ".bin", Body(2049));
  for (int i = 0; i < 70; ++i) dir.Write("src/many/entry_" + std::to_string(i) + ".dat", Body(i * 37));
  std::string deep = "src";
  for (int level = 0; level < 11; ++level) deep += "/level" + std::to_string(level);
  dir.Write(deep + "/bottom.txt", "deep");
  // Names whose ISO order differs from byte order, and collisions of every
  // kind: ISO prefixes, Joliet names mapped alike, folders merged.
  for (const char* n : {"a", "a1", "a.b", "a.b1", "A_", "report_2023_q1.doc", "report_2023_q2.doc", "what?.txt",
                        "what*.txt", "MiXeD CaSe.TXT"})
    dir.Write(std::string("src/names/") + n, n);
  dir.Write("src/merge/x.txt", "x");
  dir.Write("other/merge/y.txt", "y");
  dir.Write("src/unicode/Gr\xC3\xBC\xC3\x9F" "e.txt", "umlauts");
  dir.Write("src/unicode/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "cjk");
  dir.Write("src/unicode/smile \xF0\x9F\x98\x80.txt", "outside the BMP");
  dir.Write("src/unicode/" + std::string(103, 'L') + ".txt", "long");
  dir.Write("src/zz/last.bin", Body(4096));  // ends at the image's end: the empty file after it takes no block
  dir.Write("src/zzz/empty", "");
  dir.Write("src/A long file name with spaces.text", "long iso names");

  for (const auto& [joliet, longNames] : {std::pair{true, false}, std::pair{false, false}, std::pair{true, true}}) {
    SCOPED_TRACE(testing::Message() << "Joliet " << joliet << ", long ISO9660 names " << longNames);
    qviso::Tree tree({.joliet = joliet, .longNames = longNames});
    tree.onCollision = &Renamer;
    QV_HANDLE src = tree.Add((dir / "src").string());
    ASSERT_NE(src, nullptr) << tree.lastText;
    tree.Add((dir / "other/merge").string(), nullptr, src);
    Check(tree, "mixed.iso");
  }
}

TEST_F(Oracles, BootImagesHiddenAndVisible) {
  const auto boot = dir.Write("boot.bin", Body(1500));
  dir.Write("src/file.txt", "file");
  for (bool hide : {true, false}) {
    SCOPED_TRACE(hide ? "hidden" : "visible");
    qviso::Tree tree;
    ASSERT_NE(tree.Add((dir / "src/file.txt").string()), nullptr);
    ASSERT_EQ(tree.SetBoot(boot.string(), 0, 0, 3, hide), 0u) << tree.lastText;
    Check(tree, hide ? "boot-hidden.iso" : "boot-visible.iso", true, hide);
  }
}

}  // namespace
