// OS error numbers become the engine's system error numbers.
#include <cerrno>
#include <vector>

#include "platform/errors.h"
#include "support/test_support.h"

TEST(SystemErrors, ErrnoMapsToTheReportedCodes) {
  std::vector<std::pair<int, uint32_t>> table = {
      {0, 0},         {ENOENT, 2},  {ENOTDIR, 3},   {EMFILE, 4},       {EACCES, 5},    {EPERM, 5},
      {EBADF, 6},     {ENOMEM, 8},  {EROFS, 19},    {EINVAL, 87},      {ENOSPC, 112},
      {ENAMETOOLONG, 206}, {EFBIG, 223}, {EIO, 1117}, {ENODEV, 1167},
      {ENXIO, 1167},  {EINTR, 1223}, {EBUSY, 170},  {EEXIST, 80},   {ENOSYS, 50},
      {EXDEV, 31},
  };
  // Numbers not every Windows C runtime has; the POSIX supplement comes as
  // one block, the Linux-only ones as another.
#ifdef ELOOP
  table.insert(table.end(), {{ETIMEDOUT, 121}, {ECANCELED, 1223}, {ELOOP, 1921}});
#endif
#ifdef ENOMEDIUM
  table.insert(table.end(), {{EDQUOT, 112}, {ENOMEDIUM, 1112}});
#endif
  for (auto [err, code] : table) EXPECT_EQ(qv::plat::SystemErrorFromErrno(err), code) << "errno " << err;
}
