// How large files are described, and the item entry points: what the
// command cannot reach and the outside checkers do not see. (DVD-Video:
// UdfCli.)
#include <filesystem>
#include <fstream>

#include "../iso9660/iso_support.h"

namespace {

namespace fs = std::filesystem;
using qviso::LE16;
using qviso::LE32;

// A file's data goes in extents of at most 1 GiB less a block, each
// following the one before; an empty file has none. Only the structures are
// read: the root's entry and identifiers, src's, then its files' entries.
TEST(UdfLayout, LargeFilesTakeOneExtentPerStartedChunk) {
  qvtest::TempDir dir;
  const struct {
    uint64_t size;
    uint32_t extents;
  } cases[] = {{0, 0}, {0x3FFFF800, 1}, {0x3FFFF801, 2}, {uint64_t{5} << 30, 6}};
  for (size_t k = 0; k < std::size(cases); ++k) fs::resize_file(dir.Write("src/f" + std::to_string(k), ""), cases[k].size);
  qviso::Tree bridge({.udf = 2});
  EXPECT_EQ(bridge.Add((dir / "src").string()), nullptr) << "5 GiB does not fit the ISO9660 view";
  EXPECT_EQ(bridge.lastStatus, static_cast<uint32_t>(EN_FILE_TOO_BIG));

  qviso::Tree tree({.udf = 1});
  ASSERT_NE(tree.Add((dir / "src").string()), nullptr) << tree.lastText;
  ASSERT_EQ(tree.Build(), 0u) << tree.lastText;
  std::string head(272 * 2048, '\0');
  char text[512] = {};
  QV_ULONG system = 0;
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_Read(tree.handle(), text, sizeof text, &system,
                                                static_cast<QV_LONG>(head.size()), head.data()),
            0u)
      << text;
  uint32_t next = 0;
  for (size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE(cases[k].size);
    const size_t entry = (267 + k) * 2048;
    ASSERT_EQ(LE16(head, entry), 261);
    ASSERT_EQ(LE32(head, entry + 172), 8 * cases[k].extents);
    uint64_t total = 0;
    for (uint32_t e = 0; e < cases[k].extents; ++e) {
      const size_t ad = entry + 176 + LE32(head, entry + 168) + 8 * e;
      total += LE32(head, ad);
      EXPECT_TRUE(e == 0 ? LE32(head, ad + 4) >= next : LE32(head, ad + 4) == next) << "in file order, one after another";
      EXPECT_TRUE(e + 1 == cases[k].extents || LE32(head, ad) == 0x3FFFF800u) << "full extents but the last";
      next = LE32(head, ad + 4) + (LE32(head, ad) + 2047) / 2048;
    }
    EXPECT_EQ(total, cases[k].size);
  }
}

// Items of a volume: names upper-cased and kept apart ignoring case.
TEST(UdfItems, NamesClashingIgnoringCaseGetTheRenameCounter) {
  QVTEST_REQUIRE_PROGRAM("7z");
  qviso::StartEngine();
  qvtest::TempDir dir;
  const fs::path a = dir.Write("a.txt", "first"), b = dir.Write("b.txt", "second"), c = dir.Write("noext", "third");
  QUORVANE_UDF_TREE_ITEM root{}, items[4]{};
  ASSERT_EQ(Quorvane_UDF_FormatTreeItemAsFolder(&root, 1, nullptr, nullptr), 0u);
  EXPECT_EQ(Quorvane_UDF_FormatTreeItemAsFile(&items[0], 2, "a.txt", a.c_str(), &root), 0u);
  EXPECT_EQ(Quorvane_UDF_FormatTreeItemAsFile(&items[1], 3, "A.TXT", b.c_str(), &root), 0u);
  EXPECT_EQ(Quorvane_UDF_FormatTreeItemAsFile(&items[2], 4, "NoExt", c.c_str(), &root), 0u);
  EXPECT_EQ(Quorvane_UDF_FormatTreeItemAsFile(&items[3], 5, "gone", (dir / "missing").c_str(), &root), 2u);
  EXPECT_EQ(Quorvane_UDF_FormatTreeItemAsFile(&items[3], 5, "x", a.c_str(), &items[0]), 87u) << "a file as parent";
  EXPECT_EQ(Quorvane_UDF_GetItemNextSibling(&items[0]), &items[1]);
  QUORVANE_UDF_CONTROL_BLOCK control{};
  char text[512] = {};
  QV_ULONG system = 0;
  ASSERT_EQ(Quorvane_UDF_Create(&root, nullptr, nullptr, &control, text, sizeof text, &system, "items"), 0u) << text;
  QV_ULONG high = 0;
  std::string image(Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(control.m__PVOID__Body, &high), '\0');
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_Read(control.m__PVOID__Body, text, sizeof text, &system,
                                                static_cast<QV_LONG>(image.size()), image.data()),
            0u);
  std::ofstream(dir / "items.udf", std::ios::binary) << image;
  std::string listing;
  ASSERT_EQ(qvtest::RunCommand("7z l -slt -tudf '" + (dir / "items.udf").string() + "' | sed -n 's/^Path = //p' | sort",
                               &listing),
            0);
  EXPECT_EQ(listing, (dir / "items.udf").string() + "\nA.TXT\nA000001.TXT\nNOEXT\n");
  EXPECT_EQ(Quorvane_UDF_Destroy(&root, &control), 0u);
  EXPECT_EQ(root.m__PVOID__Item, nullptr);
  EXPECT_EQ(items[1].m__PVOID__Item, nullptr) << "destroyed with the root";
}

}  // namespace
