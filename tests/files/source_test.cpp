// File sources and chains where images cannot show them: rewinds of long
// chains, handles and pipes, and how sources fail. (Files read in any
// slices, grown, shrunk or from a handle: the ISO 9660 Layout and Hostile
// tests.)
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

TEST(FileChain, ErrorsOfAdditionsAndOfReadsPastTheEnd) {
  CQuorvane_FileChain chain;
  auto e = CatchEngine([&] { chain.AddChainTail(nullptr); });
  EXPECT_EQ(e->Number(), 2u);
  EXPECT_STREQ(e->Text(), "CQuorvane_FileChain::AddChainTail(): p__PCQuorvane_File__NewTail == NULL!!!");
  char one = 'x';
  EXPECT_EQ(CatchEngine([&] { chain.Read(1, &one); })->Number(), 3u) << "reading an empty chain";
  auto head = Memory("head");
  chain.AddChainTail(head.get());
  EXPECT_EQ(CatchEngine([&] { chain.AddChainTail(head.get()); })->Number(), 2u) << "a source joins one chain once";
  chain.SeekToBegin();
  EXPECT_EQ(ReadChain(chain, 3), "head");
  e = CatchEngine([&] { chain.Read(1, &one); });
  EXPECT_EQ(e->Number(), 3u);
  EXPECT_STREQ(e->Text(), "CQuorvane_File::Read(): m__PCQuorvane_File__Next is NULL, remote transfer is 1!!!");
}

// Rewinding recurses at most 16 sources deep per pass; chains far longer
// than that must still come back to the start completely, also halfway
// through a read.
TEST(FileChain, SeekToBeginRewindsEverySource) {
  for (size_t count : {16u, 17u, 5000u}) {
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
    std::string half(expected.size() / 2, '\0');
    chain.Read(half.size(), half.data());
    chain.SeekToBegin();
    EXPECT_EQ(ReadChain(chain, 7), expected) << count << " sources";
  }
}

class DiskSources : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
};

TEST_F(DiskSources, OpenAndReadFailures) {
  auto e = CatchEngine([&] { CQuorvane_DiskFile f((dir / "missing").c_str()); });
  EXPECT_EQ(e->Number(), 5u);
  EXPECT_EQ(e->SystemError(), 2u);
  e = CatchEngine([&] { CQuorvane_DiskFile f(dir.path().c_str()); });
  EXPECT_EQ(e->Number(), 5u) << "a folder is not a source";

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
  const int fd = ::open(dir.Write("h", bytes).c_str(), O_RDONLY);
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
