// UDF and DVD-Video images judged from outside: udfinfo, 7z (test and
// byte-equal extraction), the ISO9660 checkers on a bridge's ISO9660 view,
// lsdvd, dvdbackup and pycdlib's view of the IFO addresses. (A file of
// 5 GiB is read back by the Linux UDF driver in qemu.udf_mount.)
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "../iso9660/iso_support.h"
#include "udf_support.h"

namespace {

namespace fs = std::filesystem;

class UdfOracles : public ::testing::Test {
 protected:
  void SetUp() override {
    QVTEST_REQUIRE_PROGRAM("udfinfo");
    QVTEST_REQUIRE_PROGRAM("7z");
  }
  std::string Body(size_t size) {
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(random());
    return body;
  }
  qvtest::TempDir dir;
  std::mt19937 random{7};
};

TEST_F(UdfOracles, TrickyTreesPureAndBridged) {
  QVISO_REQUIRE_OUTSIDE_CHECKERS();
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
      r.m__ULONG__Solution = QVX_NAME_COLLISION_RENAME_NEW;
      const std::string name = "R" + std::to_string(++counter);
      std::memset(r.m__UCHAR__Name, 0, sizeof r.m__UCHAR__Name);
      std::memcpy(r.m__UCHAR__Name, name.data(), name.size());
      ASSERT_EQ(r.m__UCHAR__IsWide, 0) << "UDF names never clash here";
    };
    ASSERT_NE(tree.Add((dir / "top/src").string()), nullptr) << tree.lastText;
    ASSERT_EQ(tree.Build(0, "TRICKY"), 0u) << tree.lastText;
    const std::string image = tree.WriteImage(dir, udf == 1 ? "pure.udf" : "bridge.udf");
    EXPECT_EQ(qvudf::UdfProblems(image, (dir / "top").string()), "");
    if (udf == 2) {
      EXPECT_EQ(qviso::OutsideProblems(tree, image), "");
      EXPECT_THAT(qviso::StructureProblems(qvtest::ReadFile(image)), testing::IsEmpty());
    }
  }
}

TEST_F(UdfOracles, DvdVideoReadByLsdvdAndCopiedBackByDvdbackup) {
  QVTEST_REQUIRE_PROGRAM("lsdvd");
  QVTEST_REQUIRE_PROGRAM("dvdbackup");
  qviso::StartEngine();
  for (int patch : {0, 1}) {
    SCOPED_TRACE(patch ? "patched" : "as authored");
    QV_HANDLE image = nullptr;
    char text[512] = {};
    QV_ULONG system = 0;
    ASSERT_EQ(Quorvane_DVDVideo_Create(&image, qvudf::VideoTs().c_str(), static_cast<QV_BOOLEAN>(patch), text,
                                       sizeof text, &system, "Holiday 2024", "", "", 2024, 5, 6, 7, 8, 9, 0),
              0u)
        << text;
    QV_ULONGLONG size = 0;
    ASSERT_EQ(Quorvane_DVDVideo_GetSizeInUCHARs(image, &size), 0u);
    std::string bytes(size, '\0');
    ASSERT_EQ(Quorvane_DVDVideo_Read(image, text, sizeof text, &system, size, bytes.data()), 0u) << text;
    Quorvane_DVDVideo_Destroy(image);
    const fs::path iso = dir / (patch ? "patched.iso" : "authored.iso");
    std::ofstream(iso, std::ios::binary) << bytes;

    std::string out;
    ASSERT_EQ(qvtest::RunCommand("lsdvd -x '" + iso.string() + "' 2>/dev/null | grep -E '^(Disc Title|Title)'", &out), 0)
        << out;
    EXPECT_EQ(out,
              "Disc Title: HOLIDAY_2024\n"
              "Title: 01, Length: 00:00:02.000 Chapters: 02, Cells: 02, Audio streams: 01, Subpictures: 00\n"
              "Title: 02, Length: 00:00:03.000 Chapters: 01, Cells: 01, Audio streams: 01, Subpictures: 00\n");
    const fs::path copy = dir / (patch ? "patched" : "authored");
    qvtest::RunCommand("dvdbackup -M -n copy -i '" + iso.string() + "' -o '" + copy.string() + "'", &out);
    for (const auto& f : fs::directory_iterator(qvudf::VideoTs())) {
      const std::string name = f.path().filename().string();
      const std::string back = qvtest::ReadFile(copy / "copy/VIDEO_TS" / name);
      if (!patch || name.find(".VOB") != std::string::npos)
        EXPECT_TRUE(back == qvtest::ReadFile(f.path())) << name << " comes back as it was";
      else
        EXPECT_EQ(back.size(), fs::file_size(f.path())) << name;
    }
    // The addresses inside the IFO and BUP files match the files' places
    // only when patched: the authoring tool left a gap we do not.
    EXPECT_EQ(qvtest::RunCommand("/usr/bin/python3 " + qvtest::SourceDir() + "/tests/udf/dvd_check.py '" + iso.string() + "'",
                                 &out),
              patch ? 0 : 1)
        << out;
  }
}

}  // namespace
