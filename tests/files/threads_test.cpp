// The parts that meet other threads: cancelling a walk, and the read-ahead
// of small files.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "files/read_ahead.h"
#include "files_support.h"

namespace {

using qvtest::TestTree;

TEST(TreeThreads, CancelFromAnotherThreadStopsTheWalkEvenWhenIgnoringErrors) {
  qvtest::TempDir dir;
  for (int f = 0; f < 12; ++f)
    for (int i = 0; i < 4; ++i) dir.Write("big/f" + std::to_string(f) + "/x" + std::to_string(i), "x");
  qvtest::FaultyFileSystem faults;
  std::mutex mutex;
  std::condition_variable changed;
  bool reached = false, cancelled = false;
  faults.onList = [&](const std::string&) {
    if (faults.listings != 6) return;
    std::unique_lock<std::mutex> lock(mutex);
    reached = true;
    changed.notify_all();
    changed.wait(lock, [&] { return cancelled; });
  };

  TestTree tree(true);
  tree.CreateFromRootVirtual("before", nullptr);
  const std::string before = tree.Dump();
  QuorvaneI_Caught error;
  std::thread walker([&] { error = tree.AddFails((dir / "big").string()); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return reached; });
    tree.Cancel();  // does not wait for the tree's lock, which the walk holds
    cancelled = true;
    changed.notify_all();
  }
  walker.join();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Number(), 14u);
  EXPECT_STREQ(error->Text(), "CQuorvane_FileTree::CreateFileTreeNodeAndKids(): m__BOOLEAN__IsCancelCreation == TRUE!!!");
  EXPECT_EQ(tree.Dump(), before);
  EXPECT_TRUE(tree.Names(CN_FILE_TREE_NODE_SKIPPED).empty()) << "a cancellation is not a skipped node";

  // The next addition starts afresh.
  faults.onList = nullptr;
  EXPECT_NE(tree.Add((dir / "big/f3").string()), nullptr);
  EXPECT_EQ(tree.Dump(), "before/{} f3/{x0 x1 x2 x3}");
}

}  // namespace

// Small files read ahead come back in order with their bytes; anything not
// as it was sized is handed back to the caller to read, whatever thread got
// to it first. Dropped half-way, the workers stop.
TEST(ReadAheadThreads, GivesEachFileInOrderOrLeavesItToTheCaller) {
  qvtest::TempDir dir;
  struct Expect {
    QuorvaneI_ReadAhead::Wanted wanted;
    std::string bytes;  // empty: left to the caller
  };
  std::vector<Expect> files;
  for (int i = 0; i < 300; ++i) {
    const std::string bytes = "file " + std::to_string(i) + std::string(static_cast<size_t>(i * 7), 'a' + i % 26);
    const std::string path = dir.Write("f" + std::to_string(i), bytes).string();
    switch (i % 6) {
      case 1: files.push_back({{path, bytes.size() - 1}, ""}); break;  // grew since sized
      case 2: files.push_back({{path, bytes.size() + 1}, ""}); break;  // shrank
      case 3: files.push_back({{path + ".gone", bytes.size()}, ""}); break;
      case 4: files.push_back({{"", bytes.size()}, ""}); break;  // not a disk file
      default: files.push_back({{path, bytes.size()}, bytes});
    }
  }
  const std::string large(QuorvaneI_ReadAhead::kMaxSize + 1, 'L');
  files.push_back({{dir.Write("large", large).string(), large.size()}, ""});
  std::vector<QuorvaneI_ReadAhead::Wanted> wanted;
  for (const Expect& e : files) wanted.push_back(e.wanted);

  for (unsigned threads : {1u, 3u}) {
    QuorvaneI_ReadAhead ahead(wanted, threads);
    for (size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(i);
      const uint8_t* got = ahead.Next();
      if (files[i].bytes.empty()) {
        EXPECT_EQ(got, nullptr);
      } else {
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(got), files[i].bytes.size()), files[i].bytes);
      }
    }
    EXPECT_EQ(ahead.Next(), nullptr) << "past the last file";
  }
  QuorvaneI_ReadAhead dropped(wanted, 2);
  ASSERT_NE(dropped.Next(), nullptr);
}
