// Form-2 sectors made from MPEG program streams. (The empty ones around a
// stream: VideoCdCli, whose pauses must read as Form 2.)
#include <cstring>
#include <random>

#include "files/file.h"
#include "files_support.h"

namespace {

using qvtest::ReadChain;

// The stream id sits after the 12-byte pack header: in a system header's
// first stream entry, in a PES packet header, or after MPEG-2's two extra
// pack header bytes.
TEST(MpegSubheader, ClassifiesBlocksByPackAndStream) {
  const std::vector<std::pair<size_t, uint8_t>> pack = {{0, 0}, {1, 0}, {2, 1}, {3, 0xBA}};
  auto with = [&](std::vector<std::pair<size_t, uint8_t>> extra) {
    auto all = pack;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  const struct {
    const char* name;
    std::vector<std::pair<size_t, uint8_t>> bytes;  // set in an all-0x55 block
    uint8_t expected[4];
  } cases[] = {
      {"not a pack", {{0, 0}, {1, 0}, {2, 1}, {3, 0xBB}}, {1, 0, 0x60, 0x00}},
      {"system header, audio", with({{12, 0}, {13, 0}, {14, 1}, {15, 0xBB}, {24, 0xC0}}), {1, 1, 0x64, 0x7F}},
      {"PES audio 0xC1", with({{12, 0}, {13, 0}, {14, 1}, {15, 0xC1}}), {1, 1, 0x64, 0x7F}},
      {"PES audio 0xC2 is not audio here", with({{12, 0}, {13, 0}, {14, 1}, {15, 0xC2}}), {1, 1, 0x62, 0x0F}},
      {"MPEG-2 pack, audio", with({{12, 0x44}, {17, 0xC0}}), {1, 1, 0x64, 0x7F}},
  };
  for (const auto& c : cases) {
    uint8_t block[kQuorvaneMpegBlockSize];
    std::memset(block, 0x55, sizeof block);
    for (auto [at, value] : c.bytes) block[at] = value;
    uint8_t out[4];
    QuorvaneI_MpegSubheader(block, out);
    EXPECT_EQ(std::memcmp(out, c.expected, 4), 0) << c.name;
  }
}

// A stream of blocks alternating video pack, audio pack and padding, so
// every sector's subheader says which block it carries.
std::string Stream(size_t blocks, size_t tail) {
  std::string s;
  std::mt19937 rng(7);
  for (size_t i = 0; i < blocks; ++i) {
    std::string block(kQuorvaneMpegBlockSize, '\0');
    for (auto& c : block) c = static_cast<char>(rng());
    if (i % 3 != 2) {
      block.replace(0, 4, std::string("\0\0\1\xBA", 4));
      block.replace(12, 4, std::string("\0\0\1", 3) + (i % 3 == 0 ? '\xE0' : '\xC0'));
    } else {
      block[0] = 0x7F;
    }
    s += block;
  }
  return s + std::string(tail, 'T');
}

// The sectors as a Video CD carries them, written out independently.
std::string ExpectedSectors(const std::string& stream) {
  std::string out;
  for (size_t at = 0; at + kQuorvaneMpegBlockSize <= stream.size(); at += kQuorvaneMpegBlockSize) {
    const size_t i = at / kQuorvaneMpegBlockSize;
    const char* sub = i % 3 == 0 ? "\x01\x01\x62\x0F" : i % 3 == 1 ? "\x01\x01\x64\x7F" : "\x01\x00\x60\x00";
    out += std::string(sub, 4) + std::string(sub, 4) + stream.substr(at, kQuorvaneMpegBlockSize);
  }
  return out;
}

// Reads of any length, including many more sectors than one work buffer
// holds and lengths that cut sectors, give the same sectors; a partial
// block at the end is left out.
TEST(MpegDiskFile, ReadsOfEverySizeGiveTheSameSectors) {
  qvtest::TempDir dir;
  const std::string stream = Stream(61, 1676);
  const std::string path = dir.Write("video.mpg", stream).string();
  const std::string expected = ExpectedSectors(stream);
  CQuorvane_MPEG12DiskFile source(path.c_str());
  CQuorvane_FileChain chain;
  chain.AddChainTail(&source);
  for (uint64_t chunk : {1ull, 2333ull, 26ull * 2332, 27ull * 2332}) {
    chain.SeekToBegin();
    ASSERT_EQ(ReadChain(chain, chunk), expected) << "reads of " << chunk;
  }
}

TEST(MpegDiskFile, FileThatShrinksIsCompletedWithZeros) {
  qvtest::TempDir dir;
  const std::string path = dir.Write("v.mpg", Stream(4, 0)).string();
  CQuorvane_MPEG12DiskFile source(path.c_str());
  ASSERT_EQ(::truncate(path.c_str(), 2 * 2324), 0);
  std::string out(4 * 2332, '\x55');
  source.Read(out.size(), out.data());
  EXPECT_TRUE(source.GetIsChanged());
  EXPECT_EQ(out.substr(3 * 2332 + 8), std::string(2324, '\0')) << "the missing blocks read as zeros";
}

}  // namespace
