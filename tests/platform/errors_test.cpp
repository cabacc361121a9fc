// OS error numbers become the engine's (Win32) system error numbers: one
// row per number a caller tells apart, and the fallback.
#include <cerrno>
#include <vector>

#include "platform/errors.h"
#include "support/test_support.h"

TEST(SystemErrors, ErrnoMapsToTheReportedCodes) {
  std::vector<std::pair<int, uint32_t>> table = {
      {0, 0},         {ENOENT, 2},   {ENOTDIR, 3}, {EACCES, 5},  {EROFS, 19},     {EEXIST, 80},
      {ENOSPC, 112},  {EBUSY, 170},  {EIO, 1117},  {ENODEV, 1167}, {EINTR, 1223}, {EDOM, 31},
  };
#ifdef ENOMEDIUM
  table.insert(table.end(), {{ETIMEDOUT, 121}, {ENOMEDIUM, 1112}});
#endif
  for (auto [err, code] : table) EXPECT_EQ(qv::plat::SystemErrorFromErrno(err), code) << "errno " << err;
}
