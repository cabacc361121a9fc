// The file tree where images cannot show it: the contents form of an
// addition, refusals and limits, walks that meet faults, the callbacks, and
// the kid index.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "files/file.h"
#include "files_support.h"

namespace {

namespace fs = std::filesystem;
using qvtest::CatchEngine;
using qvtest::TestTree;

constexpr uint32_t kAdded = CN_FILE_TREE_NODE_ADDED;
constexpr uint32_t kRemoved = CN_FILE_TREE_NODE_REMOVED;
constexpr uint32_t kSkipped = CN_FILE_TREE_NODE_SKIPPED;

class Tree : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("src/b.txt", "bb");
    dir.Write("src/a.txt", "a");
    dir.Write("src/sub/deep/x.bin", "xyz");
    dir.Write("src/sub/y", "");
    fs::create_directories(dir / "src/empty");
  }
  std::string Path(const std::string& relative) const { return (dir / relative).string(); }

  qvtest::TempDir dir;
  qvtest::VirtualTime time;
};

// A trailing separator adds the folder's contents (the command adds each
// folder itself, which the images show); a file without write permission
// is read-only.
TEST_F(Tree, ATrailingSeparatorAddsTheContents) {
  ASSERT_EQ(::chmod(Path("src/a.txt").c_str(), 0444), 0);
  TestTree tree;
  EXPECT_EQ(tree.Add(Path("src") + "/", "ignored"), nullptr);
  EXPECT_EQ(tree.Dump(), "a.txt b.txt empty/{} sub/{deep/{x.bin} y}");
  const CQuorvane_FileTreeNode* a = tree.GetFirstKid(tree.GetRoot());
  EXPECT_EQ(a->GetAttributes(), 0x01u);
  EXPECT_EQ(a->GetNextKid()->GetAttributes(), 0x80u);
  tree.Add(Path("src/sub") + "///");
  EXPECT_EQ(tree.Dump(), "a.txt b.txt empty/{} sub/{deep/{x.bin} y} deep/{x.bin} y");
}

// Names arrive as bytes; a name that is not UTF-8 keeps its bytes in the
// path (so the file can be read) and shows a valid name in the image.
TEST_F(Tree, InvalidUtf8NamesAreShownValidAndReadByTheirBytes) {
  const std::string raw = "bad\xFF\xC3(name\xED\xA0\x80.txt";
  dir.Write("u/" + raw, "payload");
  TestTree tree;
  CQuorvane_FileTreeNode* kid = tree.Add(Path("u"))->GetFirstKid();
  ASSERT_NE(kid, nullptr);
  EXPECT_STREQ(kid->GetLongName(), "bad__(name___.txt");
  CQuorvane_DiskFile source(kid->GetAbsolutePath(), kid->GetSizeInUCHARs());
  char buffer[7];
  source.Read(7, buffer);
  EXPECT_EQ(std::string(buffer, 7), "payload");
}

TEST_F(Tree, DatesFollowTheTimeChoiceInLocalTime) {
  const std::string file = Path("src/a.txt");
  // access 2001-02-03 04:05:06 UTC, write 2002-03-04 05:06:07 UTC
  const timespec times[2] = {{981173106, 0}, {1015218367, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  time.clock().SetUtc(1136073600, 60);  // one hour east of UTC
  for (auto [choice, year, hour] : {std::tuple{1u, 2001, 5}, std::tuple{7u, 2002, 6}}) {
    TestTree tree;
    const QV_SYSTEMTIME date = tree.GetDate(tree.Add(file, nullptr, nullptr, choice));
    EXPECT_EQ(date.wYear, year) << choice;
    EXPECT_EQ(date.wHour, hour) << choice;
  }
  const uint64_t when = 125963423999990000;  // a virtual folder's own date: 2000-02-29 23:59:59.999 UTC
  TestTree tree;
  EXPECT_EQ(tree.GetDate(tree.CreateFromRootVirtual("dated", nullptr, &when)).wMonth, 3) << "March 1st, local";
}

TEST_F(Tree, RefusalsAndLimitsWithTheirTexts) {
  TestTree tree;
  CQuorvane_FileTreeNode* parent = nullptr;
  auto e = CatchEngine([&] { tree.CreateFromRoot(nullptr, nullptr, 2, &parent); });
  EXPECT_EQ(e->Number(), 2u);
  EXPECT_STREQ(e->Text(), "CQuorvane_FileTree::CreateFromRoot(): Both absolute and new names are NULL - this is illegal!!!");
  CQuorvane_FileTreeNode* file = tree.Add(Path("src/b.txt"), nullptr, tree.CreateFromRootVirtual("v", nullptr));
  EXPECT_EQ(CatchEngine([&] { tree.CreateFromRootVirtual("under a file", file); })->Number(), 2u);
  EXPECT_EQ(file->GetFirstKid(), nullptr);

  const std::string node = "CQuorvane_FileTreeNode::CQuorvane_FileTreeNode(): strlen( p__PCHAR__";
  const struct {
    std::string path, longName, shortName, text;
  } cases[] = {
      {std::string(260, 'p'), "l", "s", node + "AbsolutePathAndFileName ) == 260 exceeds (>=) 260!!!"},
      {"p", std::string(260, 'l'), "s", node + "LongFileName ) == 260 exceeds (>=) 260!!!"},
      {"p", "l", std::string(13, 's'), node + "ShortFileName ) == 13 exceeds (>=) 13!!!"},
  };
  for (const auto& c : cases) {
    e = CatchEngine([&] { CQuorvane_FileTreeNode n(c.path.c_str(), c.longName.c_str(), c.shortName.c_str(), 0, 0, nullptr, 0, 0); });
    EXPECT_EQ(e->Number(), 2u);
    EXPECT_EQ(e->Text(), c.text);
  }
  CQuorvane_FileTreeNode fits(std::string(259, 'p').c_str(), std::string(259, 'l').c_str(),
                              std::string(12, 's').c_str(), 0, 0, nullptr, 0, ~0ull);
  EXPECT_EQ(fits.GetDate().wYear, 0) << "a time past the calendar leaves the date zero";
}

// A walk that meets a fault: without ignore-errors the addition fails with
// the fault's exception and takes back what it linked; with it the entry is
// skipped and reported. (The command, which never ignores errors, refuses
// dangling links and long paths by name.)
TEST_F(Tree, WalksThatMeetFaultsFailOrSkip) {
  qvtest::FaultyFileSystem faults;
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string add;
    uint32_t number, system;  // 0: not checked
    std::string text;         // a part of the exception's text
    const char* tolerant;     // the tree with ignore-errors; nullptr: that fails too
    std::string skipped;
  };
  const Case cases[] = {
      {"unreadable subfolder", [&] { faults.listErrors[Path("src/sub")] = 5; }, "src", 5, 5,
       "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): FindFirstFile( '" + Path("src/sub") + "' ) failed, status 5!!!",
       "src/{a.txt b.txt empty/{}}", Path("src/sub")},
      {"entry of a contents addition", [&] { faults.entryErrors[Path("src/sub")] = 5; }, "src/", 5, 0, "",
       "a.txt b.txt empty/{}", Path("src/sub")},
      {"missing", [] {}, "nothing-here", 5, 2, "", nullptr, ""},
      {"symbolic link loop", [&] { fs::create_directory_symlink("..", dir / "src/sub/up"); }, "src", 5, 1921,
       Path("src/sub/up"), "src/{a.txt b.txt empty/{} sub/{deep/{x.bin} y}}", Path("src/sub/up")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    faults.listErrors.clear();
    faults.entryErrors.clear();
    c.make();
    {
      TestTree first;
      EXPECT_TRUE(first.AddFails(Path(c.add)));
      EXPECT_EQ(first.GetRoot(), nullptr) << "a failed first addition leaves no root behind";
    }
    TestTree tree(false);
    tree.CreateFromRootVirtual("keep", nullptr);
    auto e = tree.AddFails(Path(c.add));
    ASSERT_TRUE(e);
    EXPECT_EQ(c.number ? e->Number() : 0u, c.number);
    EXPECT_EQ(c.system ? e->SystemError() : 0u, c.system);
    EXPECT_NE(std::string(e->Text()).find(c.text), std::string::npos) << e->Text();
    EXPECT_EQ(tree.Dump(), "keep/{}") << "nothing of the failed addition stays";
    TestTree tolerant(true);
    if (c.tolerant == nullptr) {
      EXPECT_TRUE(tolerant.AddFails(Path(c.add))) << "ignore-errors does not cover the path itself";
      continue;
    }
    tolerant.Add(Path(c.add));
    EXPECT_EQ(tolerant.Dump(), c.tolerant);
    EXPECT_EQ(tolerant.Names(kSkipped), std::vector<std::string>{c.skipped});
  }
}

// Things that are not files or folders never make nodes, and do not fail
// an addition.
TEST_F(Tree, FifosAndDevicesAreSkipped) {
  ASSERT_EQ(::mkfifo(Path("src/fifo").c_str(), 0644), 0);
  fs::create_symlink("/dev/null", dir / "src/device");
  TestTree tree(false);
  tree.Add(Path("src"));
  EXPECT_EQ(tree.Dump(), "src/{a.txt b.txt empty/{} sub/{deep/{x.bin} y}}");
  EXPECT_EQ(tree.Names(kSkipped), (std::vector<std::string>{Path("src/device"), Path("src/fifo")}));
}

TEST_F(Tree, EntriesAreSortedByteWise) {
  for (const char* name : {"b", "B", "a", "\xC3\xA9", "Z", "_", "10", "9"}) dir.Write(std::string("s/") + name, "");
  TestTree tree;
  tree.Add(Path("s"));
  EXPECT_EQ(tree.Dump(), "s/{10 9 B Z _ a b \xC3\xA9}");
}

TEST_F(Tree, CallbacksReportAdditionsAndRemovalsKidsFirst) {
  TestTree tree;
  CQuorvane_FileTreeNode* sub = tree.Add(Path("src/sub"));
  EXPECT_EQ(tree.Names(kAdded), (std::vector<std::string>{"/", Path("src/sub"), Path("src/sub/deep"),
                                                          Path("src/sub/deep/x.bin"), Path("src/sub/y")}));
  tree.events.clear();
  EXPECT_TRUE(tree.RemoveNode(&sub));
  EXPECT_EQ(sub, nullptr);
  EXPECT_EQ(tree.Names(kRemoved), (std::vector<std::string>{Path("src/sub/deep/x.bin"), Path("src/sub/deep"),
                                                            Path("src/sub/y"), Path("src/sub")}));
  tree.events.clear();
  tree.CreateFromRootMemoryChecked(nullptr, 1, "handle", 0, tree.CreateFromRootVirtual("virtual", nullptr));
  EXPECT_EQ(tree.Names(kAdded), (std::vector<std::string>{"virtual", "handle"})) << "a node without a path by its name";
}

TEST_F(Tree, RemovingTheRootEmptiesTheTreeAndForeignNodesAreRefused) {
  TestTree tree;
  tree.Add(Path("src"));
  CQuorvane_FileTreeNode* root = tree.GetRoot();
  EXPECT_TRUE(tree.RemoveNode(&root));
  EXPECT_EQ(tree.GetRoot(), nullptr);
  tree.Add(Path("src/a.txt"));
  EXPECT_EQ(tree.Dump(), "a.txt");
  TestTree other;
  CQuorvane_FileTreeNode* foreign = other.CreateFromRootVirtual("x", nullptr);
  EXPECT_FALSE(tree.RemoveNode(&foreign));
  EXPECT_NE(foreign, nullptr);
  CQuorvane_FileTreeNode* none = nullptr;
  EXPECT_FALSE(tree.RemoveNode(&none));
  EXPECT_FALSE(tree.RemoveNode(nullptr));
}

// Deep nesting must not exhaust the stack when a tree is torn down.
TEST_F(Tree, DeepVirtualNestingIsDestroyedWithoutRecursion) {
  auto tree = std::make_unique<TestTree>();
  CQuorvane_FileTreeNode* node = nullptr;
  for (int i = 0; i < 200000; ++i) node = tree->CreateFromRootVirtual("d", node);
  EXPECT_EQ(tree->GetDepth(), 200001) << "/ is level 1";
  CQuorvane_FileTreeNode* top = tree->GetFirstKid(tree->GetRoot());
  tree->events.clear();
  EXPECT_TRUE(tree->RemoveNode(&top));
  EXPECT_EQ(tree->Names(kRemoved).size(), 200000u);
  for (int i = 0; i < 200000; ++i) node = tree->CreateFromRootVirtual("d", i ? node : nullptr);
  tree.reset();  // the destructor walks it too
}

// FindKid answers from a list scan in small folders and from a hash index
// in large ones; both must agree with a plain search in list order, also
// after renames (which may make names repeat) and removals.
TEST_F(Tree, FindKidAgreesWithAPlainSearch) {
  for (int kids : {31, 33, 1000}) {
    TestTree tree(false, TestTree::Clash::Allow);
    CQuorvane_FileTreeNode* folder = tree.CreateFromRootVirtual("f", nullptr);
    std::mt19937 rng(static_cast<uint32_t>(kids));
    auto name = [&] { return "n" + std::to_string(rng() % (kids / 2 + 2)); };
    for (int i = 0; i < kids; ++i) tree.CreateFromRootVirtual(name().c_str(), folder);
    auto check = [&](const char* when) {
      for (int probe = 0; probe < kids / 2 + 3; ++probe) {
        const std::string key = "n" + std::to_string(probe);
        const CQuorvane_FileTreeNode* after = nullptr;
        for (;;) {
          const CQuorvane_FileTreeNode* plain = after ? after->GetNextKid() : folder->GetFirstKid();
          while (plain && key != plain->GetLongName()) plain = plain->GetNextKid();
          const CQuorvane_FileTreeNode* found = tree.FindKid(folder, key, 0, after);
          ASSERT_EQ(found, plain) << when << ", " << kids << " kids, key " << key;
          if (!found) break;
          after = found;
        }
      }
    };
    check("after building");
    for (int round = 0; round < kids; ++round) {
      std::vector<CQuorvane_FileTreeNode*> all;
      for (auto* k = folder->GetFirstKid(); k; k = k->GetNextKid()) all.push_back(k);
      if (all.empty()) break;
      CQuorvane_FileTreeNode* victim = all[rng() % all.size()];
      switch (rng() % 3) {
        case 0: tree.RemoveNode(&victim); break;
        case 1: tree.RenameNode(victim, name().c_str(), "s"); break;
        default: tree.CreateFromRootVirtual(name().c_str(), folder);
      }
      if (round % 211 == 0) check("while changing");
    }
    check("after changes");
  }
}

}  // namespace
