// What no outside checker looks at: descriptor fields cut to their size,
// dates, the El Torito entry, the path table's limit, and bytes whatever
// the read sizes.
#include <random>

#include "iso_support.h"

namespace {

using qviso::LE32;

class Layout : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
  qvtest::VirtualTime time;
};

TEST_F(Layout, BytesDoNotDependOnReadSizes) {
  std::mt19937 random(7);
  for (int i = 0; i < 40; ++i) {
    std::string body(random() % 9000, '\0');
    for (char& c : body) c = static_cast<char>(random());
    dir.Write("src/d" + std::to_string(i % 5) + "/f" + std::to_string(i), body);
  }
  qviso::Tree tree;
  ASSERT_NE(tree.Add((dir / "src").string()), nullptr);
  ASSERT_EQ(tree.Build(), 0u);
  const std::string whole = tree.Image({1u << 30});
  ASSERT_FALSE(whole.empty());
  for (const std::vector<uint32_t>& chunks : std::vector<std::vector<uint32_t>>{{1}, {2047, 1, 4096}, {3, 65536, 7}})
    EXPECT_TRUE(tree.Image(chunks) == whole) << "chunks starting " << chunks[0];
}

TEST_F(Layout, DescriptorTextsStayInTheirFields) {
  const std::string label40(40, 'L');
  qviso::Tree tree;
  tree.AddFolder("D");
  char text[512] = {};
  QV_ULONG system = 0;
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_BuildImageEx(tree.handle(), text, sizeof text, &system, 0, 0, 1,
                                                        label40.c_str(), "PUB", "APP", "SYS", "COPY.TXT", "BIB.TXT",
                                                        "2024010203040500", "", "", ""),
            0u)
      << text;
  const std::string image = tree.Image();
  const size_t pvd = 16 * 2048, svd = 17 * 2048;
  EXPECT_EQ(image.substr(pvd + 40, 40), std::string(32, 'L') + std::string(8, '\0')) << "cut to the field";
  EXPECT_EQ(LE32(image, pvd + 80), image.size() / 2048) << "volume space size";
  EXPECT_EQ(image.substr(pvd + 190, 128), label40 + std::string(88, ' '));
  EXPECT_EQ(image.substr(pvd + 813, 34), std::string("2024010203040500\0" "0000000000000000\0", 34));
  EXPECT_EQ(image.substr(pvd + 1024, 8), "CD-XA001");
  std::string blank;
  for (int i = 0; i < 16; ++i) blank += std::string("\0 ", 2);
  EXPECT_EQ(image.substr(svd + 40, 32), blank) << "40 characters do not fit the Joliet volume identifier: left blank";
  EXPECT_EQ(image.substr(svd + 318, 6), std::string("\0P\0U\0B", 6));

  qviso::Tree badDate;
  badDate.AddFolder("D");
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_BuildImageEx(badDate.handle(), text, sizeof text, &system, 0, 0, 0, "L", "",
                                                        "", "", "", "", "2024-01-02", "", "", ""),
            2u);
}

TEST_F(Layout, RecordingDatesCarryTheLocalOffset) {
  // 2020-06-01 10:00:00 UTC, in a zone two hours east.
  time.clock().SetUtc(1591005600, 120);
  qviso::Tree tree;
  QV_HANDLE folder = tree.AddFolder("D");
  QV_UCHAR date[7];
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_GetNodeISO9660DateTime(tree.handle(), folder, date), 0u);
  EXPECT_EQ(std::string(date, date + 7), std::string({120, 6, 1, 12, 0, 0, 8}));
  ASSERT_EQ(tree.Build(), 0u);
  const std::string image = tree.Image();
  EXPECT_EQ(image.substr(16 * 2048 + 156 + 18, 7), std::string({120, 6, 1, 10, 0, 0, 0}))
      << "the descriptor's root record: UTC, offset 0";
  qviso::Tree again;
  again.AddFolder("D");
  ASSERT_EQ(again.Build(), 0u);
  EXPECT_TRUE(again.Image() == image) << "the same clock makes the same image";
}

// The entry carries what the caller chose (system type 6, 4 sectors);
// pycdlib checks the catalog's checksum and QEMU boots such images.
TEST_F(Layout, BootCatalogEntries) {
  const auto boot = dir.Write("boot.bin", std::string(3000, 'B'));
  qviso::Tree tree;
  tree.AddFolder("D");
  ASSERT_EQ(tree.SetBoot(boot.string(), 6, 0, 4, true), 0u) << tree.lastText;
  ASSERT_EQ(tree.Build(), 0u);
  const std::string image = tree.Image();
  EXPECT_EQ(LE32(image, 17 * 2048 + 71), 20u);
  EXPECT_EQ(image.substr(20 * 2048 + 32, 8), std::string("\x88\x00\xC0\x07\x06\x00\x04\x00", 8));
  EXPECT_EQ(image.substr(size_t{LE32(image, 20 * 2048 + 40)} * 2048, 3000), std::string(3000, 'B')) << "hidden, yet whole";
}

TEST_F(Layout, TooManyFoldersAreRefused) {
  qviso::Tree tree({false});
  std::vector<QV_HANDLE> tops;
  for (int i = 0; i < 256; ++i) tops.push_back(tree.AddFolder("T" + std::to_string(i)));
  for (int i = 0; i < 65534 - 256; ++i) ASSERT_NE(tree.AddFolder("F" + std::to_string(i), tops[i % 256]), nullptr);
  // 65535 with the root is the most the path table can number; one more
  // is refused when built.
  QV_HANDLE extra = tree.AddFolder("ONE_MORE", tops[0]);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(tree.Build(), 20u);
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_Remove(tree.handle(), &extra), 0u);
  EXPECT_EQ(tree.Build(), 0u) << tree.lastText;
}

}  // namespace
