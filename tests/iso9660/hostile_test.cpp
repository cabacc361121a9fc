// Bad input gets a clear error and loses nothing: files that change or go
// away, files too big for ISO9660, broken boot images, calls out of order.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "iso_support.h"

namespace {

namespace fs = std::filesystem;

class Hostile : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
  qvtest::VirtualTime time;
};

// A file that changes after it was added keeps its place and its size in
// the image (grown: cut; shrunk or gone: zeros), and the callback names it.
TEST_F(Hostile, FilesThatChangeAfterTheyWereAddedKeepTheirSizeAndAreReported) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> change;
    size_t kept;  // bytes of the original still there
  } cases[] = {
      {"grew", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "more"; }, SIZE_MAX},
      {"shrank", [](const fs::path& p) { fs::resize_file(p, 10); }, 10},
      {"vanished", [](const fs::path& p) { fs::remove(p); }, 0},
  };
  // A small file's end is read with one byte more, a large one's size is
  // asked for: both must see the change. Among many small files, the
  // small ones are read ahead on other threads: they must see it too, and
  // the others must keep their bytes and places. Locking and size are
  // apart: one locked row.
  struct Setting {
    bool lockFiles;
    size_t size;
    int crowd;
  };
  for (const auto& [lockFiles, size, crowd] :
       {Setting{false, 5000, 0}, Setting{true, 5000, 0}, Setting{false, 100000, 0}, Setting{false, 5000, 100}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << (lockFiles ? " (locked) " : " ") << size << " among " << crowd);
      const std::string original(size, 'v');
      const fs::path victim = dir.Write(std::string("src/") + c.what, original);
      qviso::Tree tree({.lockFiles = lockFiles});
      std::vector<std::pair<QV_HANDLE, std::string>> others;
      for (int i = 0; i < crowd; ++i) {
        const std::string bytes(static_cast<size_t>(100 + i), static_cast<char>('a' + i % 26));
        others.emplace_back(tree.Add(dir.Write("crowd/" + std::to_string(i), bytes).string()), bytes);
      }
      QV_HANDLE node = tree.Add(victim.string());
      ASSERT_NE(node, nullptr) << tree.lastText;
      ASSERT_EQ(tree.Build(), 0u);
      c.change(victim);
      const std::string image = tree.Image();
      ASSERT_EQ(tree.lastStatus, 0u) << tree.lastText;
      // A locked file stays open: what was added is what is read.
      const bool seen = !(lockFiles && c.kept == 0);
      const size_t kept = seen ? std::min<size_t>(c.kept, size) : size;
      EXPECT_EQ(image.substr(uint64_t{tree.Lba(node)} * 2048, size), original.substr(0, kept) + std::string(size - kept, '\0'));
      const auto changed = std::count(tree.events.begin(), tree.events.end(),
                                      std::pair<uint32_t, std::string>{CN_FILE_TREE_NODE_CHANGED, victim.string()});
      EXPECT_EQ(changed, seen ? 1 : 0);
      for (const auto& [other, bytes] : others)
        EXPECT_EQ(image.substr(uint64_t{tree.Lba(other)} * 2048, 2048), bytes + std::string(2048 - bytes.size(), '\0'));
    }
  }
}

// 4 GiB, the first size ISO9660 cannot hold, is refused rather than cut
// (the CLI's refusal: CliOutcomes), or skipped and told with ignoreErrors.
TEST_F(Hostile, FilesOf4GiBAreRefusedOrSkipped) {
  const fs::path big = dir.Write("src/big.bin", "");
  dir.Write("src/small.txt", "small");
  fs::resize_file(big, uint64_t{1} << 32);  // sparse
  qviso::Tree tree;
  EXPECT_EQ(tree.Add(big.string()), nullptr);
  EXPECT_EQ(tree.lastStatus, 18u);
  qviso::Tree lenient({.ignoreErrors = true});
  ASSERT_NE(lenient.Add((dir / "src").string()), nullptr);
  EXPECT_THAT(lenient.events, testing::Contains(std::pair<uint32_t, std::string>{CN_FILE_TREE_NODE_SKIPPED, big.string()}));
  EXPECT_EQ(lenient.Kids(Quorvane_ISO9660JolietFileTree_GetFirstKid(lenient.handle(), lenient.root())),
            std::vector<std::string>{"SMALL.TXT;1"});
  fs::resize_file(big, (uint64_t{1} << 32) - 1);
  qviso::Tree fits;
  EXPECT_NE(fits.Add(big.string()), nullptr) << "4 GiB less a byte fits: " << fits.lastText;
}

// A bad media type and an empty image; the missing image and the floppy of
// the wrong size are the CLI's (CliOutcomes).
TEST_F(Hostile, BrokenBootImagesAreRefused) {
  const auto small = dir.Write("small.img", std::string(1000, 's')), empty = dir.Write("empty.img", "");
  for (const auto& [path, media] : {std::pair{small, 9}, std::pair{empty, 0}}) {
    qviso::Tree tree;
    EXPECT_EQ(tree.SetBoot(path.string(), 0, static_cast<QV_UCHAR>(media), 1, true), 2u) << path;
  }
}

TEST_F(Hostile, CallsOutOfOrderOrWithBadArguments) {
  qviso::Tree empty;
  EXPECT_EQ(empty.Build(), 3u);
  qviso::Tree tree;
  char text[512] = {};
  QV_ULONG system = 0;
  char buffer[16];
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_Read(tree.handle(), text, sizeof text, &system, 16, buffer), 3u)
      << "nothing to read before building";
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_SeekToBegin(tree.handle(), text, sizeof text, &system), 3u);
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_Read(nullptr, text, sizeof text, &system, 16, buffer), 2u);
  QV_ULONG high = 7;
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree.handle(), &high), 0u);
  EXPECT_EQ(high, 0u);
  QV_HANDLE folder = tree.AddFolder("F");
  QV_ULONG lba = 0;
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_GetNodeStartingLBA(tree.handle(), folder, &lba), 3u) << "not laid out yet";
  QV_ULONGLONG size = 0;
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs(tree.handle(), folder, &size), 3u);
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_GetFileSizeInUCHARs(tree.handle(), nullptr, &size), 2u);
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_Add(tree.handle(), text, sizeof text, &system, nullptr, nullptr, 2, nullptr,
                                               nullptr),
            2u);
  ASSERT_EQ(tree.Build(), 0u);
  EXPECT_EQ(tree.Build(), 3u) << "built once only";
  EXPECT_EQ(tree.AddFolder("E"), nullptr);
  EXPECT_EQ(tree.lastStatus, 3u) << "a built tree takes no more nodes";
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_Read(tree.handle(), text, sizeof text, &system, -1, buffer), 2u);
  QV_ULONG lowSize = Quorvane_ISO9660JolietFileTree_GetSizeInUCHARs(tree.handle(), &high);
  std::string all(lowSize + 1, '\0');
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_Read(tree.handle(), text, sizeof text, &system,
                                                static_cast<QV_LONG>(all.size()), all.data()),
            3u)
      << "reading past the end";
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_Remove(tree.handle(), &folder), 3u) << "a built tree keeps its nodes";
}

TEST_F(Hostile, FilesFromTheCallersHandle) {
  const auto source = dir.Write("held.bin", std::string(3000, 'h'));
  const int fd = ::open(source.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  qviso::Tree tree;
  char text[512] = {};
  QV_ULONG system = 0;
  QV_HANDLE parent = nullptr, node = nullptr;
  ASSERT_EQ(Quorvane_ISO9660JolietFileTree_AddMemory(tree.handle(), text, sizeof text, &system,
                                                     reinterpret_cast<QV_HANDLE>(static_cast<intptr_t>(fd)), 3000,
                                                     "held.bin", 2, &parent, &node),
            0u)
      << text;
  ::close(fd);  // the tree has its own handle
  ASSERT_EQ(tree.Build(), 0u);
  EXPECT_EQ(tree.Image().substr(size_t{tree.Lba(node)} * 2048, 4096), std::string(3000, 'h') + std::string(1096, '\0'));
}

}  // namespace
