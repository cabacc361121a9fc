// Finding data past holes: never beyond data, and a hole at the end is
// skipped to the end (or not at all, where the file system cannot tell).
#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "support/test_support.h"

namespace {

TEST(FileData, SkipsHolesButNeverData) {
  qvtest::TempDir dir;
  const auto path = dir.path() / "sparse.bin";
  constexpr uint64_t kMiB = 1 << 20;
  {
    std::ofstream f(path, std::ios::binary);
    f.seekp(4 * kMiB);
    f.write(std::string(4096, 'x').data(), 4096);
  }
  std::filesystem::resize_file(path, 8 * kMiB);
  uint32_t err = 0;
  qv::plat::File file = qv::plat::File::Open(path.string(), qv::plat::FileMode::Read, &err);
  ASSERT_TRUE(file.IsOpen()) << err;
  const uint64_t end = 8 * kMiB;
  EXPECT_LE(file.DataFrom(0, end), 4 * kMiB);
  EXPECT_EQ(file.DataFrom(4 * kMiB + 10, end), 4 * kMiB + 10) << "inside the data";
  const uint64_t tail = file.DataFrom(6 * kMiB, end);
  EXPECT_TRUE(tail == 6 * kMiB || tail == end) << tail;
  EXPECT_EQ(file.DataFrom(end, end), end);
  EXPECT_EQ(qv::plat::File().DataFrom(5, end), 5u) << "a closed file tells nothing";
}

}  // namespace
