// File sources and chains: what a consumer reads, however it slices its
// reads, and how sources fail.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <random>

#include "files/file.h"
#include "files_support.h"

namespace {

using qvtest::CatchEngine;
using qvtest::ReadChain;

std::string Pattern(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

std::unique_ptr<CQuorvane_MemoryFile> Memory(const std::string& bytes) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size() ? bytes.size() : 1]);
  std::memcpy(block.get(), bytes.data(), bytes.size());
  return std::make_unique<CQuorvane_MemoryFile>(std::move(block), bytes.size());
}

QV_HANDLE AsHandle(int fd) { return reinterpret_cast<QV_HANDLE>(static_cast<intptr_t>(fd)); }

// Reads across an empty source, and none past the end.
TEST(FileChain, ReadsCrossEmptySourcesAndStopAtTheEnd) {
  auto a = Memory("0123456789");
  auto b = Memory("");
  auto c = Memory("abcde");
  CQuorvane_FileChain chain;
  for (auto* source : {a.get(), b.get(), c.get()}) chain.AddChainTail(source);
  chain.SeekToBegin();
  EXPECT_EQ(ReadChain(chain, 10), "0123456789abcde");
  char one = 'x';
  auto e = CatchEngine([&] { chain.Read(1, &one); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Number(), 3u);
  EXPECT_STREQ(e->Text(), "CQuorvane_File::Read(): m__PCQuorvane_File__Next is NULL, remote transfer is 1!!!");
}

TEST(FileChain, AdditionsAndTheirErrors) {
  CQuorvane_FileChain chain;
  auto e = CatchEngine([&] { chain.AddChainTail(nullptr); });
  EXPECT_EQ(e->Number(), 2u);
  EXPECT_STREQ(e->Text(), "CQuorvane_FileChain::AddChainTail(): p__PCQuorvane_File__NewTail == NULL!!!");
  e = CatchEngine([&] {
    char b;
    chain.Read(1, &b);
  });
  EXPECT_EQ(e->Number(), 3u) << "reading an empty chain";

  auto head = Memory("head");
  auto tail = Memory("TAIL");
  chain.AddChainTail(head.get());
  chain.AddChainTail(tail.get());
  EXPECT_EQ(CatchEngine([&] { chain.AddChainTail(head.get()); })->Number(), 2u) << "a source joins one chain once";
  chain.SeekToBegin();
  EXPECT_EQ(ReadChain(chain, 3), "headTAIL");
}

// Rewinding recurses at most 16 sources deep per pass; chains far longer
// than that must still come back to the start completely.
TEST(FileChain, SeekToBeginRewindsEverySource) {
  for (size_t count : {1u, 16u, 17u, 5000u}) {
    std::vector<std::unique_ptr<CQuorvane_MemoryFile>> sources;
    std::string expected;
    CQuorvane_FileChain chain;
    for (size_t i = 0; i < count; ++i) {
      const std::string bytes = Pattern(i % 7, static_cast<uint32_t>(i));
      expected += bytes;
      sources.push_back(Memory(bytes));
      chain.AddChainTail(sources.back().get());
    }
    chain.SeekToBegin();
    ASSERT_EQ(ReadChain(chain, 13), expected) << count;
    chain.SeekToBegin();
    EXPECT_EQ(ReadChain(chain, 4096), expected) << count << " sources, second pass";
    // A rewind halfway through a read.
    chain.SeekToBegin();
    std::string half(expected.size() / 2, '\0');
    chain.Read(half.size(), half.data());
    chain.SeekToBegin();
    EXPECT_EQ(ReadChain(chain, 7), expected) << count << " sources, after a partial read";
  }
}

class DiskSources : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
  std::string Write(const std::string& name, const std::string& bytes) {
    return dir.Write(name, bytes).string();
  }
};

// One chain of every kind that reads a file or memory, with empty members,
// must deliver the same bytes whatever size the consumer's reads have.
TEST_F(DiskSources, ReadsOfEverySizeGiveTheSameBytes) {
  const std::string a = Pattern(5000, 1), b = Pattern(3000, 2), c = Pattern(70000, 3), d = Pattern(777, 4);
  const std::string pathA = Write("a", a), pathB = Write("b", b), pathC = Write("c", c), pathD = Write("d", d);
  const int fd = ::open(pathD.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);

  auto mem = Memory(Pattern(100, 5));
  auto empty = Memory("");
  CQuorvane_DiskFile whole(pathA.c_str());                  // size from disk
  CQuorvane_DiskFile padded(pathB.c_str(), 4096);           // declared past the end: zeros
  CQuorvane_DiskFile sectors(pathC.c_str(), 71680);          // whole sectors
  CQuorvane_DiskFile cut(pathA.c_str(), 10);                 // declared short: cut
  CQuorvane_DiskFile handle(AsHandle(fd), 777);
  ::close(fd);  // the source keeps its own handle

  const std::string expected = std::string(reinterpret_cast<const char*>(mem->GetBlock()), 100) + a + b +
                               std::string(4096 - 3000, '\0') + c + std::string(71680 - 70000, '\0') +
                               a.substr(0, 10) + d;
  CQuorvane_FileChain chain;
  for (CQuorvane_File* s :
       std::initializer_list<CQuorvane_File*>{mem.get(), empty.get(), &whole, &padded, &sectors, &cut, &handle})
    chain.AddChainTail(s);
  for (uint64_t chunk : {1ull, 3ull, 2048ull, 2332ull, 4095ull, 1000000ull}) {
    chain.SeekToBegin();
    ASSERT_EQ(ReadChain(chain, chunk), expected) << "reads of " << chunk;
  }
}

TEST_F(DiskSources, OpenAndReadFailures) {
  const std::string missing = (dir / "missing").string();
  auto e = CatchEngine([&] { CQuorvane_DiskFile f(missing.c_str()); });
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 2u);
  EXPECT_EQ(std::string(e->Text()),
            "CQuorvane_DiskFile::CQuorvane_DiskFile(): CreateFile( '" + missing + "' ) failed, status 2!!!");

  e = CatchEngine([&] { CQuorvane_DiskFile f(dir.path().c_str()); });
  EXPECT_EQ(e->Number(), 5u) << "a folder is not a source";

  // A handle that cannot be read from.
  char buffer[10];
  const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  CQuorvane_DiskFile unreadable(AsHandle(folder), 10);
  ::close(folder);
  e = CatchEngine([&] { unreadable.Read(10, buffer); });
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_STREQ(e->Text(), "CQuorvane_DiskFile::RealRead(): ReadFile() failed, status 5!!!");

  e = CatchEngine([&] { CQuorvane_DiskFile f(AsHandle(-1), 10); });
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 6u) << "invalid handle";
}

TEST_F(DiskSources, HandleSourcesLeaveTheCallersPositionAlone) {
  const std::string bytes = Pattern(4000, 11);
  const std::string path = Write("h", bytes);
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_EQ(::lseek(fd, 123, SEEK_SET), 123);
  CQuorvane_DiskFile source(AsHandle(fd), 4000);
  std::string out(4000, '\0');
  source.Read(4000, out.data());
  EXPECT_EQ(out, bytes) << "reads start at the file's beginning";
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 123);
  ::close(fd);
}

// A pipe has no position to return to: it is read as it comes, and only a
// source that has not been read may be rewound.
TEST_F(DiskSources, PipesReadOnceAndRefuseARewindAfterwards) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "streamed", 8), 8);
  ::close(fds[1]);
  CQuorvane_DiskFile source(AsHandle(fds[0]), 12);
  ::close(fds[0]);
  CQuorvane_FileChain chain;
  chain.AddChainTail(&source);
  chain.SeekToBegin();
  EXPECT_EQ(ReadChain(chain, 5), std::string("streamed\0\0\0\0", 12));
  auto e = CatchEngine([&] { chain.SeekToBegin(); });
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 25u);
}

}  // namespace
