// Files shared between handles, on both systems: what the virtual drive's
// folder relies on when several users share one drive. (Writing in place
// is every burn's and export's, compared byte for byte.)
#include <filesystem>
#include <string>

#include "platform/errors.h"
#include "platform/file.h"
#include "support/test_support.h"

namespace {

using namespace qv::plat;

class FileUpdate : public ::testing::Test {
 protected:
  qvtest::TempDir dir;
  std::string Path(const char* name) { return (dir / name).string(); }
  File Open(const char* name, FileMode mode) {
    uint32_t err = 99;
    File f = File::Open(Path(name), mode, &err);
    EXPECT_TRUE(f.IsOpen()) << name << ": system error " << err;
    return f;
  }
};

// Two handles of one process exclude each other as two processes would.
TEST_F(FileUpdate, LocksOfTwoHandles) {
  struct Case {
    const char* name;
    bool firstExclusive, secondExclusive, secondGets;
  };
  const Case cases[] = {
      {"shared, shared", false, false, true},
      {"shared, exclusive", false, true, false},
      {"exclusive, shared", true, false, false},
  };
  dir.Write("lock", "12345678");
  for (const auto& c : cases) {
    File first = Open("lock", FileMode::ReadWrite);
    File second = Open("lock", FileMode::ReadWrite);
    uint32_t err = 99;
    ASSERT_TRUE(first.Lock(c.firstExclusive, false, &err)) << c.name << ": " << err;
    EXPECT_EQ(err, 0u);
    err = 99;
    EXPECT_EQ(second.Lock(c.secondExclusive, false, &err), c.secondGets) << c.name;
    EXPECT_EQ(err, c.secondGets ? 0u : kErrSharingViolation) << c.name;
    if (!c.secondGets) {
      first.Unlock();
      EXPECT_TRUE(second.Lock(c.secondExclusive, false, &err)) << c.name << ": free once unlocked, " << err;
    }
    // The holder of an exclusive lock still reads and writes through it.
    char counter[8];
    EXPECT_EQ(second.ReadAt(0, counter, sizeof counter, &err), 8) << c.name;
    second.Unlock();
    first.Close();
    EXPECT_TRUE(second.Lock(true, false, &err)) << c.name << ": closing releases";
  }
}

// A reader stops no one: another handle writes the file, and the file can
// be renamed away under it, while the reader keeps what it opened.
TEST_F(FileUpdate, AReaderStopsNoWriter) {
  dir.Write("disc.img", "old disc");
  File reader = Open("disc.img", FileMode::Read);
  {
    File writer = Open("disc.img", FileMode::ReadWrite);
    uint32_t err = 99;
    EXPECT_TRUE(writer.WriteAt(0, "OLD", 3, &err)) << err;
  }
  std::error_code ec;
  std::filesystem::rename(dir / "disc.img", dir / "previous.img", ec);
  EXPECT_FALSE(ec) << ec.message();
  char text[16] = {};
  uint32_t err = 99;
  EXPECT_EQ(reader.ReadAt(0, text, sizeof text, &err), 8);
  EXPECT_EQ(std::string(text), "OLD disc");
}

}  // namespace
