// Name collisions: the callback's record, the four answers, merging,
// the skip-name-check setting, and the boot image among user files.
#include <algorithm>

#include "iso_support.h"

namespace {

using qviso::Answer;
using qviso::RecordName;

class Collision : public ::testing::Test {
 protected:
  void SetUp() override {
    a = dir.Write("a/report_2023_q1.doc", "first").string();
    b = dir.Write("b/report_2023_q2.doc", "second").string();
  }
  qvtest::TempDir dir;
  qvtest::VirtualTime time;
  std::string a, b;
};

TEST_F(Collision, IsoNamesCollideFirstAndEachAnswerActs) {
  // Both short names are "report_2023_": the ISO9660 names collide, the
  // Joliet names do not.
  struct Case {
    uint32_t answer;
    const char* newName;
    std::vector<std::string> kids;
    bool added;
    uint32_t status = 0;
  } cases[] = {
      {QVX_NAME_COLLISION_SKIP_NEW, "", {"REPORT_2023_.;1"}, false},
      {QVX_NAME_COLLISION_REPLACE_OLD, "", {"REPORT_2023_.;1"}, true},
      {QVX_NAME_COLLISION_RENAME_NEW, "report~2.doc;1", {"REPORT_2023_.;1", "REPORT_2.DOC;1"}, true},
      {QVX_NAME_COLLISION_RENAME_NEW, "", {"REPORT_2023_.;1"}, false, 2},  // changes nothing: fails, never loops
      {QVX_NAME_COLLISION_MERGE_FOLDERS, "", {"REPORT_2023_.;1"}, true},  // files: acts as replace
      {77, "", {"REPORT_2023_.;1"}, true},  // unknown: the default, never two records of one name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "answer " << c.answer << " " << c.newName);
    qviso::Tree tree;
    tree.onCollision = [&](QUORVANE_NAME_COLLISION& r) { Answer(r, c.answer, c.newName); };
    ASSERT_NE(tree.Add(a), nullptr);
    QV_HANDLE second = tree.Add(b);
    EXPECT_EQ(tree.lastStatus, c.status) << tree.lastText;
    ASSERT_EQ(tree.collisions.size(), 1u);
    const QUORVANE_NAME_COLLISION& r = tree.collisions[0];
    EXPECT_EQ(RecordName(r), "REPORT_2023_.;1");
    EXPECT_EQ(tree.Kids(), c.kids);
    EXPECT_EQ(second != nullptr, c.added) << "a node not added comes back NULL";
  }
}

TEST_F(Collision, TheRecordDescribesBothNodesWithItsDefault) {
  qviso::Tree tree;
  tree.onCollision = [](QUORVANE_NAME_COLLISION& r) { Answer(r, QVX_NAME_COLLISION_SKIP_NEW); };
  tree.Add(a);
  tree.Add(b);
  ASSERT_EQ(tree.collisions.size(), 1u);
  // The callback saw the record before answering: its default was replace.
  EXPECT_STREQ(tree.collisions[0].m__PCHAR__ExistingPath, a.c_str());
  EXPECT_STREQ(tree.collisions[0].m__PCHAR__NewPath, b.c_str());
  EXPECT_EQ(tree.collisions[0].m__ULONG__ExistingAttributes & 0x10, 0u);

  EXPECT_EQ(tree.defaults, std::vector<uint32_t>{QVX_NAME_COLLISION_REPLACE_OLD});

  // Two folders merge by default, then one.txt inside them is replaced.
  qviso::Tree folders;
  dir.Write("x/same/one.txt", "1");
  dir.Write("y/same/two.txt", "2");
  dir.Write("y/same/one.txt", "new 1");
  folders.Add((dir / "x/same").string());
  folders.Add((dir / "y/same").string());
  EXPECT_EQ(folders.defaults, (std::vector<uint32_t>{QVX_NAME_COLLISION_MERGE_FOLDERS, QVX_NAME_COLLISION_REPLACE_OLD}));
  ASSERT_EQ(folders.Kids(), std::vector<std::string>{"SAME"});
  std::vector<std::string> kids = folders.Kids(Quorvane_ISO9660JolietFileTree_GetFirstKid(folders.handle(), folders.root()));
  std::sort(kids.begin(), kids.end());
  EXPECT_EQ(kids, (std::vector<std::string>{"ONE.TXT;1", "TWO.TXT;1"})) << "merged kid by kid";
}

TEST_F(Collision, AFileCollidingWithAFolderReplacesIt) {
  dir.Write("p/NAME/inside.txt", "i");
  dir.Write("q/name", "file");
  qviso::Tree tree;
  tree.onCollision = [](QUORVANE_NAME_COLLISION& r) { Answer(r, QVX_NAME_COLLISION_MERGE_FOLDERS); };
  tree.Add((dir / "p/NAME").string());
  QV_HANDLE file = tree.Add((dir / "q/name").string());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(tree.Kids(), std::vector<std::string>{"NAME.;1"}) << "3 acts as 1 unless both are folders";
}

TEST_F(Collision, JolietNamesAreComparedAfterTheIsoNames) {
  // "Report.txt" and "REPORT.TXT": the same ISO9660 name. Renamed in the
  // ISO9660 tree, the Joliet names still differ by case, so no second
  // question. "x.txt" twice under different disk folders: both names
  // collide; the Joliet question comes after the ISO9660 rename.
  const auto one = dir.Write("1/x.txt", "one"), two = dir.Write("2/x.txt", "two");
  qviso::Tree tree;
  std::vector<std::pair<int, std::string>> asked;
  int isoRenames = 1;
  tree.onCollision = [&](QUORVANE_NAME_COLLISION& r) {
    asked.emplace_back(r.m__UCHAR__IsWide, RecordName(r));
    Answer(r, QVX_NAME_COLLISION_RENAME_NEW,
           r.m__UCHAR__IsWide ? "x (2).txt;1" : "X" + std::to_string(++isoRenames) + ".TXT");
  };
  tree.Add(one.string());
  QV_HANDLE second = tree.Add(two.string());
  ASSERT_NE(second, nullptr) << tree.lastText;
  EXPECT_EQ(asked, (std::vector<std::pair<int, std::string>>{{0, "X.TXT;1"}, {1, "x.txt;1"}}));
  EXPECT_EQ(tree.IsoName(second), "X2.TXT;1");
  EXPECT_EQ(tree.JolietName(second), u"x (2).txt;1");

  const auto lower = dir.Write("3/Report.txt", "r"), upper = dir.Write("4/REPORT.TXT", "R");
  asked.clear();
  tree.Add(lower.string());
  tree.Add(upper.string());
  EXPECT_EQ(asked, (std::vector<std::pair<int, std::string>>{{0, "REPORT.TXT;1"}})) << "Joliet keeps case apart";
}

TEST_F(Collision, SkipNameCheckLinksWithoutAsking) {
  Quorvane_SetSkipNameCheck(1);
  qviso::Tree tree;
  tree.Add(a);
  tree.Add(b);
  Quorvane_SetSkipNameCheck(0);
  EXPECT_TRUE(tree.collisions.empty());
  EXPECT_EQ(tree.Kids().size(), 2u);
}

TEST_F(Collision, TheBootImageSurvivesUserFilesOfItsName) {
  const auto bootA = dir.Write("boot-a.bin", std::string(2048, 'A'));
  const auto bootB = dir.Write("boot-b.bin", std::string(4096, 'B'));
  const auto user = dir.Write("user/boot.img", "user data");
  struct Case {
    const char* what;
    bool userFirst;
    bool hide;
    uint32_t answer;
  } cases[] = {
      {"visible boot image, user file replaces its record", false, false, QVX_NAME_COLLISION_REPLACE_OLD},
      {"visible boot image, user file skipped", false, false, QVX_NAME_COLLISION_SKIP_NEW},
      {"user file first, boot image skipped", true, false, QVX_NAME_COLLISION_SKIP_NEW},
      {"hidden boot image, no question", false, true, QVX_NAME_COLLISION_REPLACE_OLD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qviso::Tree tree;
    tree.onCollision = [&](QUORVANE_NAME_COLLISION& r) { Answer(r, c.answer); };
    if (c.userFirst) tree.Add(user.string());
    ASSERT_EQ(tree.SetBoot(bootA.string(), 0, 0, 4, c.hide), 0u);
    ASSERT_EQ(tree.SetBoot(bootB.string(), 0, 0, 4, c.hide), 0u) << "a second image replaces the first";
    if (!c.userFirst) tree.Add(user.string());
    // Each visible image set after the user file asks once; the hidden
    // one has no record to clash.
    EXPECT_EQ(tree.collisions.size(), c.hide ? 0u : c.userFirst ? 2u : 1u);
    ASSERT_EQ(tree.Build(), 0u) << tree.lastText;
    const std::string image = tree.Image();
    EXPECT_EQ(image.substr(size_t{qviso::LE32(image, 20 * 2048 + 40)} * 2048, 8), "BBBBBBBB") << "the last boot image";
    EXPECT_EQ(qviso::StructureProblems(tree.WriteImage(dir)), "") << "no duplicate BOOT.IMG;1 record";
  }
}

TEST_F(Collision, RemovingTheBootImageRemovesTheBootEntry) {
  const auto boot = dir.Write("boot.bin", std::string(100, 'b'));
  qviso::Tree tree;
  ASSERT_EQ(tree.SetBoot(boot.string(), 0, 0, 1, false), 0u);
  QV_HANDLE node = Quorvane_ISO9660JolietFileTree_GetFirstKid(tree.handle(), tree.root());
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_Remove(tree.handle(), &node), 0u);
  ASSERT_EQ(tree.Build(), 0u);
  EXPECT_EQ(tree.Image()[17 * 2048], 2) << "no boot record: the Joliet descriptor comes next";
}

}  // namespace
