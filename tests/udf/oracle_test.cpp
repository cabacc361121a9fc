// UDF images judged from outside: udfinfo, 7z (test and byte-equal
// extraction), and the ISO9660 checkers on a bridge's ISO9660 view. (A file
// of 5 GiB is read back by the Linux UDF driver in qemu.udf_mount; DVD-Video
// is judged in UdfCli.)
#include <filesystem>
#include <random>

#include "../iso9660/iso_support.h"

namespace {

namespace fs = std::filesystem;

TEST(UdfOracles, TrickyTreesPureAndBridged) {
  QVTEST_REQUIRE_PROGRAM("udfinfo");
  QVISO_REQUIRE_OUTSIDE_CHECKERS();
  qvtest::TempDir dir;
  std::mt19937 random{7};
  auto Body = [&random](size_t size) {
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(random());
    return body;
  };
  dir.Write("top/src/empty1", "");
  fs::create_directories(dir / "top/src/empty folder");
  dir.Write("top/src/sub/empty2.txt", "");
  for (int i = 0; i < 3; ++i) dir.Write("top/src/two sectors " + std::to_string(i) + ".bin", Body(2049));
  for (int i = 0; i < 400; ++i) dir.Write("top/src/many/entry number " + std::to_string(i) + ".dat", Body(i * 7));
  std::string deep = "top/src";
  for (int level = 0; level < 11; ++level) deep += "/level" + std::to_string(level);
  dir.Write(deep + "/bottom.txt", "deep");
  for (const char* n : {"a", "A", "a.b", "what?.txt", "semi;colon;name.txt", "MiXeD CaSe.TXT", ".dotfile"})
    dir.Write(std::string("top/src/names/") + n, n);
  dir.Write("top/src/unicode/Gr\xC3\xBC\xC3\x9F" "e.txt", "umlauts");
  dir.Write("top/src/unicode/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "cjk");
  dir.Write("top/src/unicode/smile \xF0\x9F\x98\x80.txt", "outside the BMP");
  dir.Write("top/src/unicode/" + std::string(200, 'L') + ".txt", "long");
  dir.Write("top/src/zz/last.bin", Body(4096));
  for (int udf : {1, 2}) {
    SCOPED_TRACE(udf == 1 ? "pure" : "bridge");
    qviso::Tree tree({.udf = udf});
    // The ISO9660 view renames what clashes there; UDF keeps every name.
    tree.onCollision = [](QUORVANE_NAME_COLLISION& r) {
      static int counter = 0;
      ASSERT_EQ(r.m__UCHAR__IsWide, 0) << "UDF names never clash here";
      qviso::Answer(r, QVX_NAME_COLLISION_RENAME_NEW, "R" + std::to_string(++counter));
    };
    ASSERT_NE(tree.Add((dir / "top/src").string()), nullptr) << tree.lastText;
    ASSERT_EQ(tree.Build(0, "TRICKY"), 0u) << tree.lastText;
    const std::string image = tree.WriteImage(dir, udf == 1 ? "pure.udf" : "bridge.udf");
    EXPECT_EQ(qviso::UdfProblems(image, (dir / "top").string()), "");
    EXPECT_EQ(udf == 2 ? qviso::OutsideProblems(tree, image) : "", "") << "the bridge's ISO9660 view";
  }
}

}  // namespace
