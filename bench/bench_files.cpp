// Building file trees of 100 000 and 1 000 000 files, from a folder on
// disk and from calls that add virtual folders and handle nodes, with the
// time, the heap each node costs beyond its names and the peak resident
// size; and reading a chain of many small unlocked disk sources.
//
// The disk fixtures (1000 files per folder, empty, so only the walk is
// measured) are made once under the build folder and kept.
#include <benchmark/benchmark.h>

#if defined(__linux__)
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "files/file.h"
#include "files/file_chain.h"
#include "files/file_tree.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFilesPerFolder = 1000;

// A tree with the image trees' kind of name rule: unique long names per
// folder, found through the sibling index.
class BenchTree : public CQuorvane_FileTree {
 public:
  BenchTree() : CQuorvane_FileTree(&BenchTree::Callback, this, false) {}
  CQuorvane_FileTreeNode* NewFileTreeNodeItem(QV_HANDLE, uint64_t size, const char* longName, const char* shortName,
                                              CQuorvane_FileTreeNode* parent, uint32_t userValue,
                                              uint64_t fileTime) override {
    return new (std::nothrow)
        CQuorvane_FileTreeNode("", longName, shortName, qv::plat::kAttrNormal, size, parent, userValue, fileTime);
  }
  using CQuorvane_FileTree::NewFileTreeNodeItem;
  CQuorvane_FileTreeNode* CheckName(CQuorvane_FileTreeNode* parent, CQuorvane_FileTreeNode* node) override {
    return FindKid(parent, node->GetLongName(), 0) ? nullptr : node;
  }
  uint64_t added = 0;

 private:
  static void Callback(QV_ULONG reason, void* context, void*, void*) {
    if (reason == CN_FILE_TREE_NODE_ADDED) ++static_cast<BenchTree*>(context)->added;
  }
};

// Bytes of heap in use, and the peak resident size so far.
size_t HeapInUse() {
#if defined(__linux__)
  return mallinfo2().uordblks + mallinfo2().hblkhd;
#else
  return 0;
#endif
}

double PeakRssMiB() {
#if defined(__linux__)
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
#else
  return 0;
#endif
}

// Bytes the three names of every node take when stored once each.
uint64_t NameBytes(const CQuorvane_FileTreeNode* top) {
  uint64_t bytes = 0;
  std::vector<const CQuorvane_FileTreeNode*> stack{top};
  while (!stack.empty()) {
    const auto* n = stack.back();
    stack.pop_back();
    const size_t path = std::strlen(n->GetAbsolutePath()), longName = std::strlen(n->GetLongName()),
                 shortName = std::strlen(n->GetShortName());
    bytes += path + 1;
    if (n->GetLongName() < n->GetAbsolutePath() || n->GetLongName() > n->GetAbsolutePath() + path) bytes += longName + 1;
    if (n->GetShortName() != n->GetLongName() &&
        (n->GetShortName() < n->GetAbsolutePath() || n->GetShortName() > n->GetAbsolutePath() + path))
      bytes += shortName + 1;
    for (auto* k = n->GetFirstKid(); k; k = k->GetNextKid()) stack.push_back(k);
  }
  return bytes;
}

std::string FixtureRoot() { return std::string(QUORVANE_BENCH_FIXTURES) + "/files"; }

// A folder of `files` empty files in folders of 1000; made once.
std::string DiskFixture(int files) {
  const std::string root = FixtureRoot() + "/tree-" + std::to_string(files);
  const std::string done = root + ".complete";
  if (fs::exists(done)) return root + "/";
#if defined(__linux__)
  fs::remove_all(root);
  for (int folder = 0; folder * kFilesPerFolder < files; ++folder) {
    const std::string dir = root + "/folder-" + std::to_string(folder);
    fs::create_directories(dir);
    for (int i = 0; i < kFilesPerFolder && folder * kFilesPerFolder + i < files; ++i) {
      const std::string name = dir + "/file-number-" + std::to_string(i) + ".dat";
      const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
    }
  }
  const int fd = ::open(done.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
#endif
  return root + "/";
}

void Report(benchmark::State& state, BenchTree& tree, size_t heapBefore) {
  const double nodes = tree.GetNodeCount();
  const double heap = static_cast<double>(HeapInUse() - heapBefore);
  const double names = static_cast<double>(NameBytes(tree.GetRoot()));
  state.counters["nodes"] = nodes;
  state.counters["heap_B_per_node"] = heap / nodes;
  state.counters["names_B_per_node"] = names / nodes;
  state.counters["beyond_names_B_per_node"] = (heap - names) / nodes;
  state.counters["peak_RSS_MiB"] = PeakRssMiB();
}

void BM_TreeFromDisk(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  const std::string path = DiskFixture(files);
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto tree = std::make_unique<BenchTree>();
    CQuorvane_FileTreeNode* parent = nullptr;
    tree->CreateFromRoot(path.c_str(), nullptr, kQuorvaneTimeLastWrite, &parent);
    state.PauseTiming();
    Report(state, *tree, before);
    if (tree->added != static_cast<uint64_t>(files + files / kFilesPerFolder + 1))
      state.SkipWithError("not every file was added");
    tree.reset();
    state.ResumeTiming();
  }
}

void BM_TreeInMemory(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto tree = std::make_unique<BenchTree>();
    char name[64];
    for (int folder = 0; folder * kFilesPerFolder < files; ++folder) {
      std::snprintf(name, sizeof name, "folder-%d", folder);
      CQuorvane_FileTreeNode* f = tree->CreateFromRootVirtual(name, nullptr);
      for (int i = 0; i < kFilesPerFolder && folder * kFilesPerFolder + i < files; ++i) {
        std::snprintf(name, sizeof name, "file-number-%d.dat", i);
        tree->CreateFromRootMemoryChecked(nullptr, 2048, name, 0, f);
      }
    }
    state.PauseTiming();
    Report(state, *tree, before);
    tree.reset();
    state.ResumeTiming();
  }
}

// Reading 10 000 small files through unlocked sources, as an image of many
// small files is read: one open, read and close per file.
void BM_ChainOfSmallFiles(benchmark::State& state) {
  const std::string root = FixtureRoot() + "/small";
  const int count = 10000;
  std::vector<std::string> names;
  fs::create_directories(root);
  const std::string content(3000, 'q');
  for (int i = 0; i < count; ++i) {
    names.push_back(root + "/f" + std::to_string(i));
    if (!fs::exists(names.back())) {
#if defined(__linux__)
      const int fd = ::open(names.back().c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd >= 0) {
        if (::write(fd, content.data(), content.size()) < 0) state.SkipWithError("cannot write fixture");
        ::close(fd);
      }
#endif
    }
  }
  std::vector<std::unique_ptr<CQuorvane_UnLockedDiskFile>> sources;
  CQuorvane_FileChain chain;
  for (const auto& n : names) {
    sources.push_back(std::make_unique<CQuorvane_UnLockedDiskFile>(n.c_str(), 4096));
    chain.AddChainTail(sources.back().get());
  }
  std::vector<char> buffer(65536);
  uint64_t total = 0;
  chain.GetSizeInUCHARs(&total);
  for (auto _ : state) {
    chain.SeekToBegin();
    for (uint64_t at = 0; at < total; at += buffer.size())
      chain.Read(std::min<uint64_t>(buffer.size(), total - at), buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}

}  // namespace

BENCHMARK(BM_TreeInMemory)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeFromDisk)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChainOfSmallFiles)->Unit(benchmark::kMillisecond);
