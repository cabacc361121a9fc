// Opening to read, on both systems: the sized open the file sources use,
// and the readability check made when a file is added to a tree.
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/filesystem.h"
#include "support/test_support.h"

namespace {

using namespace qv::plat;

TEST(FileOpen, SizedOpenAndReadabilityAgreeWithTheFileSystem) {
  qvtest::TempDir dir;
  std::ofstream((dir / "seven.bin").string(), std::ios::binary) << "1234567";
  std::ofstream((dir / "empty.bin").string(), std::ios::binary);
  std::filesystem::create_directory(dir / "folder");
  struct Case {
    const char* name;
    int64_t size;    // -1: refused
    uint32_t error;  // when refused
    int readable;  // -1: the systems differ (a folder is never asked)
  };
  for (const Case& c : {Case{"seven.bin", 7, 0, 1}, Case{"empty.bin", 0, 0, 1},
                        Case{"folder", -1, kErrAccessDenied, -1}, Case{"missing.bin", -1, kErrFileNotFound, 0}}) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir / c.name).string();
    int64_t size = 99;
    uint32_t error = 99;
    File f = File::OpenSized(path, &size, &error);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(f.IsOpen(), c.size >= 0);
    EXPECT_EQ(error, c.size >= 0 ? 0u : c.error);
    if (c.size > 0) {
      char buffer[8] = {};
      EXPECT_EQ(f.ReadAt(0, buffer, sizeof buffer, &error), c.size);
      EXPECT_STREQ(buffer, "1234567");
    }
    if (c.readable < 0) continue;
    error = 99;
    EXPECT_EQ(File::CanRead(path, &error), c.readable == 1);
    EXPECT_EQ(error, c.readable == 1 ? 0u : kErrFileNotFound);
  }
}

#ifndef _WIN32
// Adding a file trusts its permission bits only when they let anyone read.
TEST(FileOpen, OnlyOtherReadBitsMakeAFileReadableByAll) {
  qvtest::TempDir dir;
  namespace fs = std::filesystem;
  for (const auto& [perms, byAll] : {std::pair{fs::perms(0640), false}, std::pair{fs::perms(0004), true}}) {
    SCOPED_TRACE(static_cast<int>(perms));
    const std::string path = (dir / "f").string();
    std::ofstream(path) << "x";
    fs::permissions(path, perms);
    FileInfo info;
    uint32_t error = 99;
    ASSERT_TRUE(GetFileSystem().Stat(path, &info, &error));
    EXPECT_EQ(info.readableByAll, byAll);
    fs::permissions(path, fs::perms(0644));
    fs::remove(path);
  }
}
#endif

}  // namespace
