// Where things go in an image: descriptor, path table, directory and file
// addresses; record sizes; descriptor fields; the El Torito entries; and
// that the bytes do not depend on how the image is read.
#include <cstring>
#include <random>

#include "iso_support.h"

namespace {

using qviso::LE16;
using qviso::LE32;
using qviso::Sector;

std::string Text(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

class Layout : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
  qvtest::VirtualTime time;
};

// An empty root, with or without Joliet, at block 0 or where a later
// session starts: every address counts from the start, the system area is
// zero, the volume ends where the image does.
TEST_F(Layout, EmptyTreesAtAnyStart) {
  struct Case {
    bool joliet;
    uint32_t start;
  } cases[] = {{false, 0}, {true, 0}, {true, 11400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "joliet " << c.joliet << " start " << c.start);
    qviso::Tree tree({c.joliet});
    QV_HANDLE x = tree.AddFolder("X");
    ASSERT_EQ(Quorvane_ISO9660JolietFileTree_Remove(tree.handle(), &x), 0u);
    ASSERT_EQ(tree.Build(c.start), 0u) << tree.lastText;
    const std::string image = tree.Image();
    EXPECT_EQ(image.substr(0, 16 * 2048), std::string(16 * 2048, '\0')) << "system area";
    const uint8_t* next = Sector(image, c.start + 17, c.start);
    EXPECT_EQ(Text(Sector(image, c.start + 16, c.start) + 88, 32), std::string(32, '\0'))
        << "no escape sequences in the primary descriptor";
    if (c.joliet) {
      EXPECT_EQ(Text(next, 7), std::string("\2CD001\1", 7));
      EXPECT_EQ(Text(next + 88, 3), "%/@");
      next = Sector(image, c.start + 18, c.start);
    }
    EXPECT_EQ(Text(next, 7), std::string("\xFF" "CD001\1", 7)) << "terminator";
    EXPECT_THAT(qviso::StructureProblems(image, c.start), testing::IsEmpty());
  }
}

TEST_F(Layout, FileSizesAndAddresses) {
  dir.Write("src/a", std::string(2049, 'a'));
  dir.Write("src/b", "");
  dir.Write("src/c", std::string(2048, 'c'));
  dir.Write("src/d", "");
  qviso::Tree tree({false});
  ASSERT_NE(tree.Add((dir / "src").string()), nullptr) << tree.lastText;
  ASSERT_EQ(tree.Build(), 0u);
  const std::string image = tree.Image();
  QV_HANDLE src = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree.handle(), Quorvane_ISO9660JolietFileTree_GetRoot(tree.handle()));
  std::vector<QV_ULONG> lbas;
  for (QV_HANDLE k = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree.handle(), src); k;
       k = Quorvane_ISO9660JolietFileTree_GetNextKid(tree.handle(), k)) {
    lbas.push_back(tree.Lba(k));
  }
  ASSERT_EQ(lbas.size(), 4u);
  EXPECT_EQ(lbas[1], lbas[0] + 2) << "2049 bytes take two sectors";
  EXPECT_EQ(lbas[2], lbas[1]) << "an empty file takes none";
  EXPECT_EQ(lbas[3], lbas[2] + 1);
  EXPECT_EQ(image.size() / 2048, lbas[3]) << "an empty file last sits at the volume's end, the file before it ends there";
  EXPECT_EQ(Text(Sector(image, lbas[0]), 2048), std::string(2048, 'a'));
  EXPECT_EQ(Text(Sector(image, lbas[0] + 1), 2048), "a" + std::string(2047, '\0'));
  EXPECT_THAT(qviso::StructureProblems(image), testing::IsEmpty());
}

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
  for (const std::vector<uint32_t>& chunks :
       std::vector<std::vector<uint32_t>>{{1}, {2047, 1, 4096}, {3, 65536, 7, 2048, 100000}, {2048}}) {
    EXPECT_TRUE(tree.Image(chunks) == whole) << "chunks starting " << chunks[0];
  }
  EXPECT_THAT(qviso::StructureProblems(whole), testing::IsEmpty());
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
  const uint8_t* pvd = Sector(image, 16);
  EXPECT_EQ(Text(pvd + 8, 32), "SYS" + std::string(29, ' '));
  EXPECT_EQ(Text(pvd + 40, 32), std::string(32, 'L')) << "cut to the field";
  EXPECT_EQ(Text(pvd + 72, 8), std::string(8, '\0')) << "nothing past the volume identifier";
  EXPECT_EQ(LE32(pvd + 80), image.size() / 2048);
  EXPECT_EQ(Text(pvd + 190, 128), label40 + std::string(88, ' '));
  EXPECT_EQ(Text(pvd + 318, 3), "PUB");
  EXPECT_EQ(Text(pvd + 446, 3), "PUB");
  EXPECT_EQ(Text(pvd + 574, 3), "APP");
  EXPECT_EQ(Text(pvd + 702, 37), "COPY.TXT" + std::string(29, ' '));
  EXPECT_EQ(Text(pvd + 813, 17), std::string("2024010203040500\0", 17));
  EXPECT_EQ(Text(pvd + 830, 17), std::string("0000000000000000\0", 17)) << "not specified";
  EXPECT_EQ(pvd[881], 1);
  EXPECT_EQ(Text(pvd + 1024, 8), "CD-XA001");
  const uint8_t* svd = Sector(image, 17);
  std::string blank;
  for (int i = 0; i < 16; ++i) blank += std::string("\0 ", 2);
  EXPECT_EQ(Text(svd + 40, 32), blank) << "40 characters do not fit the Joliet volume identifier: left blank";
  EXPECT_EQ(Text(svd + 318, 6), std::string("\0P\0U\0B", 6));
  EXPECT_EQ(Text(svd + 8, 6), std::string("\0S\0Y\0S", 6));

  qviso::Tree badDate;
  badDate.AddFolder("D");
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_BuildImageEx(badDate.handle(), text, sizeof text, &system, 0, 0, 0, "L", "",
                                                        "", "", "", "", "2024-01-02", "", "", ""),
            2u);
  EXPECT_NE(std::string(text).find("not 16 digits"), std::string::npos) << text;
}

TEST_F(Layout, RecordingDatesCarryTheLocalOffset) {
  // 2020-06-01 10:00:00 UTC, in a zone two hours east.
  time.clock().SetUtc(1591005600, 120);
  qviso::Tree tree;
  QV_HANDLE folder = tree.AddFolder("D");
  QV_UCHAR date[7];
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_GetNodeISO9660DateTime(tree.handle(), folder, date), 0u);
  const QV_UCHAR expected[7] = {120, 6, 1, 12, 0, 0, 8};
  EXPECT_EQ(std::vector<int>(date, date + 7), std::vector<int>(expected, expected + 7));
  ASSERT_EQ(tree.Build(), 0u);
  const std::string image = tree.Image();
  const uint8_t* root = Sector(image, 16) + 156;
  const QV_UCHAR utc[7] = {120, 6, 1, 10, 0, 0, 0};
  EXPECT_EQ(std::vector<int>(root + 18, root + 25), std::vector<int>(utc, utc + 7)) << "the descriptor's root record: UTC, offset 0";
  qviso::Tree again;
  again.AddFolder("D");
  ASSERT_EQ(again.Build(), 0u);
  EXPECT_TRUE(again.Image() == image) << "the same clock makes the same image";
}

TEST_F(Layout, BootCatalogEntries) {
  const auto boot = dir.Write("boot.bin", std::string(3000, 'B'));
  qviso::Tree tree;
  tree.AddFolder("D");
  ASSERT_EQ(tree.SetBoot(boot.string(), 6, 0, 4, true), 0u) << tree.lastText;
  ASSERT_EQ(tree.Build(), 0u);
  const std::string image = tree.Image();
  const uint8_t* record = Sector(image, 17);
  EXPECT_EQ(Text(record, 30), std::string("\0CD001\1EL TORITO SPECIFICATION", 30));
  EXPECT_EQ(LE32(record + 71), 20u);
  EXPECT_EQ(Sector(image, 18)[0], 2) << "the Joliet descriptor follows the boot record";
  EXPECT_EQ(Sector(image, 19)[0], 255);
  const uint8_t* catalog = Sector(image, 20);
  uint16_t sum = 0;
  for (int i = 0; i < 32; i += 2) sum = static_cast<uint16_t>(sum + LE16(catalog + i));
  EXPECT_EQ(sum, 0) << "validation entry checksum";
  EXPECT_EQ(Text(catalog + 4, 6), "Quorva");
  EXPECT_EQ(catalog[30], 0x55);
  EXPECT_EQ(catalog[31], 0xAA);
  EXPECT_EQ(Text(catalog + 32, 8), std::string("\x88\x00\xC0\x07\x06\x00\x04\x00", 8));
  const uint32_t bootLba = LE32(catalog + 40);
  EXPECT_EQ(Text(Sector(image, bootLba), 2048), std::string(2048, 'B'));
  EXPECT_EQ(Text(Sector(image, bootLba + 1), 952), std::string(952, 'B'));
  EXPECT_THAT(qviso::StructureProblems(image), testing::IsEmpty());
}

TEST_F(Layout, TooManyFoldersAreRefused) {
  qviso::Tree tree({false});
  std::vector<QV_HANDLE> tops;
  for (int i = 0; i < 256; ++i) tops.push_back(tree.AddFolder("T" + std::to_string(i)));
  for (int i = 0; i < 65534 - 256; ++i) ASSERT_NE(tree.AddFolder("F" + std::to_string(i), tops[i % 256]), nullptr);
  // 65535 with the root is the most the path table can number; one more
  // is refused.
  EXPECT_EQ(tree.AddFolder("ONE_MORE", tops[0]) != nullptr, true);
  EXPECT_EQ(tree.Build(), 20u);
  EXPECT_NE(tree.lastText.find("more than 65535 folders"), std::string::npos) << tree.lastText;
  QV_HANDLE extra = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree.handle(), tops[0]);
  while (Quorvane_ISO9660JolietFileTree_GetNextKid(tree.handle(), extra))
    extra = Quorvane_ISO9660JolietFileTree_GetNextKid(tree.handle(), extra);
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_Remove(tree.handle(), &extra), 0u);
  EXPECT_EQ(tree.Build(), 0u) << tree.lastText;
}

}  // namespace
