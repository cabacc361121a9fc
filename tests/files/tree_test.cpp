// The file tree: additions from disk and virtual folders; names; removal;
// the callbacks; and walks that meet faults.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "files/file.h"
#include "files/file_time.h"
#include "files_support.h"

namespace {

namespace fs = std::filesystem;
using qvtest::CatchEngine;
using qvtest::TestTree;

// Reasons of the tree callback.
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

TEST_F(Tree, AddsAFolderOrItsContentsByTheTrailingSeparator) {
  TestTree tree;
  CQuorvane_FileTreeNode* parent = nullptr;
  CQuorvane_FileTreeNode* src = tree.CreateFromRoot(Path("src").c_str(), nullptr, 2, &parent);
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(parent, tree.GetRoot()) << "a null parent means the root";
  EXPECT_EQ(tree.Dump(), "src/{a.txt b.txt empty/{} sub/{deep/{x.bin} y}}");
  EXPECT_EQ(tree.GetDepth(), 5) << "/ is level 1, src 2, sub 3, deep 4, x.bin 5";

  TestTree contents;
  EXPECT_EQ(contents.Add(Path("src") + "/", "ignored"), nullptr);
  EXPECT_EQ(contents.Dump(), "a.txt b.txt empty/{} sub/{deep/{x.bin} y}");
  contents.Add(Path("src/sub") + "///");
  EXPECT_EQ(contents.Dump(), "a.txt b.txt empty/{} sub/{deep/{x.bin} y} deep/{x.bin} y");
}

TEST_F(Tree, NamesSizesAndAttributesOfDiskNodes) {
  dir.Write("src/a-very-long-file-name.text", std::string(1234, 'z'));
  dir.Write("src/\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4.txt", "umlauts");
  ASSERT_EQ(::chmod(Path("src/a.txt").c_str(), 0444), 0);
  TestTree tree;
  CQuorvane_FileTreeNode* src = tree.Add(Path("src"), "renamed");
  EXPECT_STREQ(src->GetLongName(), "renamed") << "the new name wins over the disk name";
  EXPECT_TRUE(src->IsFolder());

  struct Expect {
    const char* name;
    const char* shortName;
    uint64_t size;
    uint32_t attributes;
  };
  const Expect expected[] = {
      {"a-very-long-file-name.text", "a-very-long-", 1234, 0x80},
      {"a.txt", "a.txt", 1, 0x01},
      {"b.txt", "b.txt", 2, 0x80},
      {"empty", "empty", 0, 0x10},
      {"sub", "sub", 0, 0x10},
      // Twelve bytes would split the seventh two-byte letter.
      {"\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4.txt", "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4",
       7, 0x80},
  };
  CQuorvane_FileTreeNode* kid = tree.GetFirstKid(src);
  for (const auto& e : expected) {
    ASSERT_NE(kid, nullptr) << e.name;
    EXPECT_STREQ(kid->GetLongName(), e.name);
    EXPECT_STREQ(kid->GetShortName(), e.shortName);
    EXPECT_EQ(kid->GetSizeInUCHARs(), e.size) << e.name;
    EXPECT_EQ(kid->GetAttributes(), e.attributes) << e.name;
    EXPECT_EQ(kid->GetAbsolutePath(), Path("src/") + e.name);
    kid = tree.GetNextKid(kid);
  }
  EXPECT_EQ(kid, nullptr);
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
  EXPECT_EQ(kid->GetAbsolutePath(), Path("u/") + raw);
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
  time.clock().SetUtc(1136073600, 60);
  struct Case {
    uint32_t choice;
    uint16_t year, hour;
  };
  for (const Case& c : {Case{1, 2001, 5}, Case{2, 2002, 6}, Case{7, 2002, 6}}) {
    TestTree tree;
    const QV_SYSTEMTIME date = tree.GetDate(tree.Add(file, nullptr, nullptr, c.choice));
    EXPECT_EQ(date.wYear, c.year) << c.choice;
    EXPECT_EQ(date.wHour, c.hour) << c.choice << ": one hour east of UTC";
  }
  TestTree tree;
  EXPECT_GE(tree.GetDate(tree.Add(file, nullptr, nullptr, 0)).wYear, 2001)
      << "creation time, or the write time where none is kept";
}

TEST_F(Tree, VirtualFolders) {
  time.clock().SetUtc(1151670896, 0);  // 2006-06-30 12:34:56
  TestTree tree;
  CQuorvane_FileTreeNode* parent = nullptr;
  auto e = CatchEngine([&] { tree.CreateFromRoot(nullptr, nullptr, 2, &parent); });
  EXPECT_EQ(e->Number(), 2u);
  EXPECT_STREQ(e->Text(), "CQuorvane_FileTree::CreateFromRoot(): Both absolute and new names are NULL - this is illegal!!!");

  CQuorvane_FileTreeNode* folder = tree.CreateFromRoot(nullptr, "Virtual Folder Name", 2, &parent);
  ASSERT_NE(folder, nullptr);
  EXPECT_STREQ(folder->GetAbsolutePath(), ":");
  EXPECT_STREQ(folder->GetShortName(), "Virtual Fold");
  EXPECT_EQ(folder->GetAttributes(), 0x10u);
  EXPECT_EQ(folder->GetDate().wYear, 2006);
  EXPECT_EQ(folder->GetDate().wSecond, 56);

  // A virtual folder dated by the caller, and content below it.
  const uint64_t when = 125963423999990000;  // 2000-02-29 23:59:59.999
  CQuorvane_FileTreeNode* dated = tree.CreateFromRootVirtual("dated", folder, &when);
  EXPECT_EQ(dated->GetDate().wDay, 29);
  tree.Add(Path("src/b.txt"), nullptr, dated);
  EXPECT_EQ(tree.Dump(), "Virtual Folder Name/{dated/{b.txt}}");

  CQuorvane_FileTreeNode* file = tree.GetFirstKid(dated);
  auto refused = CatchEngine([&] { tree.CreateFromRootVirtual("under a file", file); });
  EXPECT_EQ(refused->Number(), 2u);
  EXPECT_EQ(file->GetFirstKid(), nullptr);
}

TEST_F(Tree, NodeLimitsAndTheirTexts) {
  struct Case {
    std::string path, longName, shortName;
    const char* text;
  };
  const Case cases[] = {
      {std::string(260, 'p'), "l", "s",
       "CQuorvane_FileTreeNode::CQuorvane_FileTreeNode(): strlen( p__PCHAR__AbsolutePathAndFileName ) == 260 exceeds "
       "(>=) 260!!!"},
      {"p", std::string(260, 'l'), "s",
       "CQuorvane_FileTreeNode::CQuorvane_FileTreeNode(): strlen( p__PCHAR__LongFileName ) == 260 exceeds (>=) 260!!!"},
      {"p", "l", std::string(13, 's'),
       "CQuorvane_FileTreeNode::CQuorvane_FileTreeNode(): strlen( p__PCHAR__ShortFileName ) == 13 exceeds (>=) 13!!!"},
  };
  for (const auto& c : cases) {
    auto e = CatchEngine([&] {
      CQuorvane_FileTreeNode node(c.path.c_str(), c.longName.c_str(), c.shortName.c_str(), 0, 0, nullptr, 0, 0);
    });
    EXPECT_EQ(e->Number(), 2u);
    EXPECT_STREQ(e->Text(), c.text);
  }
  CQuorvane_FileTreeNode fits(std::string(259, 'p').c_str(), std::string(259, 'l').c_str(),
                              std::string(12, 's').c_str(), 0, 0, nullptr, 0, 0);
  EXPECT_EQ(std::strlen(fits.GetLongName()), 259u);
  CQuorvane_FileTreeNode undatable("p", "l", "s", 0, 0, nullptr, 0, ~0ull);
  EXPECT_EQ(undatable.GetDate().wYear, 0) << "a time past the calendar leaves the date zero";
}

// A walk that meets a fault: without ignore-errors the addition fails with
// the fault's exception and takes back what it linked; with it the entry is
// skipped and reported. Faults come from the disk (CI runs as root, so
// permissions do not stop reads) or from the file system seam.
TEST_F(Tree, WalksThatMeetFaultsFailOrSkip) {
  qvtest::FaultyFileSystem faults;
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string add;
    uint32_t number, system;  // 0: not checked
    std::string text;         // a part of the exception's text
    const char* tolerant;     // the tree with ignore-errors (or a part of it); nullptr: that fails too
    std::vector<std::string> skipped;
  };
  std::string deep = "long";  // folder names of 60 bytes: the fifth level crosses 260 bytes
  for (int i = 0; i < 5; ++i) deep += "/" + std::string(60, static_cast<char>('a' + i));
  const Case cases[] = {
      {"unreadable subfolder", [&] { faults.listErrors[Path("src/sub")] = 5; }, "src", 5, 5,
       "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): FindFirstFile( '" + Path("src/sub") + "' ) failed, status 5!!!",
       "src/{a.txt b.txt empty/{}}", {Path("src/sub")}},
      {"entry of a contents addition", [&] { faults.entryErrors[Path("src/sub")] = 5; }, "src/", 5, 0, "",
       "a.txt b.txt empty/{}", {Path("src/sub")}},
      {"missing", [] {}, "nothing-here", 5, 2,
       "CQuorvane_FileTree::CreateFromRoot(): FindFirstFile( '" + Path("nothing-here") + "' ) failed, status 2!!!",
       nullptr, {}},
      {"a file named as a folder", [] {}, "src/a.txt/", 0, 3, "", nullptr, {}},
      {"path of 260 bytes",
       [&] {
         dir.Write(deep + "/f", "f");
         dir.Write("long/ok", "ok");
       },
       "long", 2, 0, "", " ok}", {}},
      {"dangling link", [&] { fs::create_symlink("nowhere", dir / "src/dangling"); }, "src", 0, 2, "",
       "src/{a.txt b.txt empty/{} sub/{deep/{x.bin} y}}", {Path("src/dangling")}},
      {"symbolic link loop",
       [&] {
         fs::remove(dir / "src/dangling");
         fs::create_directory_symlink("..", dir / "src/sub/up");       // back to src
         fs::create_directory_symlink("../empty", dir / "src/sub/e");  // sideways: fine
       },
       "src", 5, 1921, Path("src/sub/up"), "src/{a.txt b.txt empty/{} sub/{deep/{x.bin} e/{} y}}", {Path("src/sub/up")}},
      {"self-referencing link", [&] { fs::create_symlink("self", dir / "src/self"); }, "src", 5, 0, "",
       "src/{a.txt b.txt empty/{} sub/{deep/{x.bin} e/{} y}}", {Path("src/self"), Path("src/sub/up")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    faults.listErrors.clear();
    faults.entryErrors.clear();
    c.make();
    {
      TestTree first(false);
      auto e = first.AddFails(Path(c.add));
      ASSERT_TRUE(e);
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
      auto te = tolerant.AddFails(Path(c.add));
      ASSERT_TRUE(te) << "ignore-errors does not cover the path itself";
      EXPECT_EQ(c.system ? te->SystemError() : 0u, c.system);
      continue;
    }
    tolerant.Add(Path(c.add));
    const std::string dump = tolerant.Dump();
    EXPECT_EQ(c.tolerant[0] == ' ' ? dump.find(c.tolerant) != std::string::npos : dump == c.tolerant, true) << dump;
    const auto skipped = tolerant.Names(kSkipped);
    ASSERT_EQ(skipped.size(), std::max<size_t>(c.skipped.size(), 1));
    EXPECT_TRUE(c.skipped.empty() ? skipped.front().size() >= 260 : skipped == c.skipped) << skipped.front();
  }
}

// Things that are not files or folders never make nodes, and do not fail
// an addition.
TEST_F(Tree, FifosSocketsAndDevicesAreSkipped) {
  ASSERT_EQ(::mkfifo(Path("src/fifo").c_str(), 0644), 0);
  fs::create_symlink("/dev/null", dir / "src/device");
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = Path("src/socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  TestTree tree(false);
  tree.Add(Path("src"));
  ::close(s);
  EXPECT_EQ(tree.Dump(), "src/{a.txt b.txt empty/{} sub/{deep/{x.bin} y}}");
  EXPECT_EQ(tree.Names(kSkipped),
            (std::vector<std::string>{Path("src/device"), Path("src/fifo"), Path("src/socket")}));
  EXPECT_EQ(tree.Add(Path("src/fifo")), nullptr);
  EXPECT_EQ(tree.Names(kSkipped).size(), 4u);
}

TEST_F(Tree, EntriesAreSortedByteWise) {
  for (const char* name : {"b", "B", "a", "\xC3\xA9", "Z", "_", "10", "9"}) dir.Write(std::string("s/") + name, "");
  TestTree tree;
  tree.Add(Path("s"));
  EXPECT_EQ(tree.Dump(), "s/{10 9 B Z _ a b \xC3\xA9}");
}

TEST_F(Tree, CallbacksReportAdditionsRemovalsAndSkips) {
  TestTree tree;
  CQuorvane_FileTreeNode* sub = tree.Add(Path("src/sub"));
  EXPECT_EQ(tree.Names(kAdded), (std::vector<std::string>{"/", Path("src/sub"), Path("src/sub/deep"),
                                                          Path("src/sub/deep/x.bin"), Path("src/sub/y")}));
  tree.events.clear();
  EXPECT_TRUE(tree.RemoveNode(&sub));
  EXPECT_EQ(sub, nullptr);
  EXPECT_EQ(tree.Names(kRemoved), (std::vector<std::string>{Path("src/sub/deep/x.bin"), Path("src/sub/deep"),
                                                            Path("src/sub/y"), Path("src/sub")}))
      << "kids go before their folder";
  // A node without a path is reported by its name.
  tree.events.clear();
  CQuorvane_FileTreeNode* v = tree.CreateFromRootVirtual("virtual", nullptr);
  EXPECT_EQ(tree.Names(kAdded), std::vector<std::string>{"virtual"});
  tree.events.clear();
  tree.CreateFromRootMemoryChecked(nullptr, 1, "handle", 0, v);
  EXPECT_EQ(tree.Names(kAdded), std::vector<std::string>{"handle"});
}

TEST_F(Tree, RemovingTheRootEmptiesTheTreeAndTheNextAdditionMakesANewOne) {
  TestTree tree;
  tree.Add(Path("src"));
  CQuorvane_FileTreeNode* root = tree.GetRoot();
  EXPECT_TRUE(tree.RemoveNode(&root));
  EXPECT_EQ(tree.GetRoot(), nullptr);
  tree.Add(Path("src/a.txt"));
  EXPECT_EQ(tree.Dump(), "a.txt");

  TestTree other;
  CQuorvane_FileTreeNode* foreign = other.CreateFromRootVirtual("x", nullptr);
  EXPECT_FALSE(tree.RemoveNode(&foreign)) << "not a node of this tree";
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
  EXPECT_EQ(tree->GetDepth(), 200001);
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
  for (int kids : {5, 31, 33, 300, 1000}) {
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
        case 0:
          tree.RemoveNode(&victim);
          break;
        case 1:
          tree.RenameNode(victim, name().c_str(), "s");
          break;
        default:
          tree.CreateFromRootVirtual(name().c_str(), folder);
      }
      if (round % 211 == 0) check("while changing");
    }
    check("after changes");
  }
}

}  // namespace
